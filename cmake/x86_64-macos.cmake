# Cross build for macOS on Intel with Zig. Nothing here runs a Mach-O
# program: the build is inspected, not run (scripts/test-platforms).
#   cmake -S . -B build-macos-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-macos.cmake
set(SKILLHOOK_MACOS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
