// Starting a child process on POSIX systems: posix_spawn, both output pipes
// drained with poll against one deadline, SIGKILL at the limit.
#include "platform.hpp"

#include "platform_primitives.hpp"
#include "posix_errors.hpp"

#include <algorithm>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace skillhook::platform {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ != -1) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

struct Pipe {
    FileDescriptor read_end;
    FileDescriptor write_end;
};

void make_pipe(Pipe& pipe) {
    int fds[2];
#if defined(__linux__)
    check(::pipe2(fds, O_CLOEXEC), "pipe2");
#else
    check(::pipe(fds), "pipe");
#endif
    pipe.read_end.reset(fds[0]);
    pipe.write_end.reset(fds[1]);
#if !defined(__linux__)
    check(::fcntl(fds[0], F_SETFD, FD_CLOEXEC), "fcntl");
    check(::fcntl(fds[1], F_SETFD, FD_CLOEXEC), "fcntl");
#endif
}

// Owns the started child until it has been reaped, so that no path leaves a zombie.
class ChildProcess {
public:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (pid_ != 0) kill_and_reap();
    }

    // True once the child has ended and been reaped.
    bool try_reap() {
        int status = 0;
        pid_t result;
        do result = ::waitpid(pid_, &status, WNOHANG);
        while (result == -1 && errno == EINTR);
        check(result, "waitpid");
        if (result == 0) return false;
        pid_ = 0;
        return true;
    }

    void kill_and_reap() {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) == -1 && errno == EINTR) {
        }
        pid_ = 0;
    }

private:
    pid_t pid_;
};

class SpawnActions {
public:
    SpawnActions() { check_status(::posix_spawn_file_actions_init(&actions_), "posix_spawn_file_actions_init"); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
public:
    SpawnAttributes() { check_status(::posix_spawnattr_init(&attributes_), "posix_spawnattr_init"); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
    posix_spawnattr_t* get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

// Every descriptor above standard error is closed in the child, whatever the
// agent left open without close-on-exec.
void close_other_descriptors_in_child(SpawnActions& actions, SpawnAttributes& attributes) {
#if defined(__APPLE__)
    // This flag closes every descriptor that no file action names, standard
    // input included, which the child is to share with the hook.
    check_status(::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_CLOEXEC_DEFAULT), "posix_spawnattr_setflags");
    check_status(::posix_spawn_file_actions_addinherit_np(actions.get(), STDIN_FILENO),
                 "posix_spawn_file_actions_addinherit_np");
#else
    (void)attributes;
    check_status(::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1),
                 "posix_spawn_file_actions_addclosefrom_np");
#endif
}

// Reads what is there and drops it; false at end of input.
bool drain(int fd) {
    char buffer[65536];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) return true;
    if (count == -1 && (errno == EINTR || errno == EAGAIN)) return true;
    return false;
}

// Reads both pipes to their end, together, so that a child that fills one
// never stalls. False when the deadline came first.
bool drain_until_closed(const Pipe& output, const Pipe& errors, std::chrono::steady_clock::time_point deadline) {
    struct pollfd streams[2] = {{output.read_end.get(), POLLIN, 0}, {errors.read_end.get(), POLLIN, 0}};
    int open_streams = 2;
    while (open_streams > 0) {
        const int wait_ms = milliseconds_until(deadline);
        if (wait_ms == 0) return false;
        const int ready = ::poll(streams, 2, wait_ms);
        if (ready == -1) {
            if (errno == EINTR) continue;
            throw_errno("poll");
        }
        for (struct pollfd& stream : streams) {
            if (stream.fd == -1 || stream.revents == 0) continue;
            if (!drain(stream.fd)) {
                stream.fd = -1;
                --open_streams;
            }
        }
    }
    return true;
}

// The pipes close as the child exits; waiting for it to become reapable is
// normally a matter of microseconds, but stays under the deadline. False
// when the deadline came first.
bool reap_before(ChildProcess& child, std::chrono::steady_clock::time_point deadline) {
    auto pause = std::chrono::microseconds(50);
    while (!child.try_reap()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return false;
        const auto nap = std::min<std::chrono::steady_clock::duration>(pause, left);
        const auto nap_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(nap).count();
        struct timespec interval {nap_ns / 1'000'000'000, nap_ns % 1'000'000'000};
        ::nanosleep(&interval, nullptr);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

ChildEnding run_with_time_limit(const std::vector<std::string>& arguments, std::chrono::milliseconds limit) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    Pipe output;
    Pipe errors;
    make_pipe(output);
    make_pipe(errors);
    SpawnActions actions;
    SpawnAttributes attributes;
    check_status(::posix_spawn_file_actions_adddup2(actions.get(), output.write_end.get(), STDOUT_FILENO),
                 "posix_spawn_file_actions_adddup2");
    check_status(::posix_spawn_file_actions_adddup2(actions.get(), errors.write_end.get(), STDERR_FILENO),
                 "posix_spawn_file_actions_adddup2");
    close_other_descriptors_in_child(actions, attributes);

    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], actions.get(), attributes.get(), argv.data(), environ) != 0)
        return ChildEnding::could_not_start;
    ChildProcess child(pid);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    output.write_end.reset();
    errors.write_end.reset();

    if (drain_until_closed(output, errors, deadline) && reap_before(child, deadline)) return ChildEnding::ended;
    child.kill_and_reap();
    return ChildEnding::killed_at_limit;
}

}  // namespace skillhook::platform
