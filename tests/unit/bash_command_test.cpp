// Recognition of the tool in Bash command lines: words, program names,
// quotes, and the Unicode rules for whitespace and lower-casing.
#include "bash_command.hpp"
#include "resolution_outcome.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skillhook::testing {
namespace {

struct CommandCase {
    std::string command;
    std::string_view expected;
};

std::string outcome(std::string_view command) {
    const auto skill = _resolve_bash_tolvex_command(command);
    return skill ? *skill : std::string(absent);
}

void expect_outcomes(const std::vector<CommandCase>& cases) {
    for (const auto& [command, expected] : cases) EXPECT_EQ(outcome(command), expected) << '[' << command << ']';
}

// UTF-8 of a character of the Basic Multilingual Plane.
std::string utf8(char32_t c) {
    if (c < 0x80) return {static_cast<char>(c)};
    if (c < 0x800) return {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    return {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
}

const std::vector<char32_t> whitespace = {
    0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x1C,   0x1D,   0x1E,   0x1F,   0x20,
    0x85,   0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006,
    0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

// Next to the whitespace characters, or commonly taken for whitespace elsewhere.
const std::vector<char32_t> not_whitespace = {
    0x00, 0x08, 0x0E, 0x1B, 0x21, 0x7F, 0x84, 0x86, 0x9F, 0xA1, 0x167F, 0x1681, 0x180E,
    0x1FFF, 0x200B, 0x200C, 0x2027, 0x202A, 0x202E, 0x2030, 0x205E, 0x2060, 0x2FFF, 0x3001, 0xFEFF,
};

TEST(BashCommand, EdgeCases) {
    expect_outcomes({
        {"tolvex auth token status", "tvx-auth"},
        {"tolvex query metadata --dataset xxx", "tvx-dataset-query"},
        {"tolvex skills list", "tvx-skills"},
        {"tolvex mcp", "tvx-skills"},
        {R"("D:\path\to\tolvex.exe" auth login)", "tvx-auth"},
        {"python -m tolvex auth ...", "tvx-auth"},
        {"", absent},
        {" \t\r\n ", absent},
        {"tolvex", absent},
        {"tolvexx auth", "tvx-auth"},
        {"cd /x && tolvex query run", "tvx-dataset-query"},
        {"TOLVEX.EXE Auth", "tvx-auth"},
        {R"(C:\Tools\TolVex.exe skills)", "tvx-skills"},
        {"'tolvex skills list'", "tvx-skills"},
        {R"("tolvex auth login")", "tvx-auth"},
        {"tolvex feedback submit", absent},
        {"tolvex --verbose auth login", absent},
        {"tolvex 'auth' login", absent},
        {"tolvex auth;", absent},
        {"echo tolvex; tolvex auth login", absent},
        {"cat /srv/tolvex/readme", absent},
        {"ls /opt/tolvex/ auth", absent},
        {"which tolvex", absent},
        {"git commit -m 'tolvex auth docs'", "tvx-auth"},
        {"git status", absent},
        {"npm install", absent},
        {"tolvex\tauth\nlogin", "tvx-auth"},
        {"\"", absent},
        {"\"\"", absent},
    });
}

TEST(BashCommand, ProgramNameAndSubcommand) {
    expect_outcomes({
        {R"(..\bin/TolVex skills)", "tvx-skills"},
        {R"(C:\tolvex\bin\run.exe auth)", absent},
        {"tol vex auth", absent},
        // A match that fails part-way must not hide one starting inside it.
        {"toltolvex auth", "tvx-auth"},
        {"tolvetolvex auth", "tvx-auth"},
        {"tolvex tolvex auth", absent},
        {"tolvex sKiLlS", "tvx-skills"},
        {"tolvex auths", absent},
        {"tolvex skillsskills", absent},
        {"tolvex auth\\", absent},
    });
}

TEST(BashCommand, OnePairOfMatchingQuotesIsRemovedOnce) {
    expect_outcomes({
        {"  'tolvex auth'  ", "tvx-auth"},
        {"' tolvex auth '", "tvx-auth"},
        {"''tolvex auth''", absent},  // 'tolvex then auth' with its quote
        {"\"tolvex auth'", absent},   // mixed quotes stay: the subcommand is auth'
        {"'tolvex auth", "tvx-auth"},
        {"tolvex auth'", absent},
        {"'", absent},
        {"''", absent},
        {"' '", absent},
        {"`tolvex auth`", absent},
        {"\u201Ctolvex auth\u201D", absent},
    });
}

TEST(BashCommand, EveryWhitespaceCharacterSplitsAndIsTrimmed) {
    for (const char32_t c : whitespace) {
        const std::string w = utf8(c);
        expect_outcomes({
            {"tolvex" + w + "auth", "tvx-auth"},
            {w + "tolvex" + w + w + "query" + w, "tvx-dataset-query"},
            {w + "tolvex" + w, absent},
            {w + w, absent},
            // Only a fully trimmed line is unwrapped; otherwise skills' keeps its quote.
            {w + "'tolvex skills'" + w, "tvx-skills"},
            {"\"" + w + "tolvex mcp" + w + "\"", "tvx-skills"},
        });
    }
}

TEST(BashCommand, OtherCharactersDoNotSplit) {
    for (const char32_t c : not_whitespace) {
        const std::string x = utf8(c);
        expect_outcomes({
            {"tolvex" + x + "auth", absent},
            {"tolvex auth" + x, absent},
            {x + "'tolvex auth'", absent},
            {x + "tolvex auth", "tvx-auth"},
        });
    }
}

TEST(BashCommand, LowerCasingFoldsAsciiAndTheKelvinSignOnly) {
    expect_outcomes({
        {"tolvex S\u212AILLS", "tvx-skills"},
        {"tolvex s\u212Aills", "tvx-skills"},
        {"tolvex SK\u0130LLS", absent},   // capital I with dot above
        {"tolvex \uFF21\uFF35\uFF34\uFF28", absent},  // fullwidth AUTH
        {"\uFF34\uFF2F\uFF2C\uFF36\uFF25\uFF38 auth", absent},
        {"tol\u212Avex auth", absent},
        {"\u212Atolvex\u212A auth", "tvx-auth"},
        {"TOLV\u0395X auth", absent},  // Greek capital epsilon
        {"tolv\u0435x auth", absent},  // Cyrillic small ie
    });
}

TEST(BashCommand, MultiByteCharactersAroundWords) {
    expect_outcomes({
        {"\u00F1tolvex\u00E9 auth", "tvx-auth"},
        {"\u65E5\u672Ctolvex skills", "tvx-skills"},
        {"/opt/\u00FCn\u00EF/tolvex query", "tvx-dataset-query"},
        {"/opt/tolvex\u00FC/run auth", absent},
        {"tolvex \u00E9t\u00E9", absent},
        {"tolvex a\u00FCth", absent},
        {"\U0001F600 tolvex auth", "tvx-auth"},
        {"tolvex auth\U0001F600", absent},
        // U+00A0 splits a Windows path: C:\Program, Files\tolvex.exe, auth.
        {"C:\\Program\u00A0Files\\tolvex.exe auth", "tvx-auth"},
        {"\"C:\\Program\u00A0Files\\TolVex\\tolvex.exe\" auth", "tvx-auth"},
        // C:\TolVex is a tool word here, and Tools\run.exe its subcommand.
        {"C:\\TolVex\u00A0Tools\\run.exe auth", absent},
        {"C:\\Tools\u00A0tolvex\u00A0skills", "tvx-skills"},
        {"C:\\Tools\u200Btolvex\u200Bskills", absent},
    });
}

TEST(BashCommand, MalformedUtf8BytesAreOrdinaryCharacters) {
    expect_outcomes({
        {"tolvex\xE2 auth", "tvx-auth"},      // a lead byte must not swallow the space
        {"tolvex\xE2\x80 auth", "tvx-auth"},  // truncated sequence
        {"tolvex auth\xE2\x80", absent},
        {"tolvex auth \xE2\x80", "tvx-auth"},
        {"tolvex\xC0\xA0" "auth", absent},        // overlong space
        {"tolvex\xE0\x80\xA0" "auth", absent},    // overlong space
        {"tolvex\xC2\x20" "auth", "tvx-auth"},    // C2 is followed by a plain space
        {"tolvex\xED\xA0\x80" "auth", absent},    // encoded surrogate
        {"\xED\xA0\x80tolvex auth", "tvx-auth"},
        {"\xFF\xFEtolvex \xF5" "auth", absent},
        {"\x80 tolvex skills \x80", "tvx-skills"},
        {"'tolvex auth'\xE2\x80\x80", "tvx-auth"},  // trailing U+2000 is trimmed before unwrapping
        {"\xE2\x80\x80\xE2\x80\x80", absent},
        {"\xE2\x80\x80\x80", absent},
        {std::string("tolvex\0auth", 11), absent},
        {std::string("tolvex auth\0", 12), absent},
    });
}

TEST(BashCommand, TableHasTheFourSubcommands) {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const ToolSkill& row : _BASH_TOLVEX_TO_SKILL) {
        rows.emplace_back(row.tool, row.skill);
        EXPECT_EQ(outcome("tolvex " + std::string(row.tool)), row.skill);
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"auth", "tvx-auth"}, {"query", "tvx-dataset-query"}, {"skills", "tvx-skills"}, {"mcp", "tvx-skills"}};
    EXPECT_EQ(rows, expected);
}

TEST(BashCommand, ReachedThroughEventResolutionWithJsonEscapes) {
    const auto bash_event = [](const std::string& command) {
        return R"({"tool_name":"Bash","tool_input":{"command":")" + command + R"("}})";
    };
    EXPECT_EQ(resolution_outcome(bash_event(R"(tolvex\u3000S\u212AILLS list)")), "tvx-skills");
    EXPECT_EQ(resolution_outcome(bash_event(R"(\"C:\\Tools\\TolVex.exe\" auth)")), "tvx-auth");
    EXPECT_EQ(resolution_outcome(bash_event(R"(tolvex\u200Bauth)")), absent);
    EXPECT_EQ(resolution_outcome(bash_event(R"(tolvex\u0000auth)")), absent);
    // A lone surrogate escape is one ordinary character: neither space nor letter.
    EXPECT_EQ(resolution_outcome(bash_event(R"(tolvex auth\ud800)")), absent);
    EXPECT_EQ(resolution_outcome(bash_event(R"(tolvex auth login \ud83d)")), "tvx-auth");
}

}  // namespace
}  // namespace skillhook::testing
