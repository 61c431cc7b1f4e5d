// What the sandbox does differently on each platform, beyond its public interface.
#pragma once

#include <filesystem>

namespace skillhook::testing {

// A program of this build, from the path the build gave for it.
std::filesystem::path built_program(const char* configured_path);

}  // namespace skillhook::testing
