// Many hook processes at once on a handful of skills. They share nothing but
// the marker files and take no lock, so the number of reports per skill is
// bounded, not exact; the bound is worked out below.
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <string>

#if defined(__linux__)
#include "child_processes.hpp"
#endif
#include <vector>

namespace skillhook::testing {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int bursts = 4;
constexpr std::size_t hooks_per_burst = 50;
const std::array<std::string, 5> skills = {"tvx-auth", "tvx-dataset-query", "tvx-feedback", "tvx-skills",
                                           "derezi-devere"};
constexpr int hooks_per_skill_and_burst = static_cast<int>(hooks_per_burst / skills.size());

std::map<std::string, int> uses_per_skill(const HookSandbox& sandbox) {
    std::map<std::string, int> counts;
    for (const std::string& name : sandbox.recorded_uses()) ++counts[name];
    return counts;
}

// The bound. Each burst starts only when every process of the one before has
// ended, and a process refreshes the skill's marker before it reports.
// - First burst: the first process to check a skill finds no marker and
//   reports, so every skill is reported at least once. The others of its 10
//   processes may all read the marker before any refresh lands (no lock), so
//   at most 10 reports per skill.
// - Later bursts: the skill's marker then holds the time of a refresh made
//   during the first burst, so no earlier than its start. While less than
//   30 s have passed since then, every check finds the marker fresh and no
//   later process reports. (File times may lag the clock by a tick, far
//   inside the margin kept below.)
// So 1 <= reports <= 10 per skill in the first burst, and none in a later
// burst that ends within 25 s of the first's start. A machine too busy for
// that still runs every burst (one that deadlocks or crashes fails wherever
// it falls), but what a later burst reports is then not held to the marker.
constexpr auto marker_fresh_for_sure = 25s;
TEST(Stress, TwoHundredHooksInBurstsOfFifty) {
    HookSandbox sandbox;
    sandbox.install_standin();
#if defined(__linux__)
    adopt_orphans();
#endif

    const auto first_burst_start = std::chrono::steady_clock::now();
    std::map<std::string, int> after_first_burst;
    std::map<std::string, int> after_timely_bursts;
    int timely_bursts = 0;
    for (int burst = 0; burst < bursts; ++burst) {
        std::vector<StartedHook> started;
        started.reserve(hooks_per_burst);
        // All wait on their input, then all are let go together.
        for (std::size_t i = 0; i < hooks_per_burst; ++i)
            started.push_back(sandbox.start(skill_event(skills[i % skills.size()]), InputMode::held_pipe));
        for (StartedHook& hook : started) hook.release_input();
        for (StartedHook& hook : started) {
            const RunResult result = hook.wait();
            EXPECT_EQ(result.exit_status, 0);
            EXPECT_EQ(result.standard_output + result.standard_error, "");
        }
        if (burst == 0) after_first_burst = uses_per_skill(sandbox);
        if (burst == 0 || std::chrono::steady_clock::now() - first_burst_start < marker_fresh_for_sure) {
            after_timely_bursts = uses_per_skill(sandbox);
            ++timely_bursts;
        }
    }

    RecordProperty("bursts_held_to_the_marker", timely_bursts);
    for (const auto& [skill, count] : after_first_burst) RecordProperty(skill, count);
    EXPECT_EQ(after_timely_bursts, after_first_burst) << "a later burst reported a skill whose marker was fresh";
    for (const std::string& skill : skills) {
        const auto found = after_first_burst.find(skill);
        const int count = found == after_first_burst.end() ? 0 : found->second;
        EXPECT_GE(count, 1) << skill;
        EXPECT_LE(count, hooks_per_skill_and_burst) << skill;
        const fs::path marker = sandbox.marker(skill);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(marker))) << skill;
        EXPECT_EQ(fs::file_size(marker), 0u) << skill;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.marker_folder()), fs::directory_iterator()),
              static_cast<std::ptrdiff_t>(skills.size()));
#if defined(__linux__)
    EXPECT_EQ(children_left(), std::vector<pid_t>{}) << "processes outlived their hooks";
#endif
}

}  // namespace
}  // namespace skillhook::testing
