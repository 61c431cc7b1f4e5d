// Windows side of the platform unit. Texts cross this boundary as UTF-8 and
// reach the system as UTF-16; a text that does not convert is a failure.
#include "platform.hpp"

#include "windows_command_line.hpp"

#include <windows.h>
#include <userenv.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cwchar>
#include <optional>
#include <system_error>

namespace skillhook::platform {
namespace {

[[noreturn]] void throw_error(DWORD error, const char* what) {
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

[[noreturn]] void throw_last_error(const char* what) { throw_error(::GetLastError(), what); }

void check(BOOL succeeded, const char* what) {
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

// A NUL would silently cut the text short on its way into the system.
std::wstring to_utf16(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) throw_error(ERROR_INVALID_NAME, "text holds a NUL character");
    if (text.empty()) return {};
    if (text.size() > INT_MAX) throw_error(ERROR_FILENAME_EXCED_RANGE, "text too long");
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length == 0) throw_last_error("MultiByteToWideChar");
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) == 0)
        throw_last_error("MultiByteToWideChar");
    return wide;
}

std::string to_utf8(std::wstring_view text) {
    if (text.empty()) return {};
    if (text.size() > INT_MAX) throw_error(ERROR_FILENAME_EXCED_RANGE, "text too long");
    const int size = static_cast<int>(text.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length == 0) throw_last_error("WideCharToMultiByte");
    std::string narrow(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, narrow.data(), length, nullptr,
                              nullptr) == 0)
        throw_last_error("WideCharToMultiByte");
    return narrow;
}

bool is_separator(char character) { return character == '\\' || character == '/'; }

// 100-ns ticks from 1601-01-01 to 1970-01-01.
constexpr std::int64_t unix_epoch_in_ticks = 116'444'736'000'000'000;
constexpr std::int64_t ticks_per_second = 10'000'000;

FileTime to_file_time(const FILETIME& time) {
    const std::uint64_t ticks_since_1601 = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    const std::int64_t ticks = static_cast<std::int64_t>(ticks_since_1601) - unix_epoch_in_ticks;
    std::int64_t seconds = ticks / ticks_per_second;
    std::int64_t rest = ticks % ticks_per_second;
    if (rest < 0) {
        rest += ticks_per_second;
        --seconds;
    }
    return {seconds, rest * 100};
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens whatever is at the path, following links; folders too.
HANDLE open_existing(const std::wstring& path, DWORD access) {
    return ::CreateFileW(path.c_str(), access, share_all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool is_missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

std::optional<std::wstring> environment_variable(const wchar_t* name) {
    std::wstring value;
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD needed = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size() + 1));
        if (needed == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            value.clear();
            return value;
        }
        if (needed <= value.size()) {
            value.resize(needed);
            return value;
        }
        value.resize(needed - 1);
    }
}

std::string profile_directory_of_current_user() {
    HANDLE raw_token = nullptr;
    check(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token), "OpenProcessToken");
    const Handle token(raw_token);
    DWORD size = 0;
    ::GetUserProfileDirectoryW(token.get(), nullptr, &size);
    if (size == 0) throw_last_error("cannot determine the home directory");
    std::wstring directory(size, L'\0');
    check(::GetUserProfileDirectoryW(token.get(), directory.data(), &size), "cannot determine the home directory");
    directory.resize(std::wcslen(directory.c_str()));
    if (directory.empty()) throw std::runtime_error("cannot determine the home directory: the account has none");
    return to_utf8(directory);
}

DWORD milliseconds_until(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(left.count(), INFINITE - 1));
}

