// The 30-second window and its marker files, with marker times set directly.
#include "duplicate_suppression.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>
#include <fcntl.h>
#include <unistd.h>

namespace skillhook {
namespace {
namespace fs = std::filesystem;
using platform::FileTime;

constexpr std::int64_t second = 1'000'000'000;

FileTime at(std::int64_t seconds, std::int64_t nanoseconds = 0) { return {seconds, nanoseconds}; }

TEST(DedupWindow, IsExactToTheNanosecond) {
    const std::int64_t t = 1'800'000'000;
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    struct Case {
        FileTime now, marked;
        bool within;
    };
    for (const Case& c : {
             Case{at(t), at(t), true},
             Case{at(t + 29, 999'999'999), at(t), true},
             Case{at(t + 30), at(t), false},
             Case{at(t + 30, 1), at(t), false},
             Case{at(t + 30, 0), at(t, 1), true},
             Case{at(t + 31, 0), at(t, 999'999'999), false},
             Case{at(t + 29, 500'000'000), at(t - 1, 500'000'001), true},
             Case{at(t), at(t + 5), true},  // a mark in the future
             Case{at(max), at(min), false},
             Case{at(min), at(max), true},
             Case{at(0), at(-30), false},
         })
        EXPECT_EQ(is_within_window(c.now, c.marked), c.within)
            << c.now.seconds << "." << c.now.nanoseconds << " vs " << c.marked.seconds << "." << c.marked.nanoseconds;
}

// Ext4 with small inodes and HFS+ cut a marker's time to whole seconds, FAT
// to even ones: a report at t + 0.85 s is stored as t, or t - 1, and a
// repeat 29.15 s after the report finds a mark 30 s or more old.
TEST(DedupWindow, AMarkStoredInWholeSecondsCountsAsTheLatestItMayStandFor) {
    const std::int64_t odd = 1'800'000'001;
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    struct Case {
        FileTime stored, latest;
    };
    for (const Case& c : {
             Case{at(odd, 850'000'000), at(odd, 850'000'000)},  // a fraction is kept exactly
             Case{at(odd, 1), at(odd, 1)},
             Case{at(odd), at(odd, 999'999'999)},
             Case{at(odd + 1), at(odd + 2, 999'999'999)},  // an even second, maybe FAT's
             Case{at(-1), at(-1, 999'999'999)},
             Case{at(max - 1), at(max, 999'999'999)},
         }) {
        const FileTime latest = latest_time_stored_as(c.stored);
        EXPECT_EQ(latest.seconds, c.latest.seconds) << c.stored.seconds << "." << c.stored.nanoseconds;
        EXPECT_EQ(latest.nanoseconds, c.latest.nanoseconds) << c.stored.seconds << "." << c.stored.nanoseconds;
    }
    EXPECT_TRUE(is_within_window(at(odd + 30), latest_time_stored_as(at(odd))));
    EXPECT_TRUE(is_within_window(at(odd + 30, 850'000'000), latest_time_stored_as(at(odd - 1))));
    EXPECT_FALSE(is_within_window(at(odd + 31), latest_time_stored_as(at(odd))));
}

class DuplicateSuppression : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "skillhook-dedup-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        home = root / "home";
        fs::create_directory(home);
        if (const char* old = std::getenv("HOME")) saved_home = old;
        ::setenv("HOME", home.c_str(), 1);
    }
    void TearDown() override {
        if (saved_home)
            ::setenv("HOME", saved_home->c_str(), 1);
        else
            ::unsetenv("HOME");
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root);
    }

    fs::path folder() const { return home / ".tolvex" / "hooks"; }
    fs::path marker(const std::string& skill) const { return folder() / (".dedup_" + skill); }

    // Gives the marker a modification time `age` nanoseconds before now.
    void set_age(const std::string& skill, std::int64_t age) const {
        if (!fs::exists(marker(skill))) {
            fs::create_directories(folder());
            std::ofstream(marker(skill)).flush();
        }
        const FileTime now = platform::current_time();
        std::int64_t nanoseconds = now.seconds * second + now.nanoseconds - age;
        const struct timespec times[2] = {{nanoseconds / second, nanoseconds % second},
                                          {nanoseconds / second, nanoseconds % second}};
        ASSERT_EQ(::utimensat(AT_FDCWD, marker(skill).c_str(), times, 0), 0);
    }

    std::int64_t mtime(const fs::path& path) const {
        struct stat status {};
        EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
#if defined(__APPLE__)
        const struct timespec& modified = status.st_mtimespec;
#else
        const struct timespec& modified = status.st_mtim;
#endif
        return modified.tv_sec * second + modified.tv_nsec;
    }

    std::int64_t now() const {
        const FileTime t = platform::current_time();
        return t.seconds * second + t.nanoseconds;
    }

    fs::path root;
    fs::path home;
    std::optional<std::string> saved_home;
};

