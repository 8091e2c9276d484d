# What both cross-builds share; the toolchain file of each bitness names
# its target triplet and processor, then includes this one. The -posix
# compilers are required: GoogleTest needs std::mutex, which the win32
# thread model lacks.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${KORVANE_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVANE_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${KORVANE_TRIPLET}-windres)
set(CMAKE_AR           ${KORVANE_TRIPLET}-ar)
set(CMAKE_RANLIB       ${KORVANE_TRIPLET}-ranlib)
set(KORVANE_WIDL       ${KORVANE_TRIPLET}-widl)
set(KORVANE_OBJDUMP    ${KORVANE_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
