// The input reader, the failure exit and the shared invariants of the manager's targets.
#include "fuzz/ManagerFuzz.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <array>

#include "common/text/DebugPrint.h"

namespace fuzzing {

std::uint8_t InputReader::U8() {
    if (bytes_.empty())
        return 0;
    const std::uint8_t value = bytes_[0];
    bytes_ = bytes_.subspan(1);
    return value;
}

std::uint16_t InputReader::U16() {
    const std::uint16_t low = U8();
    return static_cast<std::uint16_t>(low | (U8() << 8));
}

std::uint32_t InputReader::U32() {
    const std::uint32_t low = U16();
    return low | static_cast<std::uint32_t>(U16()) << 16;
}

std::span<const std::uint8_t> InputReader::Take(std::size_t count) {
    const std::span<const std::uint8_t> taken = bytes_.first(std::min(count, bytes_.size()));
    bytes_ = bytes_.subspan(taken.size());
    return taken;
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "\n== invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void CheckText(std::u16string_view text, std::size_t units, const char* what) {
    if (text.size() >= units)
        Fail(std::string(what) + ": longer than its buffer");
    if (text.find(u'\0') != std::u16string_view::npos)
        Fail(std::string(what) + ": holds a zero unit");
}

void CheckTable(const manager::TargetTable& table) {
    Check(table.foundCount >= 0 && table.foundCount <= static_cast<int>(manager::kMaxTargets),
          "foundCount outside 0..128");
    int valid = 0;
    std::array<std::uint32_t, manager::kMaxTargets> addresses{};
    const auto count = static_cast<std::size_t>(table.foundCount);
    for (std::size_t i = 0; i < count; ++i) {
        const manager::TargetEntry& entry = table.entries[i];
        CheckText(entry.productName, manager::kTargetNameUnits, "ProductName");
        CheckText(entry.deviceName, manager::kTargetNameUnits, "DeviceName");
        addresses[i] = entry.ip;
        if (entry.connectInform == 0)
            ++valid;
    }
    std::sort(addresses.begin(), addresses.begin() + static_cast<std::ptrdiff_t>(count));
    Check(std::adjacent_find(addresses.begin(),
                             addresses.begin() + static_cast<std::ptrdiff_t>(count)) ==
              addresses.begin() + static_cast<std::ptrdiff_t>(count),
          "two records for one address");
    Check(table.validCount == valid, "validCount is not the number of free records");
}

void CheckDebugLines() {
    text::SetDebugSink([](std::u16string_view line) {
        Check(line.size() < text::kDebugLineUnits, "debug line longer than its buffer");
    });
}

} // namespace fuzzing
