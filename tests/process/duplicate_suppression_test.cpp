// Duplicate suppression as the agent sees it: one report per skill per
// window, the marker's modification time the only record between runs.
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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
    // ages keep clear of 30 s: some file systems store whole seconds only.
    for (const Case& c : {Case{-5s, false}, Case{25s, false}, Case{31s, true}, Case{24h, true}}) {
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

TEST_F(DuplicateSuppression, NamesThatWouldLeaveTheMarkerFolderGetNoMarkerAndAreAlwaysReported) {
    std::vector<std::string> names = {"/../../../escaped", "a/b"};
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
    EXPECT_EQ(sandbox.recorded_uses().size(), 2 * names.size());
    EXPECT_FALSE(fs::exists(sandbox.home() / "escaped"));
    EXPECT_FALSE(fs::exists(sandbox.root() / "escaped"));
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(sandbox.home()))
        EXPECT_FALSE(entry.is_regular_file()) << entry.path();
}

TEST_F(DuplicateSuppression, AFileWhereTheMarkerFolderBelongsLetsEveryEventThrough) {
    fs::create_directories(sandbox.home() / ".tolvex");
    std::ofstream(sandbox.home() / ".tolvex" / "hooks") << "";
    report("tvx-auth");
    report("tvx-auth");
    EXPECT_EQ(sandbox.recorded_uses(), (std::vector<std::string>{"tvx-auth", "tvx-auth"}));
}

}  // namespace
}  // namespace skillhook::testing
