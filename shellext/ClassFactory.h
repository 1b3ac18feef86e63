// CContextMenuClassFactory: makes one CContextMenu per right-click.
#pragma once

#include <windows.h>

#include <unknwn.h>

namespace tavomenu {

class CContextMenuClassFactory final : public IClassFactory {
  public:
    CContextMenuClassFactory() noexcept;
    CContextMenuClassFactory(const CContextMenuClassFactory&) = delete;
    CContextMenuClassFactory& operator=(const CContextMenuClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID interfaceId, void** out) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID interfaceId, void** out) noexcept override;
    // S_OK and nothing else: the library's life hangs on its objects only.
    STDMETHODIMP LockServer(BOOL lock) noexcept override;

  private:
    ~CContextMenuClassFactory();

    ULONG references_ = 0;
};

} // namespace tavomenu
