// Server.exe's settings under Wine: registry types and texts, the code page list order, the error
// box text and the server slot's start, reload and "Ok" paths that do not need the real ports.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/ui/win32/CodePageList.h"
#include "server/ui/win32/ServerControl.h"
#include "server/ui/win32/SettingsStore.h"

namespace serverui {
namespace {

const std::wstring kTestKey = L"SOFTWARE\\LumavertTests\\ServerSettings";
const std::wstring kMissingRoot = L"C:\\lumavert-test-missing-root";

// A fresh test key per case, removed afterwards.
class ServerSettingsTest : public testing::Test {
  protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str()); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str()); }

    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        TRegistryKey key;
        ASSERT_TRUE(key.Open(kTestKey, KEY_ALL_ACCESS, true));
        ASSERT_EQ(RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }
    void SetString(const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ) {
        SetRaw(name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * 2));
    }
    void SetNumber(const wchar_t* name, DWORD value) {
        SetRaw(name, REG_DWORD, &value, sizeof(value));
    }
    // Type and size of a value; type 0 when missing.
    std::pair<DWORD, DWORD> Query(const wchar_t* name) {
        TRegistryKey key;
        DWORD type = 0, size = 0;
        if (key.Open(kTestKey, KEY_READ, false))
            RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size);
        return {type, size};
    }
    bool ReadAll(TServerSettings& settings, std::wstring& error) {
        TSettingsStore store(kTestKey);
        return store.OpenForReading() && store.Read(settings, error);
    }
};

TEST_F(ServerSettingsTest, MissingKeyKeepsDefaultsAndIsNotCreatedByReading) {
    TSettingsStore store(kTestKey);
    EXPECT_FALSE(store.OpenForReading());
    TServerControl control(L"C:\\lists\\", kTestKey);
    const TServerSettings defaults = DefaultSettings();
    std::wstring error;
    EXPECT_TRUE(control.LoadAtStart(error));
    EXPECT_EQ(control.Settings().root, defaults.root);
    EXPECT_TRUE(control.Settings().host.empty());
    EXPECT_EQ(control.Settings().codePage, GetACP());
    EXPECT_EQ(Query(L"Root").first, 0u);
    EXPECT_NE(defaults.root.find(L"\\Lumavert"), std::wstring::npos);
}

TEST_F(ServerSettingsTest, RootIsReadAsUtf16WithNothingAfterItsEnd) {
    // Eight UTF-16 units (one surrogate pair), mostly outside the ANSI code page: stored with the
    // terminating zero as 18 bytes.
    const std::wstring root = L"C:\\\u65E5\u672C\U0001F3AC\u0416";
    ASSERT_EQ(root.size(), 8u);
    TSettingsStore store(kTestKey);
    std::wstring error;
    ASSERT_TRUE(store.OpenForWriting());
    ASSERT_TRUE(store.WriteRoot(root, error));
    store.Close();
    EXPECT_EQ(Query(L"Root"), std::make_pair(DWORD{REG_SZ}, DWORD{18}));
    TServerSettings settings = DefaultSettings();
    ASSERT_TRUE(ReadAll(settings, error));
    EXPECT_EQ(settings.root, root);
}

TEST_F(ServerSettingsTest, StringsReadUpToTheirEndWhateverTheStoredForm) {
    TServerSettings settings = DefaultSettings();
    std::wstring error;

    // Expandable strings are taken as they are, not expanded.
    SetString(L"Root", L"%TEMP%\\media", REG_EXPAND_SZ);
    ASSERT_TRUE(ReadAll(settings, error));
    EXPECT_EQ(settings.root, L"%TEMP%\\media");

    // A writer that left out the terminating zero, and one that stored garbage after it.
    SetRaw(L"Root", REG_SZ, L"D:\\films", 16);
    SetRaw(L"Host", REG_SZ, L"10.0.0.2\0junk", 26);
    ASSERT_TRUE(ReadAll(settings, error));
    EXPECT_EQ(settings.root, L"D:\\films");
    EXPECT_EQ(settings.host, L"10.0.0.2");

    // An empty Root counts as missing; an empty Host is "every host".
    settings = DefaultSettings();
    SetString(L"Root", L"");
    SetString(L"Host", L"");
    SetNumber(L"CodePage", 850);
    ASSERT_TRUE(ReadAll(settings, error));
    EXPECT_EQ(settings.root, DefaultSettings().root);
    EXPECT_TRUE(settings.host.empty());
    EXPECT_EQ(settings.codePage, 850u);
}

TEST_F(ServerSettingsTest, WrongTypesNameTheValue) {
    struct Case {
        const wchar_t* name;
        DWORD type;
        const wchar_t* error;
    };
    const Case cases[] = {
        {L"Root", REG_DWORD, L"Invalid data type for 'Root'"},
        {L"Root", REG_BINARY, L"Invalid data type for 'Root'"},
        {L"CodePage", REG_SZ, L"Invalid data type for 'CodePage'"},
        {L"CodePage", REG_QWORD, L"Invalid data type for 'CodePage'"},
        {L"Host", REG_MULTI_SZ, L"Invalid data type for 'Host'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type);
        RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str());
        const wchar_t data[4] = {L'1', L'2', 0, 0};
        SetRaw(c.name, c.type, data, sizeof(data));
        TServerSettings settings = DefaultSettings();
        std::wstring error;
        EXPECT_FALSE(ReadAll(settings, error));
        EXPECT_EQ(error, c.error);
    }
}

