// The settings store in the registry: types and texts as other writers leave them, the error
// texts that name the value, deletion of empty values, and a key that reading never creates.
#include "common/platform/Settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/control/SettingsNames.h"
#include "tests/win32/RegistryTest.h"

namespace {

using platform::ServerSettings;
using platform::SettingsAccess;
using platform::SettingsStore;

class RegistrySettingsTest : public RegistryTest {
  protected:
    RegistrySettingsTest() : RegistryTest(u"SOFTWARE\\LumavertTests\\Settings") {}

    bool ReadAll(ServerSettings& settings, std::u16string& error) {
        SettingsStore store(Path());
        return store.Open(SettingsAccess::kRead, error) && store.Read(settings, error);
    }
};

TEST(RegistrySettings, TheUsersStoreIsTheSharedKey) {
    EXPECT_EQ(platform::SettingsLocation(), control::kSettingsKey);
    const ServerSettings defaults = platform::DefaultServerSettings();
    EXPECT_NE(defaults.root.find(u"\\Lumavert"), std::u16string::npos);
    EXPECT_TRUE(defaults.host.empty());
    EXPECT_EQ(defaults.codePage, GetACP());
}

TEST_F(RegistrySettingsTest, ReadingNeverCreatesTheKey) {
    SettingsStore store(Path());
    std::u16string error;
    EXPECT_FALSE(store.Open(SettingsAccess::kRead, error));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(Query(L"Root").first, 0u);
    win32::TRegistryKey key;
    EXPECT_FALSE(key.Open(WidePath(), KEY_READ));
    ASSERT_TRUE(store.Open(SettingsAccess::kReadWrite, error));
    EXPECT_TRUE(key.Open(WidePath(), KEY_READ));
}

TEST_F(RegistrySettingsTest, RootIsReadAsUtf16WithNothingAfterItsEnd) {
    // Eight UTF-16 units (one surrogate pair), mostly outside the ANSI code page: stored with the
    // terminating zero as 18 bytes.
    const std::u16string root = u"C:\\\u65E5\u672C\U0001F3AC\u0416";
    ASSERT_EQ(root.size(), 8u);
    SettingsStore store(Path());
    std::u16string error;
    ASSERT_TRUE(store.Open(SettingsAccess::kReadWrite, error));
    ASSERT_TRUE(store.WriteRoot(root, error));
    store.Close();
    EXPECT_EQ(Query(L"Root"), std::make_pair(DWORD{REG_SZ}, DWORD{18}));
    ServerSettings settings = platform::DefaultServerSettings();
    ASSERT_TRUE(ReadAll(settings, error));
    EXPECT_EQ(settings.root, root);
}

TEST_F(RegistrySettingsTest, StringsReadUpToTheirEndWhateverTheStoredForm) {
    ServerSettings settings = platform::DefaultServerSettings();
    std::u16string error;

    // Expandable strings are taken as they are, not expanded.
    SetString(L"Root", L"%TEMP%\\media", REG_EXPAND_SZ);
    ASSERT_TRUE(ReadAll(settings, error));
    EXPECT_EQ(settings.root, u"%TEMP%\\media");

    // A writer that left out the terminating zero, and one that stored garbage after it.
    SetRaw(L"Root", REG_SZ, L"D:\\films", 16);
    SetRaw(L"Host", REG_SZ, L"10.0.0.2\0junk", 26);
    ASSERT_TRUE(ReadAll(settings, error));
    EXPECT_EQ(settings.root, u"D:\\films");
    EXPECT_EQ(settings.host, u"10.0.0.2");

    // An empty Root counts as missing; an empty Host is "every host".
    settings = platform::DefaultServerSettings();
    SetString(L"Root", L"");
    SetString(L"Host", L"");
    SetNumber(L"CodePage", 850);
    ASSERT_TRUE(ReadAll(settings, error));
    EXPECT_EQ(settings.root, platform::DefaultServerSettings().root);
    EXPECT_TRUE(settings.host.empty());
    EXPECT_EQ(settings.codePage, 850u);
}

TEST_F(RegistrySettingsTest, WrongTypesNameTheValue) {
    struct Case {
        const wchar_t* name;
        DWORD type;
        const char16_t* error;
    };
    const Case cases[] = {
        {L"Root", REG_DWORD, u"Invalid data type for 'Root'"},
        {L"Root", REG_BINARY, u"Invalid data type for 'Root'"},
        {L"CodePage", REG_SZ, u"Invalid data type for 'CodePage'"},
        {L"CodePage", REG_QWORD, u"Invalid data type for 'CodePage'"},
        {L"Host", REG_MULTI_SZ, u"Invalid data type for 'Host'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type);
        Remove();
        const wchar_t data[4] = {L'1', L'2', 0, 0};
        SetRaw(c.name, c.type, data, sizeof(data));
        ServerSettings settings = platform::DefaultServerSettings();
        std::u16string error;
        EXPECT_FALSE(ReadAll(settings, error));
        EXPECT_EQ(error, c.error);
    }
}

TEST_F(RegistrySettingsTest, EmptyHostAndCodePageZeroDeleteTheirValues) {
    SettingsStore store(Path());
    std::u16string error;
    ASSERT_TRUE(store.Open(SettingsAccess::kReadWrite, error));
    ASSERT_TRUE(store.WriteHost(u"a b", error));
    ASSERT_TRUE(store.WriteCodePage(1251, error));
    EXPECT_EQ(Query(L"Host").first, DWORD{REG_SZ});
    EXPECT_EQ(Query(L"CodePage"), std::make_pair(DWORD{REG_DWORD}, DWORD{4}));
    ASSERT_TRUE(store.WriteHost(u"", error));
    ASSERT_TRUE(store.WriteCodePage(0, error));
    // Deleting what is already gone is no failure.
    ASSERT_TRUE(store.WriteHost(u"", error));
    store.Close();
    EXPECT_EQ(Query(L"Host").first, 0u);
    EXPECT_EQ(Query(L"CodePage").first, 0u);

    // A store that is not open writes nothing and says which value failed.
    EXPECT_FALSE(store.WriteCodePage(65001, error));
    EXPECT_EQ(error, u"Failed to set data for 'CodePage'");
}

// What the manager stores on a hand-off: Root as a string with its terminator, CodePage 65001.
TEST_F(RegistrySettingsTest, ShareSettingsAsTheManagerWritesThem) {
    SettingsStore store(Path());
    std::u16string error;
    ASSERT_TRUE(store.Open(SettingsAccess::kReadWrite, error));
    ASSERT_TRUE(store.WriteRoot(u"C:\\Films 100%", error));
    ASSERT_TRUE(store.WriteCodePage(65001, error));
    EXPECT_EQ(Query(L"Root"), std::make_pair(DWORD{REG_SZ}, DWORD{(13 + 1) * 2}));
    EXPECT_EQ(Query(L"CodePage"), std::make_pair(DWORD{REG_DWORD}, DWORD{4}));
    EXPECT_EQ(Query(L"Host").first, 0u);
}

} // namespace
