// Paths to and from UTF-8 text, the same on every platform: std::filesystem
// would read and write narrow strings in the ANSI code page on Windows.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace skillhook::testing {

inline std::filesystem::path utf8_path(std::string_view text) { return std::u8string(text.begin(), text.end()); }

inline std::string utf8_text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace skillhook::testing
