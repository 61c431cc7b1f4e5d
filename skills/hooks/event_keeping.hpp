// What decoding keeps of the event: the grammar (event_decoding.cpp) says
// where each value begins and ends and names each member, and this follows
// the members listed in kept_members, in the objects kept_objects lists, into
// a HookEvent.
#pragma once

#include "hook_event.hpp"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace skillhook {

// Where the value that starts next belongs: which kept member it is the value
// of, or which kept list it is an element of (null: neither). Only the event
// object, the kept objects within it and the kept lists are followed.
class MemberCursor {
public:
    // The member whose value starts next.
    const KeptMember* member_of_next_value() const;
    // The list whose element starts next.
    const KeptMember* list_of_next_value() const;
    // Whether the keys read now may name a kept member.
    bool reads_keys() const { return followed() && levels_[depth_].object; }

    // A container opens as the value of member_of_next_value().
    void open_container(JsonKind kind);
    void close_container() { --depth_; }
    std::size_t depth() const { return depth_; }

    // The whole key of the member whose value comes next.
    // `complete` is false for a key too long to be any kept member's name.
    void name_next_member(std::string_view key, bool complete);

    // The deepest container followed: the event, tool_result, its input, and a list in that.
    static constexpr std::size_t followed_depth = 4;

private:
    // What the innermost open container is, when it is followed.
    struct Level {
        bool object = false;  // a kept object (or the event), whose members may be kept
        MemberPlace place = MemberPlace::event;
        const KeptMember* list = nullptr;         // a kept list, whose strings are kept
        const KeptMember* next_member = nullptr;  // the member named last in this object
    };

    bool followed() const { return depth_ >= 1 && depth_ <= followed_depth; }

    std::size_t depth_ = 0;
    Level levels_[followed_depth + 1] = {};
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
    JsonValueSummary* begin_element(const KeptMember& list, JsonKind kind);
    // A later value of a member replaces the earlier one, with all it held.
    void forget_what_is_within(const KeptMember& member);

    HookEvent event_;
    MemberCursor cursor_;
    // The summaries of the containers open at the depths followed, to learn
    // at their end whether they are empty.
    JsonValueSummary* open_containers_[MemberCursor::followed_depth + 1] = {};
};

}  // namespace skillhook
