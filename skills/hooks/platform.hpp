// What differs between operating systems, behind one small interface.
// Paths are UTF-8 strings in the platform's native form. Failures are thrown:
// std::system_error for a failed system call, TimeLimitExceeded for a child
// that outlived its limit, std::runtime_error for anything else.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace skillhook::platform {

// The whole of standard input, held in one block that grows without being
// cleared first (doubling, in place or by remapping), so that a large event
// costs its own size and no more.
class InputText {
public:
    explicit InputText(std::size_t first_block = 64 * 1024) : capacity_(first_block) {}

    std::string_view view() const { return {data_.get(), size_}; }

    // Room for the next read, after the text so far; never empty.
    std::span<char> unused_space() {
        if (data_ == nullptr || size_ == capacity_) {
            if (data_ != nullptr) capacity_ *= 2;
            char* grown = static_cast<char*>(std::realloc(data_.get(), capacity_));
            if (grown == nullptr) throw std::bad_alloc();
            data_.release();
            data_.reset(grown);
        }
        return {data_.get() + size_, capacity_ - size_};
    }
    // Counts what the last read put into the unused space.
    void append(std::size_t count) { size_ += count; }

private:
    struct Free {
        void operator()(char* p) const { std::free(p); }
    };
    std::unique_ptr<char, Free> data_;
    std::size_t size_ = 0;
    std::size_t capacity_;
};

// Reads standard input to its end.
InputText read_standard_input();

// The path the running executable was started with, made absolute; symbolic
// links are not resolved.
std::string own_executable_path();

// The current user's home directory: HOME when set and not empty, else the
// account entry's.
std::string home_directory();
#if !defined(_WIN32)
// The home directory in one line of a password file, when the line is the
// entry of this user id.
std::optional<std::string> home_in_passwd_line(std::string_view line, unsigned uid);
#endif

// Lexical path operations; the file system is not consulted.
std::string parent_directory(std::string_view path);
std::string join_path(std::string_view folder, std::string_view name);
// True when the name would not stay a single component of a folder, or would
// not name an entry of its own there (Windows drops trailing dots and blanks).
bool holds_path_separator(std::string_view name);

// Wall-clock time since the epoch.
struct FileTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;  // 0 to 999'999'999
};
FileTime current_time();

// An entry of any kind at the path, following symbolic links.
bool exists(const std::string& path);
// Modification time, following symbolic links; nothing when no entry is there.
std::optional<FileTime> modification_time(const std::string& path);
// Creates the folder and its missing parents; an existing folder is no error.
void create_directories(const std::string& path);
// Sets both times of an existing file to now, content untouched, or creates it empty.
void touch(const std::string& path);

class TimeLimitExceeded : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Starts arguments[0] with these arguments: no shell, no search of the
// command path. Its standard output and error are read and dropped; standard
// input, environment and working directory are this process's own, and no
// other descriptor is passed on. Returns when the child has ended, whatever
// its status; at the limit kills it, reaps it and throws TimeLimitExceeded.
void run_with_time_limit(const std::vector<std::string>& arguments, std::chrono::milliseconds limit);

// Runs the work on a thread with a stack of the given size and waits for it.
// Returns false when no such thread could be started.
bool run_on_large_stack(std::size_t stack_bytes, const std::function<void()>& work);

}  // namespace skillhook::platform
