// Bash command recognition read the plain way, one character after another
// from the line's start, as words: what the hook's searches must agree with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace skillhook::testing {

std::optional<std::string> plain_bash_tolvex_command(std::string_view command);

}  // namespace skillhook::testing
