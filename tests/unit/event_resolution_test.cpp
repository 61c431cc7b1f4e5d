// Resolution of Skill, MCP and Bash events, in Claude Code's and Codex CLI's
// form and in the forms of the other agents (agent_events.hpp), and the events
// it refuses.
#include "resolution_outcome.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skillhook::testing {
namespace {

struct ResolutionCase {
    std::string event;
    std::string_view expected;
};

void expect_outcomes(const std::vector<ResolutionCase>& cases) {
    for (const auto& [event, expected] : cases) EXPECT_EQ(resolution_outcome(event), expected) << event;
}

std::string skill_with_command(const std::string& command_json) {
    return R"({"tool_name":"Skill","tool_input":{"command":)" + command_json + "}}";
}

// A shell tool's call; the command line is JSON text.
std::string shell(const std::string& tool, const std::string& command_json_text) {
    return R"({"tool_name":")" + tool + R"(","tool_input":{"command":")" + command_json_text + R"("}})";
}

// Cline's event after a tool call, as Cline 3.0.65 sends it (its postToolUse
// beside): the tool's name and its input, JSON text.
std::string cline(const std::string& tool, const std::string& input_json) {
    return R"({"taskId":"conv_1","hookName":"tool_result","iteration":1,"tool_result":{"id":"call_0","name":")" + tool +
           R"(","input":)" + input_json + R"(,"output":"x","durationMs":7},"postToolUse":{"toolName":")" + tool +
           R"(","parameters":{},"result":"x","success":true}})";
}

std::string repeated(const std::string& text, std::size_t times) {
    std::string all;
    for (std::size_t i = 0; i < times; ++i) all += text;
    return all;
}

// droid's PostToolUse, as droid 0.225.2 sends it.
std::string droid(const std::string& tool, const std::string& input_json) {
    return R"({"session_id":"s","cwd":"/p","permission_mode":"auto-low","hook_event_name":"PostToolUse","tool_name":")" +
           tool + R"(","tool_input":)" + input_json + R"(,"tool_response":"x"})";
}

// A typed slash command's expansion: command_name and what follows it.
std::string typed(const std::string& name_and_more) {
    return R"({"hook_event_name":"UserPromptExpansion","expansion_type":"slash_command","command_name":)" +
           name_and_more + "}";
}

TEST(SkillRule, TakesTheNameUnchanged) {
    expect_outcomes({
        {skill_with_command(R"("tvx-auth")"), "tvx-auth"},
        {skill_with_command(R"("derezi-devere")"), "derezi-devere"},
        {skill_with_command(R"(" tvx-auth ")"), " tvx-auth "},
        {skill_with_command(R"("Any Name/../x")"), "Any Name/../x"},
        // Gemini CLI, Qwen Code, Copilot CLI.
        {R"({"hook_event_name":"AfterTool","tool_name":"activate_skill","tool_input":{"name":"tvx-auth"}})",
         "tvx-auth"},
        {R"({"hook_event_name":"PostToolUse","tool_call_id":"call_0","tool_name":"skill",)"
         R"("tool_input":{"skill":"tvx-auth"}})",
         "tvx-auth"},
        {R"({"tool_name":"skill","tool_input":{"skill":"tolvex:tvx-auth"},"tool_result":{"result_type":"success"}})",
         "tolvex:tvx-auth"},
        // Cline, droid.
        {cline("skills", R"({"skill":"tvx-auth","args":"x"})"), "tvx-auth"},
        {droid("Skill", R"({"skill":"tvx-auth"})"), "tvx-auth"},
        // A skill the user typed (Claude Code) is named as the Skill tool names it.
        {typed(R"("tvx-auth","command_source":"projectSettings")"), "tvx-auth"},
        {typed(R"("tolvex:tvx-auth","command_source":"plugin")"), "tolvex:tvx-auth"},
        {typed(R"(" Any Name ","command_source":"userSettings")"), " Any Name "},
        {typed(R"("tvx-auth")"), "tvx-auth"},
        {typed(R"("init","command_source":"builtin")"), absent},
        {typed(R"("simplify","command_source":"bundled")"), absent},
        {typed(R"("mcp__tolvex__login","command_source":"mcp")"), absent},
        {typed(R"("")"), absent},
        {R"({"hook_event_name":"UserPromptExpansion","expansion_type":"mcp_prompt","command_name":"mcp__tolvex__login"})", absent},
        {R"({"hook_event_name":"UserPromptExpansion","command_name":"tvx-auth"})", absent},
        {R"({"hook_event_name":"UserPromptSubmit","expansion_type":"slash_command","command_name":"tvx-auth"})", absent},
        // Claude Code's own prompt event (no turn_id) is never read: the expansion counts the typed skill.
        {R"({"hook_event_name":"UserPromptSubmit","prompt":"/tvx-auth $tvx-auth","cwd":"/"})", absent},
        // The rules of the tools decide wherever there is a tool_name.
        {R"({"tool_name":"Read","hook_event_name":"UserPromptExpansion","expansion_type":"slash_command","command_name":"x"})", absent},
    });
}

