#include "duplicate_suppression.hpp"

#include "platform.hpp"

#include <cstdint>
#include <exception>
#include <optional>

namespace skillhook {
namespace {

constexpr std::int64_t nanoseconds_per_second = 1'000'000'000;

}  // namespace

bool is_within_window(platform::FileTime now, platform::FileTime marked) {
    std::int64_t seconds = 0;
    if (__builtin_sub_overflow(now.seconds, marked.seconds, &seconds)) return now.seconds < marked.seconds;
    if (seconds > _DEDUP_SECONDS) return false;
    if (seconds < _DEDUP_SECONDS - 1) return true;
    return seconds * nanoseconds_per_second + (now.nanoseconds - marked.nanoseconds) <
           _DEDUP_SECONDS * nanoseconds_per_second;
}

std::string marker_file_name(std::string_view skill_name, FileNameRule refuses) {
    const auto refused_at = [&](std::size_t i) { return refuses(skill_name[i], i + 1 == skill_name.size()); };
    bool verbatim = true;
    for (std::size_t i = 0; i < skill_name.size() && verbatim; ++i) verbatim = !refused_at(i);
    if (verbatim) return ".dedup_" + std::string(skill_name);

    constexpr char hex_digits[] = "0123456789ABCDEF";
    std::string encoded = ".dedup-";
    for (std::size_t i = 0; i < skill_name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(skill_name[i]);
        if (byte == '%' || refused_at(i)) {
            encoded += '%';
            encoded += hex_digits[byte >> 4];
            encoded += hex_digits[byte & 0xF];
        } else {
            encoded += static_cast<char>(byte);
        }
    }
    return encoded;
}

std::string marker_path_in(std::string_view folder, std::string_view skill_name) {
    return platform::join_path(folder, marker_file_name(skill_name, platform::refuses_in_file_name));
}

bool _is_duplicate(const std::string& skill_name) {
    const std::string folder = platform::join_path(platform::join_path(platform::home_directory(), ".tolvex"), "hooks");
    try {
        const std::string marker_path = marker_path_in(folder, skill_name);
        // Clock first, then the marker: one status read answers both whether
        // it exists and when it was refreshed.
        const platform::FileTime now = platform::current_time();
        const std::optional<platform::FileTime> marked = platform::modification_time(marker_path);
        if (marked && is_within_window(now, *marked)) return true;
        platform::create_directories(folder);
        platform::touch(marker_path);
    } catch (const std::exception&) {
        // Any failure here lets the report go ahead.
    }
    return false;
}

}  // namespace skillhook
