// The row type of the fixed tables that map a tool or subcommand to a skill.
#pragma once

#include <string_view>

namespace skillhook {

struct ToolSkill {
    std::string_view tool;
    std::string_view skill;
};

}  // namespace skillhook
