// Failed POSIX calls as exceptions, for the POSIX units of the platform layer.
#pragma once

#include <cerrno>
#include <system_error>

namespace skillhook::platform {

[[noreturn]] inline void throw_errno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// For calls that return -1 and set errno.
inline void check(int result, const char* what) {
    if (result == -1) throw_errno(what);
}

// For calls that return an error number (posix_spawn and the pthread family).
inline void check_status(int error_number, const char* what) {
    if (error_number != 0) throw std::system_error(error_number, std::generic_category(), what);
}

}  // namespace skillhook::platform
