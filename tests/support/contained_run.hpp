// One run of the hook checked against what every run must keep to, whatever
// fails around it: the expected status and no crash; nothing on standard
// output; standard error empty, or the one diagnostic line of status 1; no
// file added, removed or changed outside the marker folder (but for the
// folders on the way to it and the files the fake tool writes on purpose);
// and, on POSIX, no process left behind.
#pragma once

#include "hook_sandbox.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace skillhook::testing {

struct Containment {
    int exit_status = 0;
    InputMode mode = InputMode::file;
    std::map<std::string, std::optional<std::string>> environment;
    // Names of the files in bin/ that the fake tool writes on purpose.
    std::vector<std::string> tool_files;
    // The fake tool leaves background processes on purpose; the test ends them.
    bool tool_leaves_processes = false;
};

RunResult run_contained(const HookSandbox& sandbox, const std::string& input, const Containment& containment = {});

}  // namespace skillhook::testing
