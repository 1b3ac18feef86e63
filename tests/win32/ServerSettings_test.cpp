// Server.exe's settings under Wine: the code page list order, the error box text and the server
// slot's start, reload and "Ok" paths that do not need the real ports.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/ui/win32/CodePageList.h"
#include "server/ui/win32/ServerControl.h"
#include "tests/win32/RegistryTest.h"

namespace serverui {
namespace {

const std::u16string kTestKey = u"SOFTWARE\\LumavertTests\\ServerSettings";
const std::u16string kMissingRoot = u"C:\\lumavert-test-missing-root";

class ServerSettingsTest : public RegistryTest {
  protected:
    ServerSettingsTest() : RegistryTest(kTestKey) {}
};

TEST_F(ServerSettingsTest, MissingKeyKeepsDefaultsAndIsNotCreatedByReading) {
    TServerControl control(u"C:\\lists\\", kTestKey);
    const platform::ServerSettings defaults = platform::DefaultServerSettings();
    std::u16string error;
    EXPECT_TRUE(control.LoadAtStart(error));
    EXPECT_EQ(control.Settings().root, defaults.root);
    EXPECT_TRUE(control.Settings().host.empty());
    EXPECT_EQ(control.Settings().codePage, GetACP());
    EXPECT_EQ(Query(L"Root").first, 0u);
    EXPECT_NE(defaults.root.find(u"\\Lumavert"), std::u16string::npos);
}

TEST(ServerErrorBox, FullStopOnlyAfterCharactersAboveIt) {
    EXPECT_EQ(ErrorBoxText(u"Can't create UDP socket"), u"Can't create UDP socket.");
    EXPECT_EQ(ErrorBoxText(u"Invalid data type for 'CodePage'"),
              u"Invalid data type for 'CodePage'");
    EXPECT_EQ(ErrorBoxText(u"Can't open folder \"C:\\x\""), u"Can't open folder \"C:\\x\"");
    EXPECT_EQ(ErrorBoxText(u"Done."), u"Done.");
    EXPECT_EQ(ErrorBoxText(u"port 2049"), u"port 2049.");
    EXPECT_EQ(ErrorBoxText(u"50%"), u"50%");
    EXPECT_EQ(ErrorBoxText(u""), u"");
}

TEST(ServerHosts, SplitAtEverySingleSpace) {
    EXPECT_EQ(SplitHosts(u""), std::vector<std::string>{""});
    EXPECT_EQ(SplitHosts(u"10.0.0.2"), std::vector<std::string>{"10.0.0.2"});
    EXPECT_EQ(SplitHosts(u"a  b "), (std::vector<std::string>{"a", "", "b", ""}));
}

TEST(ServerCodePages, OrderedByTheLeadingNumberNotAlphabetically) {
    std::vector<TCodePageEntry> entries = {
        {L"850 (OEM Multilingual Latin 1)", 850},
        {L"1252 (ANSI Latin 1)", 1252},
        {L"437 (OEM United States)", 437},
        {L"37 (IBM EBCDIC)", 37},
        {L"Unnamed", 9},
    };
    SortByLeadingNumber(entries);
    std::vector<std::uint32_t> order;
    for (const TCodePageEntry& entry : entries)
        order.push_back(entry.number);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{9, 37, 437, 850, 1252}));
    EXPECT_EQ(LeadingNumber(L"99999999999 x"), UINT32_MAX);

    const std::vector<TCodePageEntry> system = SystemCodePageList();
    ASSERT_NE(FindByName(system, L"1252 (ANSI Latin 1)"), nullptr);
    const auto position = [&](std::uint32_t number) {
        for (std::size_t i = 0; i < system.size(); ++i) {
            if (system[i].number == number)
                return i;
        }
        return system.size();
    };
    EXPECT_LT(position(437), position(850));
    EXPECT_LT(position(850), position(1252));
    EXPECT_LT(position(1252), system.size());
    for (std::size_t i = 0; i < system.size(); ++i) {
        EXPECT_LE(system[i].name.size(), kCodePageNameLimit);
        if (i > 0) {
            EXPECT_LE(LeadingNumber(system[i - 1].name), LeadingNumber(system[i].name));
        }
    }
}

