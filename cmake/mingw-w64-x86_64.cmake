# Cross-compiling for 64-bit Windows with Debian's mingw-w64. The -posix compilers use
# the winpthreads thread model; the default -win32 ones have no std::thread.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_FIND_ROOT_PATH=<prefix with Windows builds of pugixml and GoogleTest> ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELLDRIN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PELLDRIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELLDRIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PELLDRIN_MINGW_TRIPLE}-windres)

# Libraries and packages come from the cross sysroot and the prefixes given on the
# command line, never from the build machine; the build machine's programs may be used.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${PELLDRIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry their runtime (libstdc++, libgcc, winpthreads) inside, so they run
# without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest and add_test run the programs through Wine on the build machine.
find_program(PELLDRIN_WINE NAMES wine wine64)
if(PELLDRIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLDRIN_WINE})
endif()
