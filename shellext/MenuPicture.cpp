// Loads or draws the menu item's picture.
#include "shellext/MenuPicture.h"

#include "common/text/DebugPrint.h"

namespace tavomenu {

using win32::TBitmap;
using win32::TMemoryDc;

namespace {

constexpr WORD kPicture13 = 3000;
constexpr WORD kPicture15 = 3001;

// Selects an object into a DC for one scope; a bitmap must leave its DC before it is deleted.
class TSelection {
  public:
    TSelection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
    ~TSelection() {
        if (old_ != nullptr && old_ != HGDI_ERROR)
            ::SelectObject(dc_, old_);
    }
    TSelection(const TSelection&) = delete;
    TSelection& operator=(const TSelection&) = delete;
    bool Ok() const { return old_ != nullptr && old_ != HGDI_ERROR; }

  private:
    HDC dc_;
    HGDIOBJ old_;
};

TBitmap Load(HMODULE resources, WORD id) {
    return TBitmap(static_cast<HBITMAP>(
        ::LoadImageW(resources, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
}

TBitmap Stretched(HMODULE resources, int width, int height) {
    const TBitmap source = Load(resources, kPicture15);
    BITMAP info{};
    if (!source || ::GetObjectW(source.Get(), sizeof info, &info) == 0)
        return {};
    HDC screen = ::GetDC(nullptr);
    if (screen == nullptr)
        return {};
    TBitmap target(::CreateCompatibleBitmap(screen, width, height));
    const TMemoryDc from(::CreateCompatibleDC(screen));
    const TMemoryDc to(::CreateCompatibleDC(screen));
    ::ReleaseDC(nullptr, screen);
    if (!target || !from || !to)
        return {};
    bool drawn = false;
    {
        const TSelection fromSource(from.Get(), source.Get());
        const TSelection toTarget(to.Get(), target.Get());
        if (fromSource.Ok() && toTarget.Ok()) {
            ::SetStretchBltMode(to.Get(), HALFTONE);
            ::SetBrushOrgEx(to.Get(), 0, 0, nullptr);
            drawn = ::StretchBlt(to.Get(), 0, 0, width, height, from.Get(), 0, 0, info.bmWidth,
                                 info.bmHeight, SRCCOPY) != FALSE;
        }
    }
    if (!drawn)
        return {};
    return target;
}

} // namespace

TBitmap MenuPicture(HMODULE resources, LONG checkDimensions, UINT index) {
    const int width = LOWORD(checkDimensions);
    const int height = HIWORD(checkDimensions);
    if (width == 13 && height == 13) {
        text::DebugPrint(u"lDim=0x%x, lw=%d, lh=%d -> 13x13\n", checkDimensions, width, width);
        // Kept as it has always been: beyond the top of the menu this size gets no picture.
        return index == 0 ? Load(resources, kPicture13) : TBitmap();
    }
    if (width == 15 && height == 15) {
        text::DebugPrint(u"lDim=0x%x, lw=%d, lh=%d -> 15x15\n", checkDimensions, width, width);
        return Load(resources, kPicture15);
    }
    text::DebugPrint(u"lDim=0x%x, lw=%d, lh=%d\n", checkDimensions, width, height);
    if (width <= 0 || height <= 0)
        return {};
    return Stretched(resources, width, height);
}

} // namespace tavomenu
