// Duplicate suppression: one report per skill per window, across processes.
// The only shared state is one empty marker file per skill whose modification
// time is the time of the last report let through; there is no lock.
#pragma once

#include "platform.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace skillhook {

inline constexpr int _DEDUP_SECONDS = 30;

// now - marked < _DEDUP_SECONDS, exact to the nanosecond for any two times;
// a mark in the future is within the window.
bool is_within_window(platform::FileTime now, platform::FileTime marked);

// The path of the skill's marker in the folder, or nothing when the name is
// not one plain file name there: a separator would leave the folder, a NUL
// would cut the name short. Every other name is used unchanged. Lexical only.
std::optional<std::string> marker_path_in(std::string_view folder, const std::string& skill_name);

// True when a report for this skill was let through less than _DEDUP_SECONDS
// ago. Otherwise refreshes the skill's marker and answers false; a marker that
// cannot be read or written also answers false, so the report goes ahead.
// Throws only when the home directory cannot be determined.
bool _is_duplicate(const std::string& skill_name);

}  // namespace skillhook