TEST(SkillRule, EmptyValuesGiveAbsent) {
    for (const char* empty : {R"("")", "null", "false", "0", "0.0", "-0.0", "0e5", "-0E-7", "0e400", "[]", "{}"})
        EXPECT_EQ(resolution_outcome(skill_with_command(empty)), absent) << empty;
    expect_outcomes({
        {R"({"tool_name":"Skill"})", absent},
        {R"({"tool_name":"Skill","tool_input":null})", absent},
        {R"({"tool_name":"Skill","tool_input":{}})", absent},
        {R"({"tool_name":"Skill","tool_input":""})", absent},
        {R"({"tool_name":"Skill","tool_input":0})", absent},
        {R"({"tool_name":"Skill","tool_input":[]})", absent},
        {R"({"tool_name":"Skill","tool_input":{"args":"x"}})", absent},
    });
}

TEST(SkillRule, NonEmptyValuesOfAnotherTypeAreMalformed) {
    for (const char* value : {"true", "1", "-0.5", "1e-400", "[0]", R"({"a":1})"})
        EXPECT_EQ(resolution_outcome(skill_with_command(value)), malformed) << value;
    expect_outcomes({
        {R"({"tool_name":"Skill","tool_input":"tvx-auth"})", malformed},
        {R"({"tool_name":"Skill","tool_input":[1]})", malformed},
        {R"({"tool_name":"Skill","tool_input":true})", malformed},
    });
}

TEST(SkillRule, ReadsTheSkillMemberWhenCommandIsMissing) {
    expect_outcomes({
        {R"({"tool_name":"Skill","tool_input":{"skill":"tvx-feedback","args":"--x"}})", "tvx-feedback"},
        {R"({"tool_name":"Skill","tool_input":{"skill":""}})", absent},
        {R"({"tool_name":"Skill","tool_input":{"skill":0}})", absent},
        {R"({"tool_name":"Skill","tool_input":{"skill":7}})", malformed},
        // command wins whenever it is present, even when empty.
        {R"({"tool_name":"Skill","tool_input":{"skill":"b","command":"a"}})", "a"},
        {R"({"tool_name":"Skill","tool_input":{"command":"","skill":"b"}})", absent},
        {R"({"tool_name":"Skill","tool_input":{"command":null,"skill":7}})", absent},
    });
}

