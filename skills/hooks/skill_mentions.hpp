// Codex CLI's `$name` mentions: a prompt that names an installed skill makes
// Codex inject that skill's instructions itself, with no tool call, so the
// prompt is the only trace of the use.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skillhook {

// The user's folders that hold skills.
struct UserFolders {
    std::string codex_home;  // $CODEX_HOME, or ~/.codex when that is unset or empty
    std::string home;
};

// What the mention rule asks of the file system, passed in so that the rule
// can be tested without one. None is asked unless a prompt mentions a name.
struct SkillFolders {
    // An entry at the path, following symbolic links.
    std::function<bool(const std::string& path)> exists;
    // The names in a folder (platform::folder_entries).
    std::function<std::vector<std::string>(const std::string& folder)> entries;
    std::function<UserFolders()> user_folders;
};

// This system's: the platform layer's file system, HOME and CODEX_HOME.
SkillFolders installed_skill_folders();

// The first skill mentioned in the prompt that Codex would find for this
// working folder, or nothing. A mention is `$<name>` or `$<plugin>:<name>`,
// each part of ASCII letters, digits, "-" and "_"; at most 16 are tried.
// `<name>` is found as `<name>/SKILL.md` in the folders Codex reads:
// `.agents/skills` and `.codex/skills` in the working folder and in each folder
// above it up to the repository's top (the first holding `.git`; the working
// folder alone outside a repository), `$CODEX_HOME/skills` and
// `~/.agents/skills`. A plugin's is found in Codex's plugin cache, as
// `$CODEX_HOME/plugins/cache/<marketplace>/<plugin>/<version>/skills/<name>/SKILL.md`.
std::optional<std::string> _resolve_codex_skill_mention(std::string_view prompt, std::string_view cwd,
                                                        const SkillFolders& folders);

}  // namespace skillhook
