// CContextMenu: the handler Explorer creates per right-click. IShellExtInit is its primary face,
// IContextMenu its second; both share one reference count and one QueryInterface.
#pragma once

#include <windows.h>

#include <shlobj.h>

#include "common/handoff/Selection.h"
#include "common/win32/Handle.h"

#include <vector>

namespace tavomenu {

// The command's text, as the menu shows it.
inline constexpr wchar_t kCommandText[] = L"Lumavert(Kestro Media Player) (&D)";

class CContextMenu final : public IShellExtInit, public IContextMenu {
  public:
    CContextMenu() noexcept;
    CContextMenu(const CContextMenu&) = delete;
    CContextMenu& operator=(const CContextMenu&) = delete;

    STDMETHODIMP QueryInterface(REFIID interfaceId, void** out) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;

    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data,
                            HKEY classKey) noexcept override;

    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT lastId,
                                  UINT flags) noexcept override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) noexcept override;
    STDMETHODIMP GetCommandString(UINT_PTR offset, UINT type, UINT* reserved, CHAR* name,
                                  UINT size) noexcept override;

  private:
    ~CContextMenu();

    ULONG references_ = 0;
    handoff::Selection selection_;
    // The pictures attached to menu items; the menu does not own them, so the handler does.
    std::vector<win32::TBitmap> pictures_;
};

} // namespace tavomenu
