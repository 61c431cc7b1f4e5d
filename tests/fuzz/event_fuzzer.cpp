// Arbitrary bytes as the hook event, through decoding and resolution.
//
// Allowed outcomes: no event (not one JSON text); or an event that resolves
// to absent, to a non-empty skill name, or fails with MalformedEvent. Any
// other exception escapes and the fuzzer reports it, as it does a crash, a
// leak or undefined behaviour.
//
// The decoder keeps only a summary of the members resolution reads; a full
// parse into Boost.JSON values is its reference: the same texts are accepted,
// and the summaries agree with the values. Where Boost.JSON refuses a
// grammatical text, the reference is the parse of the copy it accepts.
#include "event_resolution.hpp"
#include "fuzz_check.hpp"
#include "hook_event.hpp"
#include "parser_refusals.hpp"
#include "skill_reads.hpp"

#include <boost/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace json = boost::json;
using skillhook::JsonKind;
using skillhook::JsonValueSummary;

// Deeper texts than this are left to the crash checks alone: the reference
// parser would need the decoder's large stack.
constexpr std::size_t reference_max_depth = 10'000;

JsonKind kind_of(const json::value& value) {
    switch (value.kind()) {
    case json::kind::null: return JsonKind::null;
    case json::kind::bool_: return JsonKind::boolean;
    case json::kind::int64:
    case json::kind::uint64:
    case json::kind::double_: return JsonKind::number;
    case json::kind::string: return JsonKind::string;
    case json::kind::array: return JsonKind::array;
    case json::kind::object: return JsonKind::object;
    }
    std::abort();
}

void check_summary(const JsonValueSummary& summary, const json::value* value) {
    if (value == nullptr) {
        FUZZ_CHECK(summary.kind == JsonKind::missing);
        return;
    }
    FUZZ_CHECK(summary.kind == kind_of(*value));
    switch (value->kind()) {
    case json::kind::null: FUZZ_CHECK(summary.empty); break;
    case json::kind::bool_: FUZZ_CHECK(summary.empty == !value->get_bool()); break;
    case json::kind::int64: FUZZ_CHECK(summary.empty == (value->get_int64() == 0)); break;
    case json::kind::uint64: FUZZ_CHECK(summary.empty == (value->get_uint64() == 0)); break;
    // A double of zero may come from a non-zero text too small to hold (1e-400),
    // which is not empty, and the reference gives NaN for a zero with a huge
    // exponent (0e400), which is; only any other double settles the question.
    case json::kind::double_: {
        const double number = value->get_double();
        FUZZ_CHECK(number == 0 || std::isnan(number) || !summary.empty);
        break;
    }
    case json::kind::string:
        FUZZ_CHECK(summary.empty == value->get_string().empty());
        FUZZ_CHECK(summary.text == std::string_view(value->get_string()));
        break;
    case json::kind::array: FUZZ_CHECK(summary.empty == value->get_array().empty()); break;
    case json::kind::object: FUZZ_CHECK(summary.empty == value->get_object().empty()); break;
    }
}

void check_against_reference(std::string_view text, const std::optional<skillhook::HookEvent>& event) {
    json::parse_options options;
    options.max_depth = reference_max_depth;
    json::error_code ec;
    json::value reference = json::parse(text, ec, {}, options);
    if (ec == json::error::illegal_leading_surrogate || ec == json::error::illegal_trailing_surrogate ||
        ec == json::error::exponent_overflow || ec == json::error::syntax) {
        if (const std::optional<std::string> accepted = skillhook::without_parser_refusals(text)) {
            FUZZ_CHECK(accepted->size() == text.size());
            reference = json::parse(*accepted, ec, {}, options);
        }
    }
    if (ec == json::error::too_deep) return;
    FUZZ_CHECK(event.has_value() == !ec);
    if (ec) return;

    FUZZ_CHECK(event->kind == kind_of(reference));
    const json::object* top = reference.if_object();
    if (top == nullptr) return;
    const json::value* tool_input = top->if_contains("tool_input");
    const json::object* input_members = tool_input == nullptr ? nullptr : tool_input->if_object();
    for (const skillhook::KeptMember& member : skillhook::kept_members) {
        const json::object* members = member.place == skillhook::MemberPlace::event ? top : input_members;
        check_summary((*event).*member.summary, members == nullptr ? nullptr : members->if_contains(member.name));
    }
}

bool is_table_skill(const std::string& name) {
    return std::any_of(skillhook::_MCP_TOOL_TO_SKILL.begin(), skillhook::_MCP_TOOL_TO_SKILL.end(),
                       [&](const skillhook::ToolSkill& row) { return row.skill == name; });
}

bool is_mention_name(const std::string& name) {
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == ':';
    });
}

// A file system where every path exists and every folder holds one entry, so
// that any mention is found.
const skillhook::SkillFolders everything_installed = {
    [](const std::string&) { return true; },
    [](const std::string&) { return std::vector<std::string>{"x"}; },
    [] { return skillhook::UserFolders{"codex-home", "home"}; },
};

void check_resolution(const skillhook::HookEvent& event) {
    try {
        const std::optional<std::string> name = skillhook::_resolve_skill_name(event, everything_installed);
        FUZZ_CHECK(name == skillhook::_resolve_skill_name(event, everything_installed));
        if (!name) return;
        FUZZ_CHECK(!name->empty());
        const std::string& tool = event.tool_name.text;
        if (tool.starts_with(skillhook::_MCP_TOOL_PREFIX)) FUZZ_CHECK(is_table_skill(*name));
        if (tool == "Bash" || tool == "PowerShell")
            FUZZ_CHECK(*name == "tvx-auth" || *name == "tvx-dataset-query" || *name == "tvx-skills" ||
                       name == skillhook::_resolve_skill_read_command(event.command.text));
        if (event.tool_name.kind == JsonKind::missing && event.hook_event_name.text == "UserPromptSubmit")
            FUZZ_CHECK(is_mention_name(*name));
    } catch (const skillhook::MalformedEvent&) {
        // An allowed outcome: the event has the wrong shape.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<skillhook::HookEvent> event = skillhook::decode_event(text);
    check_against_reference(text, event);
    if (event) check_resolution(*event);
    return 0;
}
