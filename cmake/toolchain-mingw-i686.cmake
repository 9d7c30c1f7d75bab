# Cross build for 32-bit Windows with Debian's MinGW-w64 toolchain
# (g++-mingw-w64-i686). Use:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
# The POSIX-thread variant of the compilers is taken so that the C++ thread
# and mutex types exist; the GCC, C++ and thread run-times are linked
# statically, so the DLL and the programs need nothing beyond the system DLLs
# (and run under Wine as they are).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QRL_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QRL_MINGW_PREFIX}-gcc-posix ${QRL_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QRL_MINGW_PREFIX}-g++-posix ${QRL_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QRL_MINGW_PREFIX}-windres)
find_program(CMAKE_AR NAMES ${QRL_MINGW_PREFIX}-gcc-ar-posix ${QRL_MINGW_PREFIX}-ar)
find_program(CMAKE_RANLIB NAMES ${QRL_MINGW_PREFIX}-gcc-ranlib-posix ${QRL_MINGW_PREFIX}-ranlib)

set(CMAKE_FIND_ROOT_PATH /usr/${QRL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config sees only packages built for the toolchain, not the build host's.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/${QRL_MINGW_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# -static takes the thread run-time (winpthread) from its archive as well.
set(QRL_MINGW_STATIC_RUNTIME "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${QRL_MINGW_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${QRL_MINGW_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${QRL_MINGW_STATIC_RUNTIME}")

# Programs built here run under Wine when it is installed (ctest, discovery).
find_program(QRL_WINE NAMES wine)
if(QRL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QRL_WINE})
endif()
