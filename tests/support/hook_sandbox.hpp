// Runs the built hook as an agent would, in a temporary folder that holds a
// copy of the hook, fake tools beside it and a home directory of its own.
//
// With SKILLHOOK_TEST_HOOK_LAUNCHER set to a command line that starts with an
// absolute path (a valgrind command, say), the hook in bin/ is a script that
// runs the real one through it (POSIX only).
#pragma once

#include "fake_tool_action.hpp"
#include "utf8_paths.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if !defined(_WIN32)
#include <sys/types.h>
#endif

namespace skillhook::testing {

struct RunResult {
    int exit_status = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string standard_output;
    std::string standard_error;
    std::chrono::milliseconds elapsed{0};
};

// How standard input reaches the hook. A held pipe delivers the input only
// when the test releases it, so that many started hooks can be let go at once.
// A non-blocking pipe delivers it byte by byte to a hook whose reads on the
// empty pipe fail at once with EAGAIN instead of waiting. Only file, pipe,
// closed and pipe_byte_by_byte exist on Windows.
enum class InputMode { file, pipe, closed, pipe_byte_by_byte, held_pipe, nonblocking_pipe_byte_by_byte };

#if !defined(_WIN32)
// A hook process that has been started and not yet waited for.
class StartedHook {
public:
    StartedHook(pid_t pid, std::filesystem::path output_file, std::filesystem::path error_file,
                std::chrono::steady_clock::time_point started, int held_input_fd = -1, std::string held_input = {});
    StartedHook(StartedHook&& other) noexcept;
    StartedHook(const StartedHook&) = delete;
    StartedHook& operator=(const StartedHook&) = delete;
    StartedHook& operator=(StartedHook&&) = delete;
    ~StartedHook();  // waits, if wait() was not called

    // Delivers a held input, if any.
    void release_input();
    // Releases the input and waits for the hook to end.
    RunResult wait();

private:
    pid_t pid_;
    int held_input_fd_;
    std::string held_input_;
    std::filesystem::path output_file_;
    std::filesystem::path error_file_;
    std::chrono::steady_clock::time_point started_;
};
#endif

class HookSandbox {
public:
    HookSandbox();
    ~HookSandbox();
    HookSandbox(const HookSandbox&) = delete;
    HookSandbox& operator=(const HookSandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& bin() const { return bin_; }
    const std::filesystem::path& home() const { return home_; }
    // Where the harness keeps each run's input and output; not part of what the hook may touch.
    const std::filesystem::path& harness() const { return harness_; }
    std::filesystem::path hook() const { return bin_ / executable_name("report_skill_usage"); }
    std::filesystem::path marker_folder() const { return home_ / ".tolvex" / "hooks"; }
    std::filesystem::path marker(const std::string& skill) const;

    // A copy of the fake tool program named `name` in `folder` (bin/ by default), replacing any before it.
    void install_fake_tool(const std::string& name, const FakeTool& tool) const { install_fake_tool(bin_, name, tool); }
    void install_fake_tool(const std::filesystem::path& folder, const std::string& name, const FakeTool& tool) const;
    // The stand-in tool, copied into bin/ as `name`.
    void install_standin(const std::string& name = executable_name("tolvex")) const;
    // Lines recorded by the stand-in so far.
    std::vector<std::string> recorded_uses() const;

    // Runs `executable` (the hook by default) with `input` on standard input
    // and `arguments` after the program path. HOME, or USERPROFILE on
    // Windows, is the sandbox's home unless `environment` says otherwise; an
    // empty optional there removes the variable.
    RunResult run(const std::string& input, InputMode mode = InputMode::file,
                  const std::map<std::string, std::optional<std::string>>& environment = {},
                  std::optional<std::filesystem::path> executable = std::nullopt,
                  const std::vector<std::string>& arguments = {}) const;

    // The name of a program file: with ".exe" on Windows.
    static std::string executable_name(const std::string& stem);
    // The variable that names the home directory: USERPROFILE on Windows, else HOME.
    static std::string home_variable();

#if !defined(_WIN32)
    // Starts it as run() does and returns once the input is delivered.
    StartedHook start(const std::string& input, InputMode mode = InputMode::file,
                      const std::map<std::string, std::optional<std::string>>& environment = {},
                      std::optional<std::filesystem::path> executable = std::nullopt,
                      const std::vector<std::string>& arguments = {}) const;
    // An executable shell script named `name` in bin/, to start the hook in a way run() cannot.
    void write_script(const std::string& name, const std::string& body) const;
#endif

private:
    // Files of the next run, in a folder of its own: runs may overlap.
    std::filesystem::path next_run_folder() const;

    std::filesystem::path root_;
    std::filesystem::path bin_;
    std::filesystem::path home_;
    std::filesystem::path harness_;
    mutable std::atomic<unsigned> runs_started_{0};
};

// Makes `link` a symbolic link to the file `target`; returns why it could not.
std::optional<std::string> create_file_symlink(const std::filesystem::path& target, const std::filesystem::path& link);

// Whether the process with this id still runs; and ending it.
bool process_is_running(int process_id);
void end_process(int process_id);

// The text of a file, or "" when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// How long ago a file was last written. Timed from a file the tool writes as
// it starts or ends, a bound leaves out how slowly a busy machine starts the
// hook, and holds only the hook's waiting to it.
std::chrono::milliseconds since_written(const std::filesystem::path& path);

// Status 1, nothing on standard output, and exactly one line on standard
// error, which starts with `prefix`: how the hook reports that it failed.
::testing::AssertionResult ended_with_diagnostic(const RunResult& result, std::string_view prefix);

// A Skill tool event for the given name, as current agents send it.
std::string skill_event(const std::string& name);

}  // namespace skillhook::testing