TEST(SkillRule, ToolNameMustMatchExactly) {
    expect_outcomes({
        {R"({"tool_name":"skill","tool_input":{"command":"x"}})", absent},
        {R"({"tool_name":"Skill ","tool_input":{"command":"x"}})", absent},
        {R"({"tool_name":"SKILL","tool_input":{"command":"x"}})", absent},
        // Another agent's skill tool counts only in an event that agent alone sends.
        {R"({"hook_event_name":"PostToolUse","tool_name":"skill","tool_input":{"skill":"x"}})", absent},
        {R"({"hook_event_name":"PostToolUseFailure","tool_name":"skill","tool_input":{"skill":"x"},"error":"e"})",
         absent},
        {R"({"hook_event_name":"AfterTool","tool_name":"skill","tool_input":{"skill":"x"}})", absent},
        {R"({"hook_event_name":"BeforeTool","tool_name":"activate_skill","tool_input":{"name":"x"}})", absent},
        {R"({"hook_event_name":7,"tool_name":"activate_skill","tool_input":{"name":"x"}})", absent},
        {R"({"tool_name":"activate_skill","tool_input":{"name":"x"}})", absent},
        // Each reads its own member, as the Skill rule reads its own.
        {R"({"hook_event_name":"AfterTool","tool_name":"activate_skill","tool_input":{"skill":"x"}})", absent},
        {R"({"hook_event_name":"AfterTool","tool_name":"activate_skill","tool_input":{"command":"x","name":""}})",
         absent},
        {R"({"tool_call_id":"c","tool_name":"skill","tool_input":{"command":"x","skill":"y"}})", "y"},
        {R"({"tool_call_id":"c","tool_name":"skill","tool_input":{"skill":7}})", malformed},
        {cline("skills", R"({"skill":7})"), malformed},
        {cline("skills", R"({"name":"x"})"), absent},
        {cline("Skill", R"({"skill":"x"})"), absent},
        // Cline's event before the call, and its skill tool without Cline's hookName.
        {R"({"hookName":"tool_call","tool_call":{"name":"skills","input":{"skill":"x"}}})", absent},
        {R"({"hookName":"x","tool_result":{"name":"skills","input":{"skill":"x"}}})", absent},
        {R"({"tool_result":{"name":"skills","input":{"skill":"x"}}})", absent},
        {R"({"tool_call_id":"c","tool_name":"skill","tool_input":"x"})", malformed},
        {R"({"hook_event_name":"AfterTool","tool_name":"activate_skill","tool_input":{"name":[1]}})", malformed},
        // The rule's own name in another agent's event keeps its result.
        {R"({"hook_event_name":"AfterTool","tool_name":"Skill","tool_input":{"name":"x","skill":"y"}})", "y"},
        {R"({"tool_call_id":"c","tool_name":"Skill","tool_input":{"command":"x","skill":"y"}})", "x"},
    });
}

TEST(McpRule, EveryToolOfTheTableResolvesUnderAnyServer) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> skills = {
        {"tvx-dataset-query",
         {"query_spec_must_read", "query_metadata", "query_catalog", "query_intent_match", "query_simple",
          "query_build", "query_run", "query_build_and_run", "query_chart", "query_chart_doc", "query_preferences"}},
        {"tvx-auth",
         {"auth_mcp_login", "auth_login_start", "auth_login_poll", "auth_get_token", "auth_check_token",
          "auth_is_authenticated", "auth_token_refresh", "auth_system_list", "auth_system_add", "auth_system_remove",
          "auth_system_sync", "auth_build_request_auth", "auth_logout", "auth_doctor"}},
        {"tvx-feedback", {"feedback_submit", "feedback_detail"}},
        {"tvx-skills",
         {"skills_list", "skills_status", "skills_install", "skills_upgrade", "skills_marketplace_list",
          "skills_marketplace_info", "skills_record_usage"}},
        {"derezi-devere",
         {"derezi_devere_scenarios", "derezi_devere_run", "derezi_devere_job_status", "derezi_devere_export"}},
    };
    std::size_t rows = 0;
    for (const auto& [skill, tools] : skills) {
        for (const std::string& tool : tools) {
            ++rows;
            for (const char* prefix : {"mcp__tolvex__", "mcp__other_server__", "mcp__", "mcp__a__b__"})
                EXPECT_EQ(resolution_outcome(R"({"tool_name":")" + std::string(prefix) + tool + R"("})"), skill)
                    << prefix << tool;
        }
    }
    EXPECT_EQ(rows, _MCP_TOOL_TO_SKILL.size());
}