// One pipe from the child, read with overlapped I/O so that one thread waits
// for both pipes, the child and the deadline together. Anonymous pipes cannot
// be read that way, hence a named pipe with a name of this run's own.
class PipeFromChild {
public:
    PipeFromChild() {
        static std::atomic<unsigned> pipes_made{0};
        const std::wstring name = L"\\\\.\\pipe\\report_skill_usage-" + std::to_wstring(::GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(pipes_made++);
        // FIRST_PIPE_INSTANCE: a pipe of that name made by anyone else is a failure, not ours to read.
        own_end_.reset(::CreateNamedPipeW(name.c_str(),
                                          PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                          1, 0, buffer_size, 0, nullptr));
        if (!own_end_.valid()) throw_last_error("CreateNamedPipeW");
        event_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!event_.valid()) throw_last_error("CreateEventW");
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        child_end_.reset(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, 0, nullptr));
        if (!child_end_.valid()) throw_last_error("CreateFileW");
    }
    PipeFromChild(const PipeFromChild&) = delete;
    PipeFromChild& operator=(const PipeFromChild&) = delete;
    ~PipeFromChild() {
        if (!pending_) return;
        // The buffer and the OVERLAPPED must outlive the read.
        ::CancelIoEx(own_end_.get(), &overlapped_);
        DWORD ignored = 0;
        ::GetOverlappedResult(own_end_.get(), &overlapped_, &ignored, TRUE);
    }

    HANDLE child_end() const { return child_end_.get(); }
    void close_child_end() { child_end_.reset(); }
    HANDLE event() const { return event_.get(); }
    bool open() const { return open_; }

    // Starts one read; its end signals event(), whether it completes now or later.
    void start_read() {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.get();
        if (::ReadFile(own_end_.get(), buffer_.data(), buffer_size, nullptr, &overlapped_) ||
            ::GetLastError() == ERROR_IO_PENDING) {
            pending_ = true;
            return;
        }
        if (::GetLastError() != ERROR_BROKEN_PIPE) throw_last_error("ReadFile");
        open_ = false;
    }

    // After event() was signalled: drops what was read and reads on.
    void finish_read() {
        DWORD count = 0;
        if (::GetOverlappedResult(own_end_.get(), &overlapped_, &count, FALSE)) {
            pending_ = false;
            start_read();
            return;
        }
        if (::GetLastError() != ERROR_BROKEN_PIPE) throw_last_error("ReadFile");
        pending_ = false;
        open_ = false;
    }

private:
    static constexpr DWORD buffer_size = 64 * 1024;
    Handle own_end_;
    Handle child_end_;
    Handle event_;
    OVERLAPPED overlapped_{};
    std::vector<char> buffer_ = std::vector<char>(buffer_size);
    bool pending_ = false;
    bool open_ = true;
};

// An inheritable copy of this process's standard input, or none when it has none.
Handle inheritable_standard_input() {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return Handle();
    HANDLE copy = nullptr;
    check(::DuplicateHandle(::GetCurrentProcess(), input, ::GetCurrentProcess(), &copy, 0, TRUE,
                            DUPLICATE_SAME_ACCESS),
          "DuplicateHandle");
    return Handle(copy);
}

// The attribute that limits inheritance to exactly these handles, whatever
// else this process holds as inheritable.
class InheritOnly {
public:
    explicit InheritOnly(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        if (size == 0) throw_last_error("InitializeProcThreadAttributeList");
        storage_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        check(::InitializeProcThreadAttributeList(list_, 1, 0, &size), "InitializeProcThreadAttributeList");
        if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                         handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
            const DWORD error = ::GetLastError();
            ::DeleteProcThreadAttributeList(list_);
            throw_error(error, "UpdateProcThreadAttribute");
        }
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;
    ~InheritOnly() { ::DeleteProcThreadAttributeList(list_); }
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

private:
    std::vector<HANDLE> handles_;
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Owns the started child until it has ended, so that no path leaves it running.
class ChildProcess {
public:
    explicit ChildProcess(HANDLE process) : process_(process) {}
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (ended_) return;
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), INFINITE);
    }
    HANDLE handle() const { return process_.get(); }
    bool ended() const { return ended_; }
    void mark_ended() { ended_ = true; }

private:
    Handle process_;
    bool ended_ = false;
};

}  // namespace

