// Recognition of the product's command-line tool in a shell command line.
#pragma once

#include "event_resolution.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace skillhook {

// The skill a command line that runs the tool belongs to, or nothing.
std::optional<std::string> _resolve_bash_tolvex_command(std::string_view command);

}  // namespace skillhook
