// The fake tool's entry, and what it does differently on each operating system.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace skillhook::testing {

// Does what the action file beside the program says; the process's status.
int run_fake_tool(const std::vector<std::string>& arguments);

// The program file this process runs.
std::filesystem::path own_path(const std::vector<std::string>& arguments);

long own_process_id();

// Starts a process that inherits the standard streams and holds them open
// for a minute; returns its id.
long start_stream_holder(const std::filesystem::path& own);

// The arguments, argv[0] included, each NUL-terminated, as the program saw them.
std::string recorded_arguments(const std::vector<std::string>& arguments);

// What the test probes for handles the tool should not have inherited.
std::string inherited_handle_report();

}  // namespace skillhook::testing