TEST(McpRule, OnlyExactTableNamesResolve) {
    expect_outcomes({
        {R"({"tool_name":"mcp__"})", absent},
        {R"({"tool_name":"mcp__tolvex__"})", absent},
        {R"({"tool_name":"mcp__tolvex___query_run"})", absent},
        {R"({"tool_name":"mcp__tolvex__QUERY_RUN"})", absent},
        {R"({"tool_name":"mcp__tolvex__query_runx"})", absent},
        {R"({"tool_name":"mcp__tolvex__query"})", absent},
        {R"({"tool_name":"MCP__tolvex__query_run"})", absent},
        {R"({"tool_name":"mcp_tolvex__query_run"})", absent},
        // Non-overlapping search from the left: "____" is two separators.
        {R"({"tool_name":"mcp__x____query_run"})", "tvx-dataset-query"},
        {R"({"tool_name":"mcp__x_____query_run"})", absent},
    });
}

TEST(McpRule, OtherAgentsNamesGoThroughTheTable) {
    expect_outcomes({
        // Gemini CLI: mcp_<server>_<tool>, the server's name ending at the first "_", as Gemini reads it.
        {R"({"hook_event_name":"AfterTool","tool_name":"mcp_tolvex_query_run","mcp_context":{"server_name":"tolvex"}})",
         "tvx-dataset-query"},
        {R"({"hook_event_name":"AfterTool","tool_name":"mcp_x_auth_login_start"})", "tvx-auth"},
        {R"({"hook_event_name":"AfterTool","tool_name":"mcp_my_server_query_run"})", absent},
        {R"({"hook_event_name":"AfterTool","tool_name":"mcp_tolvex_"})", absent},
        {R"({"hook_event_name":"AfterTool","tool_name":"mcp_query_run"})", absent},
        {R"({"hook_event_name":"AfterTool","tool_name":"tolvex_query_run"})", absent},
        {R"({"hook_event_name":"AfterTool","tool_name":"mcp__tolvex__query_run"})", "tvx-dataset-query"},
        {R"({"hook_event_name":"AfterTool","tool_name":"mcp__query_run"})", "tvx-dataset-query"},
        {R"({"tool_name":"mcp_tolvex_query_run"})", absent},
        // Qwen Code names them as Claude Code does.
        {R"({"tool_call_id":"c","tool_name":"mcp__tolvex__query_run","tool_input":{"sql":"select 1"}})",
         "tvx-dataset-query"},
        // Copilot CLI: <server>-<tool>; the table's names hold no "-".
        {R"({"tool_name":"tolvex-query_run","tool_result":{}})", "tvx-dataset-query"},
        {R"({"tool_name":"my-server-feedback_submit","tool_result":{}})", "tvx-feedback"},
        {R"({"tool_name":"-query_run","tool_result":{}})", absent},
        {R"({"tool_name":"tolvex-","tool_result":{}})", absent},
        {R"({"tool_name":"tolvex-query-run","tool_result":{}})", absent},
        {R"({"tool_name":"tolvex-query_run","tool_response":{}})", absent},
        {R"({"hook_event_name":"PostToolUseFailure","tool_name":"tolvex-query_run","error":"e"})", absent},
        // Cline: <server>__<tool>; droid: <server>___<tool>, its own (rows above: the MCP rule's absent).
        {cline("tolvex__query_run", R"({"sql":"select 1"})"), "tvx-dataset-query"},
        {cline("my__srv__auth_doctor", "{}"), "tvx-auth"},
        {cline("tolvex__", "{}"), absent},
        {cline("query_run", "{}"), absent},
        {droid("tolvex___query_run", R"({"sql":"select 1"})"), "tvx-dataset-query"},
        {droid("my_server___feedback_submit", "{}"), "tvx-feedback"},
        {droid("___query_run", "{}"), absent},
        {droid("tolvex___", "{}"), absent},
        // A name in the MCP rule's form is that rule's alone.
        {R"({"tool_name":"mcp__srv__x-query_run","tool_result":{}})", absent},
    });
}

