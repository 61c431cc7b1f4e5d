#include "event_keeping.hpp"

#include <iterator>

namespace skillhook {
namespace {

const KeptMember* kept_member(MemberPlace place, std::string_view name) {
    for (const KeptMember& member : kept_members)
        if (member.place == place && member.name == name) return &member;
    return nullptr;
}

}  // namespace

const KeptMember* MemberCursor::member_of_next_value() const {
    switch (level()) {
        case Level::event: return top_member_;
        case Level::tool_input: return input_member_;
        case Level::elsewhere: break;
    }
    return nullptr;
}

void MemberCursor::open_container(JsonKind kind) {
    const KeptMember* member = member_of_next_value();
    if (depth_ == 0) top_is_object_ = kind == JsonKind::object;
    // Only an object has members; an array's elements are never members of tool_input.
    if (depth_ == 1)
        in_tool_input_ = member != nullptr && member->summary == &HookEvent::tool_input && kind == JsonKind::object;
    ++depth_;
}

void MemberCursor::close_container() {
    --depth_;
    if (depth_ == 1) in_tool_input_ = false;
}

void MemberCursor::name_next_member(std::string_view key, bool complete) {
    if (level() == Level::event) top_member_ = complete ? kept_member(MemberPlace::event, key) : nullptr;
    if (level() == Level::tool_input) input_member_ = complete ? kept_member(MemberPlace::tool_input, key) : nullptr;
}

void EventKeeper::open_container(JsonKind kind) {
    JsonValueSummary* target = begin_value(kind);
    if (cursor_.depth() < std::size(open_containers_)) open_containers_[cursor_.depth()] = target;
    cursor_.open_container(kind);
}

void EventKeeper::close_container(bool empty) {
    cursor_.close_container();
    if (cursor_.depth() < std::size(open_containers_) && open_containers_[cursor_.depth()] != nullptr) {
        open_containers_[cursor_.depth()]->empty = empty;
        open_containers_[cursor_.depth()] = nullptr;
    }
}

void EventKeeper::forget_tool_input_members() {
    for (const KeptMember& member : kept_members)
        if (member.place == MemberPlace::tool_input) event_.*member.summary = {};
}

// Called at the start of every value. A repeated member replaces what came before it.
JsonValueSummary* EventKeeper::begin_value(JsonKind kind) {
    if (cursor_.depth() == 0) event_.kind = kind;
    const KeptMember* member = cursor_.member_of_next_value();
    if (member == nullptr) return nullptr;
    JsonValueSummary* target = &(event_.*member->summary);
    if (target == &event_.tool_input) forget_tool_input_members();
    *target = JsonValueSummary{kind, true, {}};
    return target;
}

}  // namespace skillhook
