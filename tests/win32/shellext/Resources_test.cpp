// The pictures and version records of both builds (the 32-bit one opened as a data file, since
// 32-bit programs cannot run here), and the picture chosen for each check-mark size.
#include "tests/win32/shellext/DriverSupport.h"

#include "shellext/MenuPicture.h"

#include <gtest/gtest.h>

namespace {

using namespace driver;

struct ResourceModule {
    explicit ResourceModule(const std::wstring& path)
        : module(::LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~ResourceModule() {
        if (module != nullptr)
            ::FreeLibrary(module);
    }
    HMODULE module;
};

void ExpectBitmap(HMODULE module, WORD id, LONG size) {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2)); // RT_BITMAP
    ASSERT_NE(found, nullptr) << id;
    const auto* header =
        static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(module, found)));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->biWidth, size) << id;
    EXPECT_EQ(header->biHeight, size) << id;
    EXPECT_EQ(header->biBitCount, 24) << id;
}

void ExpectVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version record in " << std::string(path.begin(), path.end());
    std::vector<char> data(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const std::wstring expected = Env(L"LUMAVERT_VERSION"); // "1.0.0"
    wchar_t version[64];
    swprintf(version, 64, L"%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
             LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(std::wstring(version), expected);
    wchar_t* copyright = nullptr;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904b0\\LegalCopyright",
                                 reinterpret_cast<void**>(&copyright), &length));
    EXPECT_EQ(std::wstring(copyright), L"Copyright (C) 2026 Lumavert");
}

TEST(TavomenuResources, BothBuildsCarryTheirPicturesAndVersion) {
    for (const wchar_t* variable : {L"LUMAVERT_TAVOMENU64", L"LUMAVERT_TAVOMENU32"}) {
        const std::wstring path = Env(variable);
        ASSERT_FALSE(path.empty()) << "set " << std::string(variable, variable + 19);
        ResourceModule resources(path);
        ASSERT_NE(resources.module, nullptr);
        ExpectBitmap(resources.module, 3000, 13);
        ExpectBitmap(resources.module, 3001, 15);
        ExpectVersion(path);
    }
}

TEST(TavomenuResources, ThePictureFollowsTheCheckMarkSizeAndTheIndex) {
    HMODULE module = Tavomenu().module;
    ASSERT_NE(module, nullptr);
    struct Case {
        int width, height;
        UINT index;
        int expectedWidth, expectedHeight; // 0: no picture
    };
    const Case cases[] = {
        {13, 13, 0, 13, 13}, {13, 13, 2, 0, 0},   {15, 15, 0, 15, 15},
        {15, 15, 4, 15, 15}, {20, 18, 1, 20, 18}, {0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        win32::TBitmap picture =
            tavomenu::MenuPicture(module, MAKELONG(c.width, c.height), c.index);
        if (c.expectedWidth == 0) {
            EXPECT_FALSE(picture) << c.width << "x" << c.height << " at " << c.index;
            continue;
        }
        ASSERT_TRUE(picture) << c.width << "x" << c.height << " at " << c.index;
        BITMAP info{};
        ASSERT_NE(::GetObjectW(picture.Get(), sizeof info, &info), 0);
        EXPECT_EQ(info.bmWidth, c.expectedWidth);
        EXPECT_EQ(info.bmHeight, c.expectedHeight);
    }
}

} // namespace
