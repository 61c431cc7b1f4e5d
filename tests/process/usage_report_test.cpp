// The report: which tool runs, with what, and how long the hook waits for it.
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace skillhook::testing {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Behaviour = FakeTool::Behaviour;

std::vector<std::string> split_at_nul(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    return parts;
}

void expect_silent_success(const RunResult& result) {
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.standard_error, "");
}

class UsageReport : public ::testing::Test {
protected:
    HookSandbox sandbox;
};

TEST_F(UsageReport, RunsTheToolBesideTheHookWithExactlyFourArguments) {
    sandbox.install_fake_tool("tolvex", {Behaviour::record_arguments, "args"});
    for (const char* name : {"tvx-auth", "a name with 'quotes' \"and\" $(shell) ; chars\\",
                             "two trailing backslashes\\\\", "\\\"quoted\\\" \\\\\"", "tab\tand*wild?cards",
                             "\xC3\xA9t\xC3\xA9"}) {
        fs::remove_all(sandbox.home() / ".tolvex");
        expect_silent_success(sandbox.run(skill_event(name)));
        const std::vector<std::string> expected = {utf8_text(sandbox.bin() / "tolvex"), "skills", "report-usage", name};
        EXPECT_EQ(split_at_nul(read_file(sandbox.bin() / "args")), expected);
    }
}

TEST_F(UsageReport, PrefersTheExeName) {
    sandbox.install_fake_tool("tolvex.exe", {Behaviour::record_arguments, "exe-args"});
    sandbox.install_fake_tool("tolvex", {Behaviour::record_arguments, "plain-args"});
    expect_silent_success(sandbox.run(skill_event("tvx-auth")));
    EXPECT_EQ(split_at_nul(read_file(sandbox.bin() / "exe-args")).at(0), utf8_text(sandbox.bin() / "tolvex.exe"));
    EXPECT_FALSE(fs::exists(sandbox.bin() / "plain-args"));
}

TEST_F(UsageReport, AnExeNameThatCannotBeExaminedCountsAsNone) {
    // A symbolic link to itself: following it ends in a loop.
    if (const auto failure = create_file_symlink(sandbox.bin() / "tolvex.exe", sandbox.bin() / "tolvex.exe"))
        GTEST_SKIP() << "no symbolic link could be made here: " << *failure;
    sandbox.install_fake_tool("tolvex", {Behaviour::record_arguments, "plain-args"});
    expect_silent_success(sandbox.run(skill_event("tvx-auth")));
    const std::vector<std::string> recorded = split_at_nul(read_file(sandbox.bin() / "plain-args"));
    ASSERT_FALSE(recorded.empty()) << "the tool was not run";
    EXPECT_EQ(recorded.front(), utf8_text(sandbox.bin() / "tolvex"));
}

TEST_F(UsageReport, ADirectoryNamedLikeTheExeIsChosenAndFailsQuietly) {
    fs::create_directory(sandbox.bin() / "tolvex.exe");
    sandbox.install_fake_tool("tolvex", {Behaviour::record_arguments, "plain-args"});
    expect_silent_success(sandbox.run(skill_event("tvx-auth")));
    EXPECT_FALSE(fs::exists(sandbox.bin() / "plain-args"));
}

TEST_F(UsageReport, NeverSearchesTheCommandPath) {
    const fs::path elsewhere = sandbox.root() / "elsewhere";
    fs::create_directory(elsewhere);
    for (const std::string& name : {std::string("tolvex"), std::string("tolvex.exe")})
        sandbox.install_fake_tool(elsewhere, name, {Behaviour::create_file, "searched"});
    expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, {{"PATH", utf8_text(elsewhere)}}));
    EXPECT_FALSE(fs::exists(elsewhere / "searched"));
}

TEST_F(UsageReport, AFailingNoisyToolLeavesTheHookSilent) {
    sandbox.install_fake_tool("tolvex", {Behaviour::fail_noisily, ""});
    expect_silent_success(sandbox.run(skill_event("tvx-auth")));
}

