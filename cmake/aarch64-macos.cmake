# Cross build for macOS on Apple silicon with Zig. Nothing here runs a Mach-O
# program: the build is inspected, not run (scripts/test-platforms).
#   cmake -S . -B build-macos-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-macos.cmake
set(SKILLHOOK_MACOS_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
