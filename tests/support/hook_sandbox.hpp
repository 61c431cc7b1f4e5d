// Runs the built hook as an agent would, in a temporary folder that holds a
// copy of the hook, fake tools beside it and a home directory of its own.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace skillhook::testing {

struct RunResult {
    int exit_status = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string standard_output;
    std::string standard_error;
    std::chrono::milliseconds elapsed{0};
};

// How standard input reaches the hook.
enum class InputMode { file, pipe, closed };

// What a fake tool does when started. Files it writes lie beside itself.
struct FakeTool {
    enum class Behaviour {
        record_arguments,         // writes each argument, argv[0] included, NUL-terminated, to `file`
        fail_noisily,             // writes to both streams and exits with status 1
        flood_both_streams,       // writes 50 MiB to each stream at once, then creates `file`
        hang,                     // writes its process id to `file`, then sleeps a minute
        leave_background_child,   // starts a child that holds both pipes for a minute, writes its id to `file`, exits
        create_file,              // creates `file`
        report_probe_handle,      // Windows: writes to `file` "open" when the handle whose value is in
                                  // SKILLHOOK_PROBE_HANDLE is open in it on a file named "probe", else "closed"
    };
    Behaviour behaviour;
    std::string file;
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
    std::filesystem::path hook() const { return bin_ / executable_name("report_skill_usage"); }
    std::filesystem::path marker(const std::string& skill) const;

    // A fake tool named `name` in `folder` (bin/ by default).
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

#if !defined(_WIN32)
    // An executable shell script named `name` in bin/.
    void write_script(const std::string& name, const std::string& body) const;
#endif

private:
    std::filesystem::path root_;
    std::filesystem::path bin_;
    std::filesystem::path home_;
};

// Makes `link` a symbolic link to the file `target`; returns why it could not.
std::optional<std::string> create_file_symlink(const std::filesystem::path& target, const std::filesystem::path& link);

// Whether the process with this id still runs; and ending it.
bool process_is_running(int process_id);
void end_process(int process_id);

// The text of a file, or "" when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// A path from UTF-8 text, on every platform.
std::filesystem::path utf8_path(const std::string& text);

// A Skill tool event for the given name, as current agents send it.
std::string skill_event(const std::string& name);

}  // namespace skillhook::testing
