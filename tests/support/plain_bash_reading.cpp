#include "plain_bash_reading.hpp"

#include "bash_command.hpp"
#include "command_line_text.hpp"

#include <algorithm>
#include <cstddef>

namespace skillhook::testing {
namespace {

struct PlainWord {
    std::string_view text;  // empty when no word is left
    std::size_t end;
};

PlainWord plain_next_word(std::string_view text, std::size_t from) {
    std::size_t position = from;
    while (position < text.size()) {
        const TextCharacter character = character_at(text, position);
        if (!is_whitespace(character.code_point)) break;
        position += character.size;
    }
    const std::size_t start = position;
    while (position < text.size()) {
        const TextCharacter character = character_at(text, position);
        if (is_whitespace(character.code_point)) break;
        position += character.size;
    }
    return {text.substr(start, position - start), position};
}

std::string_view plain_trim(std::string_view text) {
    std::size_t start = text.size();
    std::size_t end = text.size();
    for (std::size_t position = 0; position < text.size();) {
        const TextCharacter character = character_at(text, position);
        if (!is_whitespace(character.code_point)) {
            if (start == text.size()) start = position;
            end = position + character.size;
        }
        position += character.size;
    }
    return text.substr(start, end - start);
}

std::string_view plain_unwrap_quoted(std::string_view line) {
    if (line.empty() || (line.front() != '"' && line.front() != '\'') || line.back() != line.front()) return line;
    if (line.size() == 1) return {};
    return plain_trim(line.substr(1, line.size() - 2));
}

// The characters of the word after its last slash or backslash, lower-cased.
std::u32string plain_program_name(std::string_view word) {
    std::u32string name;
    for (std::size_t position = 0; position < word.size();) {
        const TextCharacter character = character_at(word, position);
        if (character.code_point == U'/' || character.code_point == U'\\') name.clear();
        else name.push_back(lower_case(character.code_point));
        position += character.size;
    }
    return name;
}

std::optional<std::string> plain_skill_of_subcommand(std::string_view word) {
    std::string key;
    for (std::size_t position = 0; position < word.size();) {
        const TextCharacter character = character_at(word, position);
        const char32_t lowered = lower_case(character.code_point);
        if (lowered >= 0x80) return std::nullopt;
        key.push_back(static_cast<char>(lowered));
        position += character.size;
    }
    const auto row = std::ranges::find(_BASH_TOLVEX_TO_SKILL, key, &ToolSkill::tool);
    if (row == _BASH_TOLVEX_TO_SKILL.end()) return std::nullopt;
    return std::string(row->skill);
}

}  // namespace

std::optional<std::string> plain_bash_tolvex_command(std::string_view command) {
    const std::string_view line = plain_unwrap_quoted(plain_trim(command));
    for (PlainWord word = plain_next_word(line, 0); !word.text.empty(); word = plain_next_word(line, word.end)) {
        if (plain_program_name(word.text).find(U"tolvex") == std::u32string::npos) continue;
        const PlainWord subcommand = plain_next_word(line, word.end);
        if (subcommand.text.empty()) return std::nullopt;
        return plain_skill_of_subcommand(subcommand.text);
    }
    return std::nullopt;
}

}  // namespace skillhook::testing
