// The target table's merge and expiry rules.
#include "manager/core/TargetTable.h"

#include <gtest/gtest.h>

namespace manager {
namespace {

TargetEntry Player(std::uint32_t ip, std::uint16_t connectInform, std::uint32_t lastSeen = 0) {
    TargetEntry e;
    e.ip = ip;
    e.connectInform = connectInform;
    e.lastSeen = lastSeen;
    e.deviceName = u"player";
    return e;
}

TEST(TargetTable, MergeCountsPlayersOnceAndFollowsTheirFreeness) {
    TargetTable table;
    EXPECT_TRUE(MergeTarget(table, Player(1, 1)).added);
    EXPECT_TRUE(MergeTarget(table, Player(2, 0)).added);
    EXPECT_EQ(table.foundCount, 2);
    EXPECT_EQ(table.validCount, 1);
    // Busy, then free: the same record, one more valid.
    TargetEntry again = Player(1, 0);
    again.deviceName = u"renamed";
    const MergeOutcome freed = MergeTarget(table, again);
    EXPECT_FALSE(freed.added);
    EXPECT_TRUE(freed.freenessChanged);
    EXPECT_EQ(table.foundCount, 2);
    EXPECT_EQ(table.validCount, 2);
    EXPECT_EQ(table.entries[0].deviceName, u"renamed");
    // Unchanged freeness changes no count.
    EXPECT_FALSE(MergeTarget(table, Player(2, 0)).freenessChanged);
    EXPECT_EQ(table.validCount, 2);
    EXPECT_TRUE(MergeTarget(table, Player(2, 3)).freenessChanged);
    EXPECT_EQ(table.validCount, 1);
}

TEST(TargetTable, The129thPlayerIsIgnored) {
    TargetTable table;
    for (std::uint32_t ip = 1; ip <= kMaxTargets; ++ip)
        MergeTarget(table, Player(ip, 0));
    const MergeOutcome extra = MergeTarget(table, Player(1000, 0));
    EXPECT_FALSE(extra.added);
    EXPECT_EQ(table.foundCount, 128);
    EXPECT_EQ(table.validCount, 128);
    // A known one is still refreshed.
    EXPECT_TRUE(MergeTarget(table, Player(128, 1)).freenessChanged);
    EXPECT_EQ(table.validCount, 127);
}

TEST(TargetTable, ExpireDropsSilentPlayersAndFlagsOnlyMoves) {
    TargetTable table;
    const std::uint32_t now = 5000; // lastSeen values before it wrap around
    MergeTarget(table, Player(1, 0, now - 100));
    MergeTarget(table, Player(2, 1, now - 19999));
    MergeTarget(table, Player(3, 0, now - 20000));
    bool moved = false;
    ExpireTargets(table, now, moved);
    EXPECT_EQ(table.foundCount, 2);
    EXPECT_EQ(table.validCount, 1);
    EXPECT_FALSE(moved) << "only the last record went";

    MergeTarget(table, Player(4, 0, now));
    ExpireTargets(table, now + 19950, moved);
    EXPECT_TRUE(moved);
    ASSERT_EQ(table.foundCount, 1);
    EXPECT_EQ(table.entries[0].ip, 4u);
    EXPECT_EQ(table.validCount, 1);
}

} // namespace
} // namespace manager
