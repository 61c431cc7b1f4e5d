// A tool that cannot run or misbehaves: the hook still ends at once, silent,
// with status 0, having touched nothing but the marker.
#include "child_processes.hpp"
#include "contained_run.hpp"
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace skillhook::testing {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ToolFault : public ::testing::Test {
protected:
    // A run whose report was tried and failed or was dropped.
    void expect_report_tried(const Containment& containment = {}) {
        const RunResult result = run_contained(sandbox, skill_event("tvx-auth"), containment);
        EXPECT_LT(result.elapsed, 5s);
        EXPECT_TRUE(fs::is_regular_file(sandbox.marker("tvx-auth")));
    }

    static Containment writing(std::vector<std::string> tool_files) {
        Containment containment;
        containment.tool_files = std::move(tool_files);
        return containment;
    }

    HookSandbox sandbox;
};

TEST_F(ToolFault, ToolMissing) {
    expect_report_tried();
}

TEST_F(ToolFault, ToolFloodsBothStreamsWith100MB) {
    sandbox.write_script("tolvex",
                         "head -c 104857600 /dev/zero & head -c 104857600 /dev/zero >&2; wait; "
                         "touch \"$(dirname \"$0\")/finished\"");
    const RunResult result = run_contained(sandbox, skill_event("tvx-auth"), writing({"finished"}));
    EXPECT_TRUE(fs::exists(sandbox.bin() / "finished"));
    EXPECT_LT(result.elapsed, 9s);
}

TEST_F(ToolFault, ToolHangsAndIsKilledAtTheLimit) {
    // The hook's children become the test's when it ends, so a tool it did
    // not reap would show up as a zombie, and one it did not kill as running.
    sandbox.write_script("tolvex", "echo $$ > \"$(dirname \"$0\")/pid\"; exec sleep 60");
    const RunResult result = run_contained(sandbox, skill_event("tvx-auth"), writing({"pid"}));
    EXPECT_GE(result.elapsed, 9900ms);
    EXPECT_LT(result.elapsed, 12s);
}

TEST_F(ToolFault, ToolLeavesABackgroundChildHoldingThePipes) {
    sandbox.write_script("tolvex", "sleep 60 & echo $! > \"$(dirname \"$0\")/pid\"; exit 0");
    Containment containment = writing({"pid"});
    containment.tool_leaves_processes = true;
    const RunResult result = run_contained(sandbox, skill_event("tvx-auth"), containment);
    EXPECT_LT(result.elapsed, 12s);
    // Only the direct child is the hook's to end: the background one is all that is left.
    EXPECT_EQ(children_left(), std::vector<pid_t>{std::stoi(read_file(sandbox.bin() / "pid"))});
    end_children_left();
}

TEST_F(ToolFault, ToolNotExecutable) {
    sandbox.write_script("tolvex", "touch \"$(dirname \"$0\")/ran\"");
    fs::permissions(sandbox.bin() / "tolvex", fs::perms::owner_read | fs::perms::owner_write);
    expect_report_tried();
    EXPECT_FALSE(fs::exists(sandbox.bin() / "ran"));
}

TEST_F(ToolFault, ToolIsADirectory) {
    fs::create_directory(sandbox.bin() / "tolvex");
    expect_report_tried();
}

TEST_F(ToolFault, ToolIsADanglingSymlink) {
    fs::create_symlink(sandbox.bin() / "missing-tolvex", sandbox.bin() / "tolvex");
    expect_report_tried();
}

TEST_F(ToolFault, ToolKilledByASignal) {
    for (const char* signal : {"KILL", "SEGV", "ABRT", "TERM"}) {
        fs::remove_all(sandbox.home() / ".tolvex");
        sandbox.write_script("tolvex", std::string("echo half; echo half >&2; kill -") + signal + " $$");
        expect_report_tried();
    }
}

TEST_F(ToolFault, ToolExitsAtOnceWithoutReading) {
    sandbox.write_script("tolvex", "exit 0");
    Containment piped;
    piped.mode = InputMode::pipe;
    expect_report_tried(piped);
}

TEST_F(ToolFault, ToolClosesOneStreamEarlyAndFloodsTheOther) {
    for (const char closed_stream : {'1', '2'}) {
        const std::string closed(1, closed_stream);
        const std::string other = closed == "1" ? "2" : "1";
        fs::remove_all(sandbox.home() / ".tolvex");
        fs::remove(sandbox.bin() / "finished");
        sandbox.write_script("tolvex", "exec " + closed + ">&-; head -c 20971520 /dev/zero >&" + other +
                                           "; touch \"$(dirname \"$0\")/finished\"");
        expect_report_tried(writing({"finished"}));
        EXPECT_TRUE(fs::exists(sandbox.bin() / "finished")) << "closed " << closed;
    }
}

}  // namespace
}  // namespace skillhook::testing
