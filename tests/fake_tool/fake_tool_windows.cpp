// The fake tool's Windows side.
#include "fake_tool_system.hpp"

#include "utf8_paths.hpp"

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <io.h>

namespace skillhook::testing {
namespace fs = std::filesystem;

namespace {

constexpr wchar_t hold_streams_option[] = L"--hold-streams";

[[noreturn]] void throw_last_error(const char* what) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

}  // namespace

// The file itself, whatever name the command line gave.
fs::path own_path(const std::vector<std::string>&) {
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length == path.size()) throw_last_error("GetModuleFileNameW");
    path.resize(length);
    return path;
}

long own_process_id() { return static_cast<long>(::GetCurrentProcessId()); }

// A copy of this program, started with the option that makes it only wait.
long start_stream_holder(const fs::path& own) {
    std::wstring command_line = L"\"" + own.wstring() + L"\" " + hold_streams_option;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(own.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process))
        throw_last_error("CreateProcessW");
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<long>(process.dwProcessId);
}

// The arguments as the C runtime split them; should CommandLineToArgvW split
// the line otherwise, its reading follows, so that the difference shows.
std::string recorded_arguments(const std::vector<std::string>& arguments) {
    std::string record;
    for (const std::string& argument : arguments) record += argument + '\0';
    int count = 0;
    wchar_t** const parsed = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (parsed == nullptr) throw_last_error("CommandLineToArgvW");
    std::vector<std::string> shell;
    for (int index = 0; index < count; ++index) shell.push_back(utf8_text(parsed[index]));
    ::LocalFree(parsed);
    if (shell != arguments) {
        record += std::string("CommandLineToArgvW disagrees:") + '\0';
        for (const std::string& argument : shell) record += argument + '\0';
    }
    return record;
}

// Whether the handle whose value the test put in SKILLHOOK_PROBE_HANDLE is
// open here on the probe file. An unrelated handle may have the same value,
// so its file name is checked too.
std::string inherited_handle_report() {
    wchar_t value[32];
    const DWORD length = ::GetEnvironmentVariableW(L"SKILLHOOK_PROBE_HANDLE", value, 32);
    if (length == 0 || length >= 32) return "closed";
    const HANDLE probe = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(value)));
    DWORD flags = 0;
    if (!::GetHandleInformation(probe, &flags) || ::GetFileType(probe) != FILE_TYPE_DISK) return "closed";
    std::wstring path(32768, L'\0');
    const DWORD path_length = ::GetFinalPathNameByHandleW(probe, path.data(), static_cast<DWORD>(path.size()), 0);
    if (path_length == 0 || path_length >= path.size()) return "closed";
    path.resize(path_length);
    return fs::path(path).filename() == L"probe" ? "open" : "closed";
}

}  // namespace skillhook::testing

// The command line arrives as UTF-16; the narrow argv would hold the ANSI code page.
int wmain(int argc, wchar_t** argv) {
    using namespace skillhook::testing;
    if (argc == 2 && std::wstring(argv[1]) == hold_streams_option) {
        ::Sleep(60'000);
        return 0;
    }
    // Text mode would cut every write into small pieces to translate line ends.
    if (_setmode(_fileno(stdout), _O_BINARY) == -1 || _setmode(_fileno(stderr), _O_BINARY) == -1) return 2;
    std::vector<std::string> arguments;
    for (int index = 0; index < argc; ++index) arguments.push_back(utf8_text(argv[index]));
    return run_fake_tool(arguments);
}
