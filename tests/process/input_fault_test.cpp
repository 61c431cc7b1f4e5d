// Standard input that arrives in unusual ways. A closed standard input is
// covered with the other inputs that hold no event, in hook_entry_test.
#include "contained_run.hpp"
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// Non-blocking pipes and limits set by a shell are POSIX matters.
#if !defined(_WIN32)
// Whether the memory the hook takes is its own: not a sanitized hook's,
// which reserves terabytes for shadow memory, nor that of valgrind or qemu
// running it.
bool hook_memory_is_measurable() {
#if defined(__SANITIZE_ADDRESS__) || defined(SKILLHOOK_TEST_EMULATED)
    return false;
#else
    const char* launcher = std::getenv("SKILLHOOK_TEST_HOOK_LAUNCHER");
    return launcher == nullptr || *launcher == '\0';
#endif
}

// Some agents may hand over standard input in non-blocking mode; an empty
// pipe is then no end of input, only a pause.
TEST_F(InputFault, NonBlockingPipeThatIsOftenEmpty) {
    run_contained(sandbox, skill_event("tvx-auth"), recording(InputMode::nonblocking_pipe_byte_by_byte));
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-auth"});
}

std::string deep_skill_event(std::size_t depth) {
    return R"({"tool_name":"Skill","tool_input":{"skill":"tvx-auth"},"deep":)" + std::string(depth, '[') +
           std::string(depth, ']') + "}";
}

// However small the stack or the address space a shell allows, deep nesting
// decodes, a long command is read, a Codex prompt from a working folder a
// megabyte deep in a repository resolves (in memory that grows with the
// folder's length, not its square), and none ends the hook with a signal.
TEST_F(InputFault, DeepEventUnderLimitsSetByAShell) {
    struct LimitedRun {
        const char* limit;
        std::string event;
        bool limits_memory;
    };
    const std::filesystem::path project = sandbox.root() / "project";
    std::filesystem::create_directories(project / ".git");
    std::filesystem::create_directories(project / ".agents" / "skills" / "tvx-auth");
    std::ofstream(project / ".agents" / "skills" / "tvx-auth" / "SKILL.md").close();
    std::string deep_folder = project.string();
    for (int level = 0; level < 512 * 1024; ++level) deep_folder += "/a";
    const LimitedRun runs[] = {
        {"ulimit -s 256", deep_skill_event(9'999), false},
        {"ulimit -s 256", deep_skill_event(999'999), false},
        {"ulimit -v 800000", deep_skill_event(300), true},  // once too little for a thread with a large stack
        {"ulimit -v 800000",
         R"({"hook_event_name":"UserPromptSubmit","turn_id":"t","prompt":"$tvx-auth","cwd":")" + deep_folder + R"("})",
         true},
        // Less address space than a long command's room: the room shrinks to the command.
        {"ulimit -v 50000",
         R"({"tool_name":"Bash","tool_input":{"command":"tolvex auth status; cat <<EOF\n)" + std::string(1 << 20, 'x') +
             R"(\nEOF"}})",
         true},
    };
    std::size_t reported = 0;
    for (const LimitedRun& run : runs) {
        if (run.limits_memory && !hook_memory_is_measurable()) continue;
        sandbox.write_script("limited", std::string(run.limit) + " && exec \"$(dirname \"$0\")/report_skill_usage\"");
        std::filesystem::remove_all(sandbox.home() / ".tolvex");
        const RunResult result = sandbox.run(run.event, InputMode::file, {}, sandbox.bin() / "limited");
        EXPECT_EQ(result.signal, 0) << run.limit << ", " << run.event.substr(0, 80);
        EXPECT_EQ(result.exit_status, 0) << run.limit << ", " << run.event.substr(0, 80);
        ++reported;
    }
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>(reported, "tvx-auth"));
}

#if defined(__linux__)
// Input that never ends is read for as long as it lasts, in memory that does
// not grow: a few seconds of /dev/zero. Its peak, from /proc, while it runs.
TEST_F(InputFault, EndlessInputInConstantMemory) {
    if (!hook_memory_is_measurable()) GTEST_SKIP() << "the hook's own memory cannot be told apart here";
    sandbox.write_script("endless",
                         "\"$(dirname \"$0\")/report_skill_usage\" </dev/zero & hook=$!\n"
                         "sleep 3\n"
                         "sed -n 's/^VmHWM:[[:space:]]*\\([0-9]*\\) kB$/\\1/p' /proc/$hook/status\n"
                         "kill $hook && wait $hook\n");
    const RunResult result = sandbox.run("", InputMode::file, {}, sandbox.bin() / "endless");
    ASSERT_FALSE(result.standard_output.empty()) << "the hook ended before its input: " << result.standard_error;
    EXPECT_LE(std::stoul(result.standard_output), 4096u) << "peak resident kB";
}
#endif
#endif

}  // namespace
}  // namespace skillhook::testing
