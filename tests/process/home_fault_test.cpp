// A home directory or marker folder in a state the hook did not make: the
// report goes ahead, and nothing is written anywhere but the marker folder.
#include "contained_run.hpp"
#include "hook_sandbox.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace skillhook::testing {
namespace {
namespace fs = std::filesystem;

class HomeFault : public ::testing::Test {
protected:
    void SetUp() override { sandbox.install_standin(); }

    static Containment recording() {
        Containment containment;
        containment.tool_files = {"tolvex-usage.log"};
        return containment;
    }

    HookSandbox sandbox;
};

TEST_F(HomeFault, MarkerFolderReplacedByAFile) {
    fs::create_directories(sandbox.home() / ".tolvex");
    std::ofstream(sandbox.marker_folder()) << "not a folder";
    // No marker can be kept, so nothing is suppressed.
    run_contained(sandbox, skill_event("tvx-auth"), recording());
    run_contained(sandbox, skill_event("tvx-auth"), recording());
    EXPECT_EQ(sandbox.recorded_uses(), (std::vector<std::string>{"tvx-auth", "tvx-auth"}));
    EXPECT_EQ(read_file(sandbox.marker_folder()), "not a folder");
}

TEST_F(HomeFault, MarkerIsASymlinkToAMissingTarget) {
    const fs::path target = sandbox.root() / "outside-the-marker-folder";
    fs::create_directories(sandbox.marker_folder());
    if (const auto failure = create_file_symlink(target, sandbox.marker("tvx-auth")))
        GTEST_SKIP() << "no symbolic link could be made here: " << *failure;
    // The link is never followed to create its target; without a marker
    // nothing is suppressed. Containment would also see the target appear.
    run_contained(sandbox, skill_event("tvx-auth"), recording());
    run_contained(sandbox, skill_event("tvx-auth"), recording());
    EXPECT_EQ(sandbox.recorded_uses(), (std::vector<std::string>{"tvx-auth", "tvx-auth"}));
    EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
    EXPECT_EQ(fs::read_symlink(sandbox.marker("tvx-auth")), target);
}

TEST_F(HomeFault, HomeThatDoesNotExist) {
    const fs::path home = sandbox.home() / "gone" / "deeper";
    Containment containment = recording();
    containment.environment = {{HookSandbox::home_variable(), utf8_text(home)}};
    // The marker folder is made with its missing parents, and then works as usual.
    run_contained(sandbox, skill_event("tvx-auth"), containment);
    run_contained(sandbox, skill_event("tvx-auth"), containment);
    EXPECT_EQ(sandbox.recorded_uses(), std::vector<std::string>{"tvx-auth"});
    EXPECT_TRUE(fs::is_regular_file(home / ".tolvex" / "hooks" / ".dedup_tvx-auth"));
}

}  // namespace
}  // namespace skillhook::testing
