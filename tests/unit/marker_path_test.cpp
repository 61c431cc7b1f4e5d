// The marker's file name: one file directly in the marker folder for every
// skill name, the same as earlier versions wrote wherever the name can stand
// as it is, and never the same for two names.
#include "duplicate_suppression.hpp"
#include "path_rules.hpp"

#include <gtest/gtest.h>

#include <string>

namespace skillhook::testing {
namespace {

TEST(MarkerPath, EachSystemKeepsWhatItCanHoldAndEncodesTheRest) {
    struct Case {
        std::string name;
        const char* on_posix;
        const char* on_windows;
    };
    const Case cases[] = {
        {"tvx-auth", ".dedup_tvx-auth", ".dedup_tvx-auth"},
        {"TVX Auth", ".dedup_TVX Auth", ".dedup_TVX Auth"},
        {"\xC3\xA9t\xC3\xA9", ".dedup_\xC3\xA9t\xC3\xA9", ".dedup_\xC3\xA9t\xC3\xA9"},
        {"100%", ".dedup_100%", ".dedup_100%"},
        {"..", ".dedup_..", ".dedup-.%2E"},
        {"tolvex:tvx-auth", ".dedup_tolvex:tvx-auth", ".dedup-tolvex%3Atvx-auth"},
        {"a/b%", ".dedup-a%2Fb%25", ".dedup-a%2Fb%25"},
        {"../x", ".dedup-..%2Fx", ".dedup-..%2Fx"},
        {"a\\b", ".dedup_a\\b", ".dedup-a%5Cb"},
        {"x:$DATA", ".dedup_x:$DATA", ".dedup-x%3A$DATA"},
        {"why? <a|b> \"*\"", ".dedup_why? <a|b> \"*\"", ".dedup-why%3F %3Ca%7Cb%3E %22%2A%22"},
        {"trailing ", ".dedup_trailing ", ".dedup-trailing%20"},
        {"a.b", ".dedup_a.b", ".dedup_a.b"},
        {std::string("tvx-auth\0x", 10), ".dedup-tvx-auth%00x", ".dedup-tvx-auth%00x"},
        {"tab\there", ".dedup_tab\there", ".dedup-tab%09here"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(marker_file_name(c.name, posix_paths::refuses_in_file_name), c.on_posix) << c.name;
        EXPECT_EQ(marker_file_name(c.name, windows_paths::refuses_in_file_name), c.on_windows) << c.name;
    }
}

TEST(MarkerPath, IsTheFileNameInTheFolder) {
    EXPECT_EQ(marker_path_in("/h/.tolvex/hooks", "tvx-auth"), platform::join_path("/h/.tolvex/hooks", ".dedup_tvx-auth"));
    EXPECT_EQ(marker_path_in("/h/.tolvex/hooks/", "a/b"), platform::join_path("/h/.tolvex/hooks/", ".dedup-a%2Fb"));
}

}  // namespace
}  // namespace skillhook::testing
