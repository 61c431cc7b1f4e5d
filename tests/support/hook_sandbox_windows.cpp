// The sandbox on Windows: CreateProcessW.
#include "hook_sandbox.hpp"

#include "hook_sandbox_platform.hpp"
#include "windows_api.hpp"
#include "windows_command_line.hpp"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace skillhook::testing {
namespace fs = std::filesystem;

namespace {

using platform::Handle;
using platform::throw_last_error;

fs::path own_folder() {
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length == path.size()) throw_last_error("GetModuleFileNameW");
    path.resize(length);
    return fs::path(path).parent_path();
}

// Windows compares variable names without regard to case.
struct NameOrder {
    bool operator()(const std::wstring& left, const std::wstring& right) const {
        return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                            [](wchar_t a, wchar_t b) { return std::towupper(a) < std::towupper(b); });
    }
};

// The environment block for the child: this process's own, with the overrides.
std::wstring environment_block(const fs::path& home,
                               const std::map<std::string, std::optional<std::string>>& overrides) {
    std::map<std::wstring, std::optional<std::wstring>, NameOrder> values;
    wchar_t* const strings = ::GetEnvironmentStringsW();
    if (strings == nullptr) throw_last_error("GetEnvironmentStringsW");
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        const std::wstring text = entry;
        const std::size_t equals = text.find(L'=', 1);  // names like "=C:" begin with '='
        if (equals != std::wstring::npos) values[text.substr(0, equals)] = text.substr(equals + 1);
    }
    ::FreeEnvironmentStringsW(strings);
    values[L"USERPROFILE"] = home.wstring();
    for (const auto& [name, value] : overrides) {
        std::optional<std::wstring> wide;
        // The hook's own lossless crossing: a value may hold a lone surrogate.
        if (value) wide = platform::to_utf16(*value);
        values[utf8_path(name).wstring()] = wide;
    }
    std::wstring block;
    for (const auto& [name, value] : values)
        if (value) block += name + L"=" + *value + L'\0';
    block += L'\0';
    return block;
}

HANDLE create_inheritable_file(const fs::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE file = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                      disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw_last_error("CreateFileW");
    return file;
}

HANDLE uninheritable_copy(HANDLE handle) {
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        throw_last_error("DuplicateHandle");
    return copy;
}

void write_all(HANDLE pipe, const std::string& input) {
    std::size_t written = 0;
    while (written < input.size()) {
        DWORD count = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(input.size() - written, 1 << 20));
        if (!::WriteFile(pipe, input.data() + written, chunk, &count, nullptr)) return;  // the hook stopped reading
        written += count;
    }
}

// Each byte is written only once the hook has read the one before, so every
// read the hook makes returns a single byte.
void write_byte_by_byte(HANDLE pipe, HANDLE unread_input, HANDLE hook, const std::string& input) {
    for (const char byte : input) {
        DWORD count = 0;
        if (!::WriteFile(pipe, &byte, 1, &count, nullptr)) return;
        DWORD unread = 0;
        while (::PeekNamedPipe(unread_input, nullptr, 0, nullptr, &unread, nullptr) && unread > 0) {
            if (::WaitForSingleObject(hook, 0) == WAIT_OBJECT_0) return;
            ::Sleep(1);
        }
    }
}

}  // namespace

// Paths of the build are given relative to the test program's folder: the
// build machine's absolute paths mean nothing here.
fs::path built_program(const char* configured_path) { return own_folder() / configured_path; }

// The C++ library of MinGW makes no symbolic links on Windows, so the system is asked.
std::optional<std::string> create_file_symlink(const fs::path& target, const fs::path& link) {
    if (!::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        return std::system_category().message(static_cast<int>(::GetLastError()));
    // Wine answers success without making the link.
    if (::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) return "the system made no link";
    return std::nullopt;
}

bool process_is_running(int process_id) {
    const Handle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process_id)));
    return process.get() != nullptr && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void end_process(int process_id) {
    const Handle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(process_id)));
    if (process.get() == nullptr) return;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), INFINITE);
}

RunResult HookSandbox::run(const std::string& input, InputMode mode,
                           const std::map<std::string, std::optional<std::string>>& environment,
                           std::optional<fs::path> executable, const std::vector<std::string>& arguments) const {
    const fs::path program = executable.value_or(hook());
    const fs::path files = next_run_folder();
    const fs::path input_file = files / "stdin";
    const fs::path output_file = files / "stdout";
    const fs::path error_file = files / "stderr";
    std::ofstream(input_file, std::ios::binary) << input;

    const bool piped = mode == InputMode::pipe || mode == InputMode::pipe_byte_by_byte;
    Handle standard_input;
    Handle input_writer;
    Handle unread_input;  // the hook's end, kept here only to see what it has not read yet
    if (mode == InputMode::file) {
        standard_input.reset(create_inheritable_file(input_file, GENERIC_READ, OPEN_EXISTING));
    } else if (piped) {
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE read_end = nullptr;
        HANDLE write_end = nullptr;
        if (!::CreatePipe(&read_end, &write_end, &inheritable, 0)) throw_last_error("CreatePipe");
        standard_input.reset(read_end);
        input_writer.reset(write_end);
        // The hook must not hold the end it waits on.
        if (!::SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0)) throw_last_error("SetHandleInformation");
        if (mode == InputMode::pipe_byte_by_byte) unread_input.reset(uninheritable_copy(read_end));
    } else if (mode != InputMode::closed) {
        throw std::invalid_argument("this input mode is POSIX only");
    }
    const Handle standard_output(create_inheritable_file(output_file, GENERIC_WRITE, CREATE_ALWAYS));
    const Handle standard_error(create_inheritable_file(error_file, GENERIC_WRITE, CREATE_ALWAYS));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = standard_input.get();
    startup.hStdOutput = standard_output.get();
    startup.hStdError = standard_error.get();

    std::vector<std::string> argument_vector{platform::to_utf8(program.wstring())};
    argument_vector.insert(argument_vector.end(), arguments.begin(), arguments.end());
    std::wstring command_line = platform::to_utf16(windows_command_line(argument_vector));
    std::wstring environment_text = environment_block(home_, environment);

    const auto started = std::chrono::steady_clock::now();
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                          environment_text.data(), nullptr, &startup, &process))
        throw_last_error("CreateProcessW");
    const Handle child(process.hProcess);
    ::CloseHandle(process.hThread);
    standard_input.reset();
    if (mode == InputMode::pipe) write_all(input_writer.get(), input);
    if (mode == InputMode::pipe_byte_by_byte) write_byte_by_byte(input_writer.get(), unread_input.get(), child.get(), input);
    input_writer.reset();

    ::WaitForSingleObject(child.get(), INFINITE);
    RunResult result;
    result.elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(child.get(), &exit_code)) throw_last_error("GetExitCodeProcess");
    result.exit_status = static_cast<int>(exit_code);
    result.standard_output = read_file(output_file);
    result.standard_error = read_file(error_file);
    return result;
}

}  // namespace skillhook::testing
