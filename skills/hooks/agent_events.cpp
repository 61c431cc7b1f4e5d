#include "agent_events.hpp"

#include "event_resolution.hpp"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace skillhook {
namespace {

// The rule that reads an agent's tool: the Skill tool's, the Bash tool's, or
// the Bash tool's for each line of a list (Cline's commands).
enum class Rule : unsigned char { skill_tool, bash_tool, bash_tool_per_line };

struct AgentTool {
    std::string_view name;
    Rule rule;
    // Where the agent puts what the rule reads: the skill's name or the command line(s).
    JsonValueSummary HookEvent::*argument;
    // For a list of lines: the strings it holds.
    std::vector<JsonValueSummary> HookEvent::*lines = nullptr;
};

// How an agent names the tool of an MCP server: <prefix><server><separator><tool>.
struct McpNaming {
    std::string_view prefix;
    std::string_view separator;
    // Where the agent itself ends the server's name: at the first separator, or at the last.
    bool server_ends_at_first;
};

struct AgentEvents {
    // A member that only this agent sends, and the text it must have ("": any
    // value). Null: none, the names in the tables below are the sign.
    JsonValueSummary HookEvent::*marker;
    std::string_view marker_text;
    // Where the agent names the tool and puts its input.
    JsonValueSummary HookEvent::*tool_name;
    JsonValueSummary HookEvent::*tool_input;
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

// Cline: events of its own, named in hookName ("tool_result" after a tool
// call), with the call in tool_result (name, input). run_commands runs a
// list of command lines; MCP tools are <server>__<tool>.
constexpr AgentTool cline_tools[] = {
    {"skills", Rule::skill_tool, &HookEvent::result_skill},
    {"run_commands", Rule::bash_tool_per_line, &HookEvent::result_commands, &HookEvent::result_command_lines},
};
constexpr McpNaming cline_mcp = {"", "__", false};

// Copilot CLI, registered with Claude Code's event names: tool_result where
// Claude Code sends tool_response. Its shell tool arrives as "Bash" already.
// MCP tools are <server>-<tool>; the table's tool names hold no "-".
constexpr AgentTool copilot_tools[] = {
    {"skill", Rule::skill_tool, &HookEvent::skill},
};
constexpr McpNaming copilot_mcp = {"", "-", false};

// Factory's droid: Claude Code's events and members, and its Skill tool,
// but its shell tool is "Execute" and its MCP tools are <server>___<tool>
// (three underscores). Nothing else tells its events apart, so these names,
// which neither Claude Code nor Codex CLI sends, are the sign; it comes last.
constexpr AgentTool droid_tools[] = {
    {"Execute", Rule::bash_tool, &HookEvent::command},
};
constexpr McpNaming droid_mcp = {"", "___", false};

constexpr AgentEvents agents[] = {
    {&HookEvent::hook_event_name, "AfterTool", &HookEvent::tool_name, &HookEvent::tool_input, gemini_tools,
     &gemini_mcp},
    {&HookEvent::tool_call_id, "", &HookEvent::tool_name, &HookEvent::tool_input, qwen_tools, nullptr},
    {&HookEvent::hook_name, "tool_result", &HookEvent::result_name, &HookEvent::result_input, cline_tools,
     &cline_mcp},
    {&HookEvent::tool_result, "", &HookEvent::tool_name, &HookEvent::tool_input, copilot_tools, &copilot_mcp},
    {nullptr, "", &HookEvent::tool_name, &HookEvent::tool_input, droid_tools, &droid_mcp},
};

bool sent_by(const HookEvent& data, const AgentEvents& agent) {
    if (agent.marker == nullptr) return true;
    const JsonValueSummary& marker = data.*agent.marker;
    if (marker.kind == JsonKind::missing) return false;
    return agent.marker_text.empty() || (marker.kind == JsonKind::string && marker.text == agent.marker_text);
}

JsonValueSummary string_value(std::string text) {
    const bool empty = text.empty();
    return {JsonKind::string, empty, std::move(text)};
}

// A tool of the Skill rule or of the Bash rule, one call.
HookEvent described_tool_call(const HookEvent& data, const AgentEvents& agent, const AgentTool& tool) {
    HookEvent described;
    described.tool_input = data.*agent.tool_input;
    if (tool.rule == Rule::skill_tool) {
        described.tool_name = string_value("Skill");
        described.skill = data.*tool.argument;
    } else {
        described.tool_name = string_value("Bash");
        described.command = data.*tool.argument;
    }
    return described;
}

// A Bash call of one line of a list.
HookEvent described_command_line(const JsonValueSummary& line) {
    HookEvent described;
    described.tool_name = string_value("Bash");
    described.tool_input = {JsonKind::object, false, {}};
    described.command = line;
    return described;
}

// One Bash call a command line: the lines of a list (its first kept_elements
// strings; an element of another type, such as the program-and-arguments
// object Cline also runs, is no command line), or one line given as a string.
// Anything else holds no line: one call without a command, which gives nothing.
std::vector<HookEvent> described_command_lines(const HookEvent& data, const AgentTool& tool) {
    const JsonValueSummary& commands = data.*tool.argument;
    std::vector<HookEvent> described;
    if (commands.kind == JsonKind::string) described.push_back(described_command_line(commands));
    if (commands.kind == JsonKind::array)
        for (const JsonValueSummary& line : data.*tool.lines) described.push_back(described_command_line(line));
    if (described.empty()) described.push_back(described_command_line({}));
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

std::vector<HookEvent> described_calls(const HookEvent& data, const AgentEvents& agent) {
    const JsonValueSummary& tool_name = data.*agent.tool_name;
    if (tool_name.kind != JsonKind::string) return {};
    for (const AgentTool& tool : agent.tools) {
        if (tool.name != tool_name.text) continue;
        if (tool.rule == Rule::bash_tool_per_line) return described_command_lines(data, tool);
        return {described_tool_call(data, agent, tool)};
    }
    if (agent.mcp == nullptr) return {};
    std::optional<HookEvent> mcp_call = described_mcp_call(tool_name.text, *agent.mcp);
    if (!mcp_call) return {};
    return {std::move(*mcp_call)};
}

}  // namespace

std::vector<HookEvent> _described_forms_of_agent_event(const HookEvent& data) {
    if (data.kind != JsonKind::object) return {};
    for (const AgentEvents& agent : agents)
        if (sent_by(data, agent)) return described_calls(data, agent);
    return {};
}

}  // namespace skillhook
