// The POSIX side of the platform unit, against the system itself.
#include "platform.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <pwd.h>
#include <unistd.h>

namespace skillhook::platform {
namespace {

class HomeDirectory : public ::testing::Test {
protected:
    void TearDown() override {
        if (saved_home)
            ::setenv("HOME", saved_home->c_str(), 1);
        else
            ::unsetenv("HOME");
    }
    static std::string account_home() { return ::getpwuid(::getuid())->pw_dir; }
    std::optional<std::string> saved_home =
        std::getenv("HOME") ? std::optional<std::string>(std::getenv("HOME")) : std::nullopt;
};

TEST_F(HomeDirectory, ComesFromHomeWhenSet) {
    ::setenv("HOME", "/some/where", 1);
    EXPECT_EQ(home_directory(), "/some/where");
}

TEST_F(HomeDirectory, EmptyRelativeOrUnsetHomeFallsBackToTheAccount) {
    // A relative HOME would put the marker folder into the working directory.
    for (const char* home : {"", ".", "rel", "rel/home"}) {
        ::setenv("HOME", home, 1);
        EXPECT_EQ(home_directory(), account_home()) << home;
    }
    ::unsetenv("HOME");
    EXPECT_EQ(home_directory(), account_home());
}

}  // namespace
}  // namespace skillhook::platform
