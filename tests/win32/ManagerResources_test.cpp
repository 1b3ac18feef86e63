// Lumavert.rc as linked into the program: bitmap sizes and depths, the two strings, the menus
// and the tray menu's relabelling.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "manager/win32/KestroDlg.h"
#include "manager/win32/Resource.h"

namespace manager {
namespace {

std::wstring MenuLabel(HMENU menu, UINT position) {
    wchar_t label[128] = {};
    GetMenuStringW(menu, position, label, 128, MF_BYPOSITION);
    return label;
}

TEST(ManagerResources, BitmapsHaveTheirSizesAndTwentyFourBits) {
    const std::vector<std::pair<int, SIZE>> bitmaps = {
        {IDB_TARGET_LIST_BACK, {369, 200}}, {IDB_TARGET_STATUS_BACK, {369, 100}},
        {IDB_ACTIVE_CODE_BACK, {368, 100}}, {IDB_WIDE_NORMAL, {207, 20}},
        {IDB_WIDE_HOVER, {207, 20}},        {IDB_WIDE_PRESSED, {207, 20}},
        {IDB_CLOSE_PRESSED, {13, 13}},      {IDB_CLOSE_NORMAL, {13, 13}},
        {IDB_CLOSE_HOVER, {13, 13}},        {IDB_OK_PRESSED, {60, 20}},
        {IDB_OK_NORMAL, {60, 20}},          {IDB_OK_HOVER, {60, 20}},
        {IDB_ABOUT_PICTURE, {45, 30}}};
    for (const auto& [id, size] : bitmaps) {
        const auto bitmap =
            static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                            IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_NE(bitmap, nullptr) << id;
        DIBSECTION section{};
        ASSERT_EQ(GetObjectW(bitmap, sizeof(section), &section), static_cast<int>(sizeof(section)));
        EXPECT_EQ(section.dsBm.bmWidth, size.cx) << id;
        EXPECT_EQ(section.dsBm.bmHeight, size.cy) << id;
        EXPECT_EQ(section.dsBmih.biBitCount, 24) << id;
        DeleteObject(bitmap);
    }
    EXPECT_NE(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN)), nullptr);
    EXPECT_NE(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TRAY)), nullptr);
}

TEST(ManagerResources, StringsAreExact) {
    const wchar_t* text = nullptr;
    int length =
        LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, reinterpret_cast<wchar_t*>(&text), 0);
    EXPECT_EQ(std::wstring(text, length), L"\u95DC\u65BC Lumavert(&A)...");
    length = LoadStringW(GetModuleHandleW(nullptr), IDS_SOCKETS_INIT_FAILED,
                         reinterpret_cast<wchar_t*>(&text), 0);
    EXPECT_EQ(std::wstring(text, length), L"Windows sockets \u555F\u59CB\u5931\u6557\u3002");
}

TEST(ManagerResources, TrayMenuItemsAndTheirAccessKeys) {
    const HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TRAY_MENU));
    ASSERT_NE(menu, nullptr);
    const HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), 6);
    const std::vector<std::pair<UINT, std::wstring>> before = {
        {IDM_DISCONNECT, L"Disconnect"}, {0, L""}, {IDM_HELP, L"Help"},
        {IDM_ABOUT, L"About"},           {0, L""}, {IDM_QUIT, L"Quit"}};
    for (UINT i = 0; i < before.size(); ++i) {
        EXPECT_EQ(GetMenuItemID(popup, static_cast<int>(i)), before[i].first) << i;
        EXPECT_EQ(MenuLabel(popup, i), before[i].second) << i;
    }
    EXPECT_EQ(IDM_DISCONNECT, 32772);
    EXPECT_EQ(IDM_HELP, 32774);
    EXPECT_EQ(IDM_ABOUT, 32775);
    EXPECT_EQ(IDM_QUIT, 32773);

    RelabelTrayMenu(popup);
    const std::vector<std::wstring> after = {L"Disconnect (&D)", L"", L"Help (&H)",
                                             L"About (&A)",      L"", L"Quit (&Q)"};
    for (UINT i = 0; i < after.size(); ++i) {
        EXPECT_EQ(MenuLabel(popup, i), after[i]) << i;
        EXPECT_EQ(GetMenuItemID(popup, static_cast<int>(i)), before[i].first) << i;
    }
    DestroyMenu(menu);

    const HMENU main = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAIN_MENU));
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(GetMenuItemID(main, 0), static_cast<UINT>(IDM_CONNECT));
    EXPECT_EQ(MenuLabel(main, 0), L"Connect");
    DestroyMenu(main);
}

} // namespace
} // namespace manager
