#include "bash_command.hpp"

#include "command_line_text.hpp"

#include <algorithm>
#include <cstddef>

namespace skillhook {

constexpr std::array<ToolSkill, 4> _BASH_TOLVEX_TO_SKILL = {{
    {"auth", "tvx-auth"},
    {"query", "tvx-dataset-query"},
    {"skills", "tvx-skills"},
    {"mcp", "tvx-skills"},
}};

namespace {

constexpr std::u32string_view tool_program_name = U"tolvex";
constexpr std::string_view tool_letters = "tolvex";

// Only A to Z and the Kelvin sign lower-case onto another character (k), so
// a character lower-cases onto a letter of the name only when it is that
// letter in either case: the name can stand only where its six ASCII
// letters stand in a row.
static_assert(tool_letters.find('k') == std::string_view::npos);
static_assert(std::ranges::all_of(tool_letters, [](char c) { return c >= 'a' && c <= 'z'; }));

constexpr bool is_lower_case_ascii(std::string_view text) {
    return std::ranges::all_of(text, [](char c) { return static_cast<unsigned char>(c) < 0x80 && (c < 'A' || c > 'Z'); });
}

constexpr std::size_t longest_subcommand =
    std::ranges::max(_BASH_TOLVEX_TO_SKILL, {}, [](const ToolSkill& row) { return row.tool.size(); }).tool.size();

// subcommand_key relies on this: a lower-cased word with a character outside
// ASCII, or longer than the longest key, cannot equal any key.
static_assert(std::ranges::all_of(_BASH_TOLVEX_TO_SKILL,
                                  [](const ToolSkill& row) { return is_lower_case_ascii(row.tool); }));

// The whole line in one pair of matching quotes loses them, once.
std::string_view unwrap_quoted(std::string_view line) {
    if (line.empty() || (line.front() != '"' && line.front() != '\'') || line.back() != line.front()) return line;
    if (line.size() == 1) return {};
    return trim_whitespace(line.substr(1, line.size() - 2));
}

// What follows the last slash or backslash of a word: the program a path names.
std::string_view program_name(std::string_view word) {
    const std::size_t last_separator = word.find_last_of("/\\");
    return last_separator == std::string_view::npos ? word : word.substr(last_separator + 1);
}

bool names_the_tool(std::string_view program) {
    std::size_t matched = 0;
    for (std::size_t position = 0; position < program.size();) {
        const TextCharacter character = character_at(program, position);
        const char32_t lowered = lower_case(character.code_point);
        // No letter of the tool's name occurs in it twice, so after a
        // mismatch a match can only start again at this very character.
        if (lowered == tool_program_name[matched])
            ++matched;
        else
            matched = lowered == tool_program_name.front() ? 1 : 0;
        if (matched == tool_program_name.size()) return true;
        position += character.size;
    }
    return false;
}

constexpr std::size_t chunk_size = 64;

// All bits set when the byte is the letter in either case, none otherwise:
// a comparison's own result in vector code, so that nothing is left to mask.
unsigned char is_letter_in_either_case(char c, char lower) {
    return static_cast<unsigned char>(-static_cast<int>((static_cast<unsigned char>(c) | 0x20) == lower));
}

// Whether the first and the last letter of the tool's name, in any case,
// stand where the name would at any of a chunk's positions (the five bytes
// after it are read too): a cheap sieve that lets few chunks through in
// ordinary text. No early exit, so that compilers turn the loop into a few
// vector instructions.
bool chunk_may_hold_tool_letters(const char* chunk) {
    unsigned char any = 0;
    for (std::size_t i = 0; i < chunk_size; ++i)
        any |= static_cast<unsigned char>(is_letter_in_either_case(chunk[i], tool_letters.front()) &
                                          is_letter_in_either_case(chunk[i + tool_letters.size() - 1], tool_letters.back()));
    return any != 0;
}

bool tool_letters_at(std::string_view line, std::size_t position) {
    for (std::size_t k = 0; k < tool_letters.size(); ++k)
        if (is_letter_in_either_case(line[position + k], tool_letters[k]) == 0) return false;
    return true;
}

// The first position at or after `from` where the letters of the tool's name
// stand in a row, in any case; npos when there is none.
std::size_t find_tool_letters(std::string_view line, std::size_t from) {
    const std::size_t tail = tool_letters.size() - 1;
    std::size_t position = from;
    while (position + tail < line.size()) {
        if (line.size() - position >= chunk_size + tail && !chunk_may_hold_tool_letters(line.data() + position)) {
            position += chunk_size;
            continue;
        }
        const std::size_t stop = std::min(line.size() - tail, position + chunk_size);
        for (; position < stop; ++position)
            if (tool_letters_at(line, position)) return position;
    }
    return std::string_view::npos;
}

// The word lower-cased, or nothing when it cannot equal a key.
std::optional<std::string> subcommand_key(std::string_view word) {
    std::string key;
    for (std::size_t position = 0; position < word.size();) {
        const TextCharacter character = character_at(word, position);
        const char32_t lowered = lower_case(character.code_point);
        if (lowered >= 0x80 || key.size() == longest_subcommand) return std::nullopt;
        key.push_back(static_cast<char>(lowered));
        position += character.size;
    }
    return key;
}

std::optional<std::string> skill_of_subcommand(std::string_view word) {
    const std::optional<std::string> key = subcommand_key(word);
    if (!key) return std::nullopt;
    const auto row = std::ranges::find(_BASH_TOLVEX_TO_SKILL, *key, &ToolSkill::tool);
    if (row == _BASH_TOLVEX_TO_SKILL.end()) return std::nullopt;
    return std::string(row->skill);
}

}  // namespace

std::optional<std::string> _resolve_bash_tolvex_command(std::string_view command) {
    const std::string_view line = unwrap_quoted(trim_whitespace(command));
    // Only the first tool word counts, whatever follows it, and only a word
    // that holds the letters of its name can be one: the words are looked at
    // only where the letters are.
    for (std::size_t letters = find_tool_letters(line, 0); letters != std::string_view::npos;) {
        const Word word = word_around(line, letters);
        if (names_the_tool(program_name(word.text))) {
            const Word subcommand = next_word(line, word.end);
            if (subcommand.text.empty()) return std::nullopt;
            return skill_of_subcommand(subcommand.text);
        }
        letters = find_tool_letters(line, word.end);
    }
    return std::nullopt;
}

}  // namespace skillhook
