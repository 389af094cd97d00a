# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
# The posix thread variant of the compiler: std::thread and std::mutex need it.
# Programs link libgcc, libstdc++ and winpthreads statically, so a .exe runs
# on Windows (or under Wine) without any DLL beside it.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DTERVIX_QT=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TERVIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TERVIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TERVIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TERVIX_MINGW_TRIPLE}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Libraries and packages from the target's tree (and the prefixes given with
# CMAKE_PREFIX_PATH, e.g. a GoogleTest built with this file); programs from
# the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TERVIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Test programs run under Wine when it is there (test discovery and ctest).
find_program(TERVIX_WINE NAMES wine64 wine)
if(TERVIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TERVIX_WINE})
endif()
