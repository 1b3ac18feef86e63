// The settings store as a file on POSIX: defaults on first use, values read back, bad values
// named, the file replaced whole, and a read-only open that never makes the file.
#include "common/platform/Settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/platform/CodePage.h"

namespace {

namespace fs = std::filesystem;

using platform::ServerSettings;
using platform::SettingsAccess;
using platform::SettingsStore;
using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

class SettingsFileTest : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("lumavert-settings-" +
                   std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        path_ = (folder_ / "lumavert" / "server.conf").string();
    }
    void TearDown() override { fs::remove_all(folder_); }

    void WriteFile(const std::string& text) {
        fs::create_directories(fs::path(path_).parent_path());
        std::ofstream(path_) << text;
    }
    std::string FileText() const {
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Defaults, then the file (made when missing), as lumavert-server reads it.
    bool Load(ServerSettings& settings, std::string& error) {
        settings = platform::DefaultServerSettings();
        SettingsStore store(Utf8ToUtf16(path_));
        std::u16string text;
        const bool ok = store.Open(SettingsAccess::kReadWrite, text) && store.Read(settings, text);
        error = Utf16ToUtf8(text);
        return ok;
    }

    fs::path folder_;
    std::string path_;
};

TEST_F(SettingsFileTest, MissingFileIsCreatedWithDefaults) {
    ServerSettings settings;
    std::string error;
    ASSERT_TRUE(Load(settings, error)) << error;
    EXPECT_TRUE(fs::exists(path_));
    EXPECT_EQ(settings.codePage, 65001u);
    EXPECT_TRUE(settings.host.empty());
    EXPECT_NE(settings.root.find(u"/Lumavert"), std::u16string::npos);

    ServerSettings again;
    ASSERT_TRUE(Load(again, error));
    EXPECT_EQ(again.root, settings.root);
    EXPECT_NE(FileText().find("CodePage=65001\n"), std::string::npos);
}

TEST_F(SettingsFileTest, ReadOnlyOpenNeverMakesTheFile) {
    SettingsStore store(Utf8ToUtf16(path_));
    std::u16string error;
    EXPECT_FALSE(store.Open(SettingsAccess::kRead, error));
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(fs::exists(folder_));
    // A store that is not open writes nothing, and says where it would have.
    EXPECT_FALSE(store.WriteRoot(u"/x", error));
    EXPECT_EQ(Utf16ToUtf8(error), "Failed to set data for '" + path_ + "'");
    EXPECT_FALSE(fs::exists(folder_));
}

TEST_F(SettingsFileTest, ValuesReadBackAndEmptyRootMeansDefault) {
    WriteFile("# comment\nRoot = /srv/media \nHost=10.0.0.2  player\nCodePage=1252\nOther=x\n");
    ServerSettings settings;
    std::string error;
    ASSERT_TRUE(Load(settings, error)) << error;
    EXPECT_EQ(settings.root, u"/srv/media");
    EXPECT_EQ(settings.host, u"10.0.0.2  player");
    EXPECT_EQ(settings.codePage, 1252u);

    WriteFile("Root=\n");
    ASSERT_TRUE(Load(settings, error));
    EXPECT_EQ(settings.root, platform::DefaultServerSettings().root);
}

TEST_F(SettingsFileTest, BadCodePageAndBadLineAreReported) {
    WriteFile("CodePage=utf8\n");
    ServerSettings settings;
    std::string error;
    EXPECT_FALSE(Load(settings, error));
    EXPECT_EQ(error, "Invalid data type for 'CodePage'");

    WriteFile("Root /x\n");
    EXPECT_FALSE(Load(settings, error));
    EXPECT_NE(error.find(":1:"), std::string::npos);
}

TEST_F(SettingsFileTest, SaveReplacesTheFileWhole) {
    SettingsStore store(Utf8ToUtf16(path_));
    std::u16string text;
    ASSERT_TRUE(store.Open(SettingsAccess::kReadWrite, text)) << Utf16ToUtf8(text);
    ASSERT_TRUE(store.WriteRoot(u"/a b/é", text));
    ASSERT_TRUE(store.WriteHost(u"h", text));
    ASSERT_TRUE(store.WriteCodePage(932, text));
    EXPECT_FALSE(fs::exists(path_ + ".new"));
    ServerSettings read;
    std::string error;
    ASSERT_TRUE(Load(read, error));
    EXPECT_EQ(read.root, u"/a b/é");
    EXPECT_EQ(read.host, u"h");
    EXPECT_EQ(read.codePage, 932u);

    // Code page 0 removes the value, as on Windows: the default comes back.
    ASSERT_TRUE(store.WriteCodePage(0, text));
    EXPECT_EQ(FileText().find("CodePage="), std::string::npos);
    ASSERT_TRUE(Load(read, error));
    EXPECT_EQ(read.codePage, 65001u);
    EXPECT_EQ(read.root, u"/a b/é");
}

} // namespace