TEST(McpRule, ToolInputIsNeverRead) {
    expect_outcomes({
        {R"({"tool_name":"mcp__tolvex__auth_doctor","tool_input":7})", "tvx-auth"},
        {R"({"tool_name":"mcp__tolvex__auth_doctor","tool_input":{"command":[1]}})", "tvx-auth"},
    });
}

TEST(BashRule, HandsStringsToRecognitionAndRefusesOtherTypes) {
    expect_outcomes({
        {R"({"tool_name":"Bash"})", absent},
        {R"({"tool_name":"Bash","tool_input":{}})", absent},
        {R"({"tool_name":"Bash","tool_input":null})", absent},
        {R"({"tool_name":"Bash","tool_input":{"command":"git status"}})", absent},
        {R"({"tool_name":"Bash","tool_input":{"command":null}})", malformed},
        {R"({"tool_name":"Bash","tool_input":{"command":false}})", malformed},
        {R"({"tool_name":"Bash","tool_input":{"command":0}})", malformed},
        {R"({"tool_name":"Bash","tool_input":{"command":["tolvex"]}})", malformed},
        {R"({"tool_name":"Bash","tool_input":"tolvex auth"})", malformed},
        // The skill member is the Skill tool's alone.
        {R"({"tool_name":"Bash","tool_input":{"skill":7}})", absent},
        // PowerShell, Claude Code's shell on Windows without Git Bash, is read as Bash is.
        {R"({"tool_name":"PowerShell","tool_input":{"command":"tolvex auth login"}})", "tvx-auth"},
        {R"({"tool_name":"PowerShell","tool_input":{"command":"& 'C:\\Program Files\\tolvex\\tolvex.exe' query run"}})", "tvx-dataset-query"},
        {R"({"tool_name":"PowerShell","tool_input":{"command":"Get-ChildItem"}})", absent},
        {R"({"tool_name":"PowerShell"})", absent},
        {R"({"tool_name":"PowerShell","tool_input":{"command":null}})", malformed},
        {R"({"tool_name":"powershell","tool_input":{"command":"tolvex auth"}})", absent},
        // A line that runs no tolvex subcommand of the table may read a skill's
        // instructions, as Codex CLI loads a skill (JSON text of the line).
        {shell("Bash", R"(cat /home/u/ws/.agents/skills/tvx-auth/SKILL.md)"), "tvx-auth"},
        {shell("Bash", R"(sed -n '1,200p' /home/u/ws/.agents/skills/tvx-auth/SKILL.md)"), "tvx-auth"},
        {shell("Bash", R"(sed -n 1,200p \"/home/u/My Skills/skills/tvx-auth/SKILL.md\")"), "tvx-auth"},
        {shell("Bash", R"(head -n 80 .codex/skills/tvx-feedback/SKILL.md)"), "tvx-feedback"},
        {shell("Bash", R"(tail -5 skills/tvx-auth/SKILL.md)"), "tvx-auth"},
        {shell("Bash", R"(nl -ba ~/.codex/skills/derezi-devere/SKILL.md | sed -n 1,120p)"), "derezi-devere"},
        {shell("Bash", R"(cd /ws && cat skills/tvx-auth/SKILL.md)"), "tvx-auth"},
        {shell("Bash", R"(ls /ws; cat /ws/skills/tvx-auth/SKILL.md)"), "tvx-auth"},
        // Escapes all through the first 64-byte blocks of a kept command, which are decoded at once.
        {shell("Bash", R"(cat \"/ws/My Skills/skills/tvx-auth/SKILL.md\"\ncat > a.sh <<'EOF'\necho \"1\" \\\n\t)"
                       R"(echo \"2\"\necho \"3\" \\\n\techo \"4\"\necho \"5\" \\\n\techo \"6\"\nEOF)"),
         "tvx-auth"},
        {shell("Bash", R"('cat /ws/skills/tvx-auth/SKILL.md')"), "tvx-auth"},
        {shell("Bash", R"(/bin/cat -- /ws/skills/Any Name/SKILL.md)"), absent},
        {shell("Bash", R"(cat /u/.codex/plugins/cache/local/tolvex/1.0.0/skills/tvx-auth/SKILL.md)"), "tolvex:tvx-auth"},
        {shell("PowerShell", R"(Get-Content -Raw 'C:\\Users\\u\\.agents\\skills\\tvx-auth\\SKILL.md')"), "tvx-auth"},
        {shell("PowerShell", R"(gc C:/ws/skills/tvx-auth/SKILL.md)"), "tvx-auth"},
        {shell("PowerShell", R"(CAT.EXE C:\\ws\\skills\\tvx-auth\\SKILL.md)"), "tvx-auth"},
        {shell("Bash", R"(tolvex feedback submit && cat /ws/skills/tvx-feedback/SKILL.md)"), "tvx-feedback"},
        {shell("Bash", R"(tolvex auth login && cat /ws/skills/tvx-feedback/SKILL.md)"), "tvx-auth"},
        {shell("Bash", R"(ls /ws/.agents/skills/tvx-auth/SKILL.md)"), absent},
        {shell("Bash", R"(git add .agents/skills/tvx-auth/SKILL.md)"), absent},
        {shell("Bash", R"(vim .agents/skills/tvx-auth/SKILL.md)"), absent},
        {shell("Bash", R"(grep -n name .agents/skills/tvx-auth/SKILL.md)"), absent},
        {shell("Bash", R"(sed -i s/a/b/ .agents/skills/tvx-auth/SKILL.md)"), absent},
        {shell("Bash", R"(sed -n -i 1p .agents/skills/tvx-auth/SKILL.md)"), absent},
        {shell("Bash", R"(sed 1,5d .agents/skills/tvx-auth/SKILL.md)"), absent},
        {shell("Bash", R"(ls /ws/skills/tvx-auth/SKILL.md; cat notes)"), absent},
        {shell("Bash", R"(cat .agents/skills/tvx-auth/README.md)"), absent},
        {shell("Bash", R"(cat .agents/skills/tvx-auth/SKILL.md.bak)"), absent},
        {shell("Bash", R"(cat .agents/skills/SKILL.md)"), absent},
        {shell("Bash", R"(cat .agents/skills/../SKILL.md)"), absent},
        {shell("Bash", R"(cat .agents/tvx-auth/SKILL.md)"), absent},
        // Codex's own skills, shipped with it, as Claude Code's bundled ones are not counted.
        {shell("Bash", R"(cat ~/.codex/skills/.system/imagegen/SKILL.md)"), absent},
    });
}

