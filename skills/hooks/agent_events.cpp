#include "agent_events.hpp"

#include "event_resolution.hpp"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace skillhook {
namespace {

// The rule that reads an agent's tool: the Skill tool's or the Bash tool's.
enum class Rule : unsigned char { skill_tool, bash_tool };

struct AgentTool {
    std::string_view name;
    Rule rule;
    // Where the agent puts what the rule reads: the skill's name or the command line.
    JsonValueSummary HookEvent::*argument;
};

// How an agent names the tool of an MCP server: <prefix><server><separator><tool>.
struct McpNaming {
    std::string_view prefix;
    std::string_view separator;
    // Where the agent itself ends the server's name: at the first separator, or at the last.
    bool server_ends_at_first;
};

struct AgentEvents {
    // A member that only this agent sends, and the text it must have ("": any value).
    JsonValueSummary HookEvent::*marker;
    std::string_view marker_text;
    std::span<const AgentTool> tools;
    // Null when the agent already names MCP tools mcp__<server>__<tool>.
    const McpNaming* mcp;
};

// Gemini CLI: its own event name, AfterTool. It names MCP tools
// mcp_<server>_<tool> and reads the server's name up to the first "_".
constexpr AgentTool gemini_tools[] = {
    {"activate_skill", Rule::skill_tool, &HookEvent::name},
    {"run_shell_command", Rule::bash_tool, &HookEvent::command},
};
constexpr McpNaming gemini_mcp = {"mcp_", "_", true};

// Qwen Code: Claude Code's events and MCP names, with the model's call id in
// tool_call_id beside tool_use_id.
constexpr AgentTool qwen_tools[] = {
    {"skill", Rule::skill_tool, &HookEvent::skill},
    {"run_shell_command", Rule::bash_tool, &HookEvent::command},
};

// Copilot CLI, registered with Claude Code's event names: tool_result where
// Claude Code sends tool_response. Its shell tool arrives as "Bash" already.
// MCP tools are <server>-<tool>; the table's tool names hold no "-".
constexpr AgentTool copilot_tools[] = {
    {"skill", Rule::skill_tool, &HookEvent::skill},
};
constexpr McpNaming copilot_mcp = {"", "-", false};

constexpr AgentEvents agents[] = {
    {&HookEvent::hook_event_name, "AfterTool", gemini_tools, &gemini_mcp},
    {&HookEvent::tool_call_id, "", qwen_tools, nullptr},
    {&HookEvent::tool_result, "", copilot_tools, &copilot_mcp},
};

bool sent_by(const HookEvent& data, const AgentEvents& agent) {
    const JsonValueSummary& marker = data.*agent.marker;
    if (marker.kind == JsonKind::missing) return false;
    return agent.marker_text.empty() || (marker.kind == JsonKind::string && marker.text == agent.marker_text);
}

JsonValueSummary string_value(std::string text) {
    const bool empty = text.empty();
    return {JsonKind::string, empty, std::move(text)};
}

HookEvent described_tool_call(const HookEvent& data, const AgentTool& tool) {
    HookEvent described;
    described.tool_input = data.tool_input;
    switch (tool.rule) {
        case Rule::skill_tool:
            described.tool_name = string_value("Skill");
            described.skill = data.*tool.argument;
            break;
        case Rule::bash_tool:
            described.tool_name = string_value("Bash");
            described.command = data.*tool.argument;
            break;
    }
    return described;
}

// The MCP rule's name for an agent's MCP tool. A name already in that form is
// the MCP rule's alone.
std::optional<HookEvent> described_mcp_call(std::string_view tool_name, const McpNaming& naming) {
    if (tool_name.starts_with(_MCP_TOOL_PREFIX) || !tool_name.starts_with(naming.prefix)) return std::nullopt;
    const std::string_view server_and_tool = tool_name.substr(naming.prefix.size());
    const std::size_t split = naming.server_ends_at_first ? server_and_tool.find(naming.separator)
                                                          : server_and_tool.rfind(naming.separator);
    if (split == std::string_view::npos || split == 0 || split + naming.separator.size() == server_and_tool.size())
        return std::nullopt;
    const std::string_view server = server_and_tool.substr(0, split);
    const std::string_view tool = server_and_tool.substr(split + naming.separator.size());
    HookEvent described;
    described.tool_name = string_value(std::string(_MCP_TOOL_PREFIX).append(server).append("__").append(tool));
    return described;
}

}  // namespace

std::optional<HookEvent> _described_form_of_agent_event(const HookEvent& data) {
    if (data.kind != JsonKind::object || data.tool_name.kind != JsonKind::string) return std::nullopt;
    const std::string_view tool_name = data.tool_name.text;
    for (const AgentEvents& agent : agents) {
        if (!sent_by(data, agent)) continue;
        for (const AgentTool& tool : agent.tools)
            if (tool.name == tool_name) return described_tool_call(data, tool);
        return agent.mcp == nullptr ? std::nullopt : described_mcp_call(tool_name, *agent.mcp);
    }
    return std::nullopt;
}

}  // namespace skillhook
