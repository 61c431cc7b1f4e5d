// The small per-system steps that the portable part of the platform layer
// (platform.cpp) is built on, and what both child-process units share.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace skillhook::platform {

// Creates one folder. True when a folder is at the path afterwards (made now
// or before), false when its parent is missing; throws for anything else,
// a file in its place included.
bool make_folder(const std::string& path);

// Runs the function on a new thread with this much stack and joins it.
// False when the thread could not be started.
bool run_thread_with_stack(std::size_t stack_bytes, const std::function<void()>& body);

// Whole milliseconds left until the deadline, rounded up; 0 once it has
// passed, at most INT_MAX.
int milliseconds_until(std::chrono::steady_clock::time_point deadline);

}  // namespace skillhook::platform
