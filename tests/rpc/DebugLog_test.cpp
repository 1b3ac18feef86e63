// The diagnostic line layout: "[first][dd.mm.yy hh:nn:ss zzz] second".
#include "server/rpc/DebugLog.h"

#include <gtest/gtest.h>

namespace server {
namespace {

platform::LocalDateTime FifthOfMarch2009() {
    platform::LocalDateTime time;
    time.year = 2009;
    time.month = 3;
    time.day = 5;
    time.hour = 14;
    time.minute = 7;
    time.second = 9;
    time.millisecond = 45;
    return time;
}

TEST(DebugLog, StampIsZeroPaddedDayMonthYear) {
    EXPECT_EQ(FormatDebugLine("a", FifthOfMarch2009(), "b"), "[a][05.03.09 14:07:09 045] b");
}

TEST(DebugLog, EmptyPartsKeepTheFrame) {
    EXPECT_EQ(FormatDebugLine("Path=/x", FifthOfMarch2009(), ""),
              "[Path=/x][05.03.09 14:07:09 045] ");
    EXPECT_EQ(FormatDebugLine("", FifthOfMarch2009(), "b"), "[][05.03.09 14:07:09 045] b");
}

TEST(DebugLog, TextIsCopiedNotFormatted) {
    // Paths from clients go into the line; a percent sign must come out as it went in.
    EXPECT_EQ(FormatDebugLine("%s%n", FifthOfMarch2009(), "100%d"),
              "[%s%n][05.03.09 14:07:09 045] 100%d");
}

} // namespace
} // namespace server
