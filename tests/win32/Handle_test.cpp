// The Win32 kit's owners: each value closed exactly once whatever the moves, both failure values
// of HANDLE treated as empty, and the named mapping and directory search the programs rely on.
#include "common/win32/Handle.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A closer that records what it closed.
std::vector<int> gClosed;

struct TCountedTraits {
    using Type = int;
    static Type Invalid() noexcept { return -1; }
    static bool IsValid(Type value) noexcept { return value >= 0; }
    static void Close(Type value) noexcept { gClosed.push_back(value); }
};
using TCounted = win32::THandle<TCountedTraits>;

TEST(Win32Handle, EveryValueIsClosedOnceWhateverTheMoves) {
    gClosed.clear();
    {
        TCounted a(1);
        TCounted b(std::move(a));
        EXPECT_FALSE(a.IsValid());
        EXPECT_EQ(b.Get(), 1);
        TCounted c(2);
        c = std::move(b); // closes 2, takes 1
        EXPECT_EQ(gClosed, std::vector<int>{2});
        auto& self = c;
        c = std::move(self);
        EXPECT_EQ(c.Get(), 1);
        *c.Put() = 3; // closes 1 first
        EXPECT_EQ(c.Release(), 3);
        EXPECT_FALSE(c);
        c.Reset(4);
        TCounted empty(-1);
    }
    // 3 was released, the invalid value never reaches the closer.
    EXPECT_EQ(gClosed, (std::vector<int>{2, 1, 4}));
}

TEST(Win32Handle, KernelHandleTakesBothFailureValuesAsEmpty) {
    EXPECT_FALSE(win32::TKernelHandle(INVALID_HANDLE_VALUE).IsValid());
    EXPECT_FALSE(win32::TKernelHandle(nullptr).IsValid());
    const HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        win32::TKernelHandle event(raw);
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(event.Get(), &flags));
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags));
}

// The hand-off's shared block: a named mapping of the paging file exists while a handle to it is
// open, and a second opener sees what the first wrote through its view.
TEST(Win32Handle, NamedMappingLivesWhileAHandleIsOpen) {
    const std::wstring name = L"LumavertTestBlock" + std::to_wstring(GetCurrentProcessId());
    constexpr DWORD kSize = 260;
    win32::TFileMapping writer(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, name.c_str()));
    ASSERT_TRUE(writer);
    {
        win32::TMappedView view(MapViewOfFile(writer.Get(), FILE_MAP_WRITE, 0, 0, kSize));
        ASSERT_TRUE(view);
        std::memcpy(view.Get(), L"C:\\Films", 18);
    }
    {
        win32::TFileMapping reader(OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
        ASSERT_TRUE(reader);
        win32::TMappedView view(MapViewOfFile(reader.Get(), FILE_MAP_READ, 0, 0, 0));
        ASSERT_TRUE(view);
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(view.Get())), L"C:\\Films");
    }
    writer.Reset();
    win32::TFileMapping gone(OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
    EXPECT_FALSE(gone);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST(Win32Handle, FindHandleWalksAFolderAndFailsEmpty) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder =
        std::wstring(temp) + L"lumavert-find-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* file : {L"\\a.mkv", L"\\b.mkv"}) {
        win32::TKernelHandle made(CreateFileW((folder + file).c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(made);
    }
    WIN32_FIND_DATAW data{};
    int found = 0;
    {
        win32::TFindHandle search(FindFirstFileW((folder + L"\\*.mkv").c_str(), &data));
        ASSERT_TRUE(search);
        do
            ++found;
        while (FindNextFileW(search.Get(), &data));
    }
    EXPECT_EQ(found, 2);
    win32::TFindHandle none(FindFirstFileW((folder + L"\\*.avi").c_str(), &data));
    EXPECT_FALSE(none);
    DeleteFileW((folder + L"\\a.mkv").c_str());
    DeleteFileW((folder + L"\\b.mkv").c_str());
    // Fails while a search handle would still hold the folder open.
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));
}

} // namespace