TEST_F(DuplicateSuppression, FirstEventCreatesTheFolderAndAnEmptyMarker) {
    const std::int64_t before = now();
    // The folders are the user's alone, whatever the mask: others must not plant a marker there.
    const mode_t mask = ::umask(0);
    EXPECT_FALSE(_is_duplicate("tvx-auth"));
    ::umask(mask);
    EXPECT_EQ(fs::status(home / ".tolvex").permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(folder()).permissions(), fs::perms::owner_all);
    ASSERT_TRUE(fs::is_regular_file(marker("tvx-auth")));
    EXPECT_EQ(fs::file_size(marker("tvx-auth")), 0u);
    // The time the check read from the clock, not the file system's own, which may lag by a tick.
    EXPECT_GE(mtime(marker("tvx-auth")), before);
    EXPECT_LE(mtime(marker("tvx-auth")), now());
    EXPECT_TRUE(_is_duplicate("tvx-auth"));
}

TEST_F(DuplicateSuppression, AMarkerInsideTheWindowSuppressesAndStays) {
    for (const std::int64_t age : {std::int64_t{29'900'000'000}, std::int64_t{0}, std::int64_t{-5} * second}) {
        set_age("tvx-skills", age);
        const std::int64_t marked = mtime(marker("tvx-skills"));
        EXPECT_TRUE(_is_duplicate("tvx-skills")) << age;
        EXPECT_EQ(mtime(marker("tvx-skills")), marked) << age;
    }
}

TEST_F(DuplicateSuppression, AMarkerThirtySecondsOldOrMoreIsRefreshed) {
    for (const std::int64_t age : {std::int64_t{30} * second, std::int64_t{3600} * second}) {
        set_age("tvx-auth", age);
        const std::int64_t before = now();
        EXPECT_FALSE(_is_duplicate("tvx-auth")) << age;
        EXPECT_GE(mtime(marker("tvx-auth")) + 20'000'000, before) << age;
    }
}

TEST_F(DuplicateSuppression, TheWindowIsFixedNotSliding) {
    set_age("tvx-auth", 10 * second);
    const std::int64_t marked = mtime(marker("tvx-auth"));
    EXPECT_TRUE(_is_duplicate("tvx-auth"));
    // The same mark seen 10 s later.
    set_age("tvx-auth", 20 * second);
    const std::int64_t moved_by_test = mtime(marker("tvx-auth"));
    EXPECT_TRUE(_is_duplicate("tvx-auth"));
    EXPECT_EQ(mtime(marker("tvx-auth")), moved_by_test);
    EXPECT_LT(moved_by_test, marked);
    set_age("tvx-auth", 30 * second);
    EXPECT_FALSE(_is_duplicate("tvx-auth"));
    EXPECT_TRUE(_is_duplicate("tvx-auth"));
}

TEST_F(DuplicateSuppression, SkillsAreIndependent) {
    EXPECT_FALSE(_is_duplicate("tvx-auth"));
    EXPECT_FALSE(_is_duplicate("tvx-skills"));
    EXPECT_FALSE(_is_duplicate("TVX-AUTH"));
    EXPECT_TRUE(_is_duplicate("tvx-auth"));
}

TEST_F(DuplicateSuppression, RefreshKeepsTheMarkersContent) {
    fs::create_directories(folder());
    std::ofstream(marker("tvx-auth")) << "kept";
    set_age("tvx-auth", 60 * second);
    EXPECT_FALSE(_is_duplicate("tvx-auth"));
    std::ifstream file(marker("tvx-auth"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "kept");
}

TEST_F(DuplicateSuppression, AFileWhereTheFolderShouldBeLetsEveryEventThrough) {
    fs::create_directories(home / ".tolvex");
    std::ofstream(home / ".tolvex" / "hooks") << "not a folder";
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(_is_duplicate("tvx-auth"));
    EXPECT_TRUE(fs::is_regular_file(home / ".tolvex" / "hooks"));
}

TEST_F(DuplicateSuppression, ANameTooLongForOneFileNameStillHasAMarker) {
    const std::string too_long(300, 'x');
    EXPECT_FALSE(_is_duplicate(too_long));
    EXPECT_TRUE(_is_duplicate(too_long));
    EXPECT_TRUE(_is_duplicate(too_long));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder()), fs::directory_iterator()), 1);
}

