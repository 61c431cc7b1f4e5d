// The hook as an agent sees it: exit status, silence, and no effects for
// events that used no skill.
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace skillhook::testing {
namespace {
namespace fs = std::filesystem;

class HookEntry : public ::testing::Test {
protected:
    void SetUp() override { sandbox.install_standin(); }

    // Status 0, nothing written, nothing recorded, no file created.
    void expect_quiet_nothing(const std::string& input, InputMode mode = InputMode::file) {
        const RunResult result = sandbox.run(input, mode);
        EXPECT_EQ(result.exit_status, 0) << input;
        EXPECT_EQ(result.standard_output, "") << input;
        EXPECT_EQ(result.standard_error, "") << input;
        EXPECT_TRUE(sandbox.recorded_uses().empty()) << input;
        EXPECT_TRUE(fs::is_empty(sandbox.home())) << input;
    }

    void expect_malformed(const std::string& input) {
        EXPECT_TRUE(ended_with_diagnostic(sandbox.run(input), "report_skill_usage: malformed hook event: ")) << input;
        EXPECT_TRUE(sandbox.recorded_uses().empty()) << input;
        EXPECT_TRUE(fs::is_empty(sandbox.home())) << input;
    }

    HookSandbox sandbox;
};

TEST_F(HookEntry, InputThatIsNotOneJsonTextEndsQuietly) {
    for (const char* input : {"", "  \n", "{\"tool_name\":\"Skill\"", "{} {}", "{} x", "\xEF\xBB\xBF{}",
                              "{\"tool_name\":\"Skill\",\"tool_input\":{\"skill\":\"a\xFF\"}}"})
        expect_quiet_nothing(input);
}

TEST_F(HookEntry, ClosedStandardInputEndsQuietly) { expect_quiet_nothing("", InputMode::closed); }

TEST_F(HookEntry, EventsWithoutASkillEndQuietly) {
    for (const char* input : {"{}", R"({"tool_name":"Read","tool_input":{"file_path":"/x"}})",
                              R"({"tool_name":"Skill","tool_input":{"skill":""}})",
                              R"({"tool_name":"mcp__tolvex__unknown"})", R"({"tool_name":"Bash","tool_input":{"command":"ls"}})",
                              // Cut short at its NUL, each path tested would name the root.
                              R"({"hook_event_name":"UserPromptSubmit","turn_id":"t","cwd":"/\u0000","prompt":"$x"})"})
        expect_quiet_nothing(input);
}

TEST_F(HookEntry, MalformedEventsEndWithStatusOneAndOneLine) {
    for (const char* input : {"[]", "\"Skill\"", "12", "true", "null", R"({"tool_name":3})",
                              R"({"tool_name":"Bash","tool_input":{"command":null}})",
                              R"({"tool_name":"Skill","tool_input":{"skill":true}})"})
        expect_malformed(input);
}

TEST_F(HookEntry, ReportsASkillEventThroughAPipe) {
    const RunResult result = sandbox.run(skill_event("tvx-auth"), InputMode::pipe);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_output + result.standard_error, "");
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-auth"});
}

TEST_F(HookEntry, ReportsAnMcpEvent) {
    const RunResult result = sandbox.run(R"({"tool_name":"mcp__tolvex__feedback_submit","tool_input":{"text":"x"}})");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-feedback"});
}

TEST_F(HookEntry, TheLaterToolNameDecides) {
    sandbox.run(R"({"tool_name":"Read","tool_input":{"skill":"x"},"tool_name":"Skill"})");
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"x"});
}

TEST_F(HookEntry, ALargeNumberInTheResponseDoesNotHideTheSkill) {
    sandbox.run(R"({"tool_name":"Skill","tool_input":{"skill":"tvx-skills"},"tool_response":18446744073709551616})");
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-skills"});
}

TEST_F(HookEntry, ArgumentsAreIgnored) {
    const RunResult result = sandbox.run(skill_event("tvx-auth"), InputMode::file, {}, std::nullopt, {"--help", "-x"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_output + result.standard_error, "");
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-auth"});
}

}  // namespace
}  // namespace skillhook::testing
