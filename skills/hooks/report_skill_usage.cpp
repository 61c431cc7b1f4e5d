// PostToolUse hook: reports the use of one of the product's skills.
// Reads the hook event on standard input, resolves the skill it used, drops
// repeats within the window and runs the product's tool to record the use.
#include "duplicate_suppression.hpp"
#include "event_resolution.hpp"
#include "hook_event.hpp"
#include "platform.hpp"
#include "usage_report.hpp"

#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

namespace {

std::optional<skillhook::HookEvent> read_event() {
    try {
        const skillhook::platform::InputText input = skillhook::platform::read_standard_input();
        return skillhook::decode_event(input.view());
    } catch (...) {
        return std::nullopt;  // unreadable input is no event
    }
}

int diagnose(const char* problem, const char* detail) {
#if defined(SIGPIPE)
    // An agent that stopped reading standard error must still see status 1.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::fprintf(stderr, "report_skill_usage: %s%s\n", problem, detail);
    return 1;
}

}  // namespace

int main() {
    using namespace skillhook;
    const std::optional<HookEvent> event = read_event();
    if (!event) return 0;
    try {
        const std::optional<std::string> skill_name = _resolve_skill_name(*event);
        if (!skill_name || skill_name->empty()) return 0;
        if (_is_duplicate(*skill_name)) return 0;
        try {
            _report_usage(*skill_name);
        } catch (...) {
            // A failed report is dropped: the agent must never be disturbed by it.
        }
    } catch (const MalformedEvent& failure) {
        return diagnose("malformed hook event: ", failure.what());
    } catch (const std::exception& failure) {
        return diagnose("", failure.what());
    }
    return 0;
}
