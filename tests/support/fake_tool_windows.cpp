// A fake of the product's tool for the process-level tests on Windows, where
// shell scripts cannot serve. A copy of it does what the file beside it,
// "<its own file name>.action", says: a behaviour and a file name (see
// FakeTool in hook_sandbox.hpp). Files it writes lie beside itself.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {
namespace fs = std::filesystem;

constexpr wchar_t hold_pipes_option[] = L"--hold-pipes";

fs::path own_path() {
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path;
}

std::string utf8(const std::wstring& text) {
    const std::u8string converted = fs::path(text).u8string();
    return std::string(converted.begin(), converted.end());
}

void write_beside(const std::string& name, const std::string& content) {
    const fs::path path = own_path().parent_path() / fs::path(std::u8string(name.begin(), name.end()));
    std::ofstream(path, std::ios::binary) << content;
}

// The arguments as the C runtime split them; should CommandLineToArgvW split
// the line otherwise, its reading follows, so that the difference shows.
std::string recorded_arguments(int argc, wchar_t** argv) {
    std::vector<std::wstring> runtime(argv, argv + argc);
    std::vector<std::wstring> shell;
    int count = 0;
    if (wchar_t** parsed = ::CommandLineToArgvW(::GetCommandLineW(), &count); parsed != nullptr) {
        shell.assign(parsed, parsed + count);
        ::LocalFree(parsed);
    }
    std::string record;
    for (const std::wstring& argument : runtime) record += utf8(argument) + '\0';
    if (shell != runtime) {
        record += std::string("CommandLineToArgvW disagrees:") + '\0';
        for (const std::wstring& argument : shell) record += utf8(argument) + '\0';
    }
    return record;
}

void write_zeros(DWORD which, std::size_t total) {
    const HANDLE stream = ::GetStdHandle(which);
    const std::vector<char> block(64 * 1024, '\0');
    for (std::size_t written = 0; written < total;) {
        DWORD count = 0;
        if (!::WriteFile(stream, block.data(), static_cast<DWORD>(block.size()), &count, nullptr)) return;
        written += count;
    }
}

// Starts a copy of this program that inherits the standard handles (the
// hook's pipes) and keeps them open for a minute.
DWORD start_pipe_holder() {
    const fs::path self = own_path();
    std::wstring command_line = L"\"" + self.wstring() + L"\" " + hold_pipes_option;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(self.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process))
        return 0;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return process.dwProcessId;
}

// Whether the handle whose value the test put in SKILLHOOK_PROBE_HANDLE is
// open here on the probe file. An unrelated handle may have the same value,
// so its file name is checked too.
bool probe_handle_is_open() {
    wchar_t value[32];
    const DWORD length = ::GetEnvironmentVariableW(L"SKILLHOOK_PROBE_HANDLE", value, 32);
    if (length == 0 || length >= 32) return false;
    const HANDLE probe = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(value)));
    DWORD flags = 0;
    if (!::GetHandleInformation(probe, &flags) || ::GetFileType(probe) != FILE_TYPE_DISK) return false;
    std::wstring path(32768, L'\0');
    const DWORD path_length = ::GetFinalPathNameByHandleW(probe, path.data(), static_cast<DWORD>(path.size()), 0);
    if (path_length == 0 || path_length >= path.size()) return false;
    path.resize(path_length);
    return fs::path(path).filename() == L"probe";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == hold_pipes_option) {
        ::Sleep(60'000);
        return 0;
    }
    std::ifstream action_file(fs::path(own_path().wstring() + L".action"), std::ios::binary);
    std::string behaviour;
    std::string file;
    action_file >> behaviour;
    std::getline(action_file >> std::ws, file);

    if (behaviour == "record-arguments") {
        write_beside(file, recorded_arguments(argc, argv));
    } else if (behaviour == "fail-noisily") {
        std::fputs("out\n", stdout);
        std::fputs("err\n", stderr);
        return 1;
    } else if (behaviour == "flood-both-streams") {
        constexpr std::size_t total = 50 * 1024 * 1024;
        std::thread errors(write_zeros, STD_ERROR_HANDLE, total);
        write_zeros(STD_OUTPUT_HANDLE, total);
        errors.join();
        write_beside(file, "");
    } else if (behaviour == "hang") {
        write_beside(file, std::to_string(::GetCurrentProcessId()));
        ::Sleep(60'000);
    } else if (behaviour == "leave-background-child") {
        write_beside(file, std::to_string(start_pipe_holder()));
    } else if (behaviour == "create-file") {
        write_beside(file, "");
    } else if (behaviour == "report-probe-handle") {
        write_beside(file, probe_handle_is_open() ? "open" : "closed");
    } else {
        std::fprintf(stderr, "fake tool: unknown behaviour '%s'\n", behaviour.c_str());
        return 2;
    }
    return 0;
}
