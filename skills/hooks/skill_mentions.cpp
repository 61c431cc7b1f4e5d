#include "skill_mentions.hpp"

#include "platform.hpp"

#include <algorithm>
#include <cstddef>

namespace skillhook {
namespace {

constexpr std::size_t most_names_tried = 16;

bool is_name_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// The distinct names mentioned, in order, up to most_names_tried. A name
// followed by ":" is a plugin's ("$tolvex:tvx-auth") and is left out.
std::vector<std::string_view> mentioned_names(std::string_view prompt) {
    std::vector<std::string_view> names;
    for (std::size_t dollar = prompt.find('$'); dollar != std::string_view::npos && names.size() < most_names_tried;
         dollar = prompt.find('$', dollar + 1)) {
        std::size_t end = dollar + 1;
        while (end < prompt.size() && is_name_character(prompt[end])) ++end;
        const std::string_view name = prompt.substr(dollar + 1, end - dollar - 1);
        const bool plugin_form = end < prompt.size() && prompt[end] == ':';
        if (!name.empty() && !plugin_form && std::ranges::find(names, name) == names.end()) names.push_back(name);
    }
    return names;
}

// The working folder, and the folders above it up to the first that holds
// .git; the working folder alone when none does.
std::vector<std::string> project_folders(const std::string& cwd, const SkillFolders& folders) {
    std::vector<std::string> chain = {cwd};
    for (;;) {
        if (folders.exists(platform::join_path(chain.back(), ".git"))) return chain;
        std::string parent = platform::parent_directory(chain.back());
        if (parent == chain.back() || parent == ".") return {cwd};
        chain.push_back(std::move(parent));
    }
}

// Every folder that may hold a skill's folder, in the order Codex lists them.
std::vector<std::string> skill_roots(std::string_view cwd, const SkillFolders& folders) {
    std::vector<std::string> roots;
    if (!cwd.empty()) {
        for (const std::string& folder : project_folders(std::string(cwd), folders))
            for (const char* hidden : {".agents", ".codex"})
                roots.push_back(platform::join_path(platform::join_path(folder, hidden), "skills"));
    }
    for (std::string& root : folders.user_roots()) roots.push_back(std::move(root));
    return roots;
}

}  // namespace

SkillFolders installed_skill_folders() {
    const auto user_roots = [] {
        const std::string home = platform::home_directory();
        const std::optional<std::string> codex_home = platform::environment_variable("CODEX_HOME");
        const std::string codex_folder =
            codex_home && !codex_home->empty() ? *codex_home : platform::join_path(home, ".codex");
        return std::vector<std::string>{platform::join_path(codex_folder, "skills"),
                                        platform::join_path(platform::join_path(home, ".agents"), "skills")};
    };
    return {platform::exists, user_roots};
}

std::optional<std::string> _resolve_codex_skill_mention(std::string_view prompt, std::string_view cwd,
                                                        const SkillFolders& folders) {
    const std::vector<std::string_view> names = mentioned_names(prompt);
    if (names.empty()) return std::nullopt;
    const std::vector<std::string> roots = skill_roots(cwd, folders);
    for (const std::string_view name : names)
        for (const std::string& root : roots)
            if (folders.exists(platform::join_path(platform::join_path(root, name), "SKILL.md")))
                return std::string(name);
    return std::nullopt;
}

}  // namespace skillhook
