// System facts and files on Windows. Texts cross this boundary as UTF-8 and
// reach the system as UTF-16.
#include "platform.hpp"

#include "path_rules.hpp"
#include "platform_primitives.hpp"
#include "windows_api.hpp"

#include <userenv.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <utility>

namespace skillhook::platform {
namespace {

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

FILETIME to_windows_file_time(FileTime time) {
    const std::int64_t ticks = time.seconds * ticks_per_second + time.nanoseconds / 100 + unix_epoch_in_ticks;
    const auto ticks_since_1601 = static_cast<std::uint64_t>(ticks);
    return {static_cast<DWORD>(ticks_since_1601 & 0xFFFFFFFF), static_cast<DWORD>(ticks_since_1601 >> 32)};
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

}  // namespace

// Windows names may hold UTF-16 surrogates that pair with nothing. Such a
// unit is written as the three bytes UTF-8 would give its code point (the
// form called WTF-8), so that every path read from the system goes back to
// it unchanged; any other text is plain UTF-8.
std::string to_utf8(std::wstring_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (std::size_t index = 0; index < text.size(); ++index) {
        char32_t code = text[index];
        const bool paired = code >= 0xD800 && code <= 0xDBFF && index + 1 < text.size() &&
                            text[index + 1] >= 0xDC00 && text[index + 1] <= 0xDFFF;
        if (paired) code = 0x10000 + ((code - 0xD800) << 10) + (char32_t{text[++index]} - 0xDC00);
        if (code < 0x80) {
            narrow += static_cast<char>(code);
        } else if (code < 0x800) {
            narrow += static_cast<char>(0xC0 | (code >> 6));
            narrow += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            narrow += static_cast<char>(0xE0 | (code >> 12));
            narrow += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            narrow += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            narrow += static_cast<char>(0xF0 | (code >> 18));
            narrow += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            narrow += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            narrow += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return narrow;
}

namespace {

// The code point of the sequence that starts the text, and its length; none
// for bytes that are no shortest-form sequence of a code point up to U+10FFFF.
std::optional<std::pair<char32_t, std::size_t>> decode_one(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) return std::pair{char32_t{lead}, std::size_t{1}};
    // The lead byte gives the length, and its own bits of the code point.
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    if (length == 0) return std::nullopt;
    char32_t code = lead & (0x7Fu >> length);
    constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (text.size() < length) return std::nullopt;
    for (std::size_t index = 1; index < length; ++index) {
        const auto continuation = static_cast<unsigned char>(text[index]);
        if ((continuation & 0xC0) != 0x80) return std::nullopt;
        code = (code << 6) | (continuation & 0x3Fu);
    }
    if (code < smallest[length] || code > 0x10FFFF) return std::nullopt;
    return std::pair{code, length};
}

bool is_high_surrogate(char32_t code) { return code >= 0xD800 && code <= 0xDBFF; }
bool is_low_surrogate(char32_t code) { return code >= 0xDC00 && code <= 0xDFFF; }

}  // namespace

std::wstring to_utf16(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) throw_error(ERROR_INVALID_NAME, "text holds a NUL character");
    std::wstring wide;
    wide.reserve(text.size());
    bool after_high_surrogate = false;
    while (!text.empty()) {
        const auto decoded = decode_one(text);
        if (!decoded) throw_error(ERROR_NO_UNICODE_TRANSLATION, "text is not UTF-8");
        const auto [code, length] = *decoded;
        // A pair written as two sequences would read back as one code point
        // and be written otherwise: it has its own four-byte form.
        if (after_high_surrogate && is_low_surrogate(code))
            throw_error(ERROR_NO_UNICODE_TRANSLATION, "text is not UTF-8");
        after_high_surrogate = is_high_surrogate(code);
        if (code < 0x10000) {
            wide += static_cast<wchar_t>(code);
        } else {
            wide += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
        text.remove_prefix(length);
    }
    return wide;
}

void read_standard_input(std::span<char> buffer, const std::function<void(std::string_view)>& consume) {
    const HANDLE input_handle = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input_handle == INVALID_HANDLE_VALUE) throw_last_error("GetStdHandle");
    if (input_handle == nullptr) throw_error(ERROR_INVALID_HANDLE, "no standard input");
    // A pipe ends only when its writer closes it: a zero-byte read there is an
    // empty write, not the end. A socket also reports itself as a pipe, but
    // ends with a zero-byte read; only a real pipe answers GetNamedPipeInfo.
    const bool is_pipe = ::GetFileType(input_handle) == FILE_TYPE_PIPE &&
                         ::GetNamedPipeInfo(input_handle, nullptr, nullptr, nullptr, nullptr);

    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
    for (;;) {
        DWORD count = 0;
        if (!::ReadFile(input_handle, buffer.data(), wanted, &count, nullptr)) {
            if (::GetLastError() == ERROR_BROKEN_PIPE) return;
            throw_last_error("ReadFile");
        }
        if (count == 0 && !is_pipe) return;
        consume({buffer.data(), count});
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
    // A USERPROFILE that is empty or relative counts as unset: the marker
    // folder would land in the working directory, inside the user's project.
    if (const auto profile = environment_variable(L"USERPROFILE"); profile) {
        const std::string home = to_utf8(*profile);
        if (windows_paths::is_absolute(home)) return home;
    }
    return profile_directory_of_current_user();
}

std::string parent_directory(std::string_view path) { return windows_paths::parent_directory(path); }

std::string join_path(std::string_view folder, std::string_view name) { return windows_paths::join(folder, name); }

bool refuses_in_file_name(char byte, bool last) { return windows_paths::refuses_in_file_name(byte, last); }

std::optional<std::string> environment_variable(const std::string& name) {
    const std::optional<std::wstring> value = environment_variable(to_utf16(name).c_str());
    if (!value) return std::nullopt;
    return to_utf8(*value);
}

FileTime current_time() {
    FILETIME now;
    ::GetSystemTimePreciseAsFileTime(&now);
    return to_file_time(now);
}

bool exists(const std::string& path) {
    // No access asked for: metadata alone, which even a locked file gives.
    const Handle entry(open_existing(to_utf16(path), 0));
    return entry.valid();
}

std::vector<std::string> folder_entries(const std::string& path) {
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(to_utf16(join_path(path, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    std::vector<std::string> names;
    DWORD search_error = ERROR_SUCCESS;
    try {
        do {
            const std::wstring_view name = found.cFileName;
            if (name != L"." && name != L"..") names.push_back(to_utf8(name));
        } while (::FindNextFileW(search, &found));
        search_error = ::GetLastError();
    } catch (...) {
        ::FindClose(search);  // the first failure is the one reported
        throw;
    }
    check(::FindClose(search), "FindClose");
    if (search_error != ERROR_NO_MORE_FILES) throw_error(search_error, "FindNextFileW");
    return names;
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

bool make_folder(const std::string& path) {
    const std::wstring wide = to_utf16(path);
    if (!::CreateDirectoryW(wide.c_str(), nullptr)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_PATH_NOT_FOUND) return false;
        if (error != ERROR_ALREADY_EXISTS) throw_error(error, "CreateDirectoryW");
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throw_last_error("GetFileAttributesW");
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) throw_error(ERROR_DIRECTORY, "CreateDirectoryW");
    return true;
}

void touch(const std::string& path, FileTime time) {
    const std::wstring wide = to_utf16(path);
    const FILETIME stamp = to_windows_file_time(time);
    const Handle existing(open_existing(wide, FILE_WRITE_ATTRIBUTES));
    if (existing.valid()) {
        check(::SetFileTime(existing.get(), nullptr, &stamp, &stamp), "SetFileTime");
        return;
    }
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) throw_last_error("CreateFileW");
    // OPEN_REPARSE_POINT: a dangling link is never followed to create a file elsewhere.
    const Handle created(::CreateFileW(wide.c_str(), GENERIC_WRITE, share_all, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!created.valid()) throw_last_error("CreateFileW");
    check(::SetFileTime(created.get(), nullptr, &stamp, &stamp), "SetFileTime");
}

void ignore_broken_pipes() noexcept {
    // Windows has no signal for a broken pipe: the write fails.
}

}  // namespace skillhook::platform
