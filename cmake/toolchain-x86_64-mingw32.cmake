# Cross-build for 64-bit Windows with mingw-w64: the 64-bit library, its
# unit tests and the browser stand-in, for the 64-bit tabs of Internet
# Explorer 10 and 11. The main (32-bit) build configures and builds it in
# x64/ of its build tree.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KORVANE_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw32.cmake)
