#include "command_line_text.hpp"

#include <algorithm>

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

std::size_t whitespace_size_at(std::string_view text, std::size_t position) {
    const TextCharacter character = character_at(text, position);
    return is_whitespace(character.code_point) ? character.size : 0;
}

namespace {

// 1 for the ASCII whitespace and the first bytes of the other whitespace
// characters (C2, E1, E2, E3). A byte, not a bool: compilers vectorise byte arithmetic.
unsigned char may_begin_whitespace(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return static_cast<unsigned char>(static_cast<unsigned char>(byte - 0x09) <= 0x0D - 0x09 ||
                                      static_cast<unsigned char>(byte - 0x1C) <= 0x20 - 0x1C || byte == 0xC2 ||
                                      static_cast<unsigned char>(byte - 0xE1) <= 0xE3 - 0xE1);
}

constexpr std::size_t chunk_size = 64;

// Whether any byte of a chunk may begin whitespace. No early exit, so that
// compilers turn the loop into a few vector instructions.
bool chunk_may_hold_whitespace(const char* chunk) {
    unsigned char any = 0;
    for (std::size_t i = 0; i < chunk_size; ++i) any |= may_begin_whitespace(chunk[i]);
    return any != 0;
}

// The size of the whitespace character that ends just before `end`, 0 for none.
std::size_t whitespace_size_before(std::string_view text, std::size_t end) {
    for (std::size_t size = 1; size <= 3 && size <= end; ++size)
        if (whitespace_size_at(text, end - size) == size) return size;
    return 0;
}

}  // namespace

std::size_t find_whitespace(std::string_view text, std::size_t from) {
    std::size_t position = from;
    while (position < text.size()) {
        if (text.size() - position >= chunk_size && !chunk_may_hold_whitespace(text.data() + position)) {
            position += chunk_size;
            continue;
        }
        const std::size_t stop = std::min(text.size(), position + chunk_size);
        for (; position < stop; ++position)
            if (may_begin_whitespace(text[position]) != 0 && whitespace_size_at(text, position) != 0)
                return position;
    }
    return text.size();
}

std::string_view trim_whitespace(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t size = whitespace_size_at(text, start);
        if (size == 0) break;
        start += size;
    }
    std::size_t end = text.size();
    while (end > start) {
        const std::size_t size = whitespace_size_before(text, end);
        if (size == 0) break;
        end -= size;
    }
    return text.substr(start, end - start);
}

Word next_word(std::string_view text, std::size_t from) {
    std::size_t start = from;
    while (start < text.size()) {
        const std::size_t size = whitespace_size_at(text, start);
        if (size == 0) break;
        start += size;
    }
    const std::size_t end = find_whitespace(text, start);
    return {text.substr(start, end - start), end};
}

Word word_around(std::string_view text, std::size_t position) {
    std::size_t start = position;
    while (start > 0 && whitespace_size_before(text, start) == 0) --start;
    const std::size_t end = find_whitespace(text, position);
    return {text.substr(start, end - start), end};
}

}  // namespace skillhook
