// Lexical path rules of both systems and the password file's line format,
// tested on every platform: the tool's folder and the marker's path are worked
// out with them, so a wrong parent or join sends a file astray.
#include "path_rules.hpp"
#include "platform.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace skillhook {
namespace {

struct PathCase {
    const char* given;
    const char* expected;
};

TEST(PathRules, ParentDirectoryDropsTheLastComponent) {
    const PathCase posix[] = {
        {"/opt/tolvex/bin/report_skill_usage", "/opt/tolvex/bin"},
        {"/report_skill_usage", "/"},
        {"odd\\name/report_skill_usage", "odd\\name"},
        {"report_skill_usage", "."},
    };
    for (const PathCase& c : posix) EXPECT_EQ(posix_paths::parent_directory(c.given), c.expected) << c.given;
    const PathCase windows[] = {
        {"C:\\Program Files\\tolvex\\report_skill_usage.exe", "C:\\Program Files\\tolvex"},
        {"C:/tools/report_skill_usage.exe", "C:/tools"},
        {"C:\\tools/bin\\report_skill_usage.exe", "C:\\tools/bin"},
        {"\\\\server\\share\\report_skill_usage.exe", "\\\\server\\share"},
        {"C:\\report_skill_usage.exe", "C:\\"},
        {"\\report_skill_usage.exe", "\\"},
        {"report_skill_usage.exe", "."},
    };
    for (const PathCase& c : windows) EXPECT_EQ(windows_paths::parent_directory(c.given), c.expected) << c.given;
}

TEST(PathRules, JoinAddsOneSeparator) {
    EXPECT_EQ(posix_paths::join("/home/ana", ".tolvex"), "/home/ana/.tolvex");
    EXPECT_EQ(posix_paths::join("/home/ana/", ".tolvex"), "/home/ana/.tolvex");
    EXPECT_EQ(posix_paths::join("/", "tolvex"), "/tolvex");
    EXPECT_EQ(posix_paths::join("C:\\x\\", "y"), "C:\\x\\/y");
    EXPECT_EQ(windows_paths::join("C:\\Users\\ana", ".tolvex"), "C:\\Users\\ana\\.tolvex");
    EXPECT_EQ(windows_paths::join("C:\\Users\\ana\\", ".tolvex"), "C:\\Users\\ana\\.tolvex");
    EXPECT_EQ(windows_paths::join("C:/Users/ana/", ".tolvex"), "C:/Users/ana/.tolvex");
    EXPECT_EQ(windows_paths::join("C:\\", "tolvex.exe"), "C:\\tolvex.exe");
}

// Windows takes paths past 260 characters only in this form.
TEST(PathRules, WindowsLongFormOfAFullPath) {
    const PathCase cases[] = {
        {"C:\\Users\\ana\\.tolvex", "\\\\?\\C:\\Users\\ana\\.tolvex"},
        {"\\\\server\\share\\ana", "\\\\?\\UNC\\server\\share\\ana"},
        {"\\\\?\\C:\\x", "\\\\?\\C:\\x"},
        {"\\\\.\\pipe\\x", "\\\\.\\pipe\\x"},
    };
    for (const PathCase& c : cases) EXPECT_EQ(windows_paths::long_form(c.given), c.expected) << c.given;
}

TEST(PasswdLine, FindsTheHomeOfExactlyThisUser) {
    struct Case {
        const char* line;
        unsigned uid;
        std::optional<std::string> home;
    };
    for (const Case& c : {
             Case{"root:x:0:0:root:/root:/bin/bash\n", 0, "/root"},
             Case{"ann:x:1000:1000:Ann,,,:/home/ann:/bin/sh", 1000, "/home/ann"},
             Case{"ann:x:1000:1000:Ann:/home/ann\n", 1000, "/home/ann"},
             Case{"ann:x:1000:1000:Ann:/home/ann:/bin/sh\n", 100, std::nullopt},
             Case{"ann:x:10000:1000:Ann:/home/ann:/bin/sh\n", 1000, std::nullopt},
             Case{"svc:x:7:7:svc::/bin/false\n", 7, std::nullopt},
             Case{"broken:x:7\n", 7, std::nullopt},
             Case{"# comment\n", 0, std::nullopt},
         })
        EXPECT_EQ(home_in_passwd_line(c.line, c.uid), c.home) << c.line;
}

TEST(PathRules, TheNativeRulesAreThisSystemsOwn) {
#if defined(_WIN32)
    EXPECT_EQ(platform::join_path("C:\\x", "y"), windows_paths::join("C:\\x", "y"));
    EXPECT_TRUE(platform::refuses_in_file_name(':', false));
#else
    EXPECT_EQ(platform::join_path("/x", "y"), posix_paths::join("/x", "y"));
    EXPECT_FALSE(platform::refuses_in_file_name(':', false));
#endif
}

}  // namespace
}  // namespace skillhook
