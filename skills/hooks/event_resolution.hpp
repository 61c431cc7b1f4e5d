// Event resolution: which skill, if any, a tool call used.
//
// The names with a leading underscore are fixed names of this hook's
// functions and tables. They live inside this project's namespace, and the
// upper-case ones are kept there although C++ reserves such names.
#pragma once

#include "hook_event.hpp"
#include "skill_mentions.hpp"
#include "tool_skill.hpp"

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace skillhook {

inline constexpr std::string_view _MCP_TOOL_PREFIX = "mcp__";
extern const std::array<ToolSkill, 38> _MCP_TOOL_TO_SKILL;

// The event does not have the shape resolution needs; the run ends with status 1.
class MalformedEvent : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The skill the event's tool call, typed command or prompt used, or nothing.
// Throws MalformedEvent. Only a Codex prompt that mentions a name asks the
// file system, through `folders`; the one-argument form asks this system's.
std::optional<std::string> _resolve_skill_name(const HookEvent& data, const SkillFolders& folders);
std::optional<std::string> _resolve_skill_name(const HookEvent& data);

}  // namespace skillhook
