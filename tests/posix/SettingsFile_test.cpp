// The Linux daemon's settings file: defaults on first use, values read back, bad values named.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "server/ui/posix/SettingsFile.h"

namespace {

namespace fs = std::filesystem;

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

    fs::path folder_;
    std::string path_;
};

TEST_F(SettingsFileTest, MissingFileIsCreatedWithDefaults) {
    posixui::ServerSettings settings;
    std::string error;
    ASSERT_TRUE(posixui::LoadSettings(path_, settings, error)) << error;
    EXPECT_TRUE(fs::exists(path_));
    EXPECT_EQ(settings.codePage, 65001u);
    EXPECT_TRUE(settings.host.empty());
    EXPECT_NE(settings.root.find("/Lumavert"), std::string::npos);

    posixui::ServerSettings again;
    ASSERT_TRUE(posixui::LoadSettings(path_, again, error));
    EXPECT_EQ(again.root, settings.root);
}

TEST_F(SettingsFileTest, ValuesReadBackAndEmptyRootMeansDefault) {
    WriteFile("# comment\nRoot = /srv/media \nHost=10.0.0.2  player\nCodePage=1252\nOther=x\n");
    posixui::ServerSettings settings;
    std::string error;
    ASSERT_TRUE(posixui::LoadSettings(path_, settings, error)) << error;
    EXPECT_EQ(settings.root, "/srv/media");
    EXPECT_EQ(settings.host, "10.0.0.2  player");
    EXPECT_EQ(settings.codePage, 1252u);

    WriteFile("Root=\n");
    ASSERT_TRUE(posixui::LoadSettings(path_, settings, error));
    EXPECT_EQ(settings.root, posixui::DefaultSettings().root);
}

TEST_F(SettingsFileTest, BadCodePageAndBadLineAreReported) {
    WriteFile("CodePage=utf8\n");
    posixui::ServerSettings settings;
    std::string error;
    EXPECT_FALSE(posixui::LoadSettings(path_, settings, error));
    EXPECT_EQ(error, "Invalid data type for 'CodePage'");

    WriteFile("Root /x\n");
    EXPECT_FALSE(posixui::LoadSettings(path_, settings, error));
    EXPECT_NE(error.find(":1:"), std::string::npos);
}

TEST_F(SettingsFileTest, SaveReplacesTheFileWhole) {
    posixui::ServerSettings settings;
    settings.root = "/a b/é";
    settings.host = "h";
    settings.codePage = 932;
    std::string error;
    ASSERT_TRUE(posixui::SaveSettings(path_, settings, error)) << error;
    EXPECT_FALSE(fs::exists(path_ + ".new"));
    posixui::ServerSettings read;
    ASSERT_TRUE(posixui::LoadSettings(path_, read, error));
    EXPECT_EQ(read.root, settings.root);
    EXPECT_EQ(read.host, "h");
    EXPECT_EQ(read.codePage, 932u);
}

} // namespace
