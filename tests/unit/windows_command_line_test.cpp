// The quoting that carries the tool's arguments through a Windows command
// line. The process tests check it against the real parsers under Windows;
// this pins the text itself on every platform.
#include "windows_command_line.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace skillhook {
namespace {

TEST(WindowsCommandLine, QuotesEveryArgumentByTheRuntimeRules) {
    struct Case {
        std::string argument;
        std::string quoted;
    };
    const Case cases[] = {
        {"tvx-auth", R"("tvx-auth")"},
        {"", R"("")"},
        {"two words", R"("two words")"},
        {R"(say "hi")", R"("say \"hi\"")"},
        {R"(C:\no\quote)", R"("C:\no\quote")"},
        {R"(trailing\)", R"("trailing\\")"},
        {R"(trailing\\)", R"("trailing\\\\")"},
        {R"(before\"quote)", R"("before\\\"quote")"},
        {R"(two\\"quote)", R"("two\\\\\"quote")"},
        {"wild*card?", R"("wild*card?")"},
    };
    for (const Case& c : cases) {
        const std::string line = windows_command_line({R"(C:\Program Files\tolvex\tolvex.exe)", c.argument});
        EXPECT_EQ(line, R"("C:\Program Files\tolvex\tolvex.exe" )" + c.quoted) << c.argument;
    }
}

TEST(WindowsCommandLine, RefusesWhatNoCommandLineCanCarry) {
    EXPECT_THROW(windows_command_line({}), std::runtime_error);
    EXPECT_THROW(windows_command_line({R"(C:\odd"path\tolvex.exe)", "x"}), std::runtime_error);
    EXPECT_THROW(windows_command_line({"tolvex.exe", std::string("a\0b", 3)}), std::runtime_error);
}

}  // namespace
}  // namespace skillhook
