#include "skill_reads.hpp"

#include "command_line_text.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

namespace skillhook {
namespace {

constexpr std::string_view skill_file_name = "SKILL.md";

// Programs that print a file as it is. sed prints only with -n, and edits in
// place with -i; an editor, ls, git or grep reads no instructions.
constexpr std::array<std::string_view, 10> reading_programs = {
    "cat", "head", "tail", "nl", "less", "more", "bat", "type", "get-content", "gc"};
constexpr std::array<std::string_view, 5> command_separators = {"|", "||", "&&", ";", "&"};

bool is_quote(char c) { return c == '"' || c == '\''; }

// The word without one quote at its start and one at its end: a quoted path
// with blanks comes as several words, each with at most one of them.
std::string_view without_quotes(std::string_view word) {
    if (!word.empty() && is_quote(word.front())) word.remove_prefix(1);
    if (!word.empty() && is_quote(word.back())) word.remove_suffix(1);
    return word;
}

std::string lower_case_ascii(std::string_view text) {
    std::string lowered(text);
    std::ranges::transform(lowered, lowered.begin(),
                           [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lowered;
}

// The program a word names: no folder, no ".exe", lower case (Windows and
// PowerShell ignore case).
std::string program_of(std::string_view word) {
    word = without_quotes(word);
    const std::size_t last_separator = word.find_last_of("/\\");
    if (last_separator != std::string_view::npos) word.remove_prefix(last_separator + 1);
    std::string program = lower_case_ascii(word);
    if (program.ends_with(".exe")) program.resize(program.size() - 4);
    return program;
}

// One command of the line: its program's words, up to a separator, and the
// position just past that separator.
struct Command {
    std::vector<std::string_view> words;
    std::size_t end;
};

// The command at or after `from`; nothing when no word is left.
std::optional<Command> next_command(std::string_view line, std::size_t from) {
    Word word = next_word(line, from);
    if (word.text.empty()) return std::nullopt;
    Command command{{}, from};
    for (; !word.text.empty(); word = next_word(line, word.end)) {
        command.end = word.end;
        if (std::ranges::find(command_separators, word.text) != command_separators.end()) break;
        // "cat x/SKILL.md; ls": a semicolon may end the word before it.
        const bool ends_command = word.text.size() > 1 && word.text.back() == ';';
        command.words.push_back(ends_command ? word.text.substr(0, word.text.size() - 1) : word.text);
        if (ends_command) break;
    }
    return command;
}

bool reads_files(const Command& command) {
    const std::string program = program_of(command.words.front());
    if (std::ranges::find(reading_programs, program) != reading_programs.end()) return true;
    if (program != "sed") return false;
    const auto has_word = [&](auto test) { return std::ranges::any_of(command.words, test); };
    return has_word([](std::string_view w) { return w == "-n"; }) &&
           !has_word([](std::string_view w) { return w.starts_with("-i") || w.starts_with("--in-place"); });
}

std::vector<std::string_view> path_components(std::string_view path) {
    std::vector<std::string_view> components;
    for (std::size_t start = 0;;) {
        const std::size_t separator = path.find_first_of("/\\", start);
        components.push_back(path.substr(start, separator - start));
        if (separator == std::string_view::npos) return components;
        start = separator + 1;
    }
}

// The skill a path to `skills/<name>/SKILL.md` belongs to, or nothing.
std::optional<std::string> skill_of_path(std::string_view path) {
    const std::vector<std::string_view> parts = path_components(path);
    const std::size_t n = parts.size();
    if (n < 3 || parts[n - 1] != skill_file_name || parts[n - 3] != "skills") return std::nullopt;
    const std::string_view name = parts[n - 2];
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    // plugins/cache/<marketplace>/<plugin>/<version>/skills/<name>/SKILL.md
    if (n >= 8 && parts[n - 8] == "plugins" && parts[n - 7] == "cache" && !parts[n - 5].empty())
        return std::string(parts[n - 5]) + ":" + std::string(name);
    return std::string(name);
}

}  // namespace

std::optional<std::string> _resolve_skill_read_command(std::string_view command) {
    // Almost every command line names no skill file: one search settles those.
    if (command.find(skill_file_name) == std::string_view::npos) return std::nullopt;
    for (auto part = next_command(command, 0); part; part = next_command(command, part->end)) {
        if (part->words.empty() || !reads_files(*part)) continue;
        for (std::size_t i = 1; i < part->words.size(); ++i)
            if (auto skill = skill_of_path(without_quotes(part->words[i]))) return skill;
    }
    return std::nullopt;
}

}  // namespace skillhook
