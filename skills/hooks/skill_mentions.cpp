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
    for (const std::string_view name : names) platform::append_path(path, name);
    return path;
}

// Whether the folder, with the names appended, exists. They are appended in
// place and cut off again: a long folder is never copied.
bool holds(std::string& folder, std::initializer_list<std::string_view> names, const SkillFolders& folders) {
    const std::size_t length = folder.size();
    for (const std::string_view name : names) platform::append_path(folder, name);
    const bool found = folders.exists(folder);
    folder.resize(length);
    return found;
}

// Makes the folder its parent, in place; false when it has none (a root, or a
// name alone).
bool go_up(std::string& folder) {
    const std::string_view parent = platform::parent_directory_within(folder);
    if (parent.size() == folder.size() || parent == ".") return false;
    folder.resize(parent.size());
    return true;
}

// How many folders, from the working folder up, Codex reads a project's
// skills from: up to the first that holds .git; the working folder alone
// when none does.
std::size_t project_depth(std::string_view cwd, const SkillFolders& folders) {
    std::string folder(cwd);
    for (std::size_t depth = 1;; ++depth) {
        if (holds(folder, {".git"}, folders)) return depth;
        if (!go_up(folder)) return 1;
    }
}

// A project folder's skill folder that exists: `<kind>/skills` in the
// folder named by the first `folder_length` bytes of the working folder.
struct ProjectSkillFolder {
    std::size_t folder_length;
    std::string_view kind;
};

// The project's skill folders that exist, deepest first. Only they can hold a
// skill, so a mention is looked for in each of them and not in every folder
// above the working folder, however deep that is.
std::vector<ProjectSkillFolder> project_skill_folders(std::string_view cwd, const SkillFolders& folders) {
    std::vector<ProjectSkillFolder> found;
    if (cwd.empty()) return found;
    const std::size_t depth = project_depth(cwd, folders);
    std::string folder(cwd);
    for (std::size_t level = 1;; ++level) {
        for (const std::string_view kind : {".agents", ".codex"})
            if (holds(folder, {kind, "skills"}, folders)) found.push_back({folder.size(), kind});
        if (level == depth || !go_up(folder)) return found;
    }
}

bool project_skill_installed(std::string_view cwd, const std::vector<ProjectSkillFolder>& skill_folders,
                             std::string_view skill, const SkillFolders& folders) {
    std::string folder(cwd);
    for (const ProjectSkillFolder& skill_folder : skill_folders) {
        folder.resize(skill_folder.folder_length);  // deepest first, so only ever shorter
        if (holds(folder, {skill_folder.kind, "skills", skill, "SKILL.md"}, folders)) return true;
    }
    return false;
}

bool user_skill_installed(std::string_view skill, const UserFolders& user, const SkillFolders& folders) {
    return folders.exists(join(user.codex_home, {"skills", skill, "SKILL.md"})) ||
           folders.exists(join(user.home, {".agents", "skills", skill, "SKILL.md"}));
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
    std::optional<std::vector<ProjectSkillFolder>> project;  // looked for once, at the first skill of its own
    for (const Mention& mention : mentions) {
        if (!mention.plugin.empty()) {
            if (plugin_skill_installed(mention, user, folders))
                return std::string(mention.plugin) + ":" + std::string(mention.skill);
            continue;
        }
        if (!project) project = project_skill_folders(cwd, folders);
        if (project_skill_installed(cwd, *project, mention.skill, folders) ||
            user_skill_installed(mention.skill, user, folders))
            return std::string(mention.skill);
    }
    return std::nullopt;
}

}  // namespace skillhook
