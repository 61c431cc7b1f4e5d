#include "event_keeping.hpp"

#include <iterator>

namespace skillhook {
namespace {

const KeptMember* kept_member(MemberPlace place, std::string_view name) {
    for (const KeptMember& member : kept_members)
        if (member.place == place && member.name == name) return &member;
    return nullptr;
}

// The kept object that is the value of `member`, if any.
const KeptObject* object_of(const KeptMember& member) {
    for (const KeptObject& object : kept_objects)
        if (object.summary == member.summary) return &object;
    return nullptr;
}

}  // namespace

const KeptMember* MemberCursor::member_of_next_value() const {
    return followed() && levels_[depth_].object ? levels_[depth_].next_member : nullptr;
}

const KeptMember* MemberCursor::list_of_next_value() const {
    return followed() ? levels_[depth_].list : nullptr;
}

void MemberCursor::open_container(JsonKind kind) {
    const KeptMember* member = member_of_next_value();
    ++depth_;
    if (!followed()) return;
    Level& level = levels_[depth_];
    level = {};
    // Only an object has members; an array's elements are never members.
    if (kind == JsonKind::object) {
        const KeptObject* object = member == nullptr ? nullptr : object_of(*member);
        level.object = depth_ == 1 || object != nullptr;
        if (object != nullptr) level.place = object->place;
    }
    if (kind == JsonKind::array && member != nullptr && member->string_elements != nullptr) level.list = member;
}

void MemberCursor::name_next_member(std::string_view key, bool complete) {
    Level& level = levels_[depth_];
    level.next_member = complete ? kept_member(level.place, key) : nullptr;
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

void EventKeeper::forget_what_is_within(const KeptMember& member) {
    if (member.string_elements != nullptr) (event_.*member.string_elements).clear();
    const KeptObject* object = object_of(member);
    if (object == nullptr) return;
    for (const KeptMember& inner : kept_members) {
        if (inner.place != object->place) continue;
        event_.*inner.summary = {};
        forget_what_is_within(inner);
    }
}

// Called at the start of every value. A repeated member replaces what came before it.
JsonValueSummary* EventKeeper::begin_value(JsonKind kind) {
    if (cursor_.depth() == 0) event_.kind = kind;
    if (const KeptMember* list = cursor_.list_of_next_value()) return begin_element(*list, kind);
    const KeptMember* member = cursor_.member_of_next_value();
    if (member == nullptr) return nullptr;
    forget_what_is_within(*member);
    JsonValueSummary* target = &(event_.*member->summary);
    *target = JsonValueSummary{kind, true, {}};
    return target;
}

// A list keeps its first strings only: its strings are all resolution reads of it.
JsonValueSummary* EventKeeper::begin_element(const KeptMember& list, JsonKind kind) {
    std::vector<JsonValueSummary>& elements = event_.*list.string_elements;
    if (kind != JsonKind::string || elements.size() == kept_elements) return nullptr;
    return &elements.emplace_back(JsonValueSummary{kind, true, {}});
}

}  // namespace skillhook
