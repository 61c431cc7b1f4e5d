// The sandbox on POSIX systems: posix_spawn, and shell scripts as fake tools.
#include "hook_sandbox.hpp"

#include "hook_sandbox_platform.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace skillhook::testing {
namespace fs = std::filesystem;

namespace {

void check(int rc, const char* what) {
    if (rc != 0) throw std::system_error(rc, std::generic_category(), what);
}

std::vector<std::string> child_environment(const fs::path& home,
                                           const std::map<std::string, std::optional<std::string>>& overrides) {
    std::map<std::string, std::optional<std::string>> values;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) values[text.substr(0, equals)] = text.substr(equals + 1);
    }
    values["HOME"] = home.string();
    for (const auto& [name, value] : overrides) values[name] = value;
    std::vector<std::string> result;
    for (const auto& [name, value] : values)
        if (value) result.push_back(name + "=" + *value);
    return result;
}

// Shell scripts serve as fake tools here.
std::string fake_tool_script(const FakeTool& tool) {
    const std::string beside = "\"$(dirname \"$0\")/" + tool.file + "\"";
    switch (tool.behaviour) {
        case FakeTool::Behaviour::record_arguments:
            return "for a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > " + beside;
        case FakeTool::Behaviour::fail_noisily:
            return "echo out; echo err >&2; exit 1";
        case FakeTool::Behaviour::flood_both_streams:
            return "head -c 52428800 /dev/zero & head -c 52428800 /dev/zero >&2; wait; touch " + beside;
        case FakeTool::Behaviour::hang:
            return "echo $$ > " + beside + "; exec sleep 60";
        case FakeTool::Behaviour::leave_background_child:
            return "sleep 60 & echo $! > " + beside + "; exit 0";
        case FakeTool::Behaviour::create_file:
            return "touch " + beside;
        case FakeTool::Behaviour::report_probe_handle:
            break;
    }
    throw std::logic_error("no script for this fake tool behaviour");
}

void write_executable_script(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

}  // namespace

fs::path built_program(const char* configured_path) { return configured_path; }

void HookSandbox::write_script(const std::string& name, const std::string& body) const {
    write_executable_script(bin_ / name, body);
}

void HookSandbox::install_fake_tool(const fs::path& folder, const std::string& name, const FakeTool& tool) const {
    write_executable_script(folder / name, fake_tool_script(tool));
}

std::optional<std::string> create_file_symlink(const fs::path& target, const fs::path& link) {
    std::error_code failure;
    fs::create_symlink(target, link, failure);
    if (failure) return failure.message();
    return std::nullopt;
}

bool process_is_running(int process_id) { return ::kill(process_id, 0) == 0; }

void end_process(int process_id) { ::kill(process_id, SIGKILL); }

RunResult HookSandbox::run(const std::string& input, InputMode mode,
                           const std::map<std::string, std::optional<std::string>>& environment,
                           std::optional<fs::path> executable, const std::vector<std::string>& arguments) const {
    std::signal(SIGPIPE, SIG_IGN);
    const fs::path program = executable.value_or(hook());
    // Runs may overlap, from several threads: each gets files of its own.
    static std::atomic<int> run_count{0};
    const std::string run_id = std::to_string(run_count++);
    const fs::path input_file = root_ / ("stdin-" + run_id);
    const fs::path output_file = root_ / ("stdout-" + run_id);
    const fs::path error_file = root_ / ("stderr-" + run_id);
    std::ofstream(input_file, std::ios::binary) << input;

    posix_spawn_file_actions_t actions;
    check(posix_spawn_file_actions_init(&actions), "file actions");
    int pipe_fds[2] = {-1, -1};
    if (mode == InputMode::file) {
        check(posix_spawn_file_actions_addopen(&actions, 0, input_file.c_str(), O_RDONLY, 0), "addopen");
    } else if (mode == InputMode::pipe) {
        // Close-on-exec, so that no other concurrently started child keeps the pipe open.
        if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
        check(posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], 0), "adddup2");
    } else {
        check(posix_spawn_file_actions_addclose(&actions, 0), "addclose");
    }
    check(posix_spawn_file_actions_addopen(&actions, 1, output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), "out");
    check(posix_spawn_file_actions_addopen(&actions, 2, error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), "err");

    std::vector<std::string> env_text = child_environment(home_, environment);
    std::vector<char*> env;
    for (std::string& entry : env_text) env.push_back(entry.data());
    env.push_back(nullptr);
    std::string program_text = program.string();
    std::vector<std::string> argument_text = arguments;
    std::vector<char*> argv{program_text.data()};
    for (std::string& argument : argument_text) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const auto started = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program_text.c_str(), &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (mode == InputMode::pipe) {
        ::close(pipe_fds[0]);
        if (rc == 0) {
            std::size_t written = 0;
            while (written < input.size()) {
                const ssize_t count = ::write(pipe_fds[1], input.data() + written, input.size() - written);
                if (count <= 0) break;
                written += static_cast<std::size_t>(count);
            }
        }
        ::close(pipe_fds[1]);
    }
    check(rc, "posix_spawn");

    int status = 0;
    while (::waitpid(pid, &status, 0) == -1 && errno == EINTR) {
    }
    RunResult result;
    result.elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.standard_output = read_file(output_file);
    result.standard_error = read_file(error_file);
    return result;
}

}  // namespace skillhook::testing