InputText read_standard_input() {
    const HANDLE input_handle = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input_handle == INVALID_HANDLE_VALUE) throw_last_error("GetStdHandle");
    if (input_handle == nullptr) throw_error(ERROR_INVALID_HANDLE, "no standard input");
    // A pipe ends only when its writer closes it: a zero-byte read there is an
    // empty write, not the end.
    const bool is_pipe = ::GetFileType(input_handle) == FILE_TYPE_PIPE;

    InputText input;
    for (;;) {
        const std::span<char> space = input.unused_space();
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(space.size(), 1u << 30));
        DWORD count = 0;
        if (!::ReadFile(input_handle, space.data(), wanted, &count, nullptr)) {
            if (::GetLastError() == ERROR_BROKEN_PIPE) return input;
            throw_last_error("ReadFile");
        }
        if (count == 0 && !is_pipe) return input;
        input.append(count);
    }
}

std::string own_executable_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) throw_last_error("GetModuleFileNameW");
        if (length < path.size()) {
            path.resize(length);
            return to_utf8(path);
        }
        path.resize(path.size() * 2);
    }
}

std::string home_directory() {
    // An empty USERPROFILE counts as unset, so markers never land in the working directory.
    if (const auto profile = environment_variable(L"USERPROFILE"); profile && !profile->empty())
        return to_utf8(*profile);
    return profile_directory_of_current_user();
}

std::string parent_directory(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string_view::npos) return ".";
    // The separator of a root stays: "\", "C:\".
    const bool at_root = separator == 0 || (separator == 2 && path[1] == ':');
    return std::string(path.substr(0, at_root ? separator + 1 : separator));
}

std::string join_path(std::string_view folder, std::string_view name) {
    std::string joined(folder);
    if (joined.empty() || !is_separator(joined.back())) joined += '\\';
    joined += name;
    return joined;
}

// Besides both separators, a name is refused where Windows would read it as
// something other than one file of its own in the folder: ':' selects a drive
// or a stream of another file ("x:$DATA", even a folder through
// "x::$INDEX_ALLOCATION"), and trailing dots and blanks are dropped, so "x."
// would share the marker of "x". Other characters that Windows forbids in
// file names make the file system refuse the name, which is a failure anyway.
bool holds_path_separator(std::string_view name) {
    if (name.find_first_of("\\/:") != std::string_view::npos) return true;
    return !name.empty() && (name.back() == '.' || name.back() == ' ');
}

FileTime current_time() {
    FILETIME now;
    ::GetSystemTimePreciseAsFileTime(&now);
    return to_file_time(now);
}

bool exists(const std::string& path) {
    // No access asked for: metadata alone, which even a locked file gives.
    const Handle entry(open_existing(to_utf16(path), 0));
    if (entry.valid()) return true;
    if (is_missing(::GetLastError())) return false;
    throw_last_error("CreateFileW");
}

std::optional<FileTime> modification_time(const std::string& path) {
    const Handle entry(open_existing(to_utf16(path), FILE_READ_ATTRIBUTES));
    if (!entry.valid()) {
        if (is_missing(::GetLastError())) return std::nullopt;
        throw_last_error("CreateFileW");
    }
    FILETIME written;
    check(::GetFileTime(entry.get(), nullptr, nullptr, &written), "GetFileTime");
    return to_file_time(written);
}

