// Free area of the screen, corner placement and the device list's layout.
#include "manager/core/Placement.h"

#include <gtest/gtest.h>

namespace manager {
namespace {

void ExpectArea(const TaskbarFreeArea& a, TaskbarEdge edge, int l, int t, int r, int b) {
    EXPECT_EQ(a.edge, edge);
    EXPECT_EQ(a.left, l);
    EXPECT_EQ(a.top, t);
    EXPECT_EQ(a.right, r);
    EXPECT_EQ(a.bottom, b);
}

TEST(Placement, FreeAreaOfEachTaskbarEdge) {
    const Rect bottom{0, 1040, 1920, 1080};
    ExpectArea(ComputeFreeArea(&bottom, 1920, 1080), TaskbarEdge::Bottom, 0, 0, 1920, 1040);
    const Rect top{0, 0, 1920, 40};
    ExpectArea(ComputeFreeArea(&top, 1920, 1080), TaskbarEdge::Top, 0, 40, 1920, 1080);
    const Rect left{0, 0, 60, 1080};
    ExpectArea(ComputeFreeArea(&left, 1920, 1080), TaskbarEdge::Left, 60, 0, 1920, 1080);
    const Rect right{1860, 0, 1920, 1080};
    ExpectArea(ComputeFreeArea(&right, 1920, 1080), TaskbarEdge::Right, 0, 0, 1860, 1080);
}

TEST(Placement, FreeAreaWithoutUsableTaskbarIsTheWholeScreen) {
    ExpectArea(ComputeFreeArea(nullptr, 1920, 1080), TaskbarEdge::Bottom, 0, 0, 1920, 1080);
    const Rect off{-200, 1100, -100, 1140};
    ExpectArea(ComputeFreeArea(&off, 1920, 1080), TaskbarEdge::Bottom, 0, 0, 1920, 1080);
}

TEST(Placement, RightTaskbarOnAWideScreenIsNotTakenForATopOne) {
    // r.bottom (1080) is below half the width (1280): compared with the width, this would be
    // a top taskbar and the popups would cover it.
    const Rect right{2500, 0, 2560, 1080};
    ExpectArea(ComputeFreeArea(&right, 2560, 1080), TaskbarEdge::Right, 0, 0, 2500, 1080);
}

TEST(Placement, PopupSitsInTheFreeCorner) {
    const Rect bottom{0, 1040, 1920, 1080};
    const Rect r = CornerPlacement(ComputeFreeArea(&bottom, 1920, 1080), 369, 100);
    EXPECT_EQ(r.left, 1551);
    EXPECT_EQ(r.top, 940);
    EXPECT_EQ(r.right, 1920);
    EXPECT_EQ(r.bottom, 1040);
}

TargetTable Table(int players, int busySlot = -1) {
    TargetTable t;
    for (int i = 0; i < players; ++i) {
        t.entries[static_cast<std::size_t>(i)].ip = static_cast<std::uint32_t>(i + 1);
        t.entries[static_cast<std::size_t>(i)].connectInform = i == busySlot ? 1 : 0;
    }
    t.foundCount = players;
    return t;
}

TEST(Placement, DeviceListGrowsToFiveRowsThenScrolls) {
    struct Case {
        int players, okY, listHeight, dialogHeight;
        bool border;
    };
    for (const Case& c :
         {Case{0, 62, 7, 90, false}, Case{3, 128, 73, 156, false}, Case{5, 172, 117, 200, false},
          Case{6, 172, 117, 200, true}, Case{7, 172, 117, 200, true}}) {
        const DeviceListLayout l = LayOutDeviceList(Table(c.players));
        EXPECT_EQ(static_cast<int>(l.slots.size()), c.players);
        EXPECT_EQ(l.okX, 80);
        EXPECT_EQ(l.okY, c.okY) << c.players;
        EXPECT_EQ(l.listHeight, c.listHeight) << c.players;
        EXPECT_EQ(l.dialogHeight, c.dialogHeight) << c.players;
        EXPECT_EQ(l.listBorder, c.border) << c.players;
    }
}

TEST(Placement, BusyPlayerIsSkippedAndPositionsMapToSlots) {
    const DeviceListLayout l = LayOutDeviceList(Table(4, 1));
    EXPECT_EQ(l.slots, (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(l.dialogHeight, 156);
}

} // namespace
} // namespace manager
