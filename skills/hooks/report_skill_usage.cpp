// PostToolUse hook: reports the use of one of the product's skills.
//
// The agent starts it after every tool call, with the hook event (one JSON
// text) on standard input. The hook resolves the skill the call used, drops
// repeats within the window, and runs the product's tool to record the use.
// It reads no arguments and never writes to standard output.
//
// Exit status:
//   0  on every handled path: standard input unreadable or not exactly one
//      JSON text; the call used no skill, or one whose name the tool cannot
//      be given; a repeat within the window; the use reported, or the report
//      failed (a missing, failing or hanging tool never changes the status).
//      Nothing is written.
//   1  the event is malformed: its top-level value is not an object, or a
//      member that resolution reads has the wrong type; or the user's home
//      directory cannot be determined (HOME, or USERPROFILE, unset, empty or
//      relative, and the account has none); or the system fails in
//      resolution or the duplicate check in some other way (no memory, an
//      unreadable password file). One line on standard error names the
//      failure.
#include "duplicate_suppression.hpp"
#include "event_decoder.hpp"
#include "event_resolution.hpp"
#include "hook_event.hpp"
#include "platform.hpp"
#include "usage_report.hpp"

#include <cstddef>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

// A pipe's whole default capacity on Linux: one read takes what the agent has
// written so far. Small enough to stay in the cache while it is decoded.
constexpr std::size_t input_piece_bytes = 64 * 1024;

std::optional<skillhook::HookEvent> read_event() {
    try {
        skillhook::EventDecoder decoder;
        // Not on the stack, which may be small, and not cleared: a small event
        // touches only the pages it fills, and every fresh page is a page fault.
        const std::unique_ptr<char[]> buffer(new char[input_piece_bytes]);
        skillhook::platform::read_standard_input({buffer.get(), input_piece_bytes},
                                                 [&](std::string_view piece) { decoder.feed(piece); });
        return decoder.finish();
    } catch (...) {
        return std::nullopt;  // unreadable input is no event
    }
}

}  // namespace

int main() {
    using namespace skillhook;
    const std::optional<HookEvent> event = read_event();
    if (!event) return 0;

    std::string diagnostic;
    try {
        const std::optional<std::string> skill_name = _resolve_skill_name(*event);
        if (!skill_name || skill_name->empty()) return 0;
        // A name the tool can never be given is never counted, so it gets no marker either.
        if (!is_reportable(*skill_name)) return 0;
        if (_is_duplicate(*skill_name)) return 0;
        try {
            _report_usage(*skill_name);
        } catch (...) {
            // A failed report is dropped: the agent must never be disturbed by it.
        }
        return 0;
    } catch (const MalformedEvent& failure) {
        diagnostic = std::string("malformed hook event: ") + failure.what();
    } catch (const std::exception& failure) {
        diagnostic = failure.what();
    }
    // An agent that stopped reading standard error must still see status 1.
    platform::ignore_broken_pipes();
    std::fprintf(stderr, "report_skill_usage: %s\n", diagnostic.c_str());
    return 1;
}
