#include "event_resolution.hpp"

#include "agent_events.hpp"
#include "bash_command.hpp"

#include <algorithm>

namespace skillhook {

const std::array<ToolSkill, 38> _MCP_TOOL_TO_SKILL = {{
    {"query_spec_must_read", "tvx-dataset-query"},
    {"query_metadata", "tvx-dataset-query"},
    {"query_catalog", "tvx-dataset-query"},
    {"query_intent_match", "tvx-dataset-query"},
    {"query_simple", "tvx-dataset-query"},
    {"query_build", "tvx-dataset-query"},
    {"query_run", "tvx-dataset-query"},
    {"query_build_and_run", "tvx-dataset-query"},
    {"query_chart", "tvx-dataset-query"},
    {"query_chart_doc", "tvx-dataset-query"},
    {"query_preferences", "tvx-dataset-query"},
    {"auth_mcp_login", "tvx-auth"},
    {"auth_login_start", "tvx-auth"},
    {"auth_login_poll", "tvx-auth"},
    {"auth_get_token", "tvx-auth"},
    {"auth_check_token", "tvx-auth"},
    {"auth_is_authenticated", "tvx-auth"},
    {"auth_token_refresh", "tvx-auth"},
    {"auth_system_list", "tvx-auth"},
    {"auth_system_add", "tvx-auth"},
    {"auth_system_remove", "tvx-auth"},
    {"auth_system_sync", "tvx-auth"},
    {"auth_build_request_auth", "tvx-auth"},
    {"auth_logout", "tvx-auth"},
    {"auth_doctor", "tvx-auth"},
    {"feedback_submit", "tvx-feedback"},
    {"feedback_detail", "tvx-feedback"},
    {"skills_list", "tvx-skills"},
    {"skills_status", "tvx-skills"},
    {"skills_install", "tvx-skills"},
    {"skills_upgrade", "tvx-skills"},
    {"skills_marketplace_list", "tvx-skills"},
    {"skills_marketplace_info", "tvx-skills"},
    {"skills_record_usage", "tvx-skills"},
    {"derezi_devere_scenarios", "derezi-devere"},
    {"derezi_devere_run", "derezi-devere"},
    {"derezi_devere_job_status", "derezi-devere"},
    {"derezi_devere_export", "derezi-devere"},
}};

namespace {

constexpr std::string_view mcp_separator = "__";

// tool_input as the Skill and Bash rules read it: a missing or empty value is
// an empty object, any other non-object is malformed.
bool tool_input_has_members(const HookEvent& data) {
    const JsonValueSummary& input = data.tool_input;
    if (input.kind == JsonKind::missing || input.empty) return false;
    if (input.kind != JsonKind::object) throw MalformedEvent("tool_input is not a JSON object");
    return true;
}

// The Skill tool. Current agents send the name as "skill", earlier ones as "command";
// "command" wins when both are there.
std::optional<std::string> resolve_skill_tool(const HookEvent& data) {
    if (!tool_input_has_members(data)) return std::nullopt;
    const bool has_command = data.command.kind != JsonKind::missing;
    const JsonValueSummary& name = has_command ? data.command : data.skill;
    if (name.kind == JsonKind::missing || name.empty) return std::nullopt;
    if (name.kind != JsonKind::string)
        throw MalformedEvent(has_command ? "the Skill tool's command is not a string"
                                         : "the Skill tool's skill is not a string");
    return name.text;
}

// MCP tools: the piece after the last "__", found left to right without overlap.
std::optional<std::string> resolve_mcp_tool(std::string_view tool_name) {
    std::size_t piece_start = 0;
    for (std::size_t found = tool_name.find(mcp_separator); found != std::string_view::npos;
         found = tool_name.find(mcp_separator, piece_start))
        piece_start = found + mcp_separator.size();
    const std::string_view mcp_tool = tool_name.substr(piece_start);
    const auto row = std::find_if(_MCP_TOOL_TO_SKILL.begin(), _MCP_TOOL_TO_SKILL.end(),
                                  [&](const ToolSkill& entry) { return entry.tool == mcp_tool; });
    if (row == _MCP_TOOL_TO_SKILL.end()) return std::nullopt;
    return std::string(row->skill);
}

// The Bash tool: the command line, "" when missing.
std::optional<std::string> resolve_bash_tool(const HookEvent& data) {
    if (!tool_input_has_members(data) || data.command.kind == JsonKind::missing)
        return _resolve_bash_tolvex_command("");
    if (data.command.kind != JsonKind::string) throw MalformedEvent("the Bash tool's command is not a string");
    return _resolve_bash_tolvex_command(data.command.text);
}

}  // namespace

std::optional<std::string> _resolve_skill_name(const HookEvent& data) {
    if (data.kind != JsonKind::object) throw MalformedEvent("the hook event is not a JSON object");
    // Gemini CLI, Qwen Code and Copilot CLI name their tools their own way: a
    // tool call of theirs is put into the form the rules below read, and read
    // by them (the form holds no other agent's names, so this happens once).
    if (const std::optional<HookEvent> described = _described_form_of_agent_event(data))
        return _resolve_skill_name(*described);
    const JsonValueSummary& tool_name = data.tool_name;
    if (tool_name.kind == JsonKind::missing) return std::nullopt;
    if (tool_name.kind != JsonKind::string) throw MalformedEvent("tool_name is not a string");

    if (tool_name.text == "Skill") return resolve_skill_tool(data);
    if (tool_name.text.starts_with(_MCP_TOOL_PREFIX)) return resolve_mcp_tool(tool_name.text);
    if (tool_name.text == "Bash") return resolve_bash_tool(data);
    return std::nullopt;
}

}  // namespace skillhook
