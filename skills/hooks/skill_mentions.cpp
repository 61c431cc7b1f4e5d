#include "skill_mentions.hpp"

#include "platform.hpp"

#include <algorithm>
#include <cstddef>
#include <initializer_list>

namespace skillhook {
namespace {

constexpr std::size_t most_mentions_tried = 16;

bool is_name_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

struct Mention {
    std::string_view plugin;  // empty for a skill of its own
    std::string_view skill;
    bool operator==(const Mention&) const = default;
};

// The name that starts at `position`, which is moved past it.
std::string_view name_at(std::string_view prompt, std::size_t& position) {
    const std::size_t start = position;
    while (position < prompt.size() && is_name_character(prompt[position])) ++position;
    return prompt.substr(start, position - start);
}

// The distinct mentions, in order, up to most_mentions_tried. As Codex reads
// them, "$a:" and "$a:b:" name nothing.
std::vector<Mention> mentions_in(std::string_view prompt) {
    std::vector<Mention> mentions;
    for (std::size_t dollar = prompt.find('$'); dollar != std::string_view::npos && mentions.size() < most_mentions_tried;
         dollar = prompt.find('$', dollar + 1)) {
        std::size_t position = dollar + 1;
        Mention mention{{}, name_at(prompt, position)};
        if (position < prompt.size() && prompt[position] == ':') {
            ++position;
            mention = {mention.skill, name_at(prompt, position)};
            if (mention.plugin.empty() || (position < prompt.size() && prompt[position] == ':')) continue;
        }
        if (!mention.skill.empty() && std::ranges::find(mentions, mention) == mentions.end()) mentions.push_back(mention);
    }
    return mentions;
}

std::string join(std::string_view folder, std::initializer_list<std::string_view> names) {
    std::string path(folder);
    for (const std::string_view name : names) path = platform::join_path(path, name);
    return path;
}

// The working folder, and the folders above it up to the first that holds
// .git; the working folder alone when none does.
std::vector<std::string> project_folders(const std::string& cwd, const SkillFolders& folders) {
    std::vector<std::string> chain = {cwd};
    for (;;) {
        if (folders.exists(join(chain.back(), {".git"}))) return chain;
        std::string parent = platform::parent_directory(chain.back());
        if (parent == chain.back() || parent == ".") return {cwd};
        chain.push_back(std::move(parent));
    }
}

// Every folder that may hold a skill's own folder.
std::vector<std::string> skill_roots(std::string_view cwd, const UserFolders& user, const SkillFolders& folders) {
    std::vector<std::string> roots;
    if (!cwd.empty()) {
        for (const std::string& folder : project_folders(std::string(cwd), folders)) {
            roots.push_back(join(folder, {".agents", "skills"}));
            roots.push_back(join(folder, {".codex", "skills"}));
        }
    }
    roots.push_back(join(user.codex_home, {"skills"}));
    roots.push_back(join(user.home, {".agents", "skills"}));
    return roots;
}

bool plugin_skill_installed(const Mention& mention, const UserFolders& user, const SkillFolders& folders) {
    const std::string cache = join(user.codex_home, {"plugins", "cache"});
    for (const std::string& marketplace : folders.entries(cache)) {
        const std::string plugin = join(cache, {marketplace, mention.plugin});
        for (const std::string& version : folders.entries(plugin))
            if (folders.exists(join(plugin, {version, "skills", mention.skill, "SKILL.md"}))) return true;
    }
    return false;
}

}  // namespace

SkillFolders installed_skill_folders() {
    const auto user_folders = [] {
        std::string home = platform::home_directory();
        const std::optional<std::string> codex_home = platform::environment_variable("CODEX_HOME");
        return UserFolders{codex_home && !codex_home->empty() ? *codex_home : join(home, {".codex"}), std::move(home)};
    };
    return {platform::exists, platform::folder_entries, user_folders};
}

std::optional<std::string> _resolve_codex_skill_mention(std::string_view prompt, std::string_view cwd,
                                                        const SkillFolders& folders) {
    const std::vector<Mention> mentions = mentions_in(prompt);
    if (mentions.empty()) return std::nullopt;
    const UserFolders user = folders.user_folders();
    std::optional<std::vector<std::string>> roots;  // looked for once, at the first skill of its own
    for (const Mention& mention : mentions) {
        if (!mention.plugin.empty()) {
            if (plugin_skill_installed(mention, user, folders))
                return std::string(mention.plugin) + ":" + std::string(mention.skill);
            continue;
        }
        if (!roots) roots = skill_roots(cwd, user, folders);
        for (const std::string& root : *roots)
            if (folders.exists(join(root, {mention.skill, "SKILL.md"}))) return std::string(mention.skill);
    }
    return std::nullopt;
}

}  // namespace skillhook
