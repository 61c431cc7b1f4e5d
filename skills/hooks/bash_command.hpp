// Recognition of the product's command-line tool in a shell command line.
#pragma once

#include "tool_skill.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace skillhook {

// The tool's subcommands that count as a skill use; keys are lower case.
extern const std::array<ToolSkill, 4> _BASH_TOLVEX_TO_SKILL;

// The skill a command line that runs the tool belongs to, or nothing. The line
// is plain text cut into words at whitespace; no shell syntax is interpreted.
std::optional<std::string> _resolve_bash_tolvex_command(std::string_view command);

}  // namespace skillhook
