// The settings form's code page list.
#include "server/ui/win32/CodePageList.h"

#include <windows.h>

#include <algorithm>

#include "common/platform/CodePage.h"
#include "common/win32/Text.h"

namespace serverui {

std::uint32_t LeadingNumber(std::wstring_view name) {
    std::uint64_t number = 0;
    for (const wchar_t c : name) {
        if (c < L'0' || c > L'9')
            break;
        number = number * 10 + static_cast<std::uint64_t>(c - L'0');
        if (number > UINT32_MAX)
            return UINT32_MAX;
    }
    return static_cast<std::uint32_t>(number);
}

void SortByLeadingNumber(std::vector<TCodePageEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TCodePageEntry& a, const TCodePageEntry& b) {
                         return LeadingNumber(a.name) < LeadingNumber(b.name);
                     });
}

std::vector<TCodePageEntry> SystemCodePageList() {
    std::vector<TCodePageEntry> entries;
    for (const platform::CodePageInfo& page : platform::InstalledCodePages()) {
        CPINFOEXW details{};
        if (page.number == 0 || !GetCPInfoExW(page.number, 0, &details))
            continue;
        std::wstring name = win32::ToWide(page.name);
        if (name.size() > kCodePageNameLimit)
            name.resize(kCodePageNameLimit);
        entries.push_back(TCodePageEntry{std::move(name), page.number});
    }
    SortByLeadingNumber(entries);
    return entries;
}

const TCodePageEntry* FindByName(const std::vector<TCodePageEntry>& entries,
                                 std::wstring_view name) {
    for (const TCodePageEntry& entry : entries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

} // namespace serverui
