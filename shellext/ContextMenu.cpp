// The context-menu handler: reads the selection, adds the command, runs the hand-off.
#include "shellext/ContextMenu.h"

#include "common/control/ControlNames.h"
#include "common/handoff/HandOffWriter.h"
#include "common/win32/Text.h"
#include "shellext/Broadcast.h"
#include "shellext/MenuPicture.h"
#include "shellext/Module.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <new>
#include <string>

namespace tavomenu {

namespace {

// Success codes of QueryContextMenu: the code field counts the command ids used. 2 for our one
// id is what the handler has always answered; Explorer only needs it to be above the id used.
constexpr HRESULT kIdsUsed = MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 2);
constexpr HRESULT kNoIdsUsed = MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 0);

// The storage of one GetData, released with the scope.
class TStorage {
  public:
    TStorage() = default;
    ~TStorage() {
        if (filled_)
            ::ReleaseStgMedium(&medium_);
    }
    TStorage(const TStorage&) = delete;
    TStorage& operator=(const TStorage&) = delete;

    HRESULT Get(IDataObject* data, FORMATETC& format) {
        const HRESULT result = data->GetData(&format, &medium_);
        filled_ = SUCCEEDED(result);
        return result;
    }
    HDROP Drop() const { return static_cast<HDROP>(medium_.hGlobal); }

  private:
    STGMEDIUM medium_{};
    bool filled_ = false;
};

std::vector<std::u16string> DroppedPaths(HDROP drop) {
    std::vector<std::u16string> paths;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    paths.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        // The whole path whatever its length: the selection decides what is too long.
        const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        const UINT copied = ::DragQueryFileW(drop, i, path.data(), length + 1);
        path.resize(copied);
        paths.emplace_back(reinterpret_cast<const char16_t*>(path.data()), path.size());
    }
    return paths;
}

bool ManagerIsRunning() {
    return ::FindWindowW(win32::AsWide(control::kManagerWindowClass),
                         win32::AsWide(control::kManagerWindowTitle)) != nullptr;
}

// Runs a COM method's body so that no exception reaches Explorer.
template <typename Body> HRESULT Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

bool IsStringVerb(const void* verb) {
    return HIWORD(reinterpret_cast<UINT_PTR>(verb)) != 0;
}

} // namespace

CContextMenu::CContextMenu() noexcept {
    ObjectCreated();
}

CContextMenu::~CContextMenu() {
    ObjectDestroyed();
}

STDMETHODIMP CContextMenu::QueryInterface(REFIID interfaceId, void** out) noexcept {
    // The first entry also answers IUnknown.
    static const QITAB kInterfaces[] = {
        QITABENT(CContextMenu, IShellExtInit),
        QITABENT(CContextMenu, IContextMenu),
        {nullptr, 0},
    };
    return QISearch(this, kInterfaces, interfaceId, out);
}

STDMETHODIMP_(ULONG) CContextMenu::AddRef() noexcept {
    return ++references_;
}

STDMETHODIMP_(ULONG) CContextMenu::Release() noexcept {
    const ULONG left = --references_;
    if (left == 0)
        delete this;
    return left;
}

STDMETHODIMP CContextMenu::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) noexcept {
    // Nothing of an earlier selection survives, not even after a failure below.
    selection_.Clear();
    if (data == nullptr)
        return E_FAIL;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    TStorage storage;
    if (FAILED(storage.Get(data, format)))
        return E_FAIL;
    const HRESULT result = Guarded([&] {
        handoff::CollectSelection(DroppedPaths(storage.Drop()), selection_);
        return S_OK;
    });
    if (FAILED(result))
        selection_.Clear();
    return result;
}

STDMETHODIMP CContextMenu::QueryContextMenu(HMENU menu, UINT index, UINT firstId, UINT,
                                            UINT flags) noexcept {
    if ((flags & CMF_DEFAULTONLY) != 0)
        return kNoIdsUsed;
    if (selection_.fileCount == 0)
        return kIdsUsed;
    UINT itemFlags = MF_STRING | MF_BYPOSITION;
    if (!ManagerIsRunning())
        itemFlags |= MF_DISABLED | MF_GRAYED;
    ::InsertMenuW(menu, index, itemFlags, firstId, kCommandText);

    return Guarded([&] {
        win32::TBitmap picture = MenuPicture(ModuleHandle(), ::GetMenuCheckMarkDimensions(), index);
        if (!picture)
            return kIdsUsed;
        // Room first, so that keeping an attached picture cannot fail.
        pictures_.reserve(pictures_.size() + 1);
        if (::SetMenuItemBitmaps(menu, index, MF_BYPOSITION, picture.Get(), nullptr))
            pictures_.push_back(std::move(picture));
        return kIdsUsed;
    });
}

STDMETHODIMP CContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* info) noexcept {
    if (info == nullptr)
        return E_INVALIDARG;
    if (IsStringVerb(info->lpVerb) || LOWORD(reinterpret_cast<UINT_PTR>(info->lpVerb)) != 0)
        return E_INVALIDARG;
    // The extended form may carry the verb again in Unicode.
    const auto* extended = reinterpret_cast<const CMINVOKECOMMANDINFOEX*>(info);
    if (info->cbSize >= sizeof(CMINVOKECOMMANDINFOEX) && (info->fMask & CMIC_MASK_UNICODE) != 0 &&
        IsStringVerb(extended->lpVerbW))
        return E_INVALIDARG;
    // S_OK also when the manager could not be told: the command itself has run.
    return Guarded([&] {
        handoff::HandOffSelection(selection_, BroadcastHandOff);
        return S_OK;
    });
}

STDMETHODIMP CContextMenu::GetCommandString(UINT_PTR offset, UINT, UINT*, CHAR*, UINT) noexcept {
    // No help text and no verb: the buffer stays as it is.
    return offset == 0 ? S_OK : E_INVALIDARG;
}

} // namespace tavomenu
