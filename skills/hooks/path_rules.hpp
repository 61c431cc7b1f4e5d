// Lexical rules of both path forms, and the password file's line format. They
// are pure functions, compiled on every platform so that each is tested on
// every platform; the platform layer applies its own system's rules.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace skillhook {

namespace posix_paths {
// The path without its last component: "." when it has none, "/" for the root.
std::string parent_directory(std::string_view path);
// The same as the leading part of the path itself ("." apart), not a copy.
std::string_view parent_within(std::string_view path);
// The folder and the name with one "/" between them.
std::string join(std::string_view folder, std::string_view name);
// The same in place: the name appended to the folder.
void append(std::string& folder, std::string_view name);
// True for a path that names the same file from any working directory: one that starts with "/".
bool is_absolute(std::string_view path);
// True for a path through an open descriptor ("/dev/fd/3", "/proc/self/fd/3",
// and what lies below them), as a program started by fexecve or execveat is
// given: its folder is no folder of the file's.
bool is_through_a_descriptor(std::string_view path);
// True when the byte cannot stand at this place in one file name of a folder
// (`last`: it is the name's last byte): "/" and NUL.
bool refuses_in_file_name(char byte, bool last);
}  // namespace posix_paths

namespace windows_paths {
// As above, with both separators; a root keeps its separator ("\", "C:\").
std::string parent_directory(std::string_view path);
std::string_view parent_within(std::string_view path);
std::string join(std::string_view folder, std::string_view name);
void append(std::string& folder, std::string_view name);
// A drive and a separator ("C:\", "C:/"), or two separators ("\\server\share",
// "\\?\C:\"); "\x" and "C:x" depend on the current drive or its folder.
bool is_absolute(std::string_view path);
// The form of a full path that the system takes at any length ("\\?\C:\x",
// "\\?\UNC\server\share\x"); a path in that form, or a device's ("\\.\x"), unchanged.
std::string long_form(std::string_view full_path);
// Besides both separators and NUL: the other characters that Windows
// forbids in file names (control characters, < > " | ? *), ':', which selects
// a drive or a stream of another file ("x:$DATA", even a folder through
// "x::$INDEX_ALLOCATION"), and a last dot or blank, which Windows drops, so
// that "x." would name the file "x".
bool refuses_in_file_name(char byte, bool last);
}  // namespace windows_paths

// The home directory in one line of a password file, when the line is the
// entry of this user id.
std::optional<std::string> home_in_passwd_line(std::string_view line, unsigned uid);

}  // namespace skillhook
