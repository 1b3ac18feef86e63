#include "manager/core/Placement.h"

namespace manager {

TaskbarFreeArea ComputeFreeArea(const Rect* tray, int cx, int cy) {
    TaskbarFreeArea area{TaskbarEdge::Bottom, 0, 0, cx, cy};
    if (tray == nullptr)
        return area;
    const Rect& r = *tray;
    const int mx = (r.left + r.right) / 2;
    const int my = (r.top + r.bottom) / 2;
    if (mx < 0 || my < 0 || mx >= cx || my >= cy)
        return area;
    if (r.top > 0) {
        area.edge = TaskbarEdge::Bottom;
        area.bottom = r.top;
    } else if (r.bottom <= cy / 2) {
        area.edge = TaskbarEdge::Top;
        area.top = r.bottom;
    } else if (r.left >= cx / 2) {
        area.edge = TaskbarEdge::Right;
        area.right = r.left;
    } else {
        area.edge = TaskbarEdge::Left;
        area.left = r.right;
    }
    return area;
}

Rect CornerPlacement(const TaskbarFreeArea& area, int width, int height) {
    return Rect{area.right - width, area.bottom - height, area.right, area.bottom};
}

DeviceListLayout LayOutDeviceList(const TargetTable& table) {
    DeviceListLayout layout;
    for (int slot = 0; slot < table.foundCount && slot < static_cast<int>(kMaxTargets); ++slot) {
        if (table.entries[static_cast<std::size_t>(slot)].connectInform == 0) {
            layout.slots.push_back(slot);
        }
    }
    const int i = static_cast<int>(layout.slots.size());
    if (i > 5) {
        layout.okY = 172;
        layout.listHeight = 117;
        layout.listBorder = true;
        layout.dialogHeight = 200;
    } else {
        layout.okY = 22 * i + 62;
        layout.listHeight = 22 * i + 7;
        layout.dialogHeight = 22 * i + 90;
    }
    return layout;
}

} // namespace manager
