// Arbitrary bytes as the hook event, through decoding and resolution.
//
// Allowed outcomes: no event (not one JSON text); or an event that resolves
// to absent, to a non-empty skill name, or fails with MalformedEvent. Any
// other exception escapes and the fuzzer reports it, as it does a crash, a
// leak or undefined behaviour.
//
// The decoder keeps only a summary of the members resolution reads; a full
// parse into Boost.JSON values is its reference (json_reference.hpp): the
// same texts are accepted, and the summaries agree with the values. The
// decoder reads the text in pieces, as standard input delivers it: every way
// of cutting a small text, and cuts that follow from the text for any other,
// give the same event, and so does every string scanning path this CPU runs.
#include "event_decoder.hpp"
#include "event_resolution.hpp"
#include "fuzz_check.hpp"
#include "hook_event.hpp"
#include "json_reference.hpp"
#include "skill_reads.hpp"
#include "string_scan.hpp"

#include <boost/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace json = boost::json;
using skillhook::JsonKind;
using skillhook::JsonValueSummary;

// Deeper texts than this are left to the crash checks alone: the reference
// parser recurses once a level.
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

// The object in the reference that holds the members kept at `place`, if any.
const json::object* object_at(skillhook::MemberPlace place, const json::object& top) {
    if (place == skillhook::MemberPlace::event) return &top;
    for (const skillhook::KeptObject& object : skillhook::kept_objects) {
        if (object.place != place) continue;
        for (const skillhook::KeptMember& member : skillhook::kept_members) {
            if (member.summary != object.summary) continue;
            const json::object* parent = object_at(member.place, top);
            const json::value* value =
                parent == nullptr ? nullptr : parent->if_contains(json::string_view(member.name.data(), member.name.size()));
            return value == nullptr ? nullptr : value->if_object();
        }
    }
    return nullptr;
}

// A kept list's elements: its first strings, in their order.
void check_elements(const std::vector<JsonValueSummary>& elements, const json::value* value) {
    std::vector<const json::value*> strings;
    if (value != nullptr && value->is_array())
        for (const json::value& element : value->get_array())
            if (element.is_string() && strings.size() < skillhook::kept_elements) strings.push_back(&element);
    FUZZ_CHECK(elements.size() == strings.size());
    for (std::size_t i = 0; i < elements.size() && i < strings.size(); ++i) check_summary(elements[i], strings[i]);
}

void check_against_reference(std::string_view text, const std::optional<skillhook::HookEvent>& event) {
    const skillhook::testing::ReferenceParse reference = skillhook::testing::reference_parse(text, reference_max_depth);
    if (reference.error == json::error::too_deep) return;
    FUZZ_CHECK(event.has_value() == !reference.error);
    if (reference.error) return;

    FUZZ_CHECK(event->kind == kind_of(reference.value));
    const json::object* top = reference.value.if_object();
    if (top == nullptr) return;
    for (const skillhook::KeptMember& member : skillhook::kept_members) {
        const json::object* place = object_at(member.place, *top);
        const json::string_view name(member.name.data(), member.name.size());
        const json::value* value = place == nullptr ? nullptr : place->if_contains(name);
        check_summary((*event).*member.summary, value);
        if (member.string_elements != nullptr) check_elements((*event).*member.string_elements, value);
    }
}

bool same_summaries(const JsonValueSummary& first, const JsonValueSummary& second) {
    return first.kind == second.kind && first.empty == second.empty && first.text == second.text;
}

bool same_events(const std::optional<skillhook::HookEvent>& a, const std::optional<skillhook::HookEvent>& b) {
    if (!a || !b) return a.has_value() == b.has_value();
    if (a->kind != b->kind) return false;
    for (const skillhook::KeptMember& member : skillhook::kept_members) {
        if (!same_summaries((*a).*member.summary, (*b).*member.summary)) return false;
        if (member.string_elements == nullptr) continue;
        const std::vector<JsonValueSummary>& first = (*a).*member.string_elements;
        const std::vector<JsonValueSummary>& second = (*b).*member.string_elements;
        if (!std::equal(first.begin(), first.end(), second.begin(), second.end(), same_summaries)) return false;
    }
    return true;
}

// The text fed in pieces, each ending where `next_cut` says (a position past
// the one before).
std::optional<skillhook::HookEvent> decode_in_pieces(std::string_view text, const skillhook::StringScanPath& scan,
                                                    const std::function<std::size_t(std::size_t)>& next_cut) {
    skillhook::EventDecoder decoder(scan);
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t cut = std::min(next_cut(start), text.size());
        decoder.feed(text.substr(start, cut - start));
        start = cut;
    }
    return decoder.finish();
}

// Texts up to this size are cut at every position; longer ones at places
// that follow from the text, so that the fuzzer varies them as it varies it.
constexpr std::size_t small_text = 256;

void check_pieces(std::string_view text, const std::optional<skillhook::HookEvent>& event) {
    for (const skillhook::StringScanPath& path : skillhook::string_scan_paths()) {
        FUZZ_CHECK(same_events(decode_in_pieces(text, path, [&](std::size_t) { return text.size(); }), event));
        if (text.size() <= small_text) {
            for (std::size_t cut = 1; cut < text.size(); ++cut)
                FUZZ_CHECK(same_events(decode_in_pieces(text, path,
                                                        [&](std::size_t start) { return start < cut ? cut : text.size(); }),
                                       event));
        }
        std::uint32_t state = static_cast<std::uint32_t>(std::hash<std::string_view>{}(text));
        const auto random_cut = [&](std::size_t start) {
            state = state * 1664525u + 1013904223u;
            return start + 1 + (state >> 8) % 97;  // pieces of 1 to 97 bytes, across every block size
        };
        FUZZ_CHECK(same_events(decode_in_pieces(text, path, random_cut), event));
    }
}

// Every scanning path stops where the byte-by-byte one does, from every start.
void check_scan_paths(std::string_view text) {
    const char* const end = text.data() + text.size();
    const skillhook::StringScanPath& bytewise = skillhook::string_scan_paths().front();
    for (std::size_t start = 0; start < std::min(text.size(), small_text); ++start) {
        const char* const begin = text.data() + start;
        for (const skillhook::StringScanPath& path : skillhook::string_scan_paths()) {
            FUZZ_CHECK(path.plain_and_escapes(begin, end) == bytewise.plain_and_escapes(begin, end));
        }
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
    check_pieces(text, event);
    check_scan_paths(text);
    if (event) check_resolution(*event);
    return 0;
}
