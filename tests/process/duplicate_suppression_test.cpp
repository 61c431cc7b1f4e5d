// Duplicate suppression as the agent sees it: one report per skill per
// window, the marker's modification time the only record between runs.
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace skillhook::testing {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class DuplicateSuppression : public ::testing::Test {
protected:
    void SetUp() override { sandbox.install_standin(); }

    void report(const std::string& skill) {
        const RunResult result = sandbox.run(skill_event(skill));
        EXPECT_EQ(result.exit_status, 0) << skill;
        EXPECT_EQ(result.standard_output + result.standard_error, "") << skill;
    }

    HookSandbox sandbox;
};

TEST_F(DuplicateSuppression, ASecondEventWithinTheWindowIsNotReported) {
    report("tvx-auth");
    report("tvx-auth");
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-auth"});
    EXPECT_TRUE(fs::is_regular_file(sandbox.marker("tvx-auth")));
    EXPECT_EQ(fs::file_size(sandbox.marker("tvx-auth")), 0u);
}

TEST_F(DuplicateSuppression, TheAgeOfTheMarkerDecides) {
    struct Case {
        std::chrono::seconds age;
        bool reported;
    };
    // A marker from the future (a clock set back) still counts as fresh. The
    // ages keep clear of 30 to 32 s: a time stored in whole seconds (as
    // MinGW's library sets it) counts as up to 2 s later than it reads.
    for (const Case& c : {Case{-5s, false}, Case{25s, false}, Case{33s, true}, Case{24h, true}}) {
        const fs::path marker = sandbox.marker("tvx-skills");
        fs::create_directories(marker.parent_path());
        std::ofstream(marker) << "kept";
        fs::last_write_time(marker, fs::file_time_type::clock::now() - c.age);
        const fs::file_time_type marked = fs::last_write_time(marker);  // as stored, maybe in coarser units
        const std::size_t before = sandbox.recorded_uses().size();

        report("tvx-skills");
        EXPECT_EQ(sandbox.recorded_uses().size(), before + (c.reported ? 1 : 0)) << c.age.count();
        if (c.reported) {
            EXPECT_GT(fs::last_write_time(marker), fs::file_time_type::clock::now() - 10s) << c.age.count();
        } else {
            EXPECT_EQ(fs::last_write_time(marker), marked) << c.age.count();
        }
        EXPECT_EQ(read_file(marker), "kept") << c.age.count();
    }
}

TEST_F(DuplicateSuppression, SkillsHaveMarkersOfTheirOwn) {
    // "tvx-auth." too: Windows would drop the trailing dot and share the marker of "tvx-auth".
    for (const char* skill : {"tvx-auth", "tvx-skills", "tvx-auth.", "tvx-auth "}) report(skill);
    EXPECT_EQ(sandbox.recorded_uses(), (std::vector<std::string>{"tvx-auth", "tvx-skills", "tvx-auth.", "tvx-auth "}));
}

TEST_F(DuplicateSuppression, ANonAsciiNameNamesItsMarkerFile) {
    const std::string skill = "\xC3\xA9t\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC";  // "été-日本"
    report(skill);
    report(skill);
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{skill});
    std::vector<fs::path> markers;
    for (const fs::directory_entry& entry : fs::directory_iterator(sandbox.marker(skill).parent_path()))
        markers.push_back(entry.path());
    EXPECT_EQ(markers, std::vector<fs::path>{sandbox.marker(skill)});
}

