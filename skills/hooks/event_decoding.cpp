// Decodes the hook event with Boost.JSON's event-driven parser: the whole text
// is validated, but only the members resolution reads are kept.
#include "hook_event.hpp"

#include "platform.hpp"

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/src.hpp>  // compiled in here, once, so the hook needs no Boost library at run time

#include <cstddef>
#include <limits>
#include <string>

namespace skillhook {
namespace {

namespace json = boost::json;

// The parser recurses once per nesting level. On the ordinary stack it may go
// this deep; a deeper event is decoded again on a thread with a stack sized
// for the larger limit. RFC 8259 lets a decoder bound the depth.
constexpr std::size_t shallow_max_depth = 10'000;
constexpr std::size_t deep_max_depth = 1'000'000;
constexpr std::size_t deep_stack_bytes = std::size_t{1} << 30;  // reserved, touched only as deep as used

class EventCollector {
public:
    static constexpr std::size_t max_object_size = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t max_array_size = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t max_key_size = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t max_string_size = std::numeric_limits<std::size_t>::max();

    HookEvent& event() { return event_; }

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
        if (reads_keys_here()) append_key(part);
        return true;
    }
    bool on_key(json::string_view part, std::size_t, json::error_code&) {
        if (!reads_keys_here()) return true;
        append_key(part);
        const Member member = member_named(key_);
        if (depth_ == 1)
            top_member_ = member;
        else
            input_member_ = member;
        key_.clear();
        key_too_long_ = false;
        return true;
    }

    bool on_string_part(json::string_view part, std::size_t, json::error_code&) {
        if (!string_open_) {
            string_open_ = true;
            string_target_ = begin_value(JsonKind::string);
        }
        if (string_target_ != nullptr) string_target_->text.append(part.data(), part.size());
        return true;
    }
    bool on_string(json::string_view part, std::size_t size, json::error_code& ec) {
        on_string_part(part, size, ec);
        if (string_target_ != nullptr) string_target_->empty = size == 0;
        string_open_ = false;
        string_target_ = nullptr;
        return true;
    }

    bool on_number_part(json::string_view part, json::error_code&) {
        if (!number_open_) {
            number_open_ = true;
            number_target_ = begin_value(JsonKind::number);
            number_in_exponent_ = false;
            number_nonzero_ = false;
        }
        if (number_target_ != nullptr) scan_number(part);
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
    enum class Member : unsigned char { other, tool_name, tool_input, command, skill };

    // Longest member name of interest is "tool_input"; longer keys are never kept whole.
    static constexpr std::size_t longest_member_name = 10;

    Member member_named(const std::string& key) const {
        if (key_too_long_) return Member::other;
        if (depth_ == 1) {
            if (key == "tool_name") return Member::tool_name;
            if (key == "tool_input") return Member::tool_input;
        } else {
            if (key == "command") return Member::command;
            if (key == "skill") return Member::skill;
        }
        return Member::other;
    }

    bool reads_keys_here() const {
        return (depth_ == 1 && event_.kind == JsonKind::object) || (depth_ == 2 && in_tool_input_);
    }

    void append_key(json::string_view part) {
        if (key_too_long_ || key_.size() + part.size() > longest_member_name) {
            key_too_long_ = true;
            return;
        }
        key_.append(part.data(), part.size());
    }

    // The summary that the value starting now belongs to, or null when resolution never reads it.
    JsonValueSummary* target_of_value() {
        if (depth_ == 1 && event_.kind == JsonKind::object) {
            if (top_member_ == Member::tool_name) return &event_.tool_name;
            if (top_member_ == Member::tool_input) return &event_.tool_input;
        } else if (depth_ == 2 && in_tool_input_) {
            if (input_member_ == Member::command) return &event_.command;
            if (input_member_ == Member::skill) return &event_.skill;
        }
        return nullptr;
    }

    // Called at the start of every value. A repeated member replaces what came before it.
    JsonValueSummary* begin_value(JsonKind kind) {
        if (depth_ == 0) {
            event_.kind = kind;
            return nullptr;
        }
        JsonValueSummary* target = target_of_value();
        if (target == nullptr) return nullptr;
        if (target == &event_.tool_input) {
            event_.command = {};
            event_.skill = {};
        }
        target->kind = kind;
        target->empty = true;
        target->text.clear();
        return target;
    }

    void open_container(JsonKind kind) {
        JsonValueSummary* target = begin_value(kind);
        if (depth_ < std::size(open_targets_)) open_targets_[depth_] = target;
        // Only an object has members; an array's elements are never command or skill.
        if (depth_ == 1) in_tool_input_ = target == &event_.tool_input && kind == JsonKind::object;
        ++depth_;
    }

    void close_container(std::size_t size) {
        --depth_;
        if (depth_ < std::size(open_targets_) && open_targets_[depth_] != nullptr) {
            open_targets_[depth_]->empty = size == 0;
            open_targets_[depth_] = nullptr;
        }
        if (depth_ == 1) in_tool_input_ = false;
    }

    // A number equals zero when no digit of its significand is non-zero;
    // judged on the text so that 1e-400 is not taken for zero.
    void scan_number(json::string_view part) {
        for (char c : part) {
            if (c == 'e' || c == 'E') number_in_exponent_ = true;
            if (!number_in_exponent_ && c >= '1' && c <= '9') number_nonzero_ = true;
        }
    }

    bool end_number(json::string_view part, json::error_code& ec) {
        on_number_part(part, ec);
        if (number_target_ != nullptr) number_target_->empty = !number_nonzero_;
        number_open_ = false;
        number_target_ = nullptr;
        return true;
    }

    HookEvent event_;
    std::size_t depth_ = 0;
    Member top_member_ = Member::other;
    Member input_member_ = Member::other;
    bool in_tool_input_ = false;
    JsonValueSummary* open_targets_[3] = {};

    std::string key_;
    bool key_too_long_ = false;

    bool string_open_ = false;
    JsonValueSummary* string_target_ = nullptr;

    bool number_open_ = false;
    bool number_in_exponent_ = false;
    bool number_nonzero_ = false;
    JsonValueSummary* number_target_ = nullptr;
};

struct DecodeResult {
    std::optional<HookEvent> event;
    bool too_deep = false;
};

DecodeResult decode_with_depth(std::string_view text, std::size_t max_depth) {
    json::parse_options options;
    options.max_depth = max_depth;
    json::basic_parser<EventCollector> parser(options);
    json::error_code ec;
    const std::size_t consumed = parser.write_some(false, text.data(), text.size(), ec);
    if (ec) return {std::nullopt, ec == json::error::too_deep};
    if (!parser.done() || consumed != text.size()) return {};
    return {std::move(parser.handler().event()), false};
}

}  // namespace

std::optional<HookEvent> decode_event(std::string_view text) {
    DecodeResult result = decode_with_depth(text, shallow_max_depth);
    if (!result.too_deep) return std::move(result.event);
    const bool ran = platform::run_on_large_stack(
        deep_stack_bytes, [&] { result = decode_with_depth(text, deep_max_depth); });
    if (!ran) return std::nullopt;
    return std::move(result.event);
}

}  // namespace skillhook
