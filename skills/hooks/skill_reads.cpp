#include "skill_reads.hpp"

#include "command_line_text.hpp"

#include <algorithm>
#include <array>
#include <cstddef>

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

constexpr std::size_t longest_program_name = std::ranges::max(reading_programs, {}, &std::string_view::size).size();

// The program a word names: no folder, no ".exe", lower case (Windows and
// PowerShell ignore case). A name too long for any reading program or sed
// is left empty rather than copied.
std::string program_of(std::string_view word) {
    word = without_quotes(word);
    const std::size_t last_separator = word.find_last_of("/\\");
    if (last_separator != std::string_view::npos) word.remove_prefix(last_separator + 1);
    if (word.size() > longest_program_name + std::string_view(".exe").size()) return {};
    std::string program = lower_case_ascii(word);
    if (program.ends_with(".exe")) program.resize(program.size() - 4);
    return program;
}

// One command of the line: the text from its first word to the end of its
// last, without the separator, and the position just past that separator.
struct Command {
    std::string_view words;
    std::size_t end;
};

// The command at or after `from`; nothing when no word is left.
std::optional<Command> next_command(std::string_view line, std::size_t from) {
    Word word = next_word(line, from);
    if (word.text.empty()) return std::nullopt;
    const auto first = static_cast<std::size_t>(word.text.data() - line.data());
    Command command{{}, from};
    std::size_t words_end = first;
    for (; !word.text.empty(); word = next_word(line, word.end)) {
        command.end = word.end;
        if (std::ranges::find(command_separators, word.text) != command_separators.end()) break;
        // "cat x/SKILL.md; ls": a semicolon may end the word before it.
        const bool ends_command = word.text.size() > 1 && word.text.back() == ';';
        words_end = word.end - (ends_command ? 1 : 0);
        if (ends_command) break;
    }
    command.words = line.substr(first, words_end - first);
    return command;
}

template <typename Test>
bool any_word(std::string_view words, Test test) {
    for (Word word = next_word(words, 0); !word.text.empty(); word = next_word(words, word.end))
        if (test(word.text)) return true;
    return false;
}

bool reads_files(std::string_view words) {
    const std::string program = program_of(next_word(words, 0).text);
    if (std::ranges::find(reading_programs, program) != reading_programs.end()) return true;
    if (program != "sed") return false;
    return any_word(words, [](std::string_view w) { return w == "-n"; }) &&
           !any_word(words, [](std::string_view w) { return w.starts_with("-i") || w.starts_with("--in-place"); });
}

// The last components of a path, the last first, up to as many as a skill's path inside a plugin has.
struct PathTail {
    std::array<std::string_view, 8> components;  // plugins/cache/<marketplace>/<plugin>/<version>/skills/<name>/SKILL.md
    std::size_t count = 0;
};

PathTail path_tail(std::string_view path) {
    PathTail tail;
    while (tail.count < tail.components.size()) {
        const std::size_t separator = path.find_last_of("/\\");
        tail.components[tail.count++] = separator == std::string_view::npos ? path : path.substr(separator + 1);
        if (separator == std::string_view::npos) break;
        path = path.substr(0, separator);
    }
    return tail;
}

// The skill a path to `skills/<name>/SKILL.md` belongs to, or nothing.
std::optional<std::string> skill_of_path(std::string_view path) {
    const PathTail tail = path_tail(path);
    const auto& parts = tail.components;
    if (tail.count < 3 || parts[0] != skill_file_name || parts[2] != "skills") return std::nullopt;
    const std::string_view name = parts[1];
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    if (tail.count == 8 && parts[7] == "plugins" && parts[6] == "cache" && !parts[4].empty())
        return std::string(parts[4]) + ":" + std::string(name);
    return std::string(name);
}

}  // namespace

std::optional<std::string> _resolve_skill_read_command(std::string_view command) {
    // Almost every command line names no skill file: one search settles those.
    if (command.find(skill_file_name) == std::string_view::npos) return std::nullopt;
    for (auto part = next_command(command, 0); part; part = next_command(command, part->end)) {
        if (part->words.empty() || !reads_files(part->words)) continue;
        const std::string_view words = part->words;
        for (Word word = next_word(words, next_word(words, 0).end); !word.text.empty(); word = next_word(words, word.end))
            if (auto skill = skill_of_path(without_quotes(word.text))) return skill;
    }
    return std::nullopt;
}

}  // namespace skillhook
