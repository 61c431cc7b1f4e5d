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
// True when the name would not stay a single component of a folder.
bool holds_path_separator(std::string_view name);
}  // namespace posix_paths

namespace windows_paths {
// As above, with both separators; a root keeps its separator ("\", "C:\").
std::string parent_directory(std::string_view path);
std::string join(std::string_view folder, std::string_view name);
// Also true where Windows would read the name as something other than one
// file of its own in the folder: ':' selects a drive or a stream of another
// file ("x:$DATA", even a folder through "x::$INDEX_ALLOCATION"), and
// trailing dots and blanks are dropped, so "x." would name the file "x".
bool holds_path_separator(std::string_view name);
}  // namespace windows_paths

// The home directory in one line of a password file, when the line is the
// entry of this user id.
std::optional<std::string> home_in_passwd_line(std::string_view line, unsigned uid);

}  // namespace skillhook
