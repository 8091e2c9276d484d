# Cross-build for 32-bit Windows with mingw-w64: the main build, which also
# drives the 64-bit one (cmake/toolchain-x86_64-mingw32.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KORVANE_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw32.cmake)
