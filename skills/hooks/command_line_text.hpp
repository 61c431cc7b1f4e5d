// The characters of a shell command line as recognition reads them: UTF-8
// decoding, whitespace, lower-casing and words. Everything works on views
// into the original text and costs time linear in what it looks at.
//
// Whitespace is found without reading the text from its start: every
// whitespace character begins with an ASCII byte or a first byte of a
// sequence, and no character holds either but at its start, so a
// whitespace character starts at the same places whichever way one comes.
#pragma once

#include <cstddef>
#include <string_view>

namespace skillhook {

// One character of a UTF-8 text and the number of bytes it takes.
struct TextCharacter {
    char32_t code_point;
    std::size_t size;
};

// Stands for a byte that does not begin a well-formed UTF-8 sequence: such a
// byte is one character of its own, neither whitespace nor a cased letter.
inline constexpr char32_t malformed_byte = U'\uFFFD';

// The character that starts at `position`, which must be inside `text`.
TextCharacter character_at(std::string_view text, std::size_t position);

bool is_whitespace(char32_t character);

// A to Z onto a to z and the Kelvin sign onto k; any other character is its own lower case.
char32_t lower_case(char32_t character);

// The size of the whitespace character that starts at `position`, 0 for none.
std::size_t whitespace_size_at(std::string_view text, std::size_t position);

// The first position at or after `from` where a whitespace character starts,
// text.size() when there is none.
std::size_t find_whitespace(std::string_view text, std::size_t from);

// `text` without the whitespace at both ends.
std::string_view trim_whitespace(std::string_view text);

// A word of a text and the position just past it.
struct Word {
    std::string_view text;  // empty when no word is left
    std::size_t end;
};

// The first word at or after `from`, which must be a character boundary.
Word next_word(std::string_view text, std::size_t from);

// The word that holds the byte at `position`, which must be no whitespace.
Word word_around(std::string_view text, std::size_t position);

}  // namespace skillhook
