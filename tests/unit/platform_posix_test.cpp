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

TEST_F(HomeDirectory, EmptyOrUnsetHomeFallsBackToTheAccount) {
    ::setenv("HOME", "", 1);
    EXPECT_EQ(home_directory(), account_home());
    ::unsetenv("HOME");
    EXPECT_EQ(home_directory(), account_home());
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

}  // namespace
}  // namespace skillhook::platform
