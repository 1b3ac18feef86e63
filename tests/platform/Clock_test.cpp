// Tick counter, FILETIME clock and local time: monotonic, in the right epoch, in range.
#include "common/platform/Clock.h"

#include "common/platform/DebugOutput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace platform {
namespace {

// 2020-01-01T00:00:00Z and 2100-01-01T00:00:00Z as FILETIME ticks.
constexpr std::uint64_t kFileTime2020 = 132223104000000000ULL;
constexpr std::uint64_t kFileTime2100 = 157469184000000000ULL;
constexpr std::uint64_t kTicksPerMs = 10000;

TEST(Clock, TickCountAndSystemTimeAdvanceWithRealTime) {
    const std::uint32_t tick0 = TickCountMs();
    const std::uint64_t file0 = SystemTimeAsFileTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    const std::uint32_t tick1 = TickCountMs();
    const std::uint64_t file1 = SystemTimeAsFileTime();

    // Unsigned difference: correct across the 49.7-day wrap of the counter too.
    const std::uint32_t elapsed = tick1 - tick0;
    EXPECT_GE(elapsed, 100u);
    EXPECT_LT(elapsed, 10000u);
    ASSERT_GT(file1, file0);
    EXPECT_GE(file1 - file0, 100 * kTicksPerMs);
    EXPECT_LT(file1 - file0, 10000 * kTicksPerMs);
}

TEST(Clock, SystemTimeIsInThe1601Epoch) {
    const std::uint64_t now = SystemTimeAsFileTime();
    EXPECT_GT(now, kFileTime2020);
    EXPECT_LT(now, kFileTime2100);
}

TEST(Clock, LocalTimeFieldsAreInRange) {
    const LocalDateTime now = LocalNow();
    EXPECT_GE(now.year, 2020);
    EXPECT_LT(now.year, 2100);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_GE(now.hour, 0);
    EXPECT_LE(now.hour, 23);
    EXPECT_GE(now.minute, 0);
    EXPECT_LE(now.minute, 59);
    EXPECT_GE(now.second, 0);
    EXPECT_LE(now.second, 59);
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LE(now.millisecond, 999);
}

TEST(DebugOutput, AcceptsAnyLineIncludingNull) {
    DebugOutputA("lumavert clock test: narrow line");
    DebugOutputW(u"lumavert clock test: wide line \u00E9");
    DebugOutputA(nullptr);
    DebugOutputW(nullptr);
}

} // namespace
} // namespace platform
