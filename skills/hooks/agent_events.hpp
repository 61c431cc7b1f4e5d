// Tool calls of the agents that name their tools and members their own way
// (Gemini CLI, Qwen Code, Cline, Copilot CLI, Factory's droid), put into the
// form that the Skill, MCP and Bash rules read, so that those rules decide
// for them too.
//
// Each agent's events are told apart by a member or an event name that only
// that agent sends, or, for droid, by tool names that only it sends. No table
// holds a name those rules already read ("Skill", "Bash", an "mcp__" name),
// so every event they cover keeps its result.
#pragma once

#include "hook_event.hpp"

#include <vector>

namespace skillhook {

// The event as the rules read it, when it is a tool call that one agent's
// table knows: one call, or for a list of command lines (Cline's
// run_commands) one Bash call a line, in their order. Nothing otherwise.
// Never throws: a member of the wrong type is left for the rules to judge, or
// means the event is no such agent's.
std::vector<HookEvent> _described_forms_of_agent_event(const HookEvent& data);

}  // namespace skillhook