TEST_F(ServerSettingsTest, EmptyHostAndCodePageZeroDeleteTheirValues) {
    TSettingsStore store(kTestKey);
    std::wstring error;
    ASSERT_TRUE(store.OpenForWriting());
    ASSERT_TRUE(store.WriteHost(L"a b", error));
    ASSERT_TRUE(store.WriteCodePage(1251, error));
    EXPECT_EQ(Query(L"Host").first, DWORD{REG_SZ});
    EXPECT_EQ(Query(L"CodePage"), std::make_pair(DWORD{REG_DWORD}, DWORD{4}));
    ASSERT_TRUE(store.WriteHost(L"", error));
    ASSERT_TRUE(store.WriteCodePage(0, error));
    // Deleting what is already gone is no failure.
    ASSERT_TRUE(store.WriteHost(L"", error));
    store.Close();
    EXPECT_EQ(Query(L"Host").first, 0u);
    EXPECT_EQ(Query(L"CodePage").first, 0u);
}

TEST(ServerErrorBox, FullStopOnlyAfterCharactersAboveIt) {
    EXPECT_EQ(ErrorBoxText(L"Can't create UDP socket"), L"Can't create UDP socket.");
    EXPECT_EQ(ErrorBoxText(L"Invalid data type for 'CodePage'"),
              L"Invalid data type for 'CodePage'");
    EXPECT_EQ(ErrorBoxText(L"Can't open folder \"C:\\x\""), L"Can't open folder \"C:\\x\"");
    EXPECT_EQ(ErrorBoxText(L"Done."), L"Done.");
    EXPECT_EQ(ErrorBoxText(L"port 2049"), L"port 2049.");
    EXPECT_EQ(ErrorBoxText(L"50%"), L"50%");
    EXPECT_EQ(ErrorBoxText(L""), L"");
}

TEST(ServerHosts, SplitAtEverySingleSpace) {
    EXPECT_EQ(SplitHosts(L""), std::vector<std::string>{""});
    EXPECT_EQ(SplitHosts(L"10.0.0.2"), std::vector<std::string>{"10.0.0.2"});
    EXPECT_EQ(SplitHosts(L"a  b "), (std::vector<std::string>{"a", "", "b", ""}));
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
    SetString(L"Root", kMissingRoot);
    TServerControl control(L"C:\\lists\\", kTestKey);
    std::wstring error;
    ASSERT_TRUE(control.LoadAtStart(error));
    EXPECT_FALSE(control.StartServer(error));
    EXPECT_EQ(error, L"Can't open folder \"" + kMissingRoot + L"\"");
    EXPECT_FALSE(control.IsRunning());
}

TEST_F(ServerSettingsTest, ReloadTakesTheRegistryAndStopsOnWrongTypes) {
    TServerControl control(L"C:\\lists\\", kTestKey);
    std::wstring error;
    ASSERT_TRUE(control.LoadAtStart(error));

    SetString(L"Root", kMissingRoot);
    SetString(L"Host", L"10.1.1.1 10.1.1.2");
    SetNumber(L"CodePage", 65001);
    EXPECT_FALSE(control.ReloadSettings(error));
    EXPECT_EQ(error, L"Can't open folder \"" + kMissingRoot + L"\"");
    EXPECT_EQ(control.Settings().root, kMissingRoot);
    EXPECT_EQ(control.Settings().host, L"10.1.1.1 10.1.1.2");
    EXPECT_EQ(control.Settings().codePage, 65001u);

    // A type error keeps the previous settings and leaves the server stopped.
    SetString(L"CodePage", L"1252");
    error.clear();
    EXPECT_FALSE(control.ReloadSettings(error));
    EXPECT_EQ(error, L"Invalid data type for 'CodePage'");
    EXPECT_EQ(control.Settings().codePage, 65001u);
    EXPECT_FALSE(control.IsRunning());
}

TEST_F(ServerSettingsTest, OkWritesOnlyWhatChanged) {
    SetString(L"Root", kMissingRoot);
    SetNumber(L"CodePage", 850);
    TServerControl control(L"C:\\lists\\", kTestKey);
    std::wstring error;
    ASSERT_TRUE(control.LoadAtStart(error));

    // A root that does not exist is not taken; host and code page are.
    TServerSettings edited = control.Settings();
    edited.root = L"C:\\lumavert-test-also-missing";
    edited.host = L"kestro";
    edited.codePage = 1251;
    EXPECT_FALSE(control.ApplySettings(edited, error));
    EXPECT_EQ(control.Settings().root, kMissingRoot);
    EXPECT_EQ(Query(L"Host").first, DWORD{REG_SZ});
    EXPECT_EQ(control.Settings().codePage, 1251u);

    // Unchanged fields are not written: values removed behind its back stay removed.
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey.c_str());
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
