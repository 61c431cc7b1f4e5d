// Runs the built hook as an agent would, in a temporary folder that holds a
// copy of the hook, fake tools beside it and a home directory of its own.
//
// With SKILLHOOK_TEST_HOOK_LAUNCHER set to a command line that starts with an
// absolute path (a valgrind command, say), the hook in bin/ is a script that
// runs the real one through it.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

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
// empty pipe fail at once with EAGAIN instead of waiting.
enum class InputMode { file, pipe, closed, pipe_byte_by_byte, held_pipe, nonblocking_pipe_byte_by_byte };

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
    std::filesystem::path hook() const { return bin_ / "report_skill_usage"; }
    std::filesystem::path marker_folder() const { return home_ / ".tolvex" / "hooks"; }
    std::filesystem::path marker(const std::string& skill) const { return marker_folder() / (".dedup_" + skill); }

    // An executable shell script named `name` in bin/.
    void write_script(const std::string& name, const std::string& body) const;
    // The stand-in tool, copied into bin/ as `name`.
    void install_standin(const std::string& name = "tolvex") const;
    // Lines recorded by the stand-in so far.
    std::vector<std::string> recorded_uses() const;

    // Runs `executable` (the hook by default) with `input` on standard input.
    RunResult run(const std::string& input, InputMode mode = InputMode::file,
                  const std::map<std::string, std::optional<std::string>>& environment = {},
                  std::optional<std::filesystem::path> executable = std::nullopt) const;
    // Starts it the same way and returns once the input is delivered.
    StartedHook start(const std::string& input, InputMode mode = InputMode::file,
                      const std::map<std::string, std::optional<std::string>>& environment = {},
                      std::optional<std::filesystem::path> executable = std::nullopt) const;

private:
    std::filesystem::path root_;
    std::filesystem::path bin_;
    std::filesystem::path home_;
    std::filesystem::path harness_;
    mutable unsigned runs_started_ = 0;
};

// The text of a file, or "" when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// A Skill tool event for the given name, as current agents send it.
std::string skill_event(const std::string& name);

}  // namespace skillhook::testing
