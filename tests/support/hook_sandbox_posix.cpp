// The sandbox on POSIX systems: posix_spawn, with pipes held or fed byte by byte.
#include "hook_sandbox.hpp"

#include "hook_sandbox_platform.hpp"

#include <cerrno>
#include <csignal>
#include <fstream>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace skillhook::testing {
namespace fs = std::filesystem;

namespace {

void check(int rc, const char* what) {
    if (rc != 0) throw std::system_error(rc, std::generic_category(), what);
}

// No other concurrently started child may keep the pipe open. Linux marks
// both ends close-on-exec; macOS has no pipe2, and its posix_spawn closes in
// the child every descriptor the file actions do not name (start, below).
void open_pipe(int pipe_fds[2]) {
#if defined(__APPLE__)
    if (::pipe(pipe_fds) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
#else
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
#endif
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

void write_all(int fd, const char* data, std::size_t size) {
    std::size_t written = 0;
    while (written < size) {
        const ssize_t count = ::write(fd, data + written, size - written);
        if (count <= 0) return;  // the hook stopped reading; what it got is what it gets
        written += static_cast<std::size_t>(count);
    }
}

bool reader_gone(int fd) {
    struct pollfd end = {fd, 0, 0};
    return ::poll(&end, 1, 0) == 1 && (end.revents & POLLERR) != 0;
}

// Each byte is written only once the hook has read the one before, so every
// read the hook makes returns a single byte.
void write_byte_by_byte(int fd, const std::string& input) {
    for (const char byte : input) {
        if (::write(fd, &byte, 1) != 1) return;
        int unread = 0;
        while (::ioctl(fd, FIONREAD, &unread) == 0 && unread > 0) {
            if (reader_gone(fd)) return;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
}

}  // namespace

fs::path built_program(const char* configured_path) { return configured_path; }

void HookSandbox::write_script(const std::string& name, const std::string& body) const {
    const fs::path path = bin_ / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

std::optional<std::string> create_file_symlink(const fs::path& target, const fs::path& link) {
    std::error_code failure;
    fs::create_symlink(target, link, failure);
    if (failure) return failure.message();
    return std::nullopt;
}

bool process_is_running(int process_id) { return ::kill(process_id, 0) == 0; }

void end_process(int process_id) { ::kill(process_id, SIGKILL); }

StartedHook::StartedHook(pid_t pid, fs::path output_file, fs::path error_file,
                         std::chrono::steady_clock::time_point started, int held_input_fd, std::string held_input)
    : pid_(pid),
      held_input_fd_(held_input_fd),
      held_input_(std::move(held_input)),
      output_file_(std::move(output_file)),
      error_file_(std::move(error_file)),
      started_(started) {}

StartedHook::StartedHook(StartedHook&& other) noexcept
    : pid_(other.pid_),
      held_input_fd_(other.held_input_fd_),
      held_input_(std::move(other.held_input_)),
      output_file_(std::move(other.output_file_)),
      error_file_(std::move(other.error_file_)),
      started_(other.started_) {
    other.pid_ = 0;
    other.held_input_fd_ = -1;
}

StartedHook::~StartedHook() {
    if (pid_ != 0) wait();
}

void StartedHook::release_input() {
    if (held_input_fd_ == -1) return;
    write_all(held_input_fd_, held_input_.data(), held_input_.size());
    ::close(held_input_fd_);
    held_input_fd_ = -1;
}

RunResult StartedHook::wait() {
    release_input();
    int status = 0;
    while (::waitpid(pid_, &status, 0) == -1 && errno == EINTR) {
    }
    pid_ = 0;
    RunResult result;
    result.elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.standard_output = read_file(output_file_);
    result.standard_error = read_file(error_file_);
    return result;
}

RunResult HookSandbox::run(const std::string& input, InputMode mode,
                           const std::map<std::string, std::optional<std::string>>& environment,
                           std::optional<fs::path> executable, const std::vector<std::string>& arguments) const {
    return start(input, mode, environment, std::move(executable), arguments).wait();
}

StartedHook HookSandbox::start(const std::string& input, InputMode mode,
                               const std::map<std::string, std::optional<std::string>>& environment,
                               std::optional<fs::path> executable, const std::vector<std::string>& arguments) const {
    std::signal(SIGPIPE, SIG_IGN);
    const fs::path program = executable.value_or(hook());
    const fs::path files = next_run_folder();
    const fs::path input_file = files / "stdin";
    const fs::path output_file = files / "stdout";
    const fs::path error_file = files / "stderr";

    posix_spawn_file_actions_t actions;
    check(posix_spawn_file_actions_init(&actions), "file actions");
    int pipe_fds[2] = {-1, -1};
    const bool byte_by_byte = mode == InputMode::pipe_byte_by_byte || mode == InputMode::nonblocking_pipe_byte_by_byte;
    const bool piped = mode == InputMode::pipe || mode == InputMode::held_pipe || byte_by_byte;
    if (mode == InputMode::file) {
        std::ofstream(input_file, std::ios::binary) << input;
        check(posix_spawn_file_actions_addopen(&actions, 0, input_file.c_str(), O_RDONLY, 0), "addopen");
    } else if (piped) {
        open_pipe(pipe_fds);
        if (mode == InputMode::nonblocking_pipe_byte_by_byte && ::fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK) != 0)
            throw std::system_error(errno, std::generic_category(), "fcntl");
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
    posix_spawnattr_t attributes;
    check(posix_spawnattr_init(&attributes), "spawn attributes");
#if defined(__APPLE__)
    check(posix_spawnattr_setflags(&attributes, POSIX_SPAWN_CLOEXEC_DEFAULT), "spawn flags");
#endif
    const int rc = posix_spawn(&pid, program_text.c_str(), &actions, &attributes, argv.data(), env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (piped) {
        ::close(pipe_fds[0]);
        if (rc == 0 && mode == InputMode::held_pipe)
            return StartedHook(pid, output_file, error_file, started, pipe_fds[1], input);
        if (rc == 0 && mode == InputMode::pipe) write_all(pipe_fds[1], input.data(), input.size());
        if (rc == 0 && byte_by_byte) write_byte_by_byte(pipe_fds[1], input);
        ::close(pipe_fds[1]);
    }
    check(rc, "posix_spawn");
    return StartedHook(pid, output_file, error_file, started);
}

}  // namespace skillhook::testing
