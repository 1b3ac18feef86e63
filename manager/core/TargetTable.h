// The players found by discovery: up to 128 records with the count of all and of free ones.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace manager {

inline constexpr std::size_t kMaxTargets = 128;
// Names are kept in 128-unit buffers with their terminator.
inline constexpr std::size_t kTargetNameUnits = 128;
// A record not heard from for this long is dropped by ExpireTargets.
inline constexpr std::uint32_t kTargetLifetimeMs = 20000;

struct TargetEntry {
    std::uint32_t ip = 0; // sender of the answer, network byte order: the player's identity
    std::u16string productName;
    std::u16string deviceName;
    std::uint16_t connectInform = 0; // 0: free for a new PC connection
    std::uint16_t activeInform = 0;
    std::uint32_t workStatus = 0;
    std::uint32_t lastSeen = 0; // tick of its last answer
};

struct TargetTable {
    std::array<TargetEntry, kMaxTargets> entries{};
    int foundCount = 0; // slots 0 .. foundCount - 1 are in use
    int validCount = 0; // of those, the ones whose connectInform is 0
};

struct MergeOutcome {
    bool added = false;           // a new player took a slot
    bool freenessChanged = false; // a known player became free or busy
};

// Stores `entry` over the record with the same ip, or in the next free slot (a new player is
// ignored when all slots are in use), and keeps both counts.
MergeOutcome MergeTarget(TargetTable& table, const TargetEntry& entry);

// Drops the records not heard from for 20 s, closing the gaps in order; `validChanged` is set
// when a kept record moves.
void ExpireTargets(TargetTable& table, std::uint32_t now, bool& validChanged);

} // namespace manager
