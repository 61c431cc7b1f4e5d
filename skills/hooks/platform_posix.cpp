// POSIX side of the platform unit (Linux and macOS).
#include "platform.hpp"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <cstdio>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/auxv.h>
#elif defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

extern char** environ;

namespace skillhook::platform {
namespace {

[[noreturn]] void throw_errno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void check(int result, const char* what) {
    if (result == -1) throw_errno(what);
}

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

FileTime to_file_time(const struct timespec& ts) { return {ts.tv_sec, ts.tv_nsec}; }

std::string current_directory() {
    std::string buffer(PATH_MAX, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) throw_errno("getcwd");
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

std::string make_absolute(std::string path) {
    if (!path.empty() && path.front() == '/') return path;
    return join_path(current_directory(), path);
}

#if defined(__linux__)
std::string link_target(const char* link) {
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        const ssize_t length = ::readlink(link, buffer.data(), buffer.size());
        if (length == -1) throw_errno("readlink");
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}
#endif

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
    SpawnActions() {
        if (const int rc = ::posix_spawn_file_actions_init(&actions_); rc != 0)
            throw std::system_error(rc, std::generic_category(), "posix_spawn_file_actions_init");
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t* get() { return &actions_; }

    void dup2(int fd, int target) {
        if (const int rc = ::posix_spawn_file_actions_adddup2(&actions_, fd, target); rc != 0)
            throw std::system_error(rc, std::generic_category(), "posix_spawn_file_actions_adddup2");
    }

private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
public:
    SpawnAttributes() {
        if (const int rc = ::posix_spawnattr_init(&attributes_); rc != 0)
            throw std::system_error(rc, std::generic_category(), "posix_spawnattr_init");
    }
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
    if (const int rc = ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_CLOEXEC_DEFAULT); rc != 0)
        throw std::system_error(rc, std::generic_category(), "posix_spawnattr_setflags");
    if (const int rc = ::posix_spawn_file_actions_addinherit_np(actions.get(), STDIN_FILENO); rc != 0)
        throw std::system_error(rc, std::generic_category(), "posix_spawn_file_actions_addinherit_np");
#else
    (void)attributes;
    if (const int rc = ::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1); rc != 0)
        throw std::system_error(rc, std::generic_category(), "posix_spawn_file_actions_addclosefrom_np");
#endif
}

int milliseconds_until(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX));
}

// Reads what is there and drops it; false at end of input.
bool drain(int fd) {
    char buffer[65536];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) return true;
    if (count == -1 && (errno == EINTR || errno == EAGAIN)) return true;
    return false;
}

#if defined(__linux__)
// The hook is linked statically, and a static program cannot safely load the
// system's name-service modules (they link against the shared C library and
// may crash it), so the account entry is read from the password file itself.
std::optional<std::string> account_home_directory(uid_t uid) {
    std::FILE* file = std::fopen("/etc/passwd", "re");
    if (file == nullptr) throw_errno("cannot read /etc/passwd");
    char* line = nullptr;
    std::size_t capacity = 0;
    std::optional<std::string> home;
    while (!home && ::getline(&line, &capacity, file) != -1) home = home_in_passwd_line(line, uid);
    std::free(line);
    std::fclose(file);
    return home;
}
#else
std::optional<std::string> account_home_directory(uid_t uid) {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
    struct passwd entry {};
    struct passwd* found = nullptr;
    int rc;
    while ((rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (rc != 0) throw std::system_error(rc, std::generic_category(), "cannot determine the home directory");
    if (found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0') return std::nullopt;
    return found->pw_dir;
}
#endif

// Blocks until the descriptor has input or has reached its end.
void wait_until_readable(int fd) {
    struct pollfd input = {fd, POLLIN, 0};
    while (::poll(&input, 1, -1) == -1)
        if (errno != EINTR) throw_errno("poll");
}

}  // namespace

std::optional<std::string> home_in_passwd_line(std::string_view line, unsigned uid) {
    // name:password:uid:gid:comment:home:shell
    std::string_view fields[7];
    std::size_t count = 0;
    while (count < 7) {
        const std::size_t colon = line.find(':');
        fields[count++] = line.substr(0, colon);
        if (colon == std::string_view::npos) break;
        line.remove_prefix(colon + 1);
    }
    if (count < 6 || fields[2] != std::to_string(uid) || fields[5].empty()) return std::nullopt;
    std::string_view home = fields[5];
    if (count == 6 && home.ends_with('\n')) home.remove_suffix(1);
    if (home.empty()) return std::nullopt;
    return std::string(home);
}

InputText read_standard_input() {
    struct stat status {};
    check(::fstat(STDIN_FILENO, &status), "fstat");
    std::size_t first_block = 64 * 1024;
    if (S_ISREG(status.st_mode)) {
        const off_t offset = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
        if (offset != -1 && status.st_size > offset) first_block = static_cast<std::size_t>(status.st_size - offset) + 1;
    }

    InputText input(first_block);
    for (;;) {
        const std::span<char> space = input.unused_space();
        const ssize_t count = ::read(STDIN_FILENO, space.data(), space.size());
        if (count == 0) return input;
        if (count == -1) {
            if (errno == EINTR) continue;
            // A non-blocking standard input that is empty for now has not ended.
            if (errno == EAGAIN) {
                wait_until_readable(STDIN_FILENO);
                continue;
            }
            throw_errno("read");
        }
        input.append(static_cast<std::size_t>(count));
    }
}

std::string own_executable_path() {
#if defined(__linux__)
    // The path given to execve, links unresolved; /proc/self/exe would resolve them.
    if (const auto* started_as = reinterpret_cast<const char*>(::getauxval(AT_EXECFN)); started_as != nullptr)
        return make_absolute(started_as);
    return link_target("/proc/self/exe");
#elif defined(__APPLE__)
    std::uint32_t size = 0;
    ::_NSGetExecutablePath(nullptr, &size);
    std::string path(size, '\0');
    if (::_NSGetExecutablePath(path.data(), &size) != 0) throw std::runtime_error("own executable path unknown");
    path.resize(std::strlen(path.c_str()));
    return make_absolute(std::move(path));
#else
#error "own_executable_path is not implemented for this platform"
#endif
}

std::string home_directory() {
    // An empty HOME counts as unset, so markers never land in the working directory.
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (std::optional<std::string> home = account_home_directory(::getuid())) return *home;
    throw std::runtime_error("cannot determine the home directory: HOME is unset and the account has none");
}

std::string parent_directory(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string join_path(std::string_view folder, std::string_view name) {
    std::string joined(folder);
    if (joined.empty() || joined.back() != '/') joined += '/';
    joined += name;
    return joined;
}

bool holds_path_separator(std::string_view name) { return name.find('/') != std::string_view::npos; }

FileTime current_time() {
    struct timespec now {};
    check(::clock_gettime(CLOCK_REALTIME, &now), "clock_gettime");
    return to_file_time(now);
}

bool exists(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR) return false;
    throw_errno("stat");
}

std::optional<FileTime> modification_time(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        throw_errno("stat");
    }
#if defined(__APPLE__)
    return to_file_time(status.st_mtimespec);
#else
    return to_file_time(status.st_mtim);
#endif
}

void create_directories(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
        struct stat status {};
        check(::stat(path.c_str(), &status), "stat");
        if (!S_ISDIR(status.st_mode)) throw std::system_error(ENOTDIR, std::generic_category(), "mkdir");
        return;
    }
    if (errno != ENOENT) throw_errno("mkdir");
    const std::string parent = parent_directory(path);
    if (parent == path) throw_errno("mkdir");
    create_directories(parent);
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) throw_errno("mkdir");
}

