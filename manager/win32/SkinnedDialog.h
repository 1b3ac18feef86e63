// The popups' common look: a borderless dialog whose client area is covered by a bitmap, with
// labels and buttons drawn transparently over it and text fields on a solid panel colour, placed
// in the bottom-right corner of the screen area the taskbar leaves free.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <vector>

#include "common/win32/Handle.h"
#include "manager/core/Placement.h"
#include "manager/win32/BmpBtn.h"
#include "manager/win32/Dialog.h"

namespace manager {

class CSkinnedDialog : public CDialog {
  public:
    using CDialog::CDialog;

  protected:
    void LoadBackground(int bitmapId);
    // Items drawn black on a transparent background with the null brush.
    void SetTransparentItems(std::initializer_list<int> ids) { transparent_ = ids; }
    // Items filled with the panel colour.
    void SetFieldItems(std::initializer_list<int> ids) { fields_ = ids; }
    // The font of item `fromId` with the height and width (0: the font's own) and face given
    // (null: the font's own); kept by the dialog and given to the items `to`.
    void MakeFont(int fromId, LONG height, LONG width, const wchar_t* face,
                  std::initializer_list<int> to);
    HFONT Font() const { return font_.Get(); }
    // Topmost, `width` x `height`, bottom-right corner at the free area's.
    void PlaceAtCorner(const TaskbarFreeArea& area, int width, int height);
    // Item `id` as a bitmap button with `text` centred over the three bitmaps.
    void AttachButton(CBmpBtn& button, int id, const wchar_t* text, int normal, int hover,
                      int pressed);
    // Item `id` as the 13 x 13 close box at (340, 6).
    void AttachCloseBox(CBmpBtn& box, int id);
    // Modal prompts: the close box (IDCANCEL), Escape and WM_CLOSE end them as cancelled.
    void SetClosesAsCancel() { closesAsCancel_ = true; }

    bool OnCommand(int id, int code, HWND control) override;
    std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    static bool Contains(const std::vector<int>& ids, int id);

    win32::TBitmap background_;
    win32::TFont font_;
    win32::TBrush fieldBrush_;
    std::vector<int> transparent_;
    std::vector<int> fields_;
    bool closesAsCancel_ = false;
};

} // namespace manager
