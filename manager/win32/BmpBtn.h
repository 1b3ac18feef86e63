// CBmpBtn: an owner-drawn push button painted from three bitmaps (normal, under the mouse,
// pressed under the mouse) with its text drawn transparently over them.
#pragma once

#include <windows.h>

#include "common/win32/Handle.h"
#include "manager/win32/Dialog.h"

namespace manager {

class CBmpBtn : public CControl {
  public:
    enum Alignment { kLeft = 0, kCentred = 1 };

    // Loads the three bitmaps from the program's resources.
    void LoadBitmaps(int normal, int hover, int pressed);
    // Takes the three bitmaps over (tests draw their own).
    void SetBitmaps(HBITMAP normal, HBITMAP hover, HBITMAP pressed);
    void SetAlignment(Alignment alignment) { alignment_ = alignment; }
    void SetLeftMargin(int pixels) { leftMargin_ = pixels; }
    void SuppressPressOffset(bool suppress) { noPressOffset_ = suppress; }
    bool IsHovered() const { return hover_; }

    bool DrawItem(const DRAWITEMSTRUCT& item) override;
    // The buttons draw on a transparent background over their dialog's picture.
    HBRUSH ReflectCtlColor(HDC dc, UINT message) override;

  protected:
    void OnAttached() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    HBITMAP Choose(bool pressed) const;

    win32::TBitmap normalBitmap_;
    win32::TBitmap hoverBitmap_;
    win32::TBitmap pressedBitmap_;
    bool hover_ = false;
    bool noPressOffset_ = false;
    Alignment alignment_ = kCentred;
    int leftMargin_ = 2;
};

// Copies `bitmap` unscaled to `dc` with its top-left corner at (x, y).
void DrawBitmapAt(HDC dc, HBITMAP bitmap, int x, int y);
// Loads a bitmap resource of the program; null when missing.
HBITMAP LoadBitmapResource(int id);

} // namespace manager