TEST_F(DuplicateSuppression, NamesWithSeparatorsOrNulGetAMarkerOfTheirOwnInTheFolder) {
    fs::create_directories(home / "a");
    const std::int64_t passwd_time = mtime("/etc/passwd");
    const std::string names[] = {std::string("../../x"), std::string("a/b"), std::string("/etc/passwd"),
                                 std::string("../.dedup_y"), std::string("tvx-auth\0/x", 11)};
    for (const std::string& name : names) {
        EXPECT_FALSE(_is_duplicate(name)) << name;
        EXPECT_TRUE(_is_duplicate(name)) << name;
    }
    // One marker each, all directly in the marker folder, and nothing elsewhere.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder()), fs::directory_iterator()),
              static_cast<std::ptrdiff_t>(std::size(names)));
    for (const fs::directory_entry& entry : fs::directory_iterator(folder()))
        EXPECT_TRUE(entry.is_regular_file()) << entry.path();
    EXPECT_TRUE(fs::is_empty(home / "a"));
    EXPECT_EQ(std::distance(fs::directory_iterator(home), fs::directory_iterator()), 2);
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
    EXPECT_EQ(mtime("/etc/passwd"), passwd_time);
}

TEST_F(DuplicateSuppression, ANameWithNulDoesNotShareTheMarkerOfItsPrefix) {
    EXPECT_FALSE(_is_duplicate("tvx-auth"));
    EXPECT_FALSE(_is_duplicate(std::string("tvx-auth\0other", 14)));
}

TEST_F(DuplicateSuppression, DotNamesStayInsideTheFolder) {
    EXPECT_FALSE(_is_duplicate(".."));
    EXPECT_TRUE(fs::is_regular_file(folder() / ".dedup_.."));
    EXPECT_TRUE(_is_duplicate(".."));
}

// Another user who could write the marker folder may have put a link there,
// to a file of the user's (whose times a refresh would set) or to one that
// changes often (which would suppress every report), or a marker of their
// own. None is followed, refreshed or trusted: every event is let through.
TEST_F(DuplicateSuppression, ALinkedMarkerOrAnotherUsersIsNeitherTrustedNorRefreshed) {
    fs::create_directories(folder());
    std::ofstream(root / "target").flush();
    fs::create_symlink(root / "target", marker("tvx-auth"));
    for (const std::int64_t age : {std::int64_t{60} * second, std::int64_t{0}}) {
        set_age("tvx-auth", age);
        const std::int64_t target_time = mtime(root / "target");
        EXPECT_FALSE(_is_duplicate("tvx-auth")) << age;
        EXPECT_FALSE(_is_duplicate("tvx-auth")) << age;
        EXPECT_EQ(mtime(root / "target"), target_time) << age;
        EXPECT_TRUE(fs::is_symlink(marker("tvx-auth")));
    }
    if (::geteuid() != 0) return;  // only root can give a file away
    set_age("tvx-skills", 60 * second);
    ASSERT_EQ(::chown(marker("tvx-skills").c_str(), 48213, 48213), 0);
    for (const std::int64_t age : {std::int64_t{60} * second, std::int64_t{0}}) {
        set_age("tvx-skills", age);
        const std::int64_t marked = mtime(marker("tvx-skills"));
        EXPECT_FALSE(_is_duplicate("tvx-skills")) << age;
        EXPECT_EQ(mtime(marker("tvx-skills")), marked) << age;
    }
}

TEST_F(DuplicateSuppression, ADanglingSymlinkMarkerCreatesNothingOutsideTheFolder) {
    fs::create_directories(folder());
    fs::create_symlink(root / "missing", marker("tvx-auth"));
    EXPECT_FALSE(_is_duplicate("tvx-auth"));
    EXPECT_FALSE(fs::exists(root / "missing"));
}

}  // namespace
}  // namespace skillhook