TEST_F(UsageReport, DrainsLargeOutputOnBothStreams) {
    sandbox.install_fake_tool("tolvex", {Behaviour::flood_both_streams, "finished", 50 << 20});
    const RunResult result = sandbox.run(skill_event("tvx-auth"));
    expect_silent_success(result);
    // A hook that stopped reading either stream would hold the tool until the
    // limit killed it, before it could write this file.
    EXPECT_TRUE(fs::exists(sandbox.bin() / "finished"));
}

TEST_F(UsageReport, KillsAHangingToolAtTheTimeLimit) {
    sandbox.install_fake_tool("tolvex", {Behaviour::hang, "pid"});
    const RunResult result = sandbox.run(skill_event("tvx-auth"));
    expect_silent_success(result);
    EXPECT_GE(result.elapsed, 9900ms);
    // From the tool's start: ended at the limit, far from the tool's minute.
    EXPECT_LT(since_written(sandbox.bin() / "pid"), 15s);
    EXPECT_FALSE(process_is_running(std::stoi(read_file(sandbox.bin() / "pid")))) << "the tool outlived the hook";
}

TEST_F(UsageReport, ABackgroundChildHoldingThePipesDoesNotHoldTheHook) {
    sandbox.install_fake_tool("tolvex", {Behaviour::leave_background_child, "pid"});
    const RunResult result = sandbox.run(skill_event("tvx-auth"));
    expect_silent_success(result);
    // The tool itself ends at once, as it writes the file; the hook ends with
    // it, well before the limit.
    EXPECT_LT(since_written(sandbox.bin() / "pid"), 5s);
    end_process(std::stoi(read_file(sandbox.bin() / "pid")));
}

TEST_F(UsageReport, PassesOnNoDescriptorBeyondTheStandardThree) {
#if defined(_WIN32)
    GTEST_SKIP() << "file descriptors are POSIX; PassesOnNoHandleBeyondTheStandardThree covers Windows";
#else
    sandbox.install_fake_tool("tolvex", {Behaviour::report_inherited_handles, "fds"});
    // The agent leaves descriptor 7 open without close-on-exec.
    sandbox.write_script("agent", "exec 7</dev/null; exec \"$(dirname \"$0\")/report_skill_usage\"");
    expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, {}, sandbox.bin() / "agent"));
    EXPECT_EQ(read_file(sandbox.bin() / "fds"), "0\n1\n2\n");
#endif
}

#if !defined(_WIN32)
// A sanitized hook's leak check cannot run under strace.
const std::map<std::string, std::optional<std::string>> traceable{{"ASAN_OPTIONS", "detect_leaks=0"}};

// The agent started the hook with SIGCHLD ignored, which exec passes on.
TEST_F(UsageReport, AnAgentIgnoringSigchldLeavesTheToolToTheHookToReap) {
    if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is missing (scripts/install-deps installs it)";
    sandbox.install_standin();
    const fs::path trace = sandbox.harness() / "trace";
    expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, traceable, "/usr/bin/env",
                                      {"--ignore-signal=CHLD", "/usr/bin/strace", "-o", trace.string(), "-e",
                                       "trace=wait4,kill", sandbox.hook().string()}));
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-auth"});
    // Reaped by the hook, not by the system; and a process id that may be
    // anyone's by now is never signalled.
    const std::string calls = read_file(trace);
    EXPECT_EQ(calls.find("ECHILD"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("kill("), std::string::npos) << calls;
}

