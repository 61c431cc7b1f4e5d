// The single command line by which a Windows program receives its arguments.
#pragma once

#include <string>
#include <vector>

namespace skillhook {

// Quotes each argument so that the C runtime and CommandLineToArgvW split the
// line back into exactly these arguments. The first is the program path,
// which those parsers read up to the next quote, so it may hold none. Throws
// std::runtime_error for a program path with a quote or any argument with a
// NUL, which no command line can carry.
std::string windows_command_line(const std::vector<std::string>& arguments);

}  // namespace skillhook
