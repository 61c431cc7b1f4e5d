// Bash command recognition on arbitrary command lines.
//
// The input is four choice bytes and then the line. Properties:
// 0. Any line, valid UTF-8 or not, and each line built below, resolves as
//    the plain reading one character after another does
//    (plain_bash_reading.hpp): the searches the hook makes instead find
//    the same words.
// On valid UTF-8:
// 1. The result is absent or one of "tvx-auth", "tvx-dataset-query", "tvx-skills".
// 2. Whitespace (any of the 29 characters recognition splits at) added at
//    both ends of the line never changes the result.
// 3. Nothing after the word that follows the first tool word counts. Put
//    precisely: for any texts `head` and `tail`, a tool word T and a word S without
//    whitespace,
//        result(head + " " + T + " " + S + W + tail) == result(head + " " + T + " " + S)
//    for any non-empty whitespace W, as long as the line does not begin with
//    a quote after its whitespace: whether such a line is unwrapped depends
//    on its last character.
// The line is split into head and tail at a character boundary chosen by the
// input; T and S come from small lists of forms worth checking: tool words
// with paths, quotes and cases, subcommands that are rows and ones that are not.
#include "bash_command.hpp"
#include "fuzz_check.hpp"
#include "plain_bash_reading.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

// Resolved by the hook, and checked against the plain reading.
std::optional<std::string> resolve(std::string_view line) {
    std::optional<std::string> skill = skillhook::_resolve_bash_tolvex_command(line);
    FUZZ_CHECK(skill == skillhook::testing::plain_bash_tolvex_command(line));
    return skill;
}

constexpr std::array<std::string_view, 29> whitespace = {
    "\t", "\n", "\v", "\f", "\r", "\x1C", "\x1D", "\x1E", "\x1F", " ",
    "\u0085", "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006",
    "\u2007", "\u2008", "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};

constexpr std::array<std::string_view, 6> tool_words = {
    "tolvex", "TOLVEX.EXE", "C:\\Tools\\TolVex.exe", "\"D:\\path\\to\\tolvex.exe\"", "/usr/lib/tolvex/bin/tolvex-cli",
    "'tolvex"};

constexpr std::array<std::string_view, 10> subcommands = {
    "auth", "query", "skills", "mcp", "AUTH", "S\u212AILLS", "feedback", "--verbose", "'auth'", "auth;"};

bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
        if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

// The length of the whitespace character at the start of `text`, or 0.
std::size_t whitespace_at(std::string_view text) {
    for (const std::string_view space : whitespace)
        if (text.starts_with(space)) return space.size();
    return 0;
}

bool begins_with_quote_after_whitespace(std::string_view text) {
    while (const std::size_t length = whitespace_at(text)) text.remove_prefix(length);
    return text.starts_with('"') || text.starts_with('\'');
}

std::size_t character_boundary_at_or_before(std::string_view text, std::size_t position) {
    while (position > 0 && position < text.size() && (static_cast<unsigned char>(text[position]) & 0xC0u) == 0x80u)
        --position;
    return position;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::string_view line(reinterpret_cast<const char*>(data) + 4, size - 4);
    const std::optional<std::string> result = resolve(line);
    if (!is_valid_utf8(line)) return 0;

    FUZZ_CHECK(!result || *result == "tvx-auth" || *result == "tvx-dataset-query" || *result == "tvx-skills");

    const std::string_view space = whitespace[data[0] % whitespace.size()];
    const std::string_view other_space = whitespace[data[1] % whitespace.size()];
    FUZZ_CHECK(resolve(std::string(space) + std::string(line) + std::string(other_space)) == result);
    FUZZ_CHECK(resolve(std::string(space) + std::string(line)) == result);
    FUZZ_CHECK(resolve(std::string(line) + std::string(other_space)) == result);

    const std::size_t split = character_boundary_at_or_before(line, data[3] % (line.size() + 1));
    const std::string_view head = line.substr(0, split);
    const std::string_view tail = line.substr(split);
    const std::string_view tool = tool_words[data[2] % tool_words.size()];
    const std::string_view subcommand = subcommands[(data[2] / tool_words.size()) % subcommands.size()];
    const std::string through_subcommand = std::string(head) + " " + std::string(tool) + " " + std::string(subcommand);
    if (!begins_with_quote_after_whitespace(through_subcommand))
        FUZZ_CHECK(resolve(through_subcommand + std::string(space) + std::string(tail)) ==
                   resolve(through_subcommand));
    return 0;
}
