#include "spawn_setup_posix.hpp"

#include "platform_primitives.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

// glibc 2.34 added the file action that closes every descriptor from a number
// on; older glibc and musl lack it.
#if defined(__GLIBC__)
#if __GLIBC_PREREQ(2, 34)
#define SKILLHOOK_HAVE_ADDCLOSEFROM 1
#endif
#endif

namespace skillhook::platform {
namespace {

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
// Without /proc the open ones are found by asking poll about every number
// below the hard descriptor limit, a batch a call: it answers POLLNVAL for a
// number that is not open. Not the soft limit: the agent may have opened a
// descriptor above it before lowering it (ulimit -S -n). That is cheap for a
// limit of a million, but a limit may be a billion (systemd's
// LimitNOFILE=infinity), so the sweep stops at the deadline. False then: the
// tool must not start with what is unmarked. Linux refuses a poll of more
// entries than the soft limit, so no batch is larger.
bool mark_inherited_descriptors_close_on_exec(std::chrono::steady_clock::time_point deadline) {
    if (mark_listed_descriptors_close_on_exec()) return true;
    struct rlimit limit {};
    check(::getrlimit(RLIMIT_NOFILE, &limit), "getrlimit");
    const int end = static_cast<int>(std::min<rlim_t>(limit.rlim_max, INT_MAX));
    std::vector<struct pollfd> batch(std::clamp<rlim_t>(limit.rlim_cur, 1, 1024));
    for (int first = STDERR_FILENO + 1; first < end;) {
        if (milliseconds_until(deadline) == 0) return false;
        const int count = std::min(static_cast<int>(batch.size()), end - first);
        for (int i = 0; i < count; ++i) batch[static_cast<std::size_t>(i)] = {first + i, 0, 0};
        int ready;
        do ready = ::poll(batch.data(), static_cast<nfds_t>(count), 0);
        while (ready == -1 && errno == EINTR);
        check(ready, "poll");
        for (int i = 0; i < count; ++i) {
            const struct pollfd& asked = batch[static_cast<std::size_t>(i)];
            if ((asked.revents & POLLNVAL) == 0) mark_close_on_exec(asked.fd);
        }
        first += count;
    }
    return true;
}
#endif

#if defined(SKILLHOOK_HAVE_ADDCLOSEFROM)
// glibc's closefrom action uses close_range (Linux 5.9), and /proc where that
// is missing (an older kernel, a seccomp filter); with neither, the child
// fails before exec. An empty range at the top of all descriptor numbers asks
// for close_range at the cost of one system call.
bool close_range_works() { return ::close_range(~0U, ~0U, 0) == 0; }
#endif

}  // namespace

// The signal-set calls stay unqualified: macOS defines them as macros.
void reset_signals_in_child(SpawnAttributes& attributes) {
    // Every number the set can hold, those the C library keeps for its
    // threads included (32 and 33 with glibc): its posix_spawn leaves them
    // ignored in the child unless this set names them, and sigfillset and
    // sigaddset refuse to. Both glibc and musl keep one bit a signal, and so
    // does macOS, so a set of all bits names them all.
    sigset_t all;
    std::memset(&all, 0xFF, sizeof all);
    // These two are always at their default; no system is asked to set them.
    check(sigdelset(&all, SIGKILL), "sigdelset");
    check(sigdelset(&all, SIGSTOP), "sigdelset");
    check_status(::posix_spawnattr_setsigdefault(attributes.get(), &all), "posix_spawnattr_setsigdefault");
    sigset_t none;
    check(sigemptyset(&none), "sigemptyset");
    check_status(::posix_spawnattr_setsigmask(attributes.get(), &none), "posix_spawnattr_setsigmask");
    attributes.add_flags(POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

bool close_other_descriptors_in_child(SpawnActions& actions, SpawnAttributes& attributes,
                                      std::chrono::steady_clock::time_point deadline) {
#if defined(__APPLE__)
    // This flag closes every descriptor that no file action names, standard
    // input included, which the child is to share with the hook.
    (void)deadline;
    attributes.add_flags(POSIX_SPAWN_CLOEXEC_DEFAULT);
    check_status(::posix_spawn_file_actions_addinherit_np(actions.get(), STDIN_FILENO),
                 "posix_spawn_file_actions_addinherit_np");
    return true;
#else
    (void)attributes;
#if defined(SKILLHOOK_HAVE_ADDCLOSEFROM)
    if (close_range_works()) {
        check_status(::posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1),
                     "posix_spawn_file_actions_addclosefrom_np");
        return true;
    }
#endif
    (void)actions;
    return mark_inherited_descriptors_close_on_exec(deadline);
#endif
}

}  // namespace skillhook::platform
