#include "bash_command.hpp"

namespace skillhook {

std::optional<std::string> _resolve_bash_tolvex_command(std::string_view) { return std::nullopt; }

}  // namespace skillhook
