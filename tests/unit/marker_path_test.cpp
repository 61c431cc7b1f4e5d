// The marker path: one file directly in the marker folder, or none at all.
#include "duplicate_suppression.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace skillhook::testing {
namespace {

TEST(MarkerPath, PlainNamesAreUsedUnchanged) {
    EXPECT_EQ(marker_path_in("/h/.tolvex/hooks", "tvx-auth"), platform::join_path("/h/.tolvex/hooks", ".dedup_tvx-auth"));
    EXPECT_EQ(marker_path_in("/h/.tolvex/hooks/", "TVX Auth"), platform::join_path("/h/.tolvex/hooks/", ".dedup_TVX Auth"));
#if !defined(_WIN32)
    // The prefix keeps dot names inside the folder. (Windows drops a trailing
    // dot from file names, so there such names get no marker.)
    EXPECT_EQ(marker_path_in("/h", ".."), "/h/.dedup_..");
#endif
}

TEST(MarkerPath, NamesThatWouldLeaveTheFolderOrBeCutShortGetNone) {
    for (const std::string& name : {std::string("../x"), std::string("a/b"), std::string("/"), std::string("x/"),
                                    std::string("a\0b", 3), std::string(1, '\0')})
        EXPECT_EQ(marker_path_in("/h/.tolvex/hooks", name), std::nullopt) << name;
}

}  // namespace
}  // namespace skillhook::testing
