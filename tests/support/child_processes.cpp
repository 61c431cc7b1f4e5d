#include "child_processes.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace skillhook::testing {
namespace fs = std::filesystem;

namespace {

// The parent's pid from /proc/<pid>/stat, whose second field (the command
// name, in parentheses) may itself hold blanks and parentheses.
pid_t parent_of(const fs::path& stat_file) {
    std::ifstream file(stat_file);
    std::string text;
    std::getline(file, text);
    const std::size_t name_end = text.rfind(')');
    if (name_end == std::string::npos) return 0;
    std::istringstream rest(text.substr(name_end + 1));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    return parent;
}

}  // namespace

void adopt_orphans() {
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0) return;
    const int error = errno;
    // qemu-user refuses the call; there the test program was started as a
    // subreaper already (orphan_adopting_launcher.c), which says so.
    if (error == EINVAL && std::getenv("SKILLHOOK_TEST_SUBREAPER") != nullptr) return;
    throw std::system_error(error, std::generic_category(), "prctl");
}

std::vector<pid_t> children_left() {
    std::vector<pid_t> children;
    const pid_t self = ::getpid();
    std::error_code ignored;  // processes come and go while the folder is read
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (parent_of(entry.path() / "stat") == self) children.push_back(std::stoi(name));
    }
    return children;
}

void end_children_left() {
    for (const pid_t child : children_left()) {
        ::kill(child, SIGKILL);
        while (::waitpid(child, nullptr, 0) == -1 && errno == EINTR) {
        }
    }
}

}  // namespace skillhook::testing
