// Where the manager's popups go: the screen area the taskbar leaves free, the bottom-right
// corner of it, and the device list's layout for a number of listed players.
#pragma once

#include <vector>

#include "manager/core/TargetTable.h"

namespace manager {

enum class TaskbarEdge : int { Top = 0, Bottom = 1, Left = 2, Right = 3 };

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct TaskbarFreeArea {
    TaskbarEdge edge = TaskbarEdge::Bottom;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The free area for a taskbar at `tray` on a screen of cx x cy pixels; without a taskbar window
// (tray absent) or with one whose centre lies off screen, the whole screen with edge Bottom.
// The top-edge test compares with half the screen height, so a taskbar on the right of a very
// wide screen is not taken for a top one.
TaskbarFreeArea ComputeFreeArea(const Rect* tray, int cx, int cy);

// A popup of width x height with its bottom-right corner at the free area's.
Rect CornerPlacement(const TaskbarFreeArea& area, int width, int height);

inline constexpr int kPopupWidth = 369;
inline constexpr int kStatusHeight = 100;

struct DeviceListLayout {
    std::vector<int> slots; // table slot of each list position (free players only)
    int okX = 80;
    int okY = 0;
    int listWidth = 325;
    int listHeight = 0;
    bool listBorder = false;
    int dialogHeight = 0;
};

// Lists the free players of slots 0 .. foundCount - 1 and lays the dialog out for them: up to
// five rows the dialog grows with the list, more scroll in a bordered list of five rows.
DeviceListLayout LayOutDeviceList(const TargetTable& table);

} // namespace manager
