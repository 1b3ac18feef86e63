// Helpers of the extension's Wine tests: the DLL under test, data objects (the shell's and a
// minimal own one), the manager stand-in process, files and menus.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdint>
#include <string>
#include <vector>

namespace driver {

// Windows paths and settings from the environment the scenario script sets.
std::wstring Env(const wchar_t* name);
std::wstring WorkFolder(); // LUMAVERT_WORK, a folder the test may fill

// The 64-bit library, loaded by path once.
struct Library {
    HMODULE module = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
};
const Library& Tavomenu();

extern const CLSID kClassId;

// A minimal data object: CF_HDROP of the given paths, or no CF_HDROP at all. Counts GetData and
// the release of the storage it hands out.
class TOwnDataObject final : public IDataObject {
  public:
    explicit TOwnDataObject(std::vector<std::wstring> paths, bool offerDrop = true);
    int GetDataCalls() const { return getDataCalls_; }
    int StorageReleases() const { return storageReleases_; }
    int StorageHandedOut() const { return storageHandedOut_; }

    STDMETHODIMP QueryInterface(REFIID id, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

    void StorageReleased() { ++storageReleases_; }

  private:
    ~TOwnDataObject() = default;
    ULONG references_ = 1;
    std::vector<std::wstring> paths_;
    bool offerDrop_;
    int getDataCalls_ = 0;
    int storageHandedOut_ = 0;
    int storageReleases_ = 0;
};

// The shell's own data object for files of one folder (IShellFolder::GetUIObjectOf).
IDataObject* ShellDataObject(const std::vector<std::wstring>& paths);

// A handler from the library's factory (by path), as IShellExtInit and IContextMenu.
struct Handler {
    IShellExtInit* init = nullptr;
    IContextMenu* menu = nullptr;
    Handler();
    ~Handler();
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;
    HRESULT Initialize(IDataObject* data) { return init->Initialize(nullptr, data, nullptr); }
    HRESULT InitializeWith(const std::vector<std::wstring>& paths);
};

// The manager stand-in (or a hanging window) in a process of its own.
class TStandIn {
  public:
    explicit TStandIn(bool hang = false);
    ~TStandIn();
    TStandIn(const TStandIn&) = delete;
    TStandIn& operator=(const TStandIn&) = delete;
    bool Ready() const { return ready_; }

    struct Record {
        std::int32_t result = 0;
        std::u16string folder;
    };
    // Everything it has handled so far.
    std::vector<Record> Records() const;

  private:
    PROCESS_INFORMATION process_{};
    std::wstring resultFile_;
    const wchar_t* title_ = L"Lumavert";
    bool ready_ = false;
};

// Files and folders.
void WriteFile(const std::wstring& path, const std::string& bytes = "x");
std::string ReadFileBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
DWORD Attributes(const std::wstring& path);
void MakeFolders(const std::wstring& path);
std::u16string U16(const std::wstring& text);

// The library's list folder and list paths, as both sides compute them.
std::wstring ListPath(const wchar_t* name);

// The library's debug lines, taken as a debugger takes them: from the exceptions that
// OutputDebugString raises (Wine 8 turns the wide ones into narrow text in the ANSI code page
// and shows neither kind of the wide call on its debugstr channel). Each is echoed to stdout.
void StartDebugCapture();
bool HasDebugLine(const std::string& text);       // a whole line
bool HasDebugLineStart(const std::string& start); // a line's beginning
void ClearDebugLines();

// The text and state of a menu item by position.
std::wstring ItemText(HMENU menu, UINT position);

} // namespace driver
