#include "parser_refusals.hpp"

#include <cstddef>
#include <utility>

namespace skillhook {
namespace {

constexpr std::size_t escape_size = 6;  // \uXXXX

// The code unit of the \u escape at `position`, or nothing when no whole one is there.
std::optional<unsigned> escaped_code_unit(std::string_view text, std::size_t position) {
    if (text.size() - position < escape_size || text[position] != '\\' || text[position + 1] != 'u')
        return std::nullopt;
    unsigned unit = 0;
    for (std::size_t i = position + 2; i < position + escape_size; ++i) {
        const char c = text[i];
        const unsigned digit = c >= '0' && c <= '9'   ? static_cast<unsigned>(c - '0')
                               : c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                               : c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
                                                      : 16;
        if (digit == 16) return std::nullopt;
        unit = unit * 16 + digit;
    }
    return unit;
}

bool is_leading_surrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_surrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The copy, made at the first change.
class Rewrite {
public:
    explicit Rewrite(std::string_view text) : text_(text) {}

    void replace(std::size_t position, std::size_t size, char by) {
        if (!copy_) copy_.emplace(text_);
        copy_->replace(position, size, size, by);
    }
    std::optional<std::string> result() && { return std::move(copy_); }

private:
    std::string_view text_;
    std::optional<std::string> copy_;
};

// From just past a string's opening quote to just past its closing one.
std::size_t rewrite_string(std::string_view text, std::size_t position, Rewrite& rewrite) {
    while (position < text.size()) {
        const char c = text[position];
        if (c == '"') return position + 1;
        if (c != '\\') {
            ++position;
            continue;
        }
        const std::optional<unsigned> unit = escaped_code_unit(text, position);
        if (!unit || !is_surrogate(*unit)) {
            position += 2;  // any escape but \u takes two characters; the digits of \u are ordinary ones
            continue;
        }
        if (is_leading_surrogate(*unit)) {
            const std::optional<unsigned> next = escaped_code_unit(text, position + escape_size);
            if (next && is_surrogate(*next) && !is_leading_surrogate(*next)) {
                position += 2 * escape_size;  // a pair
                continue;
            }
        }
        rewrite.replace(position + 2, escape_size - 2, '0');
        position += escape_size;
    }
    return position;
}

// From just past an 'e' or 'E' outside strings, which in grammatical text
// begins an exponent, to just past its digits.
std::size_t rewrite_exponent(std::string_view text, std::size_t position, Rewrite& rewrite) {
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) ++position;
    const std::size_t digits_start = position;
    bool nonzero = false;
    for (; position < text.size() && is_digit(text[position]); ++position) nonzero = nonzero || text[position] != '0';
    if (nonzero) rewrite.replace(digits_start, position - digits_start, '0');
    return position;
}

}  // namespace

std::optional<std::string> without_parser_refusals(std::string_view json_text) {
    Rewrite rewrite(json_text);
    for (std::size_t position = 0; position < json_text.size();) {
        const char c = json_text[position++];
        if (c == '"') position = rewrite_string(json_text, position, rewrite);
        if (c == 'e' || c == 'E') position = rewrite_exponent(json_text, position, rewrite);
    }
    return std::move(rewrite).result();
}

}  // namespace skillhook
