#include "command_line_text.hpp"

namespace skillhook {
namespace {

bool is_continuation_byte(unsigned char byte) { return byte >= 0x80 && byte <= 0xBF; }

// The length of the sequence a lead byte begins and the payload bits it carries; 0 for no lead byte.
struct LeadByte {
    std::size_t size;
    char32_t bits;
};

LeadByte lead_byte(unsigned char byte) {
    if (byte >= 0xC2 && byte <= 0xDF) return {2, static_cast<char32_t>(byte & 0x1F)};
    if (byte >= 0xE0 && byte <= 0xEF) return {3, static_cast<char32_t>(byte & 0x0F)};
    if (byte >= 0xF0 && byte <= 0xF4) return {4, static_cast<char32_t>(byte & 0x07)};
    return {0, 0};
}

// Refuses overlong forms, surrogates and values past U+10FFFF, so that no
// byte sequence but the proper one can pass for a whitespace character.
bool is_well_formed(std::size_t size, char32_t code_point) {
    if (size == 3) return code_point >= 0x800 && (code_point < 0xD800 || code_point > 0xDFFF);
    if (size == 4) return code_point >= 0x10000 && code_point <= 0x10FFFF;
    return true;  // two-byte leads below C2, the only overlong ones, are no lead bytes
}

}  // namespace

TextCharacter character_at(std::string_view text, std::size_t position) {
    const auto byte_at = [&](std::size_t offset) { return static_cast<unsigned char>(text[position + offset]); };
    const unsigned char first = byte_at(0);
    if (first < 0x80) return {first, 1};

    const LeadByte lead = lead_byte(first);
    const TextCharacter malformed = {malformed_byte, 1};
    if (lead.size == 0 || text.size() - position < lead.size) return malformed;
    char32_t code_point = lead.bits;
    for (std::size_t offset = 1; offset < lead.size; ++offset) {
        const unsigned char next = byte_at(offset);
        if (!is_continuation_byte(next)) return malformed;
        code_point = (code_point << 6) | (next & 0x3Fu);
    }
    if (!is_well_formed(lead.size, code_point)) return malformed;
    return {code_point, lead.size};
}

bool is_whitespace(char32_t character) {
    return (character >= 0x09 && character <= 0x0D) || (character >= 0x1C && character <= 0x20) ||
           character == 0x85 || character == 0xA0 || character == 0x1680 ||
           (character >= 0x2000 && character <= 0x200A) || character == 0x2028 || character == 0x2029 ||
           character == 0x202F || character == 0x205F || character == 0x3000;
}

char32_t lower_case(char32_t character) {
    if (character >= U'A' && character <= U'Z') return character - U'A' + U'a';
    if (character == U'\u212A') return U'k';  // Kelvin sign
    return character;
}

std::string_view trim_whitespace(std::string_view text) {
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

Word next_word(std::string_view text, std::size_t from) {
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

}  // namespace skillhook
