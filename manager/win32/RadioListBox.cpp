// CRadioListBox's items and their drawing.
#include "manager/win32/RadioListBox.h"

#include "common/win32/Handle.h"

namespace manager {

namespace {

constexpr std::size_t kTextBlock = 10;
constexpr COLORREF kItemTextColour = 0x000008;

} // namespace

int CRadioListBox::InsertItem(int position, std::wstring_view text) {
    if (texts_.size() == texts_.capacity())
        texts_.reserve(texts_.size() + kTextBlock);
    texts_.emplace_back(text);
    return static_cast<int>(SendMessageW(Handle(), LB_INSERTSTRING, static_cast<WPARAM>(position),
                                         static_cast<LPARAM>(texts_.size() - 1)));
}

void CRadioListBox::Reset() {
    SendMessageW(Handle(), LB_RESETCONTENT, 0, 0);
    texts_.clear();
}

int CRadioListBox::Count() const {
    return static_cast<int>(SendMessageW(Handle(), LB_GETCOUNT, 0, 0));
}

std::wstring_view CRadioListBox::ItemText(int position) const {
    const LRESULT index = SendMessageW(Handle(), LB_GETITEMDATA, static_cast<WPARAM>(position), 0);
    if (index == LB_ERR || static_cast<std::size_t>(index) >= texts_.size())
        return {};
    return texts_[static_cast<std::size_t>(index)];
}

bool CRadioListBox::IsTransparent() const {
    return (GetWindowLongPtrW(Handle(), GWL_EXSTYLE) & WS_EX_TRANSPARENT) != 0;
}

bool CRadioListBox::DrawItem(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    if (item.itemID == static_cast<UINT>(-1)) {
        if ((item.itemAction & ODA_FOCUS) != 0)
            DrawFocusRect(dc, &rect);
        return true;
    }
    if ((item.itemAction & (ODA_DRAWENTIRE | ODA_SELECT)) != 0) {
        win32::TBrush panel;
        HBRUSH fill = GetSysColorBrush(COLOR_WINDOW);
        if (IsTransparent()) {
            panel.Reset(CreateSolidBrush(kPanelFieldColour));
            fill = panel.Get();
        }
        FillRect(dc, &rect, fill);

        const int height = rect.bottom - rect.top;
        RECT box{rect.left + 2, rect.top + 2, rect.left + 2 + (height - 5), rect.bottom - 3};
        UINT state = DFCS_BUTTONCHECK;
        if ((item.itemState & ODS_SELECTED) != 0)
            state |= DFCS_CHECKED;
        DrawFrameControl(dc, &box, DFC_BUTTON, state);

        std::wstring_view text = ItemText(static_cast<int>(item.itemID));
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        RECT textRect = rect;
        textRect.left = rect.left + height;
        if (metrics.tmHeight < height)
            textRect.top += (height - metrics.tmHeight) / 2;
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, kItemTextColour);
        DrawTextW(dc, text.data(), static_cast<int>(text.size()), &textRect,
                  DT_LEFT | DT_TOP | DT_NOPREFIX);
    }
    if ((item.itemAction & ODA_FOCUS) != 0 ||
        ((item.itemAction & ODA_DRAWENTIRE) != 0 && (item.itemState & ODS_FOCUS) != 0))
        DrawFocusRect(dc, &rect);
    return true;
}

HBRUSH CRadioListBox::ReflectCtlColor(HDC, UINT message) {
    if (message == WM_CTLCOLORLISTBOX && IsTransparent())
        return GetSysColorBrush(COLOR_BTNFACE);
    return nullptr;
}

} // namespace manager
