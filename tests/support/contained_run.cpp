#include "contained_run.hpp"

#include "sandbox_tree.hpp"

#if defined(__linux__)
#include "child_processes.hpp"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace skillhook::testing {
namespace fs = std::filesystem;

namespace {

bool lies_within(const fs::path& path, const fs::path& folder) {
    return std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first == folder.end();
}

fs::path marker_folder_for(const HookSandbox& sandbox, const Containment& containment) {
    const auto home = containment.environment.find(HookSandbox::home_variable());
    if (home == containment.environment.end() || !home->second) return sandbox.marker_folder();
    return utf8_path(*home->second) / ".tolvex" / "hooks";
}

}  // namespace

RunResult run_contained(const HookSandbox& sandbox, const std::string& input, const Containment& containment) {
#if defined(__linux__)
    adopt_orphans();
#endif
    const TreeSnapshot before = snapshot_tree(sandbox.root(), sandbox.harness());
    const RunResult result = sandbox.run(input, containment.mode, containment.environment);
    const TreeSnapshot after = snapshot_tree(sandbox.root(), sandbox.harness());

    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_status, containment.exit_status);
    EXPECT_EQ(result.standard_output, "");
    if (result.exit_status == 1) {
        EXPECT_TRUE(ended_with_diagnostic(result, "report_skill_usage: "));
    } else {
        EXPECT_EQ(result.standard_error, "");
    }

    const fs::path marker_folder = marker_folder_for(sandbox, containment);
    for (const fs::path& path : changed_paths(before, after)) {
        const bool in_marker_folder = lies_within(path, marker_folder);
        const bool folder_on_the_way = lies_within(marker_folder, path) && fs::is_directory(fs::symlink_status(path));
        const bool tool_file = path.parent_path() == sandbox.bin() &&
                               std::ranges::count(containment.tool_files, path.filename().string()) > 0;
        EXPECT_TRUE(in_marker_folder || folder_on_the_way || tool_file) << "changed outside the marker folder: " << path;
    }

#if defined(__linux__)
    // Only here can a test adopt what a run leaves behind, and count it.
    if (!containment.tool_leaves_processes) {
        EXPECT_EQ(children_left(), std::vector<pid_t>{}) << "processes left behind";
    }
#endif
    return result;
}

}  // namespace skillhook::testing
