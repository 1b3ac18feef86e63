// What the Linux daemon refuses at start instead of serving nobody: an unknown code page, a root
// it cannot list (with the errno text and the path as written) and a host that does not resolve.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "server/ui/posix/SettingsCheck.h"
#include "tests/support/TestDaemon.h"

namespace {

namespace fs = std::filesystem;

std::string Problem(const posixui::ServerSettings& settings) {
    std::string error;
    return posixui::CheckSettings(settings, error) ? "" : error;
}

TEST(SettingsCheck, UsableSettingsPass) {
    rpctest::TempFolder root;
    posixui::ServerSettings settings;
    settings.root = root.Path().string();
    settings.host = "127.0.0.1  localhost";
    EXPECT_EQ(Problem(settings), "");
    settings.codePage = 1252;
    EXPECT_EQ(Problem(settings), "");
}

TEST(SettingsCheck, EachUnusableSettingIsNamed) {
    rpctest::TempFolder folder;
    std::ofstream(folder.Path() / "file") << "x";
    const std::string base = folder.Path().string();
    posixui::ServerSettings good;
    good.root = base;

    posixui::ServerSettings settings = good;
    settings.codePage = 12345;
    EXPECT_EQ(Problem(settings),
              "code page 12345 is not one this system can convert (65001 is UTF-8)");
    settings = good;
    settings.root = base + "/missing";
    EXPECT_EQ(Problem(settings), "can't export " + base + "/missing: No such file or directory");
    settings.root = base + "/file";
    EXPECT_EQ(Problem(settings), "can't export " + base + "/file: Not a directory");
    settings = good;
    // A leading hyphen makes the resolver refuse the name without asking a name server.
    settings.host = "127.0.0.1 -no-such-host";
    EXPECT_EQ(Problem(settings),
              "host \"-no-such-host\" of the Host setting does not resolve (unknown host)");
}

TEST(SettingsCheck, HostsSplitAtSpacesWithoutEmptyPieces) {
    EXPECT_EQ(posixui::SplitHosts(" a  b c "), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(posixui::SplitHosts("").empty());
}

} // namespace
