# Toolchain file of the 32-bit x86 build on a 64-bit Debian machine:
#   cmake -S . -B build-m32 -DCMAKE_TOOLCHAIN_FILE=cmake/m32.cmake
# Needs g++-multilib and the i386 development packages of the dependencies
# (dpkg --add-architecture i386; libgtest-dev:i386 libturbojpeg0-dev:i386
# libjpeg62-turbo-dev:i386 libpng-dev:i386). The programs run natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
# Debian's multiarch folders for the i386 libraries and package files.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
