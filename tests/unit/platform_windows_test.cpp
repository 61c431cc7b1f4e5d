// The Windows side of the platform unit, against the system itself.
#include "platform.hpp"
#include "utf8_paths.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace skillhook::platform {
namespace {
namespace fs = std::filesystem;

using testing::utf8_path;
using testing::utf8_text;

std::int64_t nanoseconds_since_epoch(FileTime time) { return time.seconds * 1'000'000'000 + time.nanoseconds; }

// Sets USERPROFILE for one test and puts the old value back.
class UserProfileOverride {
public:
    explicit UserProfileOverride(const wchar_t* value) {
        wchar_t old[32768];
        const DWORD length = ::GetEnvironmentVariableW(L"USERPROFILE", old, 32768);
        if (length > 0 && length < 32768) saved_ = std::wstring(old, length);
        ::SetEnvironmentVariableW(L"USERPROFILE", value);
    }
    ~UserProfileOverride() { ::SetEnvironmentVariableW(L"USERPROFILE", saved_ ? saved_->c_str() : nullptr); }

private:
    std::optional<std::wstring> saved_;
};

class PlatformWindows : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("skillhook-unit-" + std::to_string(std::random_device()()));
        fs::create_directory(folder);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    fs::path folder;
};

TEST_F(PlatformWindows, HomeIsUserProfileConvertedToUtf8) {
    const UserProfileOverride profile(L"C:\\Users\\Zo\u00EB \u65E5\u672C");
    EXPECT_EQ(home_directory(), "C:\\Users\\Zo\xC3\xAB \xE6\x97\xA5\xE6\x9C\xAC");
}

TEST_F(PlatformWindows, WithoutAnAbsoluteUserProfileHomeIsTheAccountsProfileFolder) {
    // A relative one would put the marker folder into the working directory.
    for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L"", L".", L"rel", L"\\rooted", L"C:rel"}) {
        const UserProfileOverride profile(value);
        const std::string home = home_directory();
        EXPECT_TRUE(utf8_path(home).is_absolute()) << home;
        EXPECT_TRUE(fs::is_directory(utf8_path(home))) << home;
    }
}

TEST_F(PlatformWindows, CurrentTimeHasSubMillisecondPrecisionIn100NanosecondSteps) {
    bool finer_than_a_millisecond = false;
    for (int sample = 0; sample < 20; ++sample) {
        const FileTime now = current_time();
        EXPECT_GE(now.nanoseconds, 0);
        EXPECT_LT(now.nanoseconds, 1'000'000'000);
        EXPECT_EQ(now.nanoseconds % 100, 0);
        finer_than_a_millisecond = finer_than_a_millisecond || now.nanoseconds % 1'000'000 != 0;
    }
    EXPECT_TRUE(finer_than_a_millisecond);
    const auto system_now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    EXPECT_NEAR(static_cast<double>(current_time().seconds), static_cast<double>(system_now.count()), 2.0);
}

TEST_F(PlatformWindows, TouchCreatesAndRefreshesWithTheTimeGiven) {
    const std::string marker = join_path(utf8_text(folder), ".dedup_\xC3\xA9t\xC3\xA9");  // ".dedup_été"
    const fs::path wide_marker = folder / L".dedup_\u00E9t\u00E9";

    EXPECT_FALSE(exists(marker));
    const FileTime created = current_time();
    touch(marker, created);
    ASSERT_TRUE(fs::is_regular_file(wide_marker)) << "the name did not reach the file system as UTF-16";
    EXPECT_TRUE(exists(marker));
    // Exactly: the clock and the file system both count in 100-ns steps.
    EXPECT_EQ(nanoseconds_since_epoch(*modification_time(marker)), nanoseconds_since_epoch(created));

    std::ofstream(wide_marker) << "kept";
    fs::last_write_time(wide_marker, fs::file_time_type::clock::now() - std::chrono::hours(1));
    const FileTime refreshed = current_time();
    touch(marker, refreshed);
    EXPECT_EQ(nanoseconds_since_epoch(*modification_time(marker)), nanoseconds_since_epoch(refreshed));
    std::ifstream content(wide_marker);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(content), {}), "kept");
}

TEST_F(PlatformWindows, ExistsAnswersForAnyKindOfEntryAndMissingParents) {
    const std::string base = utf8_text(folder);
    fs::create_directory(folder / "sub");
    EXPECT_TRUE(exists(join_path(base, "sub")));
    EXPECT_TRUE(exists(base + "/sub"));
    EXPECT_FALSE(exists(join_path(base, "missing")));
    EXPECT_FALSE(exists(join_path(base, "missing\\deeper")));
}

TEST_F(PlatformWindows, TextThatIsNotUtf8IsAFailure) {
    EXPECT_THROW(exists(utf8_text(folder) + "\\bad\xFF"), std::system_error);
    EXPECT_THROW(touch(utf8_text(folder) + "\\bad\xC3", current_time()), std::system_error);
}

TEST_F(PlatformWindows, CreateDirectoriesMakesParentsAndRefusesAFileInTheWay) {
    const std::string base = utf8_text(folder);
    create_directories(base + "\\a\\b/c");
    EXPECT_TRUE(fs::is_directory(folder / "a" / "b" / "c"));
    create_directories(base + "\\a\\b/c");  // existing: no error

    std::ofstream(folder / "file") << "";
    EXPECT_THROW(create_directories(base + "\\file"), std::system_error);
    EXPECT_THROW(create_directories(base + "\\file\\below"), std::system_error);
}

// Past MAX_PATH (260) the system takes a path only in its long form, made
// from the full path: "/" and ".." must be worked out before.
TEST_F(PlatformWindows, PathsLongerThanMaxPathWorkAsShortOnes) {
    const std::string deep = utf8_text(folder) + "\\" + std::string(120, 'a') + "/" + std::string(120, 'b') +
                             "\\..\\" + std::string(120, 'c');
    create_directories(deep);
    ASSERT_TRUE(fs::is_directory(folder / std::string(120, 'a') / std::string(120, 'c')));
    const std::string marker = join_path(deep, ".dedup_" + std::string(200, 'x'));
    EXPECT_FALSE(exists(marker));
    EXPECT_EQ(modification_time(marker), std::nullopt);
    const FileTime stamp = current_time();
    touch(marker, stamp);
    EXPECT_TRUE(exists(marker));
    EXPECT_EQ(nanoseconds_since_epoch(*modification_time(marker)), nanoseconds_since_epoch(stamp));
    EXPECT_EQ(folder_entries(deep), std::vector<std::string>{".dedup_" + std::string(200, 'x')});
}

TEST_F(PlatformWindows, OwnExecutablePathIsThisProgram) {
    const fs::path own = utf8_path(own_executable_path());
    EXPECT_TRUE(own.is_absolute());
    EXPECT_EQ(own.filename(), "unit_tests.exe");
}

}  // namespace
}  // namespace skillhook::platform
