// The rules, in the order _resolve_skill_name applies them:
//
// 1. Skill tool (tool_name "Skill"): the name in tool_input, unchanged.
// 2. MCP tool (tool_name "mcp__..."): the last piece through _MCP_TOOL_TO_SKILL.
// 3. Shell (tool_name "Bash", and "PowerShell", Claude Code's shell tool on
//    Windows, read exactly alike): a line that runs tolvex gives the skill of
//    its subcommand; only a line that gives none there is looked at for a
//    skill's SKILL.md read through the shell, which is how Codex CLI loads a
//    skill it picked itself (skill_reads.hpp).
// An event without tool_name is no tool call, and is resolved by its
// hook_event_name, which rules 1 to 3 never read:
// 4. A typed skill (Claude Code's "UserPromptExpansion" of expansion_type
//    "slash_command"): command_name, unchanged, as the Skill tool's name is;
//    but not for command_source "builtin" (/init), "bundled" (skills shipped
//    with Claude Code) or "mcp" (an MCP server's prompt).
// 5. A Codex CLI prompt ("UserPromptSubmit" with the turn_id Codex sends and
//    Claude Code does not): a `$name` or `$plugin:name` mention of a skill
//    installed where Codex finds it for the event's cwd (skill_mentions.hpp);
//    Codex injects such a skill with no tool call, and nothing for any other
//    name, $HOME included. Claude Code's own UserPromptSubmit is thus never
//    counted, so a typed skill is counted once, by its expansion.
// Every use goes through the same duplicate check: a typed skill and the
// model's Skill call for it, or a mention and the model's read of the same
// SKILL.md, are one use within the window.
#include "event_resolution.hpp"

#include "agent_events.hpp"
#include "bash_command.hpp"
#include "skill_reads.hpp"

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

// The shell tools: the command line, "" when missing.
std::optional<std::string> resolve_shell_tool(const HookEvent& data) {
    if (!tool_input_has_members(data) || data.command.kind == JsonKind::missing)
        return _resolve_bash_tolvex_command("");
    if (data.command.kind != JsonKind::string) throw MalformedEvent("the shell tool's command is not a string");
    if (auto skill = _resolve_bash_tolvex_command(data.command.text)) return skill;
    return _resolve_skill_read_command(data.command.text);
}

// The text of a member the event rules read: nothing when missing; any other
// type than a string is malformed.
std::optional<std::string_view> text_member(const JsonValueSummary& member, const char* name) {
    if (member.kind == JsonKind::missing) return std::nullopt;
    if (member.kind != JsonKind::string) throw MalformedEvent(std::string(name) + " is not a string");
    return member.text;
}

std::optional<std::string> resolve_typed_skill(const HookEvent& data) {
    if (text_member(data.expansion_type, "expansion_type") != "slash_command") return std::nullopt;
    const std::optional<std::string_view> source = text_member(data.command_source, "command_source");
    if (source == "builtin" || source == "bundled" || source == "mcp") return std::nullopt;
    const std::optional<std::string_view> name = text_member(data.command_name, "command_name");
    if (!name || name->empty()) return std::nullopt;
    return std::string(*name);
}

std::optional<std::string> resolve_codex_prompt(const HookEvent& data, const SkillFolders& folders) {
    if (data.turn_id.kind == JsonKind::missing) return std::nullopt;
    const std::optional<std::string_view> prompt = text_member(data.prompt, "prompt");
    if (!prompt) return std::nullopt;
    const std::string_view cwd = text_member(data.cwd, "cwd").value_or("");
    return _resolve_codex_skill_mention(*prompt, cwd, folders);
}

// Rules 4 and 5, for an event that is no tool call. Only an event they
// recognise by its name is read further: any other, whatever its
// hook_event_name, keeps the absent result it always had.
std::optional<std::string> resolve_event_without_tool(const HookEvent& data, const SkillFolders& folders) {
    const JsonValueSummary& event_name = data.hook_event_name;
    if (event_name.kind != JsonKind::string) return std::nullopt;
    if (event_name.text == "UserPromptExpansion") return resolve_typed_skill(data);
    if (event_name.text == "UserPromptSubmit") return resolve_codex_prompt(data, folders);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> _resolve_skill_name(const HookEvent& data, const SkillFolders& folders) {
    if (data.kind != JsonKind::object) throw MalformedEvent("the hook event is not a JSON object");
    // The other agents name their tools their own way: a tool call of theirs
    // is put into the form the rules below read, and read by them (the form
    // holds no other agent's names, so this happens once). Of Cline's list of
    // command lines, the first line that gives a skill counts: one event, one report.
    const std::vector<HookEvent> described = _described_forms_of_agent_event(data);
    for (const HookEvent& call : described)
        if (std::optional<std::string> skill = _resolve_skill_name(call, folders)) return skill;
    if (!described.empty()) return std::nullopt;
    const JsonValueSummary& tool_name = data.tool_name;
    if (tool_name.kind == JsonKind::missing) return resolve_event_without_tool(data, folders);
    if (tool_name.kind != JsonKind::string) throw MalformedEvent("tool_name is not a string");

    if (tool_name.text == "Skill") return resolve_skill_tool(data);
    if (tool_name.text.starts_with(_MCP_TOOL_PREFIX)) return resolve_mcp_tool(tool_name.text);
    if (tool_name.text == "Bash" || tool_name.text == "PowerShell") return resolve_shell_tool(data);
    return std::nullopt;
}

std::optional<std::string> _resolve_skill_name(const HookEvent& data) {
    return _resolve_skill_name(data, installed_skill_folders());
}

}  // namespace skillhook
