#include "windows_command_line.hpp"

#include <cstddef>
#include <stdexcept>

namespace skillhook {
namespace {

// Every argument is quoted, even a plain word: a runtime that expands
// wildcards leaves quoted text alone, and an empty argument stays an argument.
// Inside the quotes a backslash is literal unless a run of them ends at a
// quote; such a run is doubled, plus one to escape a quote of the argument.
void append_quoted(std::string& line, const std::string& argument) {
    line += '"';
    std::size_t backslashes = 0;
    for (const char character : argument) {
        if (character == '\\') {
            ++backslashes;
            continue;
        }
        if (character == '"') {
            line.append(2 * backslashes + 1, '\\');
        } else {
            line.append(backslashes, '\\');
        }
        backslashes = 0;
        line += character;
    }
    line.append(2 * backslashes, '\\');
    line += '"';
}

}  // namespace

std::string windows_command_line(const std::vector<std::string>& arguments) {
    if (arguments.empty()) throw std::runtime_error("a command line needs a program");
    for (const std::string& argument : arguments)
        if (argument.find('\0') != std::string::npos) throw std::runtime_error("an argument holds a NUL character");
    const std::string& program = arguments.front();
    if (program.find('"') != std::string::npos) throw std::runtime_error("the program path holds a quote");

    std::string line = '"' + program + '"';
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        line += ' ';
        append_quoted(line, arguments[index]);
    }
    return line;
}

}  // namespace skillhook
