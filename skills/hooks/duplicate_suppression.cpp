#include "duplicate_suppression.hpp"

#include "platform.hpp"
#include "sha256.hpp"

#include <cstdint>
#include <exception>
#include <optional>

namespace skillhook {
namespace {

constexpr std::int64_t nanoseconds_per_second = 1'000'000'000;
constexpr char hex_digits[] = "0123456789ABCDEF";

std::string hashed_marker_file_name(std::string_view skill_name) {
    std::string name = ".dedup=";
    for (const std::uint8_t byte : sha256(skill_name)) {
        name += hex_digits[byte >> 4];
        name += hex_digits[byte & 0xF];
    }
    return name;
}

// The skill name itself, or its encoding: either way a name that gives the skill name back.
std::string readable_marker_file_name(std::string_view skill_name, FileNameRule refuses) {
    const auto refused_at = [&](std::size_t i) { return refuses(skill_name[i], i + 1 == skill_name.size()); };
    bool verbatim = true;
    for (std::size_t i = 0; i < skill_name.size() && verbatim; ++i) verbatim = !refused_at(i);
    if (verbatim) return ".dedup_" + std::string(skill_name);

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

}  // namespace

bool is_within_window(platform::FileTime now, platform::FileTime marked) {
    std::int64_t seconds = 0;
    if (__builtin_sub_overflow(now.seconds, marked.seconds, &seconds)) return now.seconds < marked.seconds;
    if (seconds > _DEDUP_SECONDS) return false;
    if (seconds < _DEDUP_SECONDS - 1) return true;
    return seconds * nanoseconds_per_second + (now.nanoseconds - marked.nanoseconds) <
           _DEDUP_SECONDS * nanoseconds_per_second;
}

platform::FileTime latest_time_stored_as(platform::FileTime stored) {
    if (stored.nanoseconds != 0) return stored;
    // An even second may be FAT's, which cuts the odd one after it too; an
    // even number of seconds is always below the largest.
    const std::int64_t last_second = stored.seconds % 2 == 0 ? stored.seconds + 1 : stored.seconds;
    return {last_second, nanoseconds_per_second - 1};
}

std::string marker_file_name(std::string_view skill_name, FileNameRule refuses) {
    std::string name = readable_marker_file_name(skill_name, refuses);
    if (name.size() > longest_file_name) return hashed_marker_file_name(skill_name);
    return name;
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
        if (marked && is_within_window(now, latest_time_stored_as(*marked))) return true;
        platform::create_directories(folder);
        // The clock's own reading, not the file system's: its clock may be
        // another machine's (a home on NFS) or lag this one's by a tick.
        platform::touch(marker_path, now);
    } catch (const std::exception&) {
        // Any failure here lets the report go ahead.
    }
    return false;
}

}  // namespace skillhook
