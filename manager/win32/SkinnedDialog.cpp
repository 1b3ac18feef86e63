// The popups' background, colours, font and corner placement.
#include "manager/win32/SkinnedDialog.h"

#include <algorithm>

#include "common/win32/Text.h"
#include "manager/win32/RadioListBox.h"
#include "manager/win32/Resource.h"

namespace manager {

void CSkinnedDialog::LoadBackground(int bitmapId) {
    background_.Reset(LoadBitmapResource(bitmapId));
}

void CSkinnedDialog::MakeFont(int fromId, LONG height, LONG width, const wchar_t* face,
                              std::initializer_list<int> to) {
    LOGFONTW font{};
    auto current = reinterpret_cast<HFONT>(SendMessageW(Item(fromId), WM_GETFONT, 0, 0));
    if (current == nullptr)
        current = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    GetObjectW(current, sizeof(font), &font);
    font.lfHeight = height;
    if (width != 0)
        font.lfWidth = width;
    if (face != nullptr)
        win32::CopyCut(font.lfFaceName, face);
    font_.Reset(CreateFontIndirectW(&font));
    for (const int id : to)
        SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
}

void CSkinnedDialog::PlaceAtCorner(const TaskbarFreeArea& area, int width, int height) {
    const Rect place = CornerPlacement(area, width, height);
    SetWindowPos(Handle(), HWND_TOPMOST, place.left, place.top, width, height, SWP_NOACTIVATE);
}

void CSkinnedDialog::AttachButton(CBmpBtn& button, int id, const wchar_t* text, int normal,
                                  int hover, int pressed) {
    SetItemText(id, text);
    button.Attach(Item(id));
    button.LoadBitmaps(normal, hover, pressed);
    button.SetAlignment(CBmpBtn::kCentred);
}

void CSkinnedDialog::AttachCloseBox(CBmpBtn& box, int id) {
    SetItemText(id, L"");
    box.Attach(Item(id));
    box.LoadBitmaps(IDB_CLOSE_NORMAL, IDB_CLOSE_HOVER, IDB_CLOSE_PRESSED);
    PlaceItem(id, 340, 6, 13, 13);
}

bool CSkinnedDialog::OnCommand(int id, int, HWND) {
    if (id != IDCANCEL || !closesAsCancel_)
        return false;
    End(IDCANCEL);
    return true;
}

bool CSkinnedDialog::Contains(const std::vector<int>& ids, int id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::optional<LRESULT> CSkinnedDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE && closesAsCancel_) {
        End(IDCANCEL);
        return 0;
    }
    if (message == WM_ERASEBKGND) {
        const auto dc = reinterpret_cast<HDC>(wParam);
        RECT client{};
        GetClientRect(Handle(), &client);
        FillRect(dc, &client, GetSysColorBrush(COLOR_3DFACE));
        DrawBitmapAt(dc, background_.Get(), 0, 0);
        return TRUE;
    }
    if (message < WM_CTLCOLORMSGBOX || message > WM_CTLCOLORSTATIC)
        return std::nullopt;
    const auto dc = reinterpret_cast<HDC>(wParam);
    const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
    if (Contains(transparent_, id)) {
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 0));
        return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    if (Contains(fields_, id)) {
        if (!fieldBrush_)
            fieldBrush_.Reset(CreateSolidBrush(kPanelFieldColour));
        SetBkColor(dc, kPanelFieldColour);
        SetTextColor(dc, RGB(0, 0, 0));
        return reinterpret_cast<LRESULT>(fieldBrush_.Get());
    }
    return std::nullopt;
}

} // namespace manager
