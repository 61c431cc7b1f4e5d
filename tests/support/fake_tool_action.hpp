// What a fake tool does when started, written by the tests into a file
// beside the tool and read there by the fake tool program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace skillhook::testing {

// Files a fake tool writes lie beside itself.
struct FakeTool {
    enum class Behaviour {
        record_arguments,         // writes each argument, argv[0] included, NUL-terminated, to `file`
        fail_noisily,             // writes to both streams and exits with status 1
        create_file_and_fail,     // creates `file` and exits with status 3
        exit_at_once,             // exits with status 0 without reading its input
        flood_both_streams,       // writes `bytes` to each stream at once, then creates `file`
        flood_errors_with_output_closed,  // closes standard output, writes `bytes` to standard error,
                                          // then creates `file`
        flood_output_with_errors_closed,  // the same with the streams swapped
        hang,                     // writes its process id to `file`, then sleeps a minute
        leave_background_child,   // starts a child that holds both pipes for a minute, writes its id to `file`, exits
        create_file,              // creates `file`
        die_of_signal,            // writes a line to each stream, then raises `signal` (POSIX)
        report_inherited_handles, // writes to `file`, on POSIX each of descriptors 0 to 9 that is open, one a
                                  // line; on Windows "open" when the handle whose value is in
                                  // SKILLHOOK_PROBE_HANDLE is open in it on a file named "probe", else "closed"
    };
    Behaviour behaviour;
    std::string file;
    std::uint64_t bytes = 0;
    int signal = 0;
};

// The file beside the fake tool at `tool` that says what it does.
std::filesystem::path action_file(const std::filesystem::path& tool);

void write_action(const std::filesystem::path& tool, const FakeTool& action);
// Throws std::runtime_error when the file is missing or holds no action.
FakeTool read_action(const std::filesystem::path& tool);

}  // namespace skillhook::testing
