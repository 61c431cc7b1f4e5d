// What the Windows units of the platform layer share: failed calls as
// exceptions, an owned handle, and the UTF-8 / UTF-16 crossing.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <system_error>

namespace skillhook::platform {

[[noreturn]] inline void throw_error(DWORD error, const char* what) {
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

[[noreturn]] inline void throw_last_error(const char* what) { throw_error(::GetLastError(), what); }

inline void check(BOOL succeeded, const char* what) {
    if (!succeeded) throw_last_error(what);
}

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (valid()) ::CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

// Texts cross into the system as UTF-16 and come back as UTF-8, losslessly
// both ways: a surrogate of the system's that pairs with nothing keeps its
// own three bytes (system_windows.cpp). Text that is neither is a failure,
// and so is a NUL, which would silently cut it short.
std::wstring to_utf16(std::string_view text);
std::string to_utf8(std::wstring_view text);

}  // namespace skillhook::platform
