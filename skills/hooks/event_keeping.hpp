// What decoding keeps of the event: the grammar (event_decoding.cpp) says
// where each value begins and ends and names each member, and this follows
// the members listed in kept_members, at their two levels, into a HookEvent.
#pragma once

#include "hook_event.hpp"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace skillhook {

// Where the value that starts next belongs: which kept member of the event,
// or of its tool_input, it is the value of (null: none). Only those two
// levels are followed.
class MemberCursor {
public:
    // The member whose value starts next.
    const KeptMember* member_of_next_value() const;
    // Whether the keys read now may name a kept member.
    bool reads_keys() const { return level() != Level::elsewhere; }

    // A container opens as the value of member_of_next_value().
    void open_container(JsonKind kind);
    void close_container();
    std::size_t depth() const { return depth_; }

    // The whole key of the member whose value comes next.
    // `complete` is false for a key too long to be any kept member's name.
    void name_next_member(std::string_view key, bool complete);

private:
    enum class Level : unsigned char { event, tool_input, elsewhere };

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

// Keeps a summary of each value that resolution reads.
class EventKeeper {
public:
    // Longer keys are never kept whole.
    static constexpr std::size_t longest_member_name = [] {
        std::size_t longest = 0;
        for (const KeptMember& member : kept_members) longest = std::max(longest, member.name.size());
        return longest;
    }();

    HookEvent& event() { return event_; }
    const MemberCursor& cursor() const { return cursor_; }

    // A string, number, true, false or null begins: the summary it goes into,
    // already of its kind and empty, or null when resolution never reads it.
    // The caller completes the summary: its text, and whether it is empty.
    JsonValueSummary* begin_scalar(JsonKind kind) { return begin_value(kind); }

    void open_container(JsonKind kind);
    void close_container(bool empty);

    void name_next_member(std::string_view key, bool complete) { cursor_.name_next_member(key, complete); }

private:
    JsonValueSummary* begin_value(JsonKind kind);
    // A later tool_input replaces the earlier one, with all its members.
    void forget_tool_input_members();

    HookEvent event_;
    MemberCursor cursor_;
    // The summaries of the containers open at depths 0 to 2, to learn at
    // their end whether they are empty.
    JsonValueSummary* open_containers_[3] = {};
};

}  // namespace skillhook
