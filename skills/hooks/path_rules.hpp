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
// The folder and the name with one "/" between them.
std::string join(std::string_view folder, std::string_view name);
// True when the byte cannot stand at this place in one file name of a folder
// (`last`: it is the name's last byte): "/" and NUL.
bool refuses_in_file_name(char byte, bool last);
}  // namespace posix_paths

namespace windows_paths {
// As above, with both separators; a root keeps its separator ("\", "C:\").
std::string parent_directory(std::string_view path);
std::string join(std::string_view folder, std::string_view name);
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
