// Decodes the hook event with Boost.JSON's event-driven parser: the whole text
// is validated, but only the members resolution reads are kept.
#include "hook_event.hpp"

#include "parser_refusals.hpp"
#include "platform.hpp"

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/src.hpp>  // compiled in here, once, so the hook needs no Boost library at run time

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string>

namespace skillhook {
namespace {

namespace json = boost::json;

// The parser recurses once per nesting level, taking about 64 bytes of stack
// a level in an optimised build and about 270 under the sanitizers. The main
// thread goes this deep: some 16 KiB, or 70 KiB sanitized, which even a
// 256 KiB stack holds beside the 128 KiB that Linux may give the arguments and
// environment. A deeper event is decoded again on a thread with a stack sized
// for the larger limit. RFC 8259 lets a decoder bound the depth.
constexpr std::size_t main_stack_max_depth = 256;
constexpr std::size_t deep_max_depth = 1'000'000;
constexpr std::size_t deep_stack_bytes = std::size_t{1} << 30;  // reserved, touched only as deep as used

// Where the value that starts next belongs: which kept member of the event,
// or of its tool_input, it is the value of (null: none). Only those two
// levels are followed.
class MemberCursor {
public:
    // The member whose value starts next.
    const KeptMember* member_of_next_value() const {
        switch (level()) {
            case Level::event: return top_member_;
            case Level::tool_input: return input_member_;
            case Level::elsewhere: break;
        }
        return nullptr;
    }
    // Whether the keys read now may name a kept member.
    bool reads_keys() const { return level() != Level::elsewhere; }

    // A container opens as the value of member_of_next_value().
    void open_container(JsonKind kind) {
        const KeptMember* member = member_of_next_value();
        if (depth_ == 0) top_is_object_ = kind == JsonKind::object;
        // Only an object has members; an array's elements are never members of tool_input.
        if (depth_ == 1)
            in_tool_input_ = member != nullptr && member->summary == &HookEvent::tool_input && kind == JsonKind::object;
        ++depth_;
    }
    void close_container() {
        --depth_;
        if (depth_ == 1) in_tool_input_ = false;
    }
    std::size_t depth() const { return depth_; }

    // The whole key of the member whose value comes next.
    // `complete` is false for a key too long to be any kept member's name.
    void name_next_member(std::string_view key, bool complete) {
        if (level() == Level::event) top_member_ = complete ? kept_member(MemberPlace::event, key) : nullptr;
        if (level() == Level::tool_input) input_member_ = complete ? kept_member(MemberPlace::tool_input, key) : nullptr;
    }

private:
    enum class Level : unsigned char { event, tool_input, elsewhere };

    static const KeptMember* kept_member(MemberPlace place, std::string_view name) {
        for (const KeptMember& member : kept_members)
            if (member.place == place && member.name == name) return &member;
        return nullptr;
    }

    // Directly in the event object, directly in its tool_input object, or elsewhere.
    Level level() const {
        if (depth_ == 1 && top_is_object_) return Level::event;
        if (depth_ == 2 && in_tool_input_) return Level::tool_input;
        return Level::elsewhere;
    }

    std::size_t depth_ = 0;
    bool top_is_object_ = false;
    bool in_tool_input_ = false;
    const KeptMember* top_member_ = nullptr;
    const KeptMember* input_member_ = nullptr;
};

// The handler of Boost's parser: follows the members with a MemberCursor and
// keeps a summary of each value that resolution reads.
class EventCollector {
public:
    static constexpr std::size_t max_object_size = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t max_array_size = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t max_key_size = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t max_string_size = std::numeric_limits<std::size_t>::max();

    // The summaries go straight into the caller's event: moving a HookEvent
    // out would cost a small event's decoding a sixth more.
    explicit EventCollector(HookEvent& event) : event_(event) {}

    bool on_document_begin(json::error_code&) { return true; }
    bool on_document_end(json::error_code&) { return true; }

    bool on_object_begin(json::error_code&) {
        open_container(JsonKind::object);
        return true;
    }
    bool on_object_end(std::size_t size, json::error_code&) {
        close_container(size);
        return true;
    }
    bool on_array_begin(json::error_code&) {
        open_container(JsonKind::array);
        return true;
    }
    bool on_array_end(std::size_t size, json::error_code&) {
        close_container(size);
        return true;
    }

    bool on_key_part(json::string_view part, std::size_t, json::error_code&) {
        if (cursor_.reads_keys()) append_key(part);
        return true;
    }
    bool on_key(json::string_view part, std::size_t, json::error_code&) {
        if (!cursor_.reads_keys()) return true;
        append_key(part);
        cursor_.name_next_member(key_, !key_too_long_);
        key_.clear();
        key_too_long_ = false;
        return true;
    }

    bool on_string_part(json::string_view part, std::size_t, json::error_code&) {
        open_scalar(JsonKind::string);
        if (scalar_.target != nullptr) scalar_.target->text.append(part.data(), part.size());
        return true;
    }
    bool on_string(json::string_view part, std::size_t size, json::error_code& ec) {
        on_string_part(part, size, ec);
        close_scalar(size != 0);
        return true;
    }

    bool on_number_part(json::string_view part, json::error_code&) {
        open_scalar(JsonKind::number);
        if (scalar_.target != nullptr) scan_number(part);
        return true;
    }
    bool on_int64(std::int64_t, json::string_view part, json::error_code& ec) { return end_number(part, ec); }
    bool on_uint64(std::uint64_t, json::string_view part, json::error_code& ec) { return end_number(part, ec); }
    bool on_double(double, json::string_view part, json::error_code& ec) { return end_number(part, ec); }

