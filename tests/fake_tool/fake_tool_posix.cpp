// The fake tool's POSIX side.
#include "fake_tool_system.hpp"

#include "utf8_paths.hpp"

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace skillhook::testing {

// The hook starts the tool by its full path, as argv[0] then says.
std::filesystem::path own_path(const std::vector<std::string>& arguments) { return utf8_path(arguments.at(0)); }

long own_process_id() { return ::getpid(); }

long start_stream_holder(const std::filesystem::path&) {
    const pid_t child = ::fork();
    if (child == -1) throw std::system_error(errno, std::generic_category(), "fork");
    if (child == 0) {
        std::this_thread::sleep_for(std::chrono::minutes(1));
        ::_exit(0);
    }
    return child;
}

std::string recorded_arguments(const std::vector<std::string>& arguments) {
    std::string record;
    for (const std::string& argument : arguments) record += argument + '\0';
    return record;
}

std::string inherited_handle_report() {
    std::string open;
    for (int descriptor = 0; descriptor <= 9; ++descriptor)
        if (::fcntl(descriptor, F_GETFD) != -1) open += std::to_string(descriptor) + '\n';
    return open;
}

}  // namespace skillhook::testing

int main(int argc, char** argv) { return skillhook::testing::run_fake_tool({argv, argv + argc}); }
