// Bash tool events as Codex CLI sends them, end to end through the stand-in tool.
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace skillhook::testing {
namespace {
namespace fs = std::filesystem;

// `command_json` is the JSON text of tool_input's command; the response is a plain string.
std::string bash_event(const std::string& command_json) {
    return R"({"tool_name":"Bash","tool_input":{"command":)" + command_json +
           R"(,"workdir":"/tmp"},"tool_response":"exit code 0\nok"})";
}

class BashCommandEvents : public ::testing::Test {
protected:
    void SetUp() override { sandbox.install_standin(); }

    HookSandbox sandbox;
};

TEST_F(BashCommandEvents, ReportsTheSkillOfTheToolsSubcommand) {
    const RunResult result = sandbox.run(bash_event(R"("tolvex query metadata --dataset xxx")"));
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_output + result.standard_error, "");
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-dataset-query"});
    EXPECT_TRUE(fs::exists(sandbox.marker("tvx-dataset-query")));
}

TEST_F(BashCommandEvents, EscapedUnicodeSplitsAndFoldsAfterDecoding) {
    const RunResult result = sandbox.run(bash_event(R"("\"C:\\Tools\\TolVex.exe\"\u3000S\u212AILLS list")"));
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-skills"});
}

TEST_F(BashCommandEvents, OtherCommandLinesReportNothing) {
    for (const char* command : {R"("git status")", R"("which tolvex")", R"("ls /opt/tolvex/ auth")",
                                R"("tolvex feedback submit")", R"("tolvex\u200Bauth")", R"("")"}) {
        const RunResult result = sandbox.run(bash_event(command));
        EXPECT_EQ(result.exit_status, 0) << command;
        EXPECT_EQ(result.standard_output + result.standard_error, "") << command;
        EXPECT_TRUE(fs::is_empty(sandbox.home())) << command;
    }
    EXPECT_TRUE(sandbox.recorded_uses().empty());
}

TEST_F(BashCommandEvents, ACommandThatIsNotAStringEndsWithStatusOne) {
    for (const char* command : {"42", "true", R"(["tolvex","auth"])", R"({"line":"tolvex auth"})"}) {
        EXPECT_TRUE(ended_with_diagnostic(sandbox.run(bash_event(command)), "report_skill_usage: malformed hook event: "))
            << command;
        EXPECT_TRUE(fs::is_empty(sandbox.home())) << command;
    }
    EXPECT_TRUE(sandbox.recorded_uses().empty());
}

}  // namespace
}  // namespace skillhook::testing
