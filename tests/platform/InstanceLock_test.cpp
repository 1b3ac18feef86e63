// The instance lock and the replacing move that the front-ends' settings rely on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"
#include "common/platform/InstanceLock.h"

namespace {

namespace fs = std::filesystem;

std::u16string U16(const fs::path& path) {
    const std::u8string text = path.u8string();
    return platform::Utf8ToUtf16(std::string(text.begin(), text.end()));
}

fs::path FreshFolder(const char* name) {
    const fs::path folder = fs::temp_directory_path() / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

TEST(InstanceLock, OnlyOneHolderUntilItLetsGo) {
    const fs::path folder = FreshFolder("lumavert-lock-test");
    const std::u16string path = U16(folder / "server.lock");
    {
        auto first = std::make_unique<platform::InstanceLock>();
        ASSERT_TRUE(first->Acquire(path));
        EXPECT_TRUE(first->Held());
        platform::InstanceLock second;
        EXPECT_FALSE(second.Acquire(path));
        EXPECT_FALSE(second.Held());
        first.reset();
        EXPECT_TRUE(second.Acquire(path));
    }
    fs::remove_all(folder);
}

TEST(ReplacePath, ReplacesAnExistingTargetWhole) {
    const fs::path folder = FreshFolder("lumavert-replace-test");
    std::ofstream(folder / "new.conf") << "new";
    std::ofstream(folder / "settings.conf") << "old contents";
    ASSERT_TRUE(platform::ReplacePath(U16(folder / "new.conf"), U16(folder / "settings.conf")));
    EXPECT_FALSE(fs::exists(folder / "new.conf"));
    std::string text;
    std::getline(std::ifstream(folder / "settings.conf") >> std::ws, text);
    EXPECT_EQ(text, "new");
    EXPECT_FALSE(platform::ReplacePath(U16(folder / "missing"), U16(folder / "settings.conf")));
    EXPECT_EQ(platform::LastFileError(), platform::kErrorFileNotFound);
    fs::remove_all(folder);
}

} // namespace
