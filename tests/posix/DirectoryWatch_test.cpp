// DirectoryWatch over inotify: a key reports every change that moves what a search of its folder
// shows (entries, their times, the folder, its parent, its sub-folders) and refuses folders it
// cannot vouch for.
#include "common/platform/DirectoryWatch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::DirectoryWatch;

class DirectoryWatchTest : public testing::Test {
  protected:
    void SetUp() override {
        base_ =
            fs::temp_directory_path() / ("lumavert-dw-" + std::to_string(std::random_device{}()));
        folder_ = base_ / "folder";
        fs::create_directories(folder_ / "sub");
        std::ofstream(folder_ / "clip.mkv") << "clip";
        std::ofstream(base_ / "sibling.txt") << "s";
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(base_, error);
    }
    // Whether `key` is among the changes reported now; the changes are consumed.
    bool Changed(std::uint32_t key) {
        std::vector<std::uint32_t> keys;
        EXPECT_TRUE(watch_.TakeChanges(keys));
        return std::find(keys.begin(), keys.end(), key) != keys.end();
    }

    fs::path base_, folder_;
    DirectoryWatch watch_;
};

TEST_F(DirectoryWatchTest, EveryChangeASearchWouldShowIsReported) {
    const std::uint32_t key = watch_.Watch(folder_.u16string());
    ASSERT_NE(key, 0u);
    EXPECT_FALSE(Changed(key));

    std::ofstream(folder_ / "clip.mkv", std::ios::app) << "more"; // an entry's content
    EXPECT_TRUE(Changed(key));
    fs::last_write_time(folder_ / "clip.mkv", fs::file_time_type::clock::now() -
                                                  std::chrono::hours(24)); // an entry's time
    EXPECT_TRUE(Changed(key));
    std::ofstream(folder_ / "sub" / "inner.mkv") << "i"; // a sub-folder's own time
    EXPECT_TRUE(Changed(key));
    std::ofstream(base_ / "new-sibling.txt") << "n"; // the parent's time ("..")
    EXPECT_TRUE(Changed(key));
    fs::rename(folder_ / "clip.mkv", folder_ / "renamed.mkv"); // names
    EXPECT_TRUE(Changed(key));
    fs::last_write_time(folder_, fs::file_time_type::clock::now()); // the folder itself
    EXPECT_TRUE(Changed(key));
    // Times set on the neighbours: only the last-write time (IN_MODIFY), then both (IN_ATTRIB).
    for (const fs::path& neighbour : {base_, folder_ / "sub"}) {
        fs::last_write_time(neighbour, fs::file_time_type::clock::now() - std::chrono::hours(2));
        EXPECT_TRUE(Changed(key)) << neighbour;
        const timespec times[2] = {{1000, 0}, {2000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, neighbour.c_str(), times, 0), 0);
        EXPECT_TRUE(Changed(key)) << neighbour;
    }
    // After a key is given up and the folder watched again, the new key hears everything.
    watch_.Unwatch(key);
    const std::uint32_t again = watch_.Watch(folder_.u16string());
    ASSERT_NE(again, 0u);
    EXPECT_FALSE(Changed(again));
    fs::last_write_time(base_, fs::file_time_type::clock::now());
    EXPECT_TRUE(Changed(again));

    // Reading changes nothing a search shows.
    std::ifstream(folder_ / "renamed.mkv").get();
    EXPECT_FALSE(Changed(key));
}

TEST_F(DirectoryWatchTest, KeysAreIndependentAndUnwatchStopsOne) {
    const std::uint32_t folderKey = watch_.Watch(folder_.u16string());
    const std::uint32_t subKey = watch_.Watch((folder_ / "sub").u16string());
    ASSERT_NE(folderKey, 0u);
    ASSERT_NE(subKey, 0u);
    EXPECT_NE(folderKey, subKey);
    watch_.Unwatch(subKey);
    std::ofstream(folder_ / "sub" / "x.mkv") << "x";
    std::vector<std::uint32_t> keys;
    ASSERT_TRUE(watch_.TakeChanges(keys));
    EXPECT_NE(std::find(keys.begin(), keys.end(), folderKey), keys.end());
    EXPECT_EQ(std::find(keys.begin(), keys.end(), subKey), keys.end());
    // The folder's watches survive the removal of a key that shared one of them.
    std::ofstream(folder_ / "sub" / "y.mkv") << "y";
    EXPECT_TRUE(Changed(folderKey));
}

TEST_F(DirectoryWatchTest, FoldersItCannotVouchForGetNoKey) {
    fs::create_symlink(base_ / "sibling.txt", folder_ / "link.txt");
    EXPECT_EQ(watch_.Watch(folder_.u16string()), 0u) << "a link's target changes unseen";
    EXPECT_EQ(watch_.Watch((base_ / "missing").u16string()), 0u);
    EXPECT_NE(watch_.Watch((folder_ / "sub").u16string()), 0u);
}

} // namespace
