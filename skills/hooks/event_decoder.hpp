// Decodes the hook event piece by piece, as standard input delivers it, in
// memory that does not grow with the event: every byte is validated (RFC 8259
// grammar and UTF-8) and then forgotten, but for the members kept_members
// lists (hook_event.hpp). decode_event, for a text held in memory, is this
// decoder given the whole text as one piece.
#pragma once

#include "hook_event.hpp"
#include "string_scan.hpp"

#include <memory>
#include <optional>
#include <string_view>

namespace skillhook {

class EventDecoder {
public:
    explicit EventDecoder(const StringScanPath& scan = fastest_string_scan());
    ~EventDecoder();
    EventDecoder(const EventDecoder&) = delete;
    EventDecoder& operator=(const EventDecoder&) = delete;

    // The next piece of the text; pieces may split it anywhere. Once the text
    // is known not to be JSON, the rest is only counted as read.
    void feed(std::string_view piece);
    // The event, once the whole text has been fed; nothing when it is not
    // exactly one JSON text.
    std::optional<HookEvent> finish();

private:
    class Grammar;
    std::unique_ptr<Grammar> grammar_;
};

}  // namespace skillhook
