// A fixture for tests that read and write the registry: its own key under HKEY_CURRENT_USER,
// removed before and after every case, and raw writes that bypass the code under test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "common/win32/RegistryKey.h"
#include "common/win32/Text.h"

class RegistryTest : public testing::Test {
  protected:
    explicit RegistryTest(std::u16string path) : path_(std::move(path)) {}
    void SetUp() override { Remove(); }
    void TearDown() override { Remove(); }

    const std::u16string& Path() const { return path_; }
    const wchar_t* WidePath() const { return win32::AsWide(path_.c_str()); }
    void Remove() { RegDeleteTreeW(HKEY_CURRENT_USER, WidePath()); }

    void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        win32::TRegistryKey key;
        ASSERT_TRUE(key.Create(WidePath(), KEY_ALL_ACCESS));
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
    std::pair<DWORD, DWORD> Query(const wchar_t* name) const {
        win32::TRegistryKey key;
        DWORD type = 0, size = 0;
        if (key.Open(WidePath(), KEY_READ))
            RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size);
        return {type, size};
    }

  private:
    std::u16string path_;
};
