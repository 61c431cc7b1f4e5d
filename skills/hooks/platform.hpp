// What differs between operating systems, behind one small interface with two
// concepts: system facts and files (system_posix.cpp, system_windows.cpp), and
// starting a child process (child_process_posix.cpp, child_process_windows.cpp).
// What does not differ is written once, in platform.cpp and path_rules.cpp.
//
// Paths are UTF-8 strings in the platform's native form; on Windows a
// surrogate that pairs with nothing, which names there may hold, keeps the
// three bytes UTF-8 would give its code point (the form called WTF-8). A
// failed system call is thrown as std::system_error, any other failure as
// std::runtime_error.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace skillhook::platform {

// --- System facts and files

// Reads standard input to its end into the buffer, again and again, and
// hands each piece to `consume` as it arrives: memory does not grow with the input.
void read_standard_input(std::span<char> buffer, const std::function<void(std::string_view)>& consume);

// The path the running executable was started with, made absolute; symbolic
// links are not resolved.
std::string own_executable_path();

// The current user's home directory: HOME (USERPROFILE on Windows) when it
// is an absolute path, else the account's.
std::string home_directory();

// The variable's value in this process's environment, or nothing when unset.
std::optional<std::string> environment_variable(const std::string& name);

// Lexical path operations by this system's rules (path_rules.hpp); the file
// system is not consulted.
std::string parent_directory(std::string_view path);
std::string join_path(std::string_view folder, std::string_view name);
// True when the byte cannot stand at this place in one file name of a folder
// (`last`: it is the name's last byte).
bool refuses_in_file_name(char byte, bool last);

// Wall-clock time since the epoch.
struct FileTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;  // 0 to 999'999'999
};
FileTime current_time();

// An entry of any kind at the path, following symbolic links. One that
// cannot be examined (a loop of links, no permission, a name too long) counts
// as none, as a shell's test -e would have it.
bool exists(const std::string& path);
// The names of a folder's entries, "." and ".." left out, in no fixed order.
// A folder that cannot be opened (none there, no folder, no permission) has none.
std::vector<std::string> folder_entries(const std::string& path);
// Modification time, following symbolic links; nothing when no entry is there.
std::optional<FileTime> modification_time(const std::string& path);
// Creates the folder and its missing parents; an existing folder is no error.
void create_directories(const std::string& path);
// Sets both times of the file to `time`, content untouched, creating it
// empty where nothing is there.
void touch(const std::string& path, FileTime time);

// From now on, writing to a pipe that nobody reads fails instead of ending
// the process (where the system would end it).
void ignore_broken_pipes() noexcept;

// --- Starting a child process

enum class ChildEnding {
    ended,            // on its own, whatever its status
    killed_at_limit,  // still running at the limit: killed and reaped
    could_not_start,  // the program could not be started, or not before the limit
};

// Starts arguments[0] with these arguments: no shell, no search of the
// command path. Its standard output and error are read and dropped; standard
// input, environment and working directory are this process's own, and no
// other descriptor is passed on; on POSIX systems every signal is at its
// default and none is blocked. Returns once the child has ended (processes
// it started may hold its pipes longer; they are not waited for) or, at the
// limit, has been killed and reaped; on Windows what it started is killed
// with it. The limit counts from before the start.
ChildEnding run_with_time_limit(const std::vector<std::string>& arguments, std::chrono::milliseconds limit);

}  // namespace skillhook::platform
