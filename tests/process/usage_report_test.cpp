// The report: which tool runs, with what, and how long the hook waits for it.
#include "child_processes.hpp"
#include "contained_run.hpp"
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace skillhook::testing {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A fake tool that writes each argument it was given, NUL-terminated, to `file`.
std::string argument_recorder(const std::string& file) {
    return "for a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > \"$(dirname \"$0\")/" + file + "\"";
}

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
    sandbox.write_script("tolvex", argument_recorder("args"));
    for (const char* name : {"tvx-auth", "a name with 'quotes' \"and\" $(shell) ; chars\\", "\xC3\xA9t\xC3\xA9"}) {
        fs::remove_all(sandbox.home() / ".tolvex");
        expect_silent_success(sandbox.run(skill_event(name)));
        const std::vector<std::string> expected = {(sandbox.bin() / "tolvex").string(), "skills", "report-usage", name};
        EXPECT_EQ(split_at_nul(read_file(sandbox.bin() / "args")), expected);
    }
}

TEST_F(UsageReport, PrefersTheExeName) {
    sandbox.write_script("tolvex.exe", argument_recorder("exe-args"));
    sandbox.write_script("tolvex", argument_recorder("plain-args"));
    expect_silent_success(sandbox.run(skill_event("tvx-auth")));
    EXPECT_EQ(split_at_nul(read_file(sandbox.bin() / "exe-args")).at(0), (sandbox.bin() / "tolvex.exe").string());
    EXPECT_FALSE(fs::exists(sandbox.bin() / "plain-args"));
}

TEST_F(UsageReport, ADirectoryNamedLikeTheExeIsChosenAndFailsQuietly) {
    fs::create_directory(sandbox.bin() / "tolvex.exe");
    sandbox.write_script("tolvex", argument_recorder("plain-args"));
    expect_silent_success(sandbox.run(skill_event("tvx-auth")));
    EXPECT_FALSE(fs::exists(sandbox.bin() / "plain-args"));
}

TEST_F(UsageReport, NeverSearchesTheCommandPath) {
    const fs::path elsewhere = sandbox.root() / "elsewhere";
    fs::create_directory(elsewhere);
    std::ofstream(elsewhere / "tolvex") << "#!/bin/sh\ntouch \"" << (sandbox.root() / "searched").string() << "\"\n";
    fs::permissions(elsewhere / "tolvex", fs::perms::owner_all);
    expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, {{"PATH", elsewhere.string()}}));
    EXPECT_FALSE(fs::exists(sandbox.root() / "searched"));
}

TEST_F(UsageReport, AFailingNoisyToolLeavesTheHookSilent) {
    sandbox.write_script("tolvex", "echo out; echo err >&2; exit 1");
    expect_silent_success(sandbox.run(skill_event("tvx-auth")));
}

TEST_F(UsageReport, DrainsLargeOutputOnBothStreams) {
    // 100 MB on each stream at once, then a mark that the tool got to its end.
    sandbox.write_script("tolvex",
                         "head -c 104857600 /dev/zero & head -c 104857600 /dev/zero >&2; wait; "
                         "touch \"$(dirname \"$0\")/finished\"");
    Containment containment;
    containment.tool_files = {"finished"};
    const RunResult result = run_contained(sandbox, skill_event("tvx-auth"), containment);
    EXPECT_TRUE(fs::exists(sandbox.bin() / "finished"));
    EXPECT_LT(result.elapsed, 9s);
}

TEST_F(UsageReport, KillsAHangingToolAtTheTimeLimit) {
    sandbox.write_script("tolvex", "echo $$ > \"$(dirname \"$0\")/pid\"; exec sleep 60");
    // The hook's own children become the test's when it ends, so a tool it
    // did not reap would show up here as a zombie.
    Containment containment;
    containment.tool_files = {"pid"};
    const RunResult result = run_contained(sandbox, skill_event("tvx-auth"), containment);
    EXPECT_GE(result.elapsed, 9900ms);
    EXPECT_LT(result.elapsed, 12s);
    const pid_t pid = std::stoi(read_file(sandbox.bin() / "pid"));
    EXPECT_NE(::kill(pid, 0), 0) << "the tool outlived the hook";
}

TEST_F(UsageReport, ABackgroundChildHoldingThePipesDoesNotHoldTheHook) {
    sandbox.write_script("tolvex", "sleep 60 & echo $! > \"$(dirname \"$0\")/pid\"; exit 0");
    Containment containment;
    containment.tool_files = {"pid"};
    containment.tool_leaves_processes = true;
    const RunResult result = run_contained(sandbox, skill_event("tvx-auth"), containment);
    EXPECT_LT(result.elapsed, 12s);
    // Only the direct child is the hook's to end: the background one is all that is left.
    EXPECT_EQ(children_left(), std::vector<pid_t>{std::stoi(read_file(sandbox.bin() / "pid"))});
    end_children_left();
}

TEST_F(UsageReport, PassesOnNoDescriptorBeyondTheStandardThree) {
    // Every descriptor the tool holds, less the one the shell reads its script
    // from and the one it listed the folder through, closed by now.
    sandbox.write_script("tolvex",
                         "set -- /proc/$$/fd/*; for fd; do "
                         "[ -e \"$fd\" ] && ! [ \"$fd\" -ef \"$0\" ] && echo \"${fd##*/}\"; "
                         "done > \"$(dirname \"$0\")/fds\"");
    // The agent leaves descriptor 7 open without close-on-exec.
    sandbox.write_script("agent", "exec 7</dev/null; exec \"$(dirname \"$0\")/report_skill_usage\"");
    expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, {}, sandbox.bin() / "agent"));
    EXPECT_EQ(read_file(sandbox.bin() / "fds"), "0\n1\n2\n");
}

TEST_F(UsageReport, AHookReachedThroughASymlinkUsesTheToolBesideTheLink) {
    const fs::path other = sandbox.root() / "other";
    fs::create_directory(other);
    fs::create_symlink(sandbox.hook(), other / "report_skill_usage");
    sandbox.write_script("tolvex", "touch \"$(dirname \"$0\")/ran-in-bin\"");
    std::ofstream(other / "tolvex") << "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran-in-other\"\n";
    fs::permissions(other / "tolvex", fs::perms::owner_all);
    expect_silent_success(sandbox.run(skill_event("tvx-auth"), InputMode::file, {}, other / "report_skill_usage"));
    EXPECT_TRUE(fs::exists(other / "ran-in-other"));
    EXPECT_FALSE(fs::exists(sandbox.bin() / "ran-in-bin"));
}

TEST_F(UsageReport, AMissingToolFailsQuietly) {
    run_contained(sandbox, skill_event("tvx-auth"));
    EXPECT_TRUE(fs::exists(sandbox.marker("tvx-auth")));
}

TEST_F(UsageReport, NamesThatCannotBePassedSafelyAreNeverReported) {
    sandbox.write_script("tolvex", argument_recorder("args"));
    for (const std::string& name : {std::string("tvx-auth\0evil", 13), std::string("--help"), std::string("-x")}) {
        expect_silent_success(sandbox.run(skill_event(name)));
        EXPECT_FALSE(fs::exists(sandbox.bin() / "args")) << name;
    }
}

}  // namespace
}  // namespace skillhook::testing
