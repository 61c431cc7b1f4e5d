// Recognition of a skill's instructions being read through the shell: how
// Codex CLI loads a skill it picked itself, since it has no Skill tool.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace skillhook {

// The skill whose `skills/<name>/SKILL.md` a command line reads with one of
// the reading programs (cat, sed -n, head, tail, nl, less, more, bat, type,
// Get-Content, gc), or nothing. A path inside a plugin
// (`plugins/cache/<marketplace>/<plugin>/<version>/skills/<name>/SKILL.md`)
// gives `<plugin>:<name>`, as the agents name a plugin's skills. Both slashes
// separate; quotes around a word are dropped. The line is cut into commands at
// the words `|`, `||`, `&&`, `;` and `&` and into words at whitespace;
// nothing else of shell syntax is interpreted.
std::optional<std::string> _resolve_skill_read_command(std::string_view command);

}  // namespace skillhook
