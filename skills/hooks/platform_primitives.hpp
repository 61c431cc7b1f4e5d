// The small per-system steps that the portable part of the platform layer
// (platform.cpp) is built on, and what both child-process units share.
#pragma once

#include <chrono>
#include <string>

namespace skillhook::platform {

// Creates one folder. True when a folder is at the path afterwards (made now
// or before), false when its parent is missing; throws for anything else,
// a file in its place included.
bool make_folder(const std::string& path);

// Whole milliseconds left until the deadline, rounded up; 0 once it has
// passed, at most INT_MAX.
int milliseconds_until(std::chrono::steady_clock::time_point deadline);

// How long a child killed at the limit is waited for before it is given up,
// so that the hook ends soon after the limit whatever the child does.
inline constexpr std::chrono::milliseconds grace_after_kill{500};

}  // namespace skillhook::platform
