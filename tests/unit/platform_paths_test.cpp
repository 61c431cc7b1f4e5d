// Lexical paths: the tool's folder and the marker's path are worked out with
// these, so a wrong parent or join sends a file astray.
#include "platform.hpp"

#include <gtest/gtest.h>

#include <string>

namespace skillhook::platform {
namespace {

struct PathCase {
    const char* given;
    const char* expected;
};

TEST(PlatformPaths, ParentDirectoryDropsTheLastComponent) {
    const PathCase cases[] = {
#if defined(_WIN32)
        {"C:\\Program Files\\tolvex\\report_skill_usage.exe", "C:\\Program Files\\tolvex"},
        {"C:/tools/report_skill_usage.exe", "C:/tools"},
        {"C:\\tools/bin\\report_skill_usage.exe", "C:\\tools/bin"},
        {"\\\\server\\share\\report_skill_usage.exe", "\\\\server\\share"},
        {"C:\\report_skill_usage.exe", "C:\\"},
        {"\\report_skill_usage.exe", "\\"},
#else
        {"/opt/tolvex/bin/report_skill_usage", "/opt/tolvex/bin"},
        {"/report_skill_usage", "/"},
        {"odd\\name/report_skill_usage", "odd\\name"},
#endif
        {"report_skill_usage", "."},
    };
    for (const PathCase& c : cases) EXPECT_EQ(parent_directory(c.given), c.expected) << c.given;
}

TEST(PlatformPaths, JoinPathAddsOneSeparator) {
#if defined(_WIN32)
    EXPECT_EQ(join_path("C:\\Users\\ana", ".tolvex"), "C:\\Users\\ana\\.tolvex");
    EXPECT_EQ(join_path("C:\\Users\\ana\\", ".tolvex"), "C:\\Users\\ana\\.tolvex");
    EXPECT_EQ(join_path("C:/Users/ana/", ".tolvex"), "C:/Users/ana/.tolvex");
    EXPECT_EQ(join_path("C:\\", "tolvex.exe"), "C:\\tolvex.exe");
#else
    EXPECT_EQ(join_path("/home/ana", ".tolvex"), "/home/ana/.tolvex");
    EXPECT_EQ(join_path("/home/ana/", ".tolvex"), "/home/ana/.tolvex");
    EXPECT_EQ(join_path("/", "tolvex"), "/tolvex");
#endif
}

TEST(PlatformPaths, NamesThatWouldNotStayOneFileOfTheFolderAreRecognised) {
    struct NameCase {
        const char* name;
        bool refused;
    };
    const NameCase cases[] = {
        {"tvx-auth", false},
        {"\xC3\xA9t\xC3\xA9", false},
        {"x.y", false},
        {"a/b", true},
        {"/", true},
#if defined(_WIN32)
        {"a\\b", true},
        {"x:stream", true},
        {"x::$DATA", true},
        {"C:name", true},
        {"trailing.", true},
        {"trailing ", true},
#else
        {"a\\b", false},
        {"x:stream", false},
        {"trailing.", false},
#endif
    };
    for (const NameCase& c : cases) EXPECT_EQ(holds_path_separator(c.name), c.refused) << c.name;
}

}  // namespace
}  // namespace skillhook::platform
