// Snapshots of the sandbox's files, to find everything a run changed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace skillhook::testing {

struct TreeEntry {
    std::filesystem::file_type type = std::filesystem::file_type::none;
    std::uintmax_t size = 0;                      // regular files
    std::filesystem::file_time_type modified{};   // regular files
    std::filesystem::path link_target;            // symbolic links
    bool operator==(const TreeEntry&) const = default;
};

// Every entry under `root`, symbolic links not followed, keyed by its path;
// `skipped` and what lies under it are left out.
using TreeSnapshot = std::map<std::filesystem::path, TreeEntry>;
TreeSnapshot snapshot_tree(const std::filesystem::path& root, const std::filesystem::path& skipped);

// Paths added, removed or changed between the two snapshots. A folder counts
// as changed only when its kind changed, not when entries came or went in it.
std::vector<std::filesystem::path> changed_paths(const TreeSnapshot& before, const TreeSnapshot& after);

}  // namespace skillhook::testing