    bool on_bool(bool value, json::error_code&) {
        if (JsonValueSummary* target = begin_value(JsonKind::boolean)) target->empty = !value;
        return true;
    }
    bool on_null(json::error_code&) {
        begin_value(JsonKind::null);
        return true;
    }

    // Comments are refused by the parse options; these are never called.
    bool on_comment_part(json::string_view, json::error_code&) { return true; }
    bool on_comment(json::string_view, json::error_code&) { return true; }

private:
    // Longer keys are never kept whole.
    static constexpr std::size_t longest_member_name = [] {
        std::size_t longest = 0;
        for (const KeptMember& member : kept_members) longest = std::max(longest, member.name.size());
        return longest;
    }();

    // A string or a number that has begun and not yet ended; the two never overlap.
    struct OpenScalar {
        bool open = false;
        JsonValueSummary* target = nullptr;  // null when resolution never reads it
        bool in_exponent = false;
        bool nonzero = false;
    };

    void append_key(json::string_view part) {
        if (key_too_long_ || key_.size() + part.size() > longest_member_name) {
            key_too_long_ = true;
            return;
        }
        key_.append(part.data(), part.size());
    }

    // A later tool_input replaces the earlier one, with all its members.
    void forget_tool_input_members() {
        for (const KeptMember& member : kept_members)
            if (member.place == MemberPlace::tool_input) event_.*member.summary = {};
    }

    // Called at the start of every value. A repeated member replaces what came
    // before it. Returns the summary the value goes into, or null.
    JsonValueSummary* begin_value(JsonKind kind) {
        if (cursor_.depth() == 0) event_.kind = kind;
        const KeptMember* member = cursor_.member_of_next_value();
        if (member == nullptr) return nullptr;
        JsonValueSummary* target = &(event_.*member->summary);
        if (target == &event_.tool_input) forget_tool_input_members();
        *target = JsonValueSummary{kind, true, {}};
        return target;
    }

    void open_container(JsonKind kind) {
        JsonValueSummary* target = begin_value(kind);
        if (cursor_.depth() < std::size(open_containers_)) open_containers_[cursor_.depth()] = target;
        cursor_.open_container(kind);
    }

    void close_container(std::size_t size) {
        cursor_.close_container();
        if (cursor_.depth() < std::size(open_containers_) && open_containers_[cursor_.depth()] != nullptr) {
            open_containers_[cursor_.depth()]->empty = size == 0;
            open_containers_[cursor_.depth()] = nullptr;
        }
    }

    void open_scalar(JsonKind kind) {
        if (scalar_.open) return;
        scalar_ = OpenScalar{true, begin_value(kind)};
    }

    void close_scalar(bool nonempty) {
        if (scalar_.target != nullptr) scalar_.target->empty = !nonempty;
        scalar_ = OpenScalar{};
    }

    // A number equals zero when no digit of its significand is non-zero;
    // judged on the text so that 1e-400 is not taken for zero.
    void scan_number(json::string_view part) {
        for (char c : part) {
            if (c == 'e' || c == 'E') scalar_.in_exponent = true;
            if (!scalar_.in_exponent && c >= '1' && c <= '9') scalar_.nonzero = true;
        }
    }

    bool end_number(json::string_view part, json::error_code& ec) {
        on_number_part(part, ec);
        close_scalar(scalar_.nonzero);
        return true;
    }

    HookEvent& event_;
    MemberCursor cursor_;
    // The summaries of the containers open at depths 0 to 2, to learn at
    // their end whether they are empty.
    JsonValueSummary* open_containers_[3] = {};
    std::string key_;
    bool key_too_long_ = false;
    OpenScalar scalar_;
};

// Whether the text was one JSON text, or why not; no error and not decoded
// for trailing text.
struct DecodeResult {
    bool decoded = false;
    json::error_code error;
};

// Decodes into `event`, which must be fresh.
DecodeResult decode_with_depth(std::string_view text, std::size_t max_depth, HookEvent& event) {
    json::parse_options options;
    options.max_depth = max_depth;
    json::basic_parser<EventCollector> parser(options, event);
    json::error_code ec;
    const std::size_t consumed = parser.write_some(false, text.data(), text.size(), ec);
    if (ec) return {false, ec};
    return {parser.done() && consumed == text.size(), {}};
}

DecodeResult decode_at_any_depth(std::string_view text, HookEvent& event) {
    DecodeResult result = decode_with_depth(text, main_stack_max_depth, event);
    if (result.error == json::error::too_deep) {
        event = {};
        const bool ran = platform::run_on_large_stack(
            deep_stack_bytes, [&] { result = decode_with_depth(text, deep_max_depth, event); });
        if (!ran) result = {};
    }
    return result;
}

// Whether a text that failed with this error may still be grammatical:
// Boost.JSON refuses some (parser_refusals.hpp). A lone leading surrogate
// before anything but an escape is a syntax error to it.
bool may_be_grammatical(const json::error_code& error) {
    return error == json::error::illegal_leading_surrogate || error == json::error::illegal_trailing_surrogate ||
           error == json::error::exponent_overflow || error == json::error::syntax;
}

}  // namespace

std::optional<HookEvent> decode_event(std::string_view text) {
    // A second try, after a refusal, goes round the loop rather than through a
    // second call: a second call site of the parser made the compiler inline
    // its string scanning differently, about 5% slower on large events.
    std::optional<std::string> accepted;
    std::string_view input = text;
    std::optional<HookEvent> event(std::in_place);
    for (;;) {
        const DecodeResult result = decode_at_any_depth(input, *event);
        if (accepted || !may_be_grammatical(result.error)) {
            if (!result.decoded) event.reset();
            return event;
        }
        accepted = without_parser_refusals(text);
        if (!accepted) event.reset();
        if (!accepted) return event;
        input = *accepted;
        *event = {};
    }
}

}  // namespace skillhook
