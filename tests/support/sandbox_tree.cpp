#include "sandbox_tree.hpp"

namespace skillhook::testing {
namespace fs = std::filesystem;

TreeSnapshot snapshot_tree(const fs::path& root, const fs::path& skipped) {
    TreeSnapshot snapshot;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path() == skipped) {
            it.disable_recursion_pending();
            continue;
        }
        TreeEntry entry;
        entry.type = it->symlink_status().type();
        if (entry.type == fs::file_type::regular) {
            entry.size = it->file_size();
            entry.modified = it->last_write_time();
        } else if (entry.type == fs::file_type::symlink) {
            entry.link_target = fs::read_symlink(it->path());
        }
        snapshot[it->path()] = entry;
    }
    return snapshot;
}

std::vector<fs::path> changed_paths(const TreeSnapshot& before, const TreeSnapshot& after) {
    std::vector<fs::path> changed;
    for (const auto& [path, entry] : after) {
        const auto old = before.find(path);
        if (old == before.end() || !(old->second == entry)) changed.push_back(path);
    }
    for (const auto& [path, entry] : before)
        if (!after.contains(path)) changed.push_back(path);
    return changed;
}

}  // namespace skillhook::testing