void touch(const std::string& path) {
    if (::utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0) return;
    if (errno != ENOENT) throw_errno("utimensat");
    // O_NOFOLLOW: a dangling symbolic link is never followed to create a file elsewhere.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    check(fd, "open");
    check(::close(fd), "close");
}

void run_with_time_limit(const std::vector<std::string>& arguments, std::chrono::milliseconds limit) {
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
    actions.dup2(output.write_end.get(), STDOUT_FILENO);
    actions.dup2(errors.write_end.get(), STDERR_FILENO);
    close_other_descriptors_in_child(actions, attributes);

    pid_t pid = 0;
    if (const int rc = ::posix_spawn(&pid, argv[0], actions.get(), attributes.get(), argv.data(), environ); rc != 0)
        throw std::system_error(rc, std::generic_category(), "cannot start the tool");
    ChildProcess child(pid);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    output.write_end.reset();
    errors.write_end.reset();

    // Both pipes are drained together, so a child that fills one never stalls.
    struct pollfd streams[2] = {{output.read_end.get(), POLLIN, 0}, {errors.read_end.get(), POLLIN, 0}};
    int open_streams = 2;
    while (open_streams > 0) {
        const int wait_ms = milliseconds_until(deadline);
        if (wait_ms == 0) throw TimeLimitExceeded("the tool did not end within its time limit");
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

    // The pipes close as the child exits; waiting for it to become reapable
    // is normally a matter of microseconds, but stays under the deadline.
    auto pause = std::chrono::microseconds(50);
    while (!child.try_reap()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            throw TimeLimitExceeded("the tool did not end within its time limit");
        const auto nap = std::min<std::chrono::steady_clock::duration>(pause, left);
        const auto nap_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(nap).count();
        struct timespec interval {nap_ns / 1'000'000'000, nap_ns % 1'000'000'000};
        ::nanosleep(&interval, nullptr);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(20));
    }
}

bool run_on_large_stack(std::size_t stack_bytes, const std::function<void()>& work) {
    struct Job {
        const std::function<void()>* work;
        bool finished = false;
    } job{&work};
    const auto body = [](void* argument) -> void* {
        auto* running = static_cast<Job*>(argument);
        try {
            (*running->work)();
            running->finished = true;
        } catch (...) {
            // Reported to the caller as work not done.
        }
        return nullptr;
    };

    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) return false;
    pthread_t thread;
    const bool started = ::pthread_attr_setstacksize(&attributes, stack_bytes) == 0 &&
                         ::pthread_create(&thread, &attributes, body, &job) == 0;
    ::pthread_attr_destroy(&attributes);
    return started && ::pthread_join(thread, nullptr) == 0 && job.finished;
}

}  // namespace skillhook::platform
