// Resolves a JSON text the way the hook does and names the outcome, so that
// tests can state expectations as plain strings.
#pragma once

#include "event_resolution.hpp"
#include "hook_event.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace skillhook::testing {

inline constexpr std::string_view not_json = "<not json>";
inline constexpr std::string_view absent = "<absent>";
inline constexpr std::string_view malformed = "<malformed>";

// A file system with no skill installed, so that no outcome depends on the machine's.
inline const SkillFolders no_skill_installed = {
    [](const std::string&) { return false; },
    [](const std::string&) { return std::vector<std::string>{}; },
    [] { return UserFolders{"codex-home", "home"}; },
};

inline std::string resolution_outcome(std::string_view json_text) {
    const auto event = decode_event(json_text);
    if (!event) return std::string(not_json);
    try {
        const auto skill = _resolve_skill_name(*event, no_skill_installed);
        return skill ? *skill : std::string(absent);
    } catch (const MalformedEvent&) {
        return std::string(malformed);
    }
}

}  // namespace skillhook::testing
