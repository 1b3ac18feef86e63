// Merging answers into the target table and expiring silent players.
#include "manager/core/TargetTable.h"

namespace manager {

MergeOutcome MergeTarget(TargetTable& table, const TargetEntry& entry) {
    MergeOutcome outcome;
    for (int i = 0; i < table.foundCount; ++i) {
        TargetEntry& known = table.entries[static_cast<std::size_t>(i)];
        if (known.ip != entry.ip)
            continue;
        const bool wasFree = known.connectInform == 0;
        const bool isFree = entry.connectInform == 0;
        known = entry;
        if (wasFree != isFree) {
            table.validCount += isFree ? 1 : -1;
            outcome.freenessChanged = true;
        }
        return outcome;
    }
    if (table.foundCount >= static_cast<int>(kMaxTargets))
        return outcome;
    table.entries[static_cast<std::size_t>(table.foundCount)] = entry;
    ++table.foundCount;
    if (entry.connectInform == 0)
        ++table.validCount;
    outcome.added = true;
    return outcome;
}

void ExpireTargets(TargetTable& table, std::uint32_t now, bool& validChanged) {
    int kept = 0;
    int valid = 0;
    for (int i = 0; i < table.foundCount; ++i) {
        const TargetEntry& entry = table.entries[static_cast<std::size_t>(i)];
        // Unsigned difference: right across the wrap of the tick counter.
        if (static_cast<std::uint32_t>(now - entry.lastSeen) >= kTargetLifetimeMs)
            continue;
        if (kept != i) {
            table.entries[static_cast<std::size_t>(kept)] = entry;
            validChanged = true;
        }
        if (entry.connectInform == 0)
            ++valid;
        ++kept;
    }
    table.foundCount = kept;
    table.validCount = valid;
}

} // namespace manager