TEST_F(DuplicateSuppression, NamesThatWouldLeaveTheMarkerFolderGetAMarkerOfTheirOwnInIt) {
    std::vector<std::string> names = {"/../../../escaped", "a/b", "tolvex:tvx-auth"};
#if defined(_WIN32)
    for (const char* name : {"\\..\\..\\..\\escaped", "a\\b", "x:stream", "x::$INDEX_ALLOCATION", "C:escaped"})
        names.push_back(name);
#endif
    const fs::path hooks = sandbox.marker("x").parent_path();
    // With this folder present, "/../../../escaped" would resolve to a file in the home directory.
    fs::create_directories(hooks / ".dedup_");
    for (const std::string& name : names) {
        report(name);
        report(name);
    }
    // Each reported once (the stand-in's log escapes backslashes).
    EXPECT_EQ(sandbox.recorded_uses().size(), names.size());
    EXPECT_FALSE(fs::exists(sandbox.home() / "escaped"));
    EXPECT_FALSE(fs::exists(sandbox.root() / "escaped"));
    std::size_t markers = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(sandbox.home())) {
        if (!entry.is_regular_file()) continue;
        EXPECT_EQ(entry.path().parent_path(), hooks);
        ++markers;
    }
    EXPECT_EQ(markers, names.size());
}

TEST_F(DuplicateSuppression, AFileWhereTheMarkerFolderBelongsLetsEveryEventThrough) {
    fs::create_directories(sandbox.home() / ".tolvex");
    std::ofstream(sandbox.home() / ".tolvex" / "hooks") << "";
    report("tvx-auth");
    report("tvx-auth");
    EXPECT_EQ(sandbox.recorded_uses(), (std::vector<std::string>{"tvx-auth", "tvx-auth"}));
}

TEST_F(DuplicateSuppression, ABurstOfProcessesReportsAtLeastOnceAndThenSuppresses) {
    const std::string event = skill_event("tvx-dataset-query");
    std::vector<std::future<RunResult>> runs;
    for (int i = 0; i < 20; ++i)
        runs.push_back(std::async(std::launch::async, [&] { return sandbox.run(event, InputMode::pipe); }));
    for (auto& run : runs) {
        const RunResult result = run.get();
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.standard_output + result.standard_error, "");
    }
    // No lock: processes that all read the marker before any refreshed it all report.
    const std::size_t reports = sandbox.recorded_uses().size();
    EXPECT_GE(reports, 1u);
    EXPECT_LE(reports, 20u);
    EXPECT_TRUE(fs::is_regular_file(sandbox.marker("tvx-dataset-query")));

    report("tvx-dataset-query");
    EXPECT_EQ(sandbox.recorded_uses().size(), reports);
}

TEST_F(DuplicateSuppression, AFailedReportStillRefreshesTheMarker) {
    sandbox.install_fake_tool(HookSandbox::executable_name("tolvex"), {FakeTool::Behaviour::create_file_and_fail, "ran"});
    report("tvx-auth");
    EXPECT_TRUE(fs::exists(sandbox.bin() / "ran"));
    fs::remove(sandbox.bin() / "ran");
    report("tvx-auth");
    EXPECT_FALSE(fs::exists(sandbox.bin() / "ran"));
}

#if !defined(_WIN32)
// Runs the hook as a user without an account entry, which needs setpriv.
TEST_F(DuplicateSuppression, NoHomeDirectoryAtAllEndsWithStatusOne) {
    if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root and setpriv to run as a user without an account entry";
    fs::permissions(sandbox.root(), fs::perms::all, fs::perm_options::add);
    fs::permissions(sandbox.bin(), fs::perms::all, fs::perm_options::add);
    sandbox.write_script("as-unknown-user", "exec /usr/bin/setpriv --reuid=48213 --regid=48213 --clear-groups "
                                            "\"$(dirname \"$0\")/report_skill_usage\"");
    const RunResult result = sandbox.run(skill_event("tvx-auth"), InputMode::file, {{"HOME", std::nullopt}},
                                         sandbox.bin() / "as-unknown-user");
    EXPECT_TRUE(ended_with_diagnostic(result, "report_skill_usage: cannot determine the home directory"));
    EXPECT_TRUE(sandbox.recorded_uses().empty());
}
#endif

}  // namespace
}  // namespace skillhook::testing
