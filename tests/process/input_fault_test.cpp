// Standard input that arrives in unusual ways. A closed standard input is
// covered with the other inputs that hold no event, in hook_entry_test.
#include "contained_run.hpp"
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace skillhook::testing {
namespace {

class InputFault : public ::testing::Test {
protected:
    void SetUp() override { sandbox.install_standin(); }

    static Containment recording(InputMode mode) {
        Containment containment;
        containment.mode = mode;
        containment.tool_files = {"tolvex-usage.log"};
        return containment;
    }

    HookSandbox sandbox;
};

TEST_F(InputFault, PipeThatDeliversOneByteAtATime) {
    run_contained(sandbox, skill_event("tvx-auth"), recording(InputMode::pipe_byte_by_byte));
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-auth"});
}

TEST_F(InputFault, EventOf100MB) {
    const std::string event = R"({"tool_name":"Skill","tool_input":{"skill":"tvx-auth"},"tool_response":")" +
                              std::string(100 << 20, 'x') + R"("})";
    for (const InputMode mode : {InputMode::pipe, InputMode::file}) {
        std::filesystem::remove_all(sandbox.home() / ".tolvex");
        run_contained(sandbox, event, recording(mode));
    }
    EXPECT_EQ(sandbox.recorded_uses(), (std::vector<std::string>{"tvx-auth", "tvx-auth"}));
}

// Non-blocking pipes and stack limits set by a shell are POSIX matters.
#if !defined(_WIN32)
// Some agents may hand over standard input in non-blocking mode; an empty
// pipe is then no end of input, only a pause.
TEST_F(InputFault, NonBlockingPipeThatIsOftenEmpty) {
    run_contained(sandbox, skill_event("tvx-auth"), recording(InputMode::nonblocking_pipe_byte_by_byte));
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-auth"});
}

// The parser recurses once per level: however small the stack, deep
// nesting must not end the hook with a signal.
TEST_F(InputFault, DeepEventUnderASmallStackLimit) {
    sandbox.write_script("small-stack", "ulimit -s 256 && exec \"$(dirname \"$0\")/report_skill_usage\"");
    for (const std::size_t depth : {std::size_t{9'999}, std::size_t{999'999}}) {
        const std::string event = R"({"tool_name":"Skill","tool_input":{"skill":"tvx-auth"},"deep":)" +
                                  std::string(depth, '[') + std::string(depth, ']') + "}";
        std::filesystem::remove_all(sandbox.home() / ".tolvex");
        const RunResult result = sandbox.run(event, InputMode::file, {}, sandbox.bin() / "small-stack");
        EXPECT_EQ(result.signal, 0) << depth;
        EXPECT_EQ(result.exit_status, 0) << depth;
    }
    EXPECT_EQ(sandbox.recorded_uses(), (std::vector<std::string>{"tvx-auth", "tvx-auth"}));
}
#endif

}  // namespace
}  // namespace skillhook::testing