void create_directories(const std::string& path) {
    const std::wstring wide = to_utf16(path);
    if (::CreateDirectoryW(wide.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = ::GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) throw_last_error("GetFileAttributesW");
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) throw_error(ERROR_DIRECTORY, "CreateDirectoryW");
        return;
    }
    if (::GetLastError() != ERROR_PATH_NOT_FOUND) throw_last_error("CreateDirectoryW");
    const std::string parent = parent_directory(path);
    if (parent == path) throw_error(ERROR_PATH_NOT_FOUND, "CreateDirectoryW");
    create_directories(parent);
    if (!::CreateDirectoryW(wide.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        throw_last_error("CreateDirectoryW");
}

void touch(const std::string& path) {
    const std::wstring wide = to_utf16(path);
    const Handle existing(open_existing(wide, FILE_WRITE_ATTRIBUTES));
    if (existing.valid()) {
        FILETIME now;
        ::GetSystemTimePreciseAsFileTime(&now);
        check(::SetFileTime(existing.get(), nullptr, &now, &now), "SetFileTime");
        return;
    }
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) throw_last_error("CreateFileW");
    // OPEN_REPARSE_POINT: a dangling link is never followed to create a file elsewhere.
    const Handle created(::CreateFileW(wide.c_str(), GENERIC_WRITE, share_all, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!created.valid()) throw_last_error("CreateFileW");
}

void run_with_time_limit(const std::vector<std::string>& arguments, std::chrono::milliseconds limit) {
    // The application is named, so the command path is never searched.
    const std::wstring application = to_utf16(arguments.at(0));
    std::wstring command_line = to_utf16(windows_command_line(arguments));

    PipeFromChild output;
    PipeFromChild errors;
    Handle input = inheritable_standard_input();
    std::vector<HANDLE> inherited{output.child_end(), errors.child_end()};
    if (input.valid()) inherited.push_back(input.get());
    const InheritOnly inherit_only(inherited);

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input.get();
    startup.StartupInfo.hStdOutput = output.child_end();
    startup.StartupInfo.hStdError = errors.child_end();
    startup.lpAttributeList = inherit_only.get();

    PROCESS_INFORMATION started{};
    // CREATE_NO_WINDOW: the tool's output goes to the pipes; it never needs a console window.
    check(::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                           EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW, nullptr, nullptr, &startup.StartupInfo,
                           &started),
          "cannot start the tool");
    ::CloseHandle(started.hThread);
    ChildProcess child(started.hProcess);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    output.close_child_end();
    errors.close_child_end();
    input.reset();

    output.start_read();
    errors.start_read();
    for (;;) {
        std::vector<HANDLE> awaited;
        if (output.open()) awaited.push_back(output.event());
        if (errors.open()) awaited.push_back(errors.event());
        if (!child.ended()) awaited.push_back(child.handle());
        if (awaited.empty()) return;
        // Checked on every round: a tool that writes without pause keeps an event signalled.
        const DWORD wait_ms = milliseconds_until(deadline);
        if (wait_ms == 0) throw TimeLimitExceeded("the tool did not end within its time limit");
        const DWORD result =
            ::WaitForMultipleObjects(static_cast<DWORD>(awaited.size()), awaited.data(), FALSE, wait_ms);
        if (result == WAIT_TIMEOUT) throw TimeLimitExceeded("the tool did not end within its time limit");
        if (result >= WAIT_OBJECT_0 + awaited.size()) throw_last_error("WaitForMultipleObjects");
        const HANDLE signalled = awaited[result - WAIT_OBJECT_0];
        if (signalled == output.event()) {
            output.finish_read();
        } else if (signalled == errors.event()) {
            errors.finish_read();
        } else {
            child.mark_ended();
        }
    }
}

bool run_on_large_stack(std::size_t stack_bytes, const std::function<void()>& work) {
    struct Job {
        const std::function<void()>* work;
        bool finished = false;
    } job{&work};
    const auto body = [](LPVOID argument) -> DWORD {
        auto* running = static_cast<Job*>(argument);
        try {
            (*running->work)();
            running->finished = true;
        } catch (...) {
            // Reported to the caller as work not done.
        }
        return 0;
    };

    // The size is reserved, not committed: pages are taken only as deep as used.
    const Handle thread(::CreateThread(nullptr, stack_bytes, body, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread.valid()) return false;
    return ::WaitForSingleObject(thread.get(), INFINITE) == WAIT_OBJECT_0 && job.finished;
}

}  // namespace skillhook::platform
