// CBmpBtn's drawing, hover tracking and double clicks.
#include "manager/win32/BmpBtn.h"

#include <string>

#include "common/win32/Text.h"

namespace manager {

namespace {

constexpr COLORREF kTextColour = RGB(0, 0, 0);
constexpr COLORREF kDisabledTextColour = RGB(128, 128, 128);

} // namespace

HBITMAP LoadBitmapResource(int id) {
    return static_cast<HBITMAP>(
        LoadImageW(ResourceInstance(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0));
}

void DrawBitmapAt(HDC dc, HBITMAP bitmap, int x, int y) {
    if (bitmap == nullptr)
        return;
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    win32::TMemoryDc memory(CreateCompatibleDC(dc));
    if (!memory)
        return;
    const HGDIOBJ old = SelectObject(memory.Get(), bitmap);
    BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory.Get(), 0, 0, SRCCOPY);
    SelectObject(memory.Get(), old);
}

void CBmpBtn::LoadBitmaps(int normal, int hover, int pressed) {
    SetBitmaps(LoadBitmapResource(normal), LoadBitmapResource(hover), LoadBitmapResource(pressed));
}

void CBmpBtn::SetBitmaps(HBITMAP normal, HBITMAP hover, HBITMAP pressed) {
    normalBitmap_.Reset(normal);
    hoverBitmap_.Reset(hover);
    pressedBitmap_.Reset(pressed);
}

void CBmpBtn::OnAttached() {
    const LONG_PTR style = GetWindowLongPtrW(Handle(), GWL_STYLE);
    SetWindowLongPtrW(Handle(), GWL_STYLE,
                      (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
}

HBITMAP CBmpBtn::Choose(bool pressed) const {
    if (hover_ && pressed)
        return pressedBitmap_.Get();
    if (hover_)
        return hoverBitmap_.Get();
    return normalBitmap_.Get();
}

bool CBmpBtn::DrawItem(const DRAWITEMSTRUCT& item) {
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    DrawBitmapAt(item.hDC, Choose(pressed), 0, 0);

    const std::wstring text = win32::WindowText(Handle());
    if (text.empty())
        return true;
    RECT area = item.rcItem;
    if (pressed && !noPressOffset_)
        OffsetRect(&area, 1, 1);
    const UINT align = alignment_ == kCentred ? DT_CENTER : DT_LEFT;
    const HGDIOBJ oldFont =
        SelectObject(item.hDC, reinterpret_cast<HGDIOBJ>(SendMessageW(Handle(), WM_GETFONT, 0, 0)));
    RECT measured = area;
    DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &measured,
              DT_CALCRECT | DT_WORDBREAK | align);
    const int height = measured.bottom - measured.top;
    RECT target = area;
    target.top = area.top + ((area.bottom - area.top) - height) / 2;
    target.bottom = target.top + height;
    if (alignment_ == kLeft)
        target.left = area.left + leftMargin_;
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC,
                 (item.itemState & ODS_DISABLED) != 0 ? kDisabledTextColour : kTextColour);
    DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &target, DT_WORDBREAK | align);
    SelectObject(item.hDC, oldFont);
    return true;
}

HBRUSH CBmpBtn::ReflectCtlColor(HDC dc, UINT) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kTextColour);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

LRESULT CBmpBtn::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONDBLCLK:
        // Two quick clicks are two clicks, not one click and a double click.
        return Default(WM_LBUTTONDOWN, wParam, lParam);
    case WM_MOUSEMOVE:
        if (!hover_) {
            TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, Handle(), 0};
            TrackMouseEvent(&track);
            hover_ = true;
            InvalidateRect(Handle(), nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        if (hover_) {
            hover_ = false;
            InvalidateRect(Handle(), nullptr, FALSE);
        }
        break;
    default:
        break;
    }
    return Default(message, wParam, lParam);
}

} // namespace manager
