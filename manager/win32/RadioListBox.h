// CRadioListBox: an owner-drawn list box (fixed item height, no strings of its own) that shows
// each entry behind a tick box, ticked for the selected one. It keeps the item texts itself;
// each item's data is the index of its text.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "manager/win32/Dialog.h"

namespace manager {

// The fill of the list and of the popups' text fields.
inline constexpr COLORREF kPanelFieldColour = RGB(226, 231, 240);

class CRadioListBox : public CControl {
  public:
    // Inserts `text` at list position `position` (-1: at the end); returns the position or a
    // negative list box error.
    virtual int InsertItem(int position, std::wstring_view text);
    // Empties the list box and the text list.
    virtual void Reset();

    int Count() const;
    std::wstring_view ItemText(int position) const;

    bool DrawItem(const DRAWITEMSTRUCT& item) override;
    HBRUSH ReflectCtlColor(HDC dc, UINT message) override;

  private:
    bool IsTransparent() const;

    std::vector<std::wstring> texts_;
};

} // namespace manager
