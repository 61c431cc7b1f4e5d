// Duplicate suppression across hook processes.
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <unistd.h>

namespace skillhook::testing {
namespace {
namespace fs = std::filesystem;

TEST(DuplicateSuppressionProcess, ABurstOfProcessesReportsAtLeastOnceAndThenSuppresses) {
    HookSandbox sandbox;
    sandbox.install_standin();
    const std::string event = skill_event("tvx-dataset-query");
    std::vector<std::future<RunResult>> runs;
    for (int i = 0; i < 20; ++i)
        runs.push_back(std::async(std::launch::async, [&] { return sandbox.run(event, InputMode::pipe); }));
    for (auto& run : runs) {
        const RunResult result = run.get();
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.standard_output + result.standard_error, "");
    }
    const std::size_t reports = sandbox.recorded_uses().size();
    EXPECT_GE(reports, 1u);
    EXPECT_LE(reports, 20u);
    EXPECT_TRUE(fs::is_regular_file(sandbox.marker("tvx-dataset-query")));

    EXPECT_EQ(sandbox.run(event).exit_status, 0);
    EXPECT_EQ(sandbox.recorded_uses().size(), reports);
}

TEST(DuplicateSuppressionProcess, ASecondDeliveryOfTheSameEventIsNotReported) {
    HookSandbox sandbox;
    sandbox.install_standin();
    sandbox.run(skill_event("tvx-auth"));
    sandbox.run(skill_event("tvx-auth"));
    sandbox.run(R"({"tool_name":"mcp__tolvex__auth_doctor"})");
    sandbox.run(skill_event("tvx-skills"));
    EXPECT_EQ(sandbox.recorded_uses(), (std::vector<std::string>{"tvx-auth", "tvx-skills"}));
}

TEST(DuplicateSuppressionProcess, AFailedReportStillRefreshesTheMarker) {
    HookSandbox sandbox;
    sandbox.write_script("tolvex", "touch \"$(dirname \"$0\")/ran\"; exit 3");
    sandbox.run(skill_event("tvx-auth"));
    EXPECT_TRUE(fs::exists(sandbox.bin() / "ran"));
    fs::remove(sandbox.bin() / "ran");
    sandbox.run(skill_event("tvx-auth"));
    EXPECT_FALSE(fs::exists(sandbox.bin() / "ran"));
}

TEST(DuplicateSuppressionProcess, NoHomeDirectoryAtAllEndsWithStatusOne) {
    if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "needs root and setpriv to run as an unknown user";
    HookSandbox sandbox;
    sandbox.install_standin();
    fs::permissions(sandbox.root(), fs::perms::all, fs::perm_options::add);
    fs::permissions(sandbox.bin(), fs::perms::all, fs::perm_options::add);
    // A user id without an account entry, and no HOME.
    sandbox.write_script("as-nobody", "exec /usr/bin/setpriv --reuid=48213 --regid=48213 --clear-groups "
                                      "\"$(dirname \"$0\")/report_skill_usage\"");
    const RunResult result = sandbox.run(skill_event("tvx-auth"), InputMode::file, {{"HOME", std::nullopt}},
                                         sandbox.bin() / "as-nobody");
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_TRUE(result.standard_error.starts_with("report_skill_usage: cannot determine the home directory"))
        << result.standard_error;
    EXPECT_TRUE(sandbox.recorded_uses().empty());
}

}  // namespace
}  // namespace skillhook::testing
