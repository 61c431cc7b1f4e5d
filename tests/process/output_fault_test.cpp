// An agent that stops reading the hook's standard error.
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace skillhook::testing {
namespace {

TEST(OutputFault, StandardErrorWithNoReaderStillGivesStatusOne) {
    HookSandbox sandbox;
    const std::filesystem::path event = sandbox.root() / "malformed-event";
    std::ofstream(event) << R"({"tool_name":3})";
    int error_pipe[2];
    ASSERT_EQ(::pipe(error_pipe), 0);
    ::close(error_pipe[0]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, event.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, error_pipe[1], 2);
    // The hook starts with the default action for SIGPIPE, as an agent's child would.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t default_signals;
    sigemptyset(&default_signals);
    sigaddset(&default_signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &default_signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::string program = sandbox.hook().string();
    std::string home = "HOME=" + sandbox.home().string();
    char* argv[] = {program.data(), nullptr};
    char* envp[] = {home.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(error_pipe[1]);

    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

}  // namespace
}  // namespace skillhook::testing
