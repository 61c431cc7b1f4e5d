// Starting a child process on Windows: CreateProcessW with an explicit list
// of inherited handles, in a job of its own; both output pipes read with
// overlapped I/O and waited for together with the child and the deadline;
// the job terminated at the limit.
#include "platform.hpp"

#include "platform_primitives.hpp"
#include "windows_api.hpp"
#include "windows_command_line.hpp"

#include <bcrypt.h>

#include <stdexcept>
#include <vector>

namespace skillhook::platform {
namespace {

constexpr int pipe_name_attempts = 8;

// A pipe name that no other process can foresee: one that another made first
// would be its pipe, not ours to read.
std::wstring unforeseeable_pipe_name() {
    unsigned char random[16];
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        throw std::runtime_error("BCryptGenRandom failed");
    std::wstring name = L"\\\\.\\pipe\\report_skill_usage-";
    for (const unsigned char byte : random) {
        name += L"0123456789abcdef"[byte >> 4];
        name += L"0123456789abcdef"[byte & 0xF];
    }
    return name;
}

// One pipe from the child, read with overlapped I/O so that one thread waits
// for both pipes, the child and the deadline together. Anonymous pipes cannot
// be read that way, hence a named pipe with a random name of its own.
class PipeFromChild {
public:
    PipeFromChild() {
        std::wstring name;
        for (int attempt = 1;; ++attempt) {
            name = unforeseeable_pipe_name();
            // FIRST_PIPE_INSTANCE: a pipe of that name made by anyone else is a failure, not ours to read.
            own_end_.reset(::CreateNamedPipeW(
                name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, buffer_size, 0,
                nullptr));
            if (own_end_.valid()) break;
            // Taken already: by chance once in 2^128 times, else by a process that saw it. Another name, then.
            const DWORD error = ::GetLastError();
            if ((error != ERROR_ACCESS_DENIED && error != ERROR_PIPE_BUSY) || attempt == pipe_name_attempts)
                throw_error(error, "CreateNamedPipeW");
        }
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

    // After event() was signalled: drops what was read and reads on. The
    // number of bytes read; 0 at the end.
    DWORD finish_read() {
        DWORD count = 0;
        if (::GetOverlappedResult(own_end_.get(), &overlapped_, &count, FALSE)) {
            pending_ = false;
            start_read();
            return count;
        }
        if (::GetLastError() != ERROR_BROKEN_PIPE) throw_last_error("ReadFile");
        pending_ = false;
        open_ = false;
        return 0;
    }

    // Once the child has ended: takes what the pipe holds at this moment,
    // without waiting for more.
    void drain_what_is_there() {
        DWORD left = 0;
        if (!open_ || !::PeekNamedPipe(own_end_.get(), nullptr, 0, nullptr, &left, nullptr)) return;
        while (pending_ && ::WaitForSingleObject(event_.get(), 0) == WAIT_OBJECT_0) {
            const DWORD count = finish_read();
            if (count == 0 || count >= left) return;
            left -= count;
        }
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

// Owns the started child until it has ended, so that no path leaves it
// running. The child is in a job of its own, which whatever it starts joins:
// killing the job at the limit ends them all. Where the system refuses a job
// (an agent's job that allows no nesting), the child alone is killed.
class ChildProcess {
public:
    explicit ChildProcess(HANDLE process) : process_(process), job_(::CreateJobObjectW(nullptr, nullptr)) {
        if (job_.valid() && !::AssignProcessToJobObject(job_.get(), process_.get())) job_.reset();
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (!ended_) kill_and_wait();
    }
    HANDLE handle() const { return process_.get(); }
    bool ended() const { return ended_; }
    void mark_ended() { ended_ = true; }
    // A terminated process ends at once unless it is stuck in the system (a
    // driver that does not complete its I/O); such a one is not waited for
    // beyond the grace.
    void kill_and_wait() {
        if (!job_.valid() || !::TerminateJobObject(job_.get(), 1)) ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), static_cast<DWORD>(grace_after_kill.count()));
        ended_ = true;
    }

private:
    Handle process_;
    Handle job_;  // closed without killing: what a child that ended in time started lives on
    bool ended_ = false;
};

// Reads both pipes and waits for the child to end, all on one thread: until
// the child has ended and the pipes are closed, or the child has ended and
// what they hold then is read; what it started may hold them open for as
// long as it likes, and is not waited for. False when the deadline came first.
bool wait_for_end(PipeFromChild& output, PipeFromChild& errors, ChildProcess& child,
                  std::chrono::steady_clock::time_point deadline) {
    output.start_read();
    errors.start_read();
    for (;;) {
        std::vector<HANDLE> awaited;
        if (output.open()) awaited.push_back(output.event());
        if (errors.open()) awaited.push_back(errors.event());
        awaited.push_back(child.handle());
        // Checked on every round: a tool that writes without pause keeps an event signalled.
        const DWORD wait_ms = static_cast<DWORD>(milliseconds_until(deadline));
        if (wait_ms == 0) return false;
        const DWORD result =
            ::WaitForMultipleObjects(static_cast<DWORD>(awaited.size()), awaited.data(), FALSE, wait_ms);
        if (result == WAIT_TIMEOUT) return false;
        if (result >= WAIT_OBJECT_0 + awaited.size()) throw_last_error("WaitForMultipleObjects");
        const HANDLE signalled = awaited[result - WAIT_OBJECT_0];
        if (signalled == output.event()) {
            output.finish_read();
        } else if (signalled == errors.event()) {
            errors.finish_read();
        } else {
            child.mark_ended();
            output.drain_what_is_there();
            errors.drain_what_is_there();
            return true;
        }
    }
}

}  // namespace

ChildEnding run_with_time_limit(const std::vector<std::string>& arguments, std::chrono::milliseconds limit) {
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
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // CREATE_NO_WINDOW: the tool's output goes to the pipes; it never needs a
    // console window. Suspended until it is in its job, before it can start anything.
    if (!::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                          EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr,
                          &startup.StartupInfo, &started))
        return ChildEnding::could_not_start;
    const Handle main_thread(started.hThread);
    ChildProcess child(started.hProcess);
    if (::ResumeThread(main_thread.get()) == static_cast<DWORD>(-1)) return ChildEnding::could_not_start;
    output.close_child_end();
    errors.close_child_end();
    input.reset();

    if (wait_for_end(output, errors, child, deadline)) return ChildEnding::ended;
    child.kill_and_wait();
    return ChildEnding::killed_at_limit;
}

}  // namespace skillhook::platform
