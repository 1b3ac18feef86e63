// The code page list of the settings form: the system's code pages with their names, in the
// numeric order of the number each name starts with.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace serverui {

inline constexpr std::size_t kCodePageNameLimit = 64;

struct TCodePageEntry {
    std::wstring name;
    std::uint32_t number = 0;
};

// The number at the start of `name` (0 when it does not start with a digit).
std::uint32_t LeadingNumber(std::wstring_view name);

// Sorts by LeadingNumber, ascending; names with equal numbers keep their order.
void SortByLeadingNumber(std::vector<TCodePageEntry>& entries);

// The code pages the system supports and describes, names cut to kCodePageNameLimit, sorted.
std::vector<TCodePageEntry> SystemCodePageList();

// The entry whose name is `name`, or nullptr.
const TCodePageEntry* FindByName(const std::vector<TCodePageEntry>& entries,
                                 std::wstring_view name);

} // namespace serverui
