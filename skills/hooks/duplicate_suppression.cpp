#include "duplicate_suppression.hpp"

#include "platform.hpp"

#include <cstdint>
#include <exception>

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

std::optional<std::string> marker_path_in(std::string_view folder, const std::string& skill_name) {
    if (platform::holds_path_separator(skill_name) || skill_name.find('\0') != std::string::npos) return std::nullopt;
    return platform::join_path(folder, ".dedup_" + skill_name);
}

bool _is_duplicate(const std::string& skill_name) {
    const std::string folder = platform::join_path(platform::join_path(platform::home_directory(), ".tolvex"), "hooks");
    try {
        const std::optional<std::string> marker_path = marker_path_in(folder, skill_name);
        if (!marker_path) return false;
        // Clock first, then the marker: one status read answers both whether
        // it exists and when it was refreshed.
        const platform::FileTime now = platform::current_time();
        const std::optional<platform::FileTime> marked = platform::modification_time(*marker_path);
        if (marked && is_within_window(now, *marked)) return true;
        platform::create_directories(folder);
        platform::touch(*marker_path);
    } catch (const std::exception&) {
        // Any failure here lets the report go ahead.
    }
    return false;
}

}  // namespace skillhook