// The paths below never bind the service ports: every root is missing, so set-up stops at the
// root folder.
TEST_F(ServerSettingsTest, FailedStartLeavesTheSlotEmptyWithTheDaemonsText) {
    SetString(L"Root", win32::ToWide(kMissingRoot));
    TServerControl control(u"C:\\lists\\", kTestKey);
    std::u16string error;
    ASSERT_TRUE(control.LoadAtStart(error));
    EXPECT_FALSE(control.StartServer(error));
    EXPECT_EQ(error, u"Can't open folder \"" + kMissingRoot + u"\"");
    EXPECT_FALSE(control.IsRunning());
}

TEST_F(ServerSettingsTest, ReloadTakesTheRegistryAndStopsOnWrongTypes) {
    TServerControl control(u"C:\\lists\\", kTestKey);
    std::u16string error;
    ASSERT_TRUE(control.LoadAtStart(error));

    SetString(L"Root", win32::ToWide(kMissingRoot));
    SetString(L"Host", L"10.1.1.1 10.1.1.2");
    SetNumber(L"CodePage", 65001);
    EXPECT_FALSE(control.ReloadSettings(error));
    EXPECT_EQ(error, u"Can't open folder \"" + kMissingRoot + u"\"");
    EXPECT_EQ(control.Settings().root, kMissingRoot);
    EXPECT_EQ(control.Settings().host, u"10.1.1.1 10.1.1.2");
    EXPECT_EQ(control.Settings().codePage, 65001u);

    // A type error keeps the previous settings and leaves the server stopped.
    SetString(L"CodePage", L"1252");
    error.clear();
    EXPECT_FALSE(control.ReloadSettings(error));
    EXPECT_EQ(error, u"Invalid data type for 'CodePage'");
    EXPECT_EQ(control.Settings().codePage, 65001u);
    EXPECT_FALSE(control.IsRunning());
}

TEST_F(ServerSettingsTest, OkWritesOnlyWhatChanged) {
    SetString(L"Root", win32::ToWide(kMissingRoot));
    SetNumber(L"CodePage", 850);
    TServerControl control(u"C:\\lists\\", kTestKey);
    std::u16string error;
    ASSERT_TRUE(control.LoadAtStart(error));

    // A root that does not exist is not taken; host and code page are.
    platform::ServerSettings edited = control.Settings();
    edited.root = u"C:\\lumavert-test-also-missing";
    edited.host = u"kestro";
    edited.codePage = 1251;
    EXPECT_FALSE(control.ApplySettings(edited, error));
    EXPECT_EQ(control.Settings().root, kMissingRoot);
    EXPECT_EQ(Query(L"Host").first, DWORD{REG_SZ});
    EXPECT_EQ(control.Settings().codePage, 1251u);

    // Unchanged fields are not written: values removed behind its back stay removed.
    Remove();
    EXPECT_FALSE(control.ApplySettings(control.Settings(), error));
    EXPECT_EQ(Query(L"Host").first, 0u);
    EXPECT_EQ(Query(L"CodePage").first, 0u);
    EXPECT_EQ(Query(L"Root").first, 0u);

    // Emptying the host deletes the value; code page 0 deletes CodePage.
    SetString(L"Host", L"kestro");
    SetNumber(L"CodePage", 1251);
    edited = control.Settings();
    edited.host.clear();
    edited.codePage = 0;
    EXPECT_FALSE(control.ApplySettings(edited, error));
    EXPECT_EQ(Query(L"Host").first, 0u);
    EXPECT_EQ(Query(L"CodePage").first, 0u);
}

} // namespace
} // namespace serverui
