// System facts and files on POSIX systems (Linux and macOS).
#include "platform.hpp"

#include "path_rules.hpp"
#include "platform_primitives.hpp"
#include "posix_errors.hpp"

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/auxv.h>
#elif defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

namespace skillhook::platform {
namespace {

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
    check_status(rc, "cannot determine the home directory");
    if (found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0') return std::nullopt;
    return found->pw_dir;
}
#endif

// Blocks until the descriptor has input or has reached its end. select, not
// poll: macOS's poll does not support devices, and a terminal is one.
void wait_until_readable(int fd) {
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        if (::select(fd + 1, &readable, nullptr, nullptr, nullptr) != -1) return;
        if (errno != EINTR) throw_errno("select");
    }
}

}  // namespace

void read_standard_input(std::span<char> buffer, const std::function<void(std::string_view)>& consume) {
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (count == 0) return;
        if (count == -1) {
            if (errno == EINTR) continue;
            // A non-blocking standard input that is empty for now has not ended.
            if (errno == EAGAIN) {
                wait_until_readable(STDIN_FILENO);
                continue;
            }
            throw_errno("read");
        }
        consume({buffer.data(), static_cast<std::size_t>(count)});
    }
}

std::string own_executable_path() {
#if defined(__linux__)
    // The path given to execve, links unresolved; /proc/self/exe would resolve
    // them. A program started through a descriptor is given "/dev/fd/N",
    // whose folder holds no tool: there the file's own path is all there is.
    const auto* started_as = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
    if (started_as != nullptr && !posix_paths::is_through_a_descriptor(started_as)) return make_absolute(started_as);
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
    // A HOME that is empty or relative counts as unset: the marker folder
    // would land in the working directory, inside the user's project.
    if (const char* home = std::getenv("HOME"); home != nullptr && posix_paths::is_absolute(home)) return home;
    if (std::optional<std::string> home = account_home_directory(::getuid())) return *home;
    throw std::runtime_error("cannot determine the home directory: HOME is unset or relative and the account has none");
}

std::string parent_directory(std::string_view path) { return posix_paths::parent_directory(path); }

std::string join_path(std::string_view folder, std::string_view name) { return posix_paths::join(folder, name); }

bool refuses_in_file_name(char byte, bool last) { return posix_paths::refuses_in_file_name(byte, last); }

std::optional<std::string> environment_variable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return value;
}

FileTime current_time() {
    struct timespec now {};
    check(::clock_gettime(CLOCK_REALTIME, &now), "clock_gettime");
    return to_file_time(now);
}

bool exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::vector<std::string> folder_entries(const std::string& path) {
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) return {};
    std::vector<std::string> names;
    int read_error = 0;
    try {
        for (;;) {
            errno = 0;
            const struct dirent* entry = ::readdir(folder);
            if (entry == nullptr) break;
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") names.emplace_back(name);
        }
        read_error = errno;
    } catch (...) {
        ::closedir(folder);  // the first failure is the one reported
        throw;
    }
    check(::closedir(folder), "closedir");
    if (read_error != 0) throw std::system_error(read_error, std::generic_category(), "readdir");
    return names;
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

bool make_folder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    if (errno == ENOENT) return false;
    if (errno != EEXIST) throw_errno("mkdir");
    struct stat status {};
    check(::stat(path.c_str(), &status), "stat");
    if (!S_ISDIR(status.st_mode)) throw std::system_error(ENOTDIR, std::generic_category(), "mkdir");
    return true;
}

void touch(const std::string& path, FileTime time) {
    const struct timespec stamp {static_cast<time_t>(time.seconds), static_cast<long>(time.nanoseconds)};
    const struct timespec times[2] = {stamp, stamp};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0) return;
    if (errno != ENOENT) throw_errno("utimensat");
    // O_NOFOLLOW: a dangling symbolic link is never followed to create a file elsewhere.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    check(fd, "open");
    const int stamped = ::futimens(fd, times);
    const int stamp_error = errno;
    check(::close(fd), "close");
    if (stamped == -1) throw std::system_error(stamp_error, std::generic_category(), "futimens");
}

void ignore_broken_pipes() noexcept {
    // Fails only for an invalid signal number, which SIGPIPE is not.
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace skillhook::platform
