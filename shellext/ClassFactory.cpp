// The class factory of the context-menu handler.
#include "shellext/ClassFactory.h"

#include "shellext/ContextMenu.h"
#include "shellext/Module.h"

#include <shlwapi.h>

#include <new>

namespace tavomenu {

CContextMenuClassFactory::CContextMenuClassFactory() noexcept {
    ObjectCreated();
}

CContextMenuClassFactory::~CContextMenuClassFactory() {
    ObjectDestroyed();
}

STDMETHODIMP CContextMenuClassFactory::QueryInterface(REFIID interfaceId, void** out) noexcept {
    static const QITAB kInterfaces[] = {
        QITABENT(CContextMenuClassFactory, IClassFactory),
        {nullptr, 0},
    };
    return QISearch(this, kInterfaces, interfaceId, out);
}

STDMETHODIMP_(ULONG) CContextMenuClassFactory::AddRef() noexcept {
    return ++references_;
}

STDMETHODIMP_(ULONG) CContextMenuClassFactory::Release() noexcept {
    const ULONG left = --references_;
    if (left == 0)
        delete this;
    return left;
}

STDMETHODIMP CContextMenuClassFactory::CreateInstance(IUnknown* outer, REFIID interfaceId,
                                                      void** out) noexcept {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    auto* handler = new (std::nothrow) CContextMenu();
    if (handler == nullptr)
        return E_OUTOFMEMORY;
    // Held for the query: a failing QueryInterface leaves no handler behind.
    handler->AddRef();
    const HRESULT result = handler->QueryInterface(interfaceId, out);
    handler->Release();
    return result;
}

STDMETHODIMP CContextMenuClassFactory::LockServer(BOOL) noexcept {
    return S_OK;
}

} // namespace tavomenu
