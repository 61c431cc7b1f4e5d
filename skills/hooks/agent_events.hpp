// Tool calls of the agents that name their tools and members their own way
// (Gemini CLI, Qwen Code, Copilot CLI), put into the form that the Skill, MCP
// and Bash rules read, so that those rules decide for them too.
//
// Each agent's events are told apart by a member or an event name that only
// that agent sends. No table holds a name those rules already read ("Skill",
// "Bash", an "mcp__" name), so every event they cover keeps its result.
#pragma once

#include "hook_event.hpp"

#include <optional>

namespace skillhook {

// The event as the rules read it, when it is a tool call that one agent's
// table knows; nothing otherwise. Never throws: a member of the wrong type is
// left for the rules to judge, or means the event is no such agent's.
std::optional<HookEvent> _described_form_of_agent_event(const HookEvent& data);

}  // namespace skillhook
