// The hook event as resolution sees it: the kind of the decoded value and the
// members resolution reads (kept_members below). Everything else in the event
// is validated by the decoder and then forgotten, so a huge tool response
// costs no memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skillhook {

enum class JsonKind : unsigned char { missing, null, boolean, number, string, array, object };

// What resolution needs to know of one JSON value.
struct JsonValueSummary {
    JsonKind kind = JsonKind::missing;
    // null, false, a number equal to zero, "", [] and {} are empty.
    bool empty = true;
    // The decoded text when kind is string. A lone UTF-16 surrogate escape,
    // which has no UTF-8 form, is decoded as NUL.
    std::string text;
};

struct HookEvent {
    JsonKind kind = JsonKind::object;  // kind of the top-level value
    JsonValueSummary tool_name;
    JsonValueSummary tool_input;
    // What the rules for events without a tool call read: the event's name,
    // a typed skill's expansion (Claude Code), and a prompt with its
    // working folder and turn (Codex CLI).
    JsonValueSummary hook_event_name;
    JsonValueSummary expansion_type;
    JsonValueSummary command_name;
    JsonValueSummary command_source;
    JsonValueSummary prompt;
    JsonValueSummary cwd;
    JsonValueSummary turn_id;
    // Members that tell another agent's events apart (agent_events.cpp).
    JsonValueSummary tool_call_id;
    JsonValueSummary tool_result;
    // Members of tool_input; missing unless tool_input is an object.
    JsonValueSummary command;
    JsonValueSummary skill;
    JsonValueSummary name;
    // Cline's tool call, which it puts under tool_result and marks with hookName:
    // the tool's name and input, and the input's skill and commands. When
    // commands is an array, its first kept_elements strings, in their order.
    JsonValueSummary hook_name;
    JsonValueSummary result_name;
    JsonValueSummary result_input;
    JsonValueSummary result_skill;
    JsonValueSummary result_commands;
    std::vector<JsonValueSummary> result_command_lines;
};

// Where a kept member stands: directly in the event object, or directly in
// one of the objects kept_objects lists.
enum class MemberPlace : unsigned char { event, tool_input, tool_result, result_input };

struct KeptMember {
    MemberPlace place;
    std::string_view name;
    JsonValueSummary HookEvent::*summary;
    // Set for an array whose string elements are kept too (the first
    // kept_elements of them); other elements are validated and forgotten.
    std::vector<JsonValueSummary> HookEvent::*string_elements = nullptr;
};

// Bounds the memory a list of strings may take beyond the strings themselves.
inline constexpr std::size_t kept_elements = 16;

// The one list of what decoding keeps; every rule of resolution reads only these.
inline constexpr KeptMember kept_members[] = {
    {MemberPlace::event, "tool_name", &HookEvent::tool_name},
    {MemberPlace::event, "tool_input", &HookEvent::tool_input},
    {MemberPlace::event, "hook_event_name", &HookEvent::hook_event_name},
    {MemberPlace::event, "expansion_type", &HookEvent::expansion_type},
    {MemberPlace::event, "command_name", &HookEvent::command_name},
    {MemberPlace::event, "command_source", &HookEvent::command_source},
    {MemberPlace::event, "prompt", &HookEvent::prompt},
    {MemberPlace::event, "cwd", &HookEvent::cwd},
    {MemberPlace::event, "turn_id", &HookEvent::turn_id},
    {MemberPlace::event, "tool_call_id", &HookEvent::tool_call_id},
    {MemberPlace::event, "tool_result", &HookEvent::tool_result},
    {MemberPlace::tool_input, "command", &HookEvent::command},
    {MemberPlace::tool_input, "skill", &HookEvent::skill},
    {MemberPlace::tool_input, "name", &HookEvent::name},
    {MemberPlace::event, "hookName", &HookEvent::hook_name},
    {MemberPlace::tool_result, "name", &HookEvent::result_name},
    {MemberPlace::tool_result, "input", &HookEvent::result_input},
    {MemberPlace::result_input, "skill", &HookEvent::result_skill},
    {MemberPlace::result_input, "commands", &HookEvent::result_commands, &HookEvent::result_command_lines},
};

// The objects whose own members are kept: each is the value of a kept member.
struct KeptObject {
    MemberPlace place;
    JsonValueSummary HookEvent::*summary;
};

inline constexpr KeptObject kept_objects[] = {
    {MemberPlace::tool_input, &HookEvent::tool_input},
    {MemberPlace::tool_result, &HookEvent::tool_result},
    {MemberPlace::result_input, &HookEvent::result_input},
};

// Decodes one RFC 8259 text. Returns nothing when the text is not exactly one
// JSON value (invalid UTF-8, a byte-order mark and trailing text included).
// Where a member name repeats, the later member counts.
std::optional<HookEvent> decode_event(std::string_view text);

}  // namespace skillhook
