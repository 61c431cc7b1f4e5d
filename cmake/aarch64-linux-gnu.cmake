# Cross build for Linux on 64-bit ARM with Debian's cross compilers
# (crossbuild-essential-arm64). The programs are static, as on x86_64; the
# tests run them under qemu-user (scripts/test-platforms).
#   cmake -S . -B build-linux-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and headers come from the arm64 tree only, never from the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Where binfmt_misc hands arm64 programs to qemu, they run as they are; where
# it does not, scripts/test-platforms sets CMAKE_CROSSCOMPILING_EMULATOR.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)  # Debian's name for it; dpkg would name the build machine's

# Every program carries its C and C++ runtime, so that qemu runs the test
# programs, the stand-in and the fake tools without an arm64 loader.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