// Before Linux 5.9, or under some seccomp filters, close_range is missing;
// minimal containers may have no /proc. The tool still starts, with the
// standard three descriptors only: also without one the agent opened above
// the soft descriptor limit and then lowered the limit below it.
TEST_F(UsageReport, StartsTheToolWithoutCloseRangeOrProc) {
    if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is missing (scripts/install-deps installs it)";
    fs::create_directories(sandbox.marker_folder());
    sandbox.write_script("tolvex",
                         "for fd in 0 1 2 3 4 5 6 7 8 9 5000; do [ -e /dev/fd/$fd ] && echo $fd; done "
                         "> \"$(dirname \"$0\")/fds\"");
    // Each process's first open fails under strace: the hook's, and that of
    // the child before exec.
    const std::string hook_under_strace =
        "exec /usr/bin/strace -f -o /dev/null -e inject=close_range:error=ENOSYS "
        "-e inject=openat:error=ENOENT:when=1 \"$(dirname \"$0\")/report_skill_usage\"";
    std::vector<std::string> agents = {"exec 7</dev/null; " + hook_under_strace};
    struct rlimit descriptors {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &descriptors), 0);
    // sh names descriptors of one digit only; bash takes any.
    if (descriptors.rlim_max > 5000)
        agents.push_back("exec /bin/bash -c 'ulimit -S -n 5001 && exec 5000</dev/null && ulimit -S -n 1024 && " +
                         hook_under_strace + "' \"$0\"");
    for (const std::string& agent : agents) {
        // A marker older than the window is refreshed without being opened,
        // so the hook's first open is that of /proc/self/fd.
        std::ofstream(sandbox.marker("tvx-auth")).close();
        fs::last_write_time(sandbox.marker("tvx-auth"), fs::file_time_type::clock::now() - std::chrono::hours(1));
        sandbox.write_script("agent", agent);
        expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, traceable, sandbox.bin() / "agent"));
        EXPECT_EQ(read_file(sandbox.bin() / "fds"), "0\n1\n2\n") << agent;
        fs::remove(sandbox.bin() / "fds");
    }
}

#if defined(__linux__)
// glibc's posix_spawn leaves the signals it keeps for itself (32 and 33)
// ignored in the child unless asked otherwise; the agent may have left some
// ignored or blocked too. The tool starts with none of either, as a shell
// would start it.
TEST_F(UsageReport, StartsTheToolWithEverySignalAtItsDefault) {
    sandbox.write_script("tolvex", "grep -E '^Sig(Blk|Ign):' /proc/self/status > \"$(dirname \"$0\")/signals\"");
    expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, {}, "/usr/bin/env",
                                      {"--ignore-signal=INT", "--block-signal=USR1", sandbox.hook().string()}));
    EXPECT_EQ(read_file(sandbox.bin() / "signals"), "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}
#endif
#endif

TEST_F(UsageReport, AHookReachedThroughASymlinkUsesTheToolBesideTheLink) {
    const fs::path other = sandbox.root() / "other";
    fs::create_directory(other);
    const fs::path link = other / sandbox.hook().filename();
    if (const auto failure = create_file_symlink(sandbox.hook(), link))
        GTEST_SKIP() << "no symbolic link could be made here: " << *failure;
    sandbox.install_fake_tool("tolvex", {Behaviour::create_file, "ran-in-bin"});
    sandbox.install_fake_tool(other, "tolvex", {Behaviour::create_file, "ran-in-other"});
    expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, {}, link));
    EXPECT_TRUE(fs::exists(other / "ran-in-other"));
    EXPECT_FALSE(fs::exists(sandbox.bin() / "ran-in-bin"));
}

#if defined(__linux__)
// Started by fexecve or execveat, the hook is given "/dev/fd/N" as its path,
// and a shell can do the same through the folders of descriptors.
TEST_F(UsageReport, AHookStartedThroughADescriptorUsesTheToolBesideItsFile) {
    sandbox.install_standin();
    for (const char* folder : {"/dev/fd", "/proc/self/fd"}) {
        fs::remove_all(sandbox.home() / ".tolvex");
        sandbox.write_script("through-a-descriptor", std::string("exec 3<\"$(dirname \"$0\")/report_skill_usage\"; exec ") +
                                                         folder + "/3");
        expect_silent_success(sandbox.run(skill_event(folder), InputMode::file, {}, sandbox.bin() / "through-a-descriptor"));
    }
    EXPECT_EQ(sandbox.recorded_uses(), (std::vector<std::string>{"/dev/fd", "/proc/self/fd"}));
}
#endif