TEST(BashRule, ReadsOtherAgentsShellToolsAlike) {
    expect_outcomes({
        {R"({"hook_event_name":"AfterTool","tool_name":"run_shell_command",)"
         R"("tool_input":{"command":"tolvex auth token status"}})",
         "tvx-auth"},
        {R"({"hook_event_name":"AfterTool","tool_name":"run_shell_command","tool_input":{"command":"ls /"}})", absent},
        {R"({"hook_event_name":"AfterTool","tool_name":"run_shell_command","tool_input":{"command":7}})", malformed},
        {R"({"hook_event_name":"AfterTool","tool_name":"run_shell_command","tool_input":{"name":"tvx-auth"}})", absent},
        {R"({"hook_event_name":"PostToolUseFailure","tool_call_id":"call_0","tool_name":"run_shell_command",)"
         R"("tool_input":{"command":"tolvex query metadata --dataset x"},"error":"Exit Code: 2"})",
         "tvx-dataset-query"},
        {R"({"tool_name":"run_shell_command","tool_input":{"command":"tolvex auth token status"}})", absent},
        // Copilot CLI sends its shell tool as Bash, which the rule reads as it is.
        {R"({"hook_event_name":"PostToolUse","tool_name":"Bash","tool_input":{"command":"tolvex auth login"},)"
         R"("tool_result":{"result_type":"success"}})",
         "tvx-auth"},
        {R"({"tool_name":"bash","tool_input":{"command":"tolvex auth login"},"tool_result":{}})", absent},
        // droid's shell tool, Execute; it sends no event for a command that fails.
        {droid("Execute", R"({"command":"tolvex auth token status || echo not signed in"})"), "tvx-auth"},
        {droid("Execute", R"({"command":"cat .factory/skills/tvx-auth/SKILL.md"})"), "tvx-auth"},
        {droid("Execute", R"({"command":7})"), malformed},
        // Cline runs a list of lines: the first line that gives a skill counts.
        {cline("run_commands", R"({"commands":["tolvex query metadata --dataset x"]})"), "tvx-dataset-query"},
        {cline("run_commands", R"({"commands":["ls /","tolvex auth login","tolvex query run"]})"), "tvx-auth"},
        {cline("run_commands", R"({"commands":["ls /","cat /ws/.cline/skills/tvx-feedback/SKILL.md"]})"),
         "tvx-feedback"},
        {cline("run_commands", R"({"commands":"tolvex skills list"})"), "tvx-skills"},
        {cline("run_commands", R"({"commands":["ls /"]})"), absent},
        {cline("run_commands", R"({"commands":[]})"), absent},
        {cline("run_commands", R"({})"), absent},
        {cline("run_commands", R"("tolvex auth login")"), absent},
        // Elements that are no line: Cline's {command, args} runs without a shell.
        {cline("run_commands", R"({"commands":[7,{"command":"tolvex","args":["auth"]},["tolvex auth"],"tolvex auth"]})"),
         "tvx-auth"},
        {cline("run_commands", R"({"x":{"commands":["tolvex auth"]}})"), absent},
        {cline("run_commands", R"({"commands":["tolvex auth"]},"input":{})"), absent},
        // Only the first 16 lines are kept.
        {cline("run_commands", R"({"commands":[")" + repeated("ls\",\"", 15) + R"(tolvex auth"]})"), "tvx-auth"},
        {cline("run_commands", R"({"commands":[")" + repeated("ls\",\"", 16) + R"(tolvex auth"]})"), absent},
        {R"({"hookName":"tool_result","tool_result":{"name":"run_commands"}})", absent},
        {R"({"tool_name":"run_commands","tool_input":{"commands":["tolvex auth"]}})", absent},
    });
}

