// The marker's file name: one file directly in the marker folder for every
// skill name, the same as earlier versions wrote wherever the name can stand
// as it is, and never the same for two names; and the hash that names the
// marker of a name too long for that.
#include "duplicate_suppression.hpp"
#include "path_rules.hpp"
#include "sha256.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace skillhook::testing {
namespace {

TEST(MarkerPath, EachSystemKeepsWhatItCanHoldAndEncodesTheRest) {
    struct Case {
        std::string name;
        std::string on_posix;
        std::string on_windows;
    };
    std::string percent_slashes;
    for (int i = 0; i < 82; ++i) percent_slashes += "%2F";
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
        // The longest file names, and the first that are too long: the SHA-256 of the name.
        {std::string(248, 'x'), ".dedup_" + std::string(248, 'x'), ".dedup_" + std::string(248, 'x')},
        {std::string(249, 'x'), ".dedup=E1C28F9CEBDAAD582EE6A5A4F35D3013F625FF5BF09840E9041FA76E9B95D43C",
         ".dedup=E1C28F9CEBDAAD582EE6A5A4F35D3013F625FF5BF09840E9041FA76E9B95D43C"},
        {std::string(82, '/'), ".dedup-" + percent_slashes, ".dedup-" + percent_slashes},
        {std::string(83, '/'), ".dedup=7A42D6FF86CB963C2FB4F0D5700039EA9EC0FEDC5A53A2885204E12FF5697B02",
         ".dedup=7A42D6FF86CB963C2FB4F0D5700039EA9EC0FEDC5A53A2885204E12FF5697B02"},
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

TEST(Sha256, KnownAnswers) {
    struct Case {
        std::string message;
        const char* digest;
    };
    // FIPS 180-4's examples: one block, and padding that needs a second.
    for (const Case& c : {
             Case{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
             Case{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
             Case{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
         }) {
        std::string hex;
        for (const std::uint8_t byte : sha256(c.message)) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", byte);
            hex += digits;
        }
        EXPECT_EQ(hex, c.digest) << c.message;
    }
}

}  // namespace
}  // namespace skillhook::testing