#if !defined(_WIN32)
// The shell's stack limit is the size of the hook's stack: 64 KiB must do.
TEST_F(UsageReport, ReportsUnderA64KiBStackLimit) {
    sandbox.install_standin();
    sandbox.write_script("small-stack", "ulimit -s 64 && exec \"$(dirname \"$0\")/report_skill_usage\"");
    const RunResult result = sandbox.run(skill_event("tvx-auth"), InputMode::file, {}, sandbox.bin() / "small-stack");
    EXPECT_EQ(result.signal, 0);
    expect_silent_success(result);
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-auth"});
}
#endif

TEST_F(UsageReport, AMissingToolFailsQuietly) {
    expect_silent_success(sandbox.run(skill_event("tvx-auth")));
}

TEST_F(UsageReport, NamesThatCannotBePassedSafelyAreNeverReported) {
    sandbox.install_fake_tool("tolvex", {Behaviour::record_arguments, "args"});
    for (const std::string& name : {std::string("tvx-auth\0evil", 13), std::string("--help"), std::string("-x")}) {
        expect_silent_success(sandbox.run(skill_event(name)));
        EXPECT_FALSE(fs::exists(sandbox.bin() / "args")) << name;
        // Nor is a marker written for a use that is never reported.
        EXPECT_FALSE(fs::exists(sandbox.marker_folder())) << name;
    }
}

#if defined(_WIN32)
// Windows names may hold a UTF-16 surrogate that pairs with nothing; a home
// folder with one, and a hook installed under such a name, work as any other.
TEST_F(UsageReport, PathsHoldingALoneSurrogateReachTheSystemUnchanged) {
    const fs::path folder = sandbox.root() / std::wstring{L'x', wchar_t{0xD800}};
    // U+D800 in the three bytes that the hook's own texts give it.
    const std::string home = utf8_text(sandbox.root()) + "\\x\xED\xA0\x80\\home";
    // Windows makes such a folder, Wine does not: there only the home folder
    // is named so, and the hook cannot create it.
    const bool folder_made = ::CreateDirectoryW(folder.c_str(), nullptr);
    fs::path bin = sandbox.bin();
    if (folder_made) {
        bin = folder / "bin";
        fs::create_directory(bin);
        fs::create_directory(folder / "home");
        fs::copy_file(sandbox.hook(), bin / sandbox.hook().filename());
    }
    sandbox.install_fake_tool(bin, "tolvex.exe", {Behaviour::create_file, "ran"});
    expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, {{"USERPROFILE", home}},
                                      bin / sandbox.hook().filename()));
    EXPECT_TRUE(fs::exists(bin / "ran"));
    if (folder_made) EXPECT_TRUE(fs::is_regular_file(folder / "home" / ".tolvex" / "hooks" / ".dedup_tvx-auth"));
}

// The agent may hold inheritable handles of its own; the hook is started
// with them, and they must go no further than the hook.
TEST_F(UsageReport, PassesOnNoHandleBeyondTheStandardThree) {
    const fs::path probe_path = sandbox.root() / "probe";
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE probe = ::CreateFileW(probe_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(probe, INVALID_HANDLE_VALUE);
    const std::map<std::string, std::optional<std::string>> environment{
        {"SKILLHOOK_PROBE_HANDLE", std::to_string(reinterpret_cast<std::uintptr_t>(probe))}};
    sandbox.install_fake_tool("tolvex", {Behaviour::report_inherited_handles, "seen"});

    // Started directly, the fake tool does see the handle: the probe works.
    sandbox.run("", InputMode::file, environment, sandbox.bin() / "tolvex");
    EXPECT_EQ(read_file(sandbox.bin() / "seen"), "open");
    fs::remove(sandbox.bin() / "seen");

    expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, environment));
    EXPECT_EQ(read_file(sandbox.bin() / "seen"), "closed");
    ::CloseHandle(probe);
}
#endif

}  // namespace
}  // namespace skillhook::testing