TEST(Resolution, EventsThatAreNotObjectsAreMalformed) {
    for (const char* text : {"[]", R"(["tool_name"])", R"("Skill")", "0", "true", "null"})
        EXPECT_EQ(resolution_outcome(text), malformed) << text;
}

TEST(Resolution, ToolNameOfAnotherTypeIsMalformed) {
    for (const char* value : {"null", "0", "1", "true", "false", "[]", R"(["Skill"])", "{}"}) {
        EXPECT_EQ(resolution_outcome(std::string(R"({"tool_name":)") + value + "}"), malformed) << value;
        // So is any member that the rules of events without a tool call read,
        // once the event's name is theirs.
        EXPECT_EQ(resolution_outcome(std::string(R"({"hook_event_name":)") + value + "}"), absent) << value;
        EXPECT_EQ(resolution_outcome(typed(value)), malformed) << value;
        EXPECT_EQ(resolution_outcome(typed(std::string(R"("x","command_source":)") + value)), malformed) << value;
        EXPECT_EQ(resolution_outcome(
                      std::string(R"({"hook_event_name":"UserPromptSubmit","turn_id":"t","prompt":)") + value + "}"),
                  malformed)
            << value;
    }
}

TEST(Resolution, OtherToolsGiveAbsentWithoutReadingTheirInput) {
    expect_outcomes({
        {"{}", absent},
        {R"({"tool_name":""})", absent},
        {R"({"tool_name":"Read","tool_input":7})", absent},
        {R"({"tool_name":"Edit","tool_input":{"command":[1]}})", absent},
        {R"({"hook_event_name":"AfterTool","tool_name":"read_file","tool_input":{"file_path":"a"}})", absent},
        {R"({"tool_call_id":"c","tool_name":"read_file","tool_input":7})", absent},
        {R"({"tool_name":"Read","tool_input":{"path":"a"},"tool_result":{}})", absent},
    });
}

}  // namespace
}  // namespace skillhook::testing
