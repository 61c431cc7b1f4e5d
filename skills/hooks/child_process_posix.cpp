// Starting a child process on POSIX systems: posix_spawn, both output pipes
// drained with poll until the child has ended, against one deadline, SIGKILL
// at the limit.
#include "platform.hpp"

#include "platform_primitives.hpp"
#include "posix_errors.hpp"
#include "spawn_setup_posix.hpp"

#include <algorithm>
#include <csignal>
#include <ctime>
#include <span>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
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

// Owns the started child until it has been reaped or given up, so that no
// path leaves a zombie of a child that could be ended.
class ChildProcess {
public:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (pid_ != 0) kill_and_reap();
    }

    // True once the child has ended and been reaped. ECHILD means the system
    // reaped it already, as it does when SIGCHLD is ignored.
    bool try_reap() {
        if (pid_ == 0) return true;
        int status = 0;
        pid_t result;
        do result = ::waitpid(pid_, &status, WNOHANG);
        while (result == -1 && errno == EINTR);
        if (result == 0) return false;
        if (result == -1 && errno != ECHILD) throw_errno("waitpid");
        pid_ = 0;
        return true;
    }

    // Waits for the child to become reapable, in naps that grow from 50 us
    // to 20 ms. False when the deadline came first.
    bool reap_before(std::chrono::steady_clock::time_point deadline) {
        auto pause = std::chrono::microseconds(50);
        while (!try_reap()) {
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

    // A killed child ends at once, unless the kill is refused (a setuid tool
    // that took another user's id: EPERM) or it is stuck in the system (a
    // hung network file system). Such a one is not waited for beyond the
    // grace: it is left unreaped, to whoever adopts it when the hook ends.
    void kill_and_reap() noexcept {
        if (is_running_unreaped()) ::kill(pid_, SIGKILL);  // refused or not, the wait below is bounded
        try {
            reap_before(std::chrono::steady_clock::now() + grace_after_kill);
        } catch (const std::system_error&) {
            // A child that cannot be waited for is given up like one that does not end.
        }
        pid_ = 0;
    }

private:
    // Asked right before the kill: once the child is reaped, its id may name
    // anyone's process. A child that has ended but is not yet reaped keeps
    // its id, so the answer holds until the kill.
    bool is_running_unreaped() const {
        siginfo_t info{};
        int result;
        do result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
        while (result == -1 && errno == EINTR);
        return result == 0 && info.si_pid == 0;
    }

    pid_t pid_;
};

// An agent that ignores SIGCHLD passes that on through exec, and the system
// then reaps the tool by itself, leaving its id free for any other process
// while the hook still waits for it or kills it. With the default disposition
// the tool stays this process's to reap.
void keep_children_for_reaping() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    check(sigemptyset(&action.sa_mask), "sigemptyset");
    check(::sigaction(SIGCHLD, &action, nullptr), "sigaction");
}

// Reads what is there and drops it; false at end of input. The buffer is the
// caller's: the hook may run on a stack of a few dozen kilobytes.
bool drain(int fd, std::span<char> buffer) {
    const ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count > 0) return true;
    if (count == -1 && (errno == EINTR || errno == EAGAIN)) return true;
    return false;
}

// Once the tool has ended: what the pipe holds at this moment, and no more.
void drain_what_is_there(int fd, std::span<char> buffer) {
    int left = 0;
    check(::ioctl(fd, FIONREAD, &left), "ioctl");
    while (left > 0) {
        const ssize_t count = ::read(fd, buffer.data(), std::min(buffer.size(), static_cast<std::size_t>(left)));
        if (count == -1 && errno == EINTR) continue;
        if (count <= 0) return;
        left -= static_cast<int>(count);
    }
}

// Reads both pipes, together, so that a tool that fills one never stalls,
// until both are closed or the tool has ended and been reaped: a process it
// started may hold the pipes open for as long as it likes, and is not waited
// for. The child is asked after every read and every quiet pause, the pauses
// growing from 5 to 50 ms: the usual tool closes its pipes as it ends, which
// wakes the hook at once; the pauses bound how late the end of one that
// leaves them open is seen. False when the deadline came first.
bool drain_while_running(const Pipe& output, const Pipe& errors, ChildProcess& child, std::span<char> buffer,
                         std::chrono::steady_clock::time_point deadline) {
    struct pollfd streams[2] = {{output.read_end.get(), POLLIN, 0}, {errors.read_end.get(), POLLIN, 0}};
    int pause_ms = 5;
    while (streams[0].fd != -1 || streams[1].fd != -1) {
        if (child.try_reap()) {
            for (const struct pollfd& stream : streams)
                if (stream.fd != -1) drain_what_is_there(stream.fd, buffer);
            return true;
        }
        const int wait_ms = milliseconds_until(deadline);
        if (wait_ms == 0) return false;
        const int ready = ::poll(streams, 2, std::min(wait_ms, pause_ms));
        if (ready == -1) {
            if (errno == EINTR) continue;
            throw_errno("poll");
        }
        if (ready == 0) pause_ms = std::min(pause_ms * 2, 50);
        for (struct pollfd& stream : streams)
            if (stream.fd != -1 && stream.revents != 0 && !drain(stream.fd, buffer)) stream.fd = -1;
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
    // The limit holds from here: closing the agent's descriptors can take long.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (!close_other_descriptors_in_child(actions, attributes, deadline)) return ChildEnding::could_not_start;
    reset_signals_in_child(attributes);
    keep_children_for_reaping();
    std::vector<char> buffer(64 * 1024);

    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], actions.get(), attributes.get(), argv.data(), environ) != 0)
        return ChildEnding::could_not_start;
    ChildProcess child(pid);
    output.write_end.reset();
    errors.write_end.reset();

    // The pipes close as the child exits; waiting for it to become reapable
    // after that is normally a matter of microseconds.
    if (drain_while_running(output, errors, child, buffer, deadline) && child.reap_before(deadline))
        return ChildEnding::ended;
    child.kill_and_reap();
    return ChildEnding::killed_at_limit;
}

}  // namespace skillhook::platform
