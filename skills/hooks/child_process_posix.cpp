// Starting a child process on POSIX systems: posix_spawn, both output pipes
// drained with poll against one deadline, SIGKILL at the limit.
#include "platform.hpp"

#include "platform_primitives.hpp"
#include "posix_errors.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// glibc 2.34 added the file action that closes every descriptor from a number
// on; older glibc and musl lack it.
#if defined(__GLIBC__)
#if __GLIBC_PREREQ(2, 34)
#define SKILLHOOK_HAVE_ADDCLOSEFROM 1
#endif
#endif

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

    // True once the child has ended and been reaped. ECHILD means the system
    // reaped it already, as it does when SIGCHLD is ignored.
    bool try_reap() {
        int status = 0;
        pid_t result;
        do result = ::waitpid(pid_, &status, WNOHANG);
        while (result == -1 && errno == EINTR);
        if (result == 0) return false;
        if (result == -1 && errno != ECHILD) throw_errno("waitpid");
        pid_ = 0;
        return true;
    }

    void kill_and_reap() {
        if (is_running_unreaped()) ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) == -1 && errno == EINTR) {
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
    void add_flags(int flags) {
        short current = 0;
        check_status(::posix_spawnattr_getflags(&attributes_, &current), "posix_spawnattr_getflags");
        check_status(::posix_spawnattr_setflags(&attributes_, static_cast<short>(current | flags)),
                     "posix_spawnattr_setflags");
    }

private:
    posix_spawnattr_t attributes_;
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

// The tool starts as a shell would start it: every signal at its default
// action, none blocked, whatever the agent left ignored or blocked.
// (The signal-set calls stay unqualified: macOS defines them as macros.)
void reset_signals_in_child(SpawnAttributes& attributes) {
    sigset_t all;
    check(sigfillset(&all), "sigfillset");
    // These two are always at their default; no system is asked to set them.
    check(sigdelset(&all, SIGKILL), "sigdelset");
    check(sigdelset(&all, SIGSTOP), "sigdelset");
    check_status(::posix_spawnattr_setsigdefault(attributes.get(), &all), "posix_spawnattr_setsigdefault");
    sigset_t none;
    check(sigemptyset(&none), "sigemptyset");
    check_status(::posix_spawnattr_setsigmask(attributes.get(), &none), "posix_spawnattr_setsigmask");
    attributes.add_flags(POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

#if !defined(__APPLE__)
void mark_close_on_exec(int fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags == -1) {
        if (errno == EBADF) return;  // not open
        throw_errno("fcntl");
    }
    if ((flags & FD_CLOEXEC) == 0) check(::fcntl(fd, F_SETFD, flags | FD_CLOEXEC), "fcntl");
}

// The open descriptors as /proc lists them; false where it cannot be read.
bool mark_listed_descriptors_close_on_exec() {
    DIR* listing = ::opendir("/proc/self/fd");
    if (listing == nullptr) return false;
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(listing);
        if (entry == nullptr) break;
        const char* name = entry->d_name;
        int fd = -1;
        const auto [end, error] = std::from_chars(name, name + std::strlen(name), fd);
        if (error == std::errc() && *end == '\0' && fd > STDERR_FILENO) mark_close_on_exec(fd);
    }
    const int read_error = errno;
    ::closedir(listing);
    if (read_error != 0) throw std::system_error(read_error, std::generic_category(), "readdir");
    return true;
}

// Each descriptor above standard error is made close-on-exec here, where the
// flag belongs to this process alone, so that exec closes it in the tool.
// Without /proc every number below the descriptor limit is asked for: at
// most a few hundred milliseconds for a limit of a million, and only where
// neither close_range nor /proc is there.
void mark_inherited_descriptors_close_on_exec() {
    if (mark_listed_descriptors_close_on_exec()) return;
    struct rlimit limit {};
    check(::getrlimit(RLIMIT_NOFILE, &limit), "getrlimit");
    const int end = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, INT_MAX));
    for (int fd = STDERR_FILENO + 1; fd < end; ++fd) mark_close_on_exec(fd);
}
#endif

#if defined(SKILLHOOK_HAVE_ADDCLOSEFROM)
// glibc's closefrom action uses close_range (Linux 5.9), and /proc where that
// is missing (an older kernel, a seccomp filter); with neither, the child
// fails before exec. An empty range at the top of all descriptor numbers asks
// for close_range at the cost of one system call.
bool close_range_works() { return ::close_range(~0U, ~0U, 0) == 0; }
#endif

// Every descriptor above standard error is closed in the child, whatever the
// agent left open without close-on-exec.
void close_other_descriptors_in_child(SpawnActions& actions, SpawnAttributes& attributes) {
#if defined(__APPLE__)
    // This flag closes every descriptor that no file action names, standard
    // input included, which the child is to share with the hook.
    attributes.add_flags(POSIX_SPAWN_CLOEXEC_DEFAULT);
    check_status(::posix_spawn_file_actions_addinherit_np(actions.get(), STDIN_FILENO),
                 "posix_spawn_file_actions_addinherit_np");
#else
    (void)attributes;
#if defined(SKILLHOOK_HAVE_ADDCLOSEFROM)
    if (close_range_works()) {
        check_status(::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1),
                     "posix_spawn_file_actions_addclosefrom_np");
        return;
    }
#endif
    (void)actions;
    mark_inherited_descriptors_close_on_exec();
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
    reset_signals_in_child(attributes);
    keep_children_for_reaping();

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
