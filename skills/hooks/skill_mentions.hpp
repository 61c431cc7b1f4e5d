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

// What the mention rule asks of the file system, passed in so that the rule
// can be tested without one. Both are asked only for a prompt that mentions
// a name.
struct SkillFolders {
    // An entry at the path, following symbolic links.
    std::function<bool(const std::string& path)> exists;
    // The user's own skill folders: $CODEX_HOME/skills (~/.codex/skills when
    // CODEX_HOME is unset or empty) and ~/.agents/skills.
    std::function<std::vector<std::string>()> user_roots;
};

// This system's: platform::exists, and the folders under the user's home.
SkillFolders installed_skill_folders();

// The first name mentioned as `$<name>` in the prompt (the name: ASCII
// letters, digits, "-" and "_") for which a `<name>/SKILL.md` exists in one of
// the folders Codex reads for this working folder: `.agents/skills` and
// `.codex/skills` in the working folder and in each folder above it up to the
// repository's top (the first holding `.git`; the working folder alone
// outside a repository), then the user's roots. At most 16 names are tried.
// A plugin's skill (`$plugin:name`) is never found this way.
std::optional<std::string> _resolve_codex_skill_mention(std::string_view prompt, std::string_view cwd,
                                                        const SkillFolders& folders);

}  // namespace skillhook
