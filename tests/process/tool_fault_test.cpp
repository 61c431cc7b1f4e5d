// A tool that cannot run or misbehaves: the hook still ends at once, silent,
// with status 0, having touched nothing but the marker.
#include "contained_run.hpp"
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#if defined(__linux__)
#include "child_processes.hpp"

#include <unistd.h>
#endif

namespace skillhook::testing {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Behaviour = FakeTool::Behaviour;

class ToolFault : public ::testing::Test {
protected:
    // A run whose report was tried and failed or was dropped.
    void expect_report_tried(const Containment& containment = {}) {
        const RunResult result = run_contained(sandbox, skill_event("tvx-auth"), containment);
        // Under the 10 s a hook waiting for the limit would take, however busy the machine.
        EXPECT_LT(result.elapsed, 9s);
        EXPECT_TRUE(fs::is_regular_file(sandbox.marker("tvx-auth")));
    }

    static Containment writing(std::vector<std::string> tool_files) {
        Containment containment;
        containment.tool_files = std::move(tool_files);
        return containment;
    }

    const std::string tool = HookSandbox::executable_name("tolvex");
    HookSandbox sandbox;
};

TEST_F(ToolFault, ToolMissing) {
    expect_report_tried();
}

TEST_F(ToolFault, ToolFloodsBothStreamsWith100MB) {
    sandbox.install_fake_tool(tool, {Behaviour::flood_both_streams, "finished", 100 << 20});
    run_contained(sandbox, skill_event("tvx-auth"), writing({"finished"}));
    // Written only if the hook drained both streams before the limit.
    EXPECT_TRUE(fs::exists(sandbox.bin() / "finished"));
}

TEST_F(ToolFault, ToolHangsAndIsKilledAtTheLimit) {
    // On POSIX the hook's children become the test's when it ends, so a tool
    // it did not reap would show up as a zombie, and one it did not kill as running.
    sandbox.install_fake_tool(tool, {Behaviour::hang, "pid"});
    const RunResult result = run_contained(sandbox, skill_event("tvx-auth"), writing({"pid"}));
    EXPECT_GE(result.elapsed, 9900ms);
    // From the tool's start: ended at the limit, far from the tool's minute.
    EXPECT_LT(since_written(sandbox.bin() / "pid"), 15s);
    EXPECT_FALSE(process_is_running(std::stoi(read_file(sandbox.bin() / "pid")))) << "the tool outlived the hook";
}

#if defined(__linux__)
// A setuid tool that took another user's id may not be killed by the hook
// (EPERM): the hook still ends soon after the limit, and leaves it behind.
TEST_F(ToolFault, ToolThatCannotBeKilledIsLeftAtTheLimit) {
    if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root and setpriv to start a tool that the hook may not kill";
    adopt_orphans();
    fs::permissions(sandbox.root(), fs::perms::all, fs::perm_options::add);
    fs::permissions(sandbox.bin(), fs::perms::all, fs::perm_options::add);
    fs::copy_file("/usr/bin/setpriv", sandbox.bin() / "setuid-setpriv");
    fs::permissions(sandbox.bin() / "setuid-setpriv", fs::perms::set_uid | fs::perms::owner_all |
                                                          fs::perms::group_exec | fs::perms::others_exec);
    sandbox.write_script("tolvex", "echo $$ > \"$(dirname \"$0\")/pid\"; exec \"$(dirname \"$0\")/setuid-setpriv\" "
                                   "--reuid=48214 --regid=48214 --clear-groups sleep 60");
    fs::permissions(sandbox.bin() / "tolvex", fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    sandbox.write_script("as-another-user", "exec /usr/bin/setpriv --reuid=48213 --regid=48213 --clear-groups "
                                            "\"$(dirname \"$0\")/report_skill_usage\"");
    const RunResult result = sandbox.run(skill_event("tvx-auth"), InputMode::file, {}, sandbox.bin() / "as-another-user");
    EXPECT_TRUE(process_is_running(std::stoi(read_file(sandbox.bin() / "pid")))) << "the hook could kill the tool";
    end_children_left();
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_output + result.standard_error, "");
    EXPECT_GE(result.elapsed, 9900ms);
    EXPECT_LT(result.elapsed, 12s);
}
#endif

TEST_F(ToolFault, ToolLeavesABackgroundChildHoldingThePipes) {
    sandbox.install_fake_tool(tool, {Behaviour::leave_background_child, "pid"});
    Containment containment = writing({"pid"});
    containment.tool_leaves_processes = true;
    run_contained(sandbox, skill_event("tvx-auth"), containment);
    // From the tool's end: far from the minute the background child holds the pipes.
    EXPECT_LT(since_written(sandbox.bin() / "pid"), 15s);
    const int background_child = std::stoi(read_file(sandbox.bin() / "pid"));
#if defined(__linux__)
    // Only the direct child is the hook's to end: the background one is all that is left.
    EXPECT_EQ(children_left(), std::vector<pid_t>{background_child});
    end_children_left();
#else
    end_process(background_child);
#endif
}

TEST_F(ToolFault, ToolIsADirectory) {
    fs::create_directory(sandbox.bin() / tool);
    expect_report_tried();
}

TEST_F(ToolFault, ToolIsADanglingSymlink) {
    if (const auto failure = create_file_symlink(sandbox.bin() / "missing-tolvex", sandbox.bin() / tool))
        GTEST_SKIP() << "no symbolic link could be made here: " << *failure;
    expect_report_tried();
}

TEST_F(ToolFault, ToolExitsAtOnceWithoutReading) {
    sandbox.install_fake_tool(tool, {Behaviour::exit_at_once, ""});
    Containment piped;
    piped.mode = InputMode::pipe;
    expect_report_tried(piped);
}

TEST_F(ToolFault, ToolClosesOneStreamEarlyAndFloodsTheOther) {
    for (const Behaviour behaviour : {Behaviour::flood_errors_with_output_closed,
                                      Behaviour::flood_output_with_errors_closed}) {
        fs::remove_all(sandbox.home() / ".tolvex");
        fs::remove(sandbox.bin() / "finished");
        sandbox.install_fake_tool(tool, {behaviour, "finished", 20 << 20});
        expect_report_tried(writing({"finished"}));
        EXPECT_TRUE(fs::exists(sandbox.bin() / "finished")) << static_cast<int>(behaviour);
    }
}

#if !defined(_WIN32)
// Execute permission and death by a signal are POSIX matters.
TEST_F(ToolFault, ToolNotExecutable) {
    sandbox.install_fake_tool(tool, {Behaviour::create_file, "ran"});
    fs::permissions(sandbox.bin() / tool, fs::perms::owner_read | fs::perms::owner_write);
    expect_report_tried();
    EXPECT_FALSE(fs::exists(sandbox.bin() / "ran"));
}

TEST_F(ToolFault, ToolKilledByASignal) {
    for (const int signal : {SIGKILL, SIGSEGV, SIGABRT, SIGTERM}) {
        fs::remove_all(sandbox.home() / ".tolvex");
        sandbox.install_fake_tool(tool, {Behaviour::die_of_signal, "", 0, signal});
        expect_report_tried();
    }
}
#endif

}  // namespace
}  // namespace skillhook::testing
