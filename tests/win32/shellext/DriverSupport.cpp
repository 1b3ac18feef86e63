// Helpers of the extension's Wine tests.
#include "tests/win32/shellext/DriverSupport.h"

#include "common/handoff/ListFiles.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>

namespace driver {

const CLSID kClassId = {
    0x815A89D0, 0x4685, 0x4588, {0xB1, 0xF0, 0xD3, 0x3C, 0xAB, 0x66, 0xB6, 0x3E}};

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[4096];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, 4096);
    return length > 0 && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

std::wstring WorkFolder() {
    return Env(L"LUMAVERT_WORK");
}

const Library& Tavomenu() {
    static const Library library = [] {
        Library loaded;
        loaded.module = ::LoadLibraryW(Env(L"LUMAVERT_TAVOMENU64").c_str());
        if (loaded.module != nullptr) {
            // Through void*: FARPROC's own type matches no real signature.
            loaded.getClassObject = reinterpret_cast<decltype(loaded.getClassObject)>(
                reinterpret_cast<void*>(::GetProcAddress(loaded.module, "DllGetClassObject")));
            loaded.canUnloadNow = reinterpret_cast<decltype(loaded.canUnloadNow)>(
                reinterpret_cast<void*>(::GetProcAddress(loaded.module, "DllCanUnloadNow")));
        }
        return loaded;
    }();
    return library;
}

namespace {

// Frees the HGLOBAL it came with when the receiver releases the storage.
class TStorageOwner final : public IUnknown {
  public:
    TStorageOwner(HGLOBAL memory, TOwnDataObject& source) : memory_(memory), source_(source) {
        source_.AddRef();
    }
    STDMETHODIMP QueryInterface(REFIID id, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(id, IID_IUnknown))
            return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            ::GlobalFree(memory_);
            source_.StorageReleased();
            source_.Release();
            delete this;
        }
        return left;
    }

  private:
    ~TStorageOwner() = default;
    ULONG references_ = 1;
    HGLOBAL memory_;
    TOwnDataObject& source_;
};

HGLOBAL MakeDrop(const std::vector<std::wstring>& paths) {
    std::size_t units = 1;
    for (const auto& path : paths)
        units += path.size() + 1;
    HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(wchar_t));
    if (memory == nullptr)
        return nullptr;
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* text = reinterpret_cast<wchar_t*>(drop + 1);
    for (const auto& path : paths) {
        std::memcpy(text, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        text += path.size() + 1;
    }
    *text = L'\0';
    ::GlobalUnlock(memory);
    return memory;
}

} // namespace

TOwnDataObject::TOwnDataObject(std::vector<std::wstring> paths, bool offerDrop)
    : paths_(std::move(paths)), offerDrop_(offerDrop) {}

STDMETHODIMP TOwnDataObject::QueryInterface(REFIID id, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_IDataObject))
        return E_NOINTERFACE;
    *out = static_cast<IDataObject*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) TOwnDataObject::Release() {
    const ULONG left = --references_;
    if (left == 0)
        delete this;
    return left;
}

STDMETHODIMP TOwnDataObject::QueryGetData(FORMATETC* format) {
    return offerDrop_ && format != nullptr && format->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
}

STDMETHODIMP TOwnDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
    if (out != nullptr)
        out->ptd = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TOwnDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
    ++getDataCalls_;
    if (format == nullptr || medium == nullptr)
        return E_INVALIDARG;
    if (!offerDrop_ || format->cfFormat != CF_HDROP || (format->tymed & TYMED_HGLOBAL) == 0)
        return DV_E_FORMATETC;
    HGLOBAL memory = MakeDrop(paths_);
    if (memory == nullptr)
        return E_OUTOFMEMORY;
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = new TStorageOwner(memory, *this);
    ++storageHandedOut_;
    return S_OK;
}

IDataObject* ShellDataObject(const std::vector<std::wstring>& paths) {
    if (paths.empty())
        return nullptr;
    const std::wstring& first = paths.front();
    const std::wstring folderPath = first.substr(0, first.rfind(L'\\'));
    IShellFolder* desktop = nullptr;
    if (FAILED(::SHGetDesktopFolder(&desktop)))
        return nullptr;
    PIDLIST_ABSOLUTE folderId = nullptr;
    IShellFolder* folder = nullptr;
    IDataObject* data = nullptr;
    std::vector<PITEMID_CHILD> children;
    if (SUCCEEDED(::SHParseDisplayName(folderPath.c_str(), nullptr, &folderId, 0, nullptr)) &&
        SUCCEEDED(desktop->BindToObject(folderId, nullptr, IID_IShellFolder,
                                        reinterpret_cast<void**>(&folder)))) {
        bool parsed = true;
        for (const auto& path : paths) {
            std::wstring name = path.substr(path.rfind(L'\\') + 1);
            PIDLIST_RELATIVE child = nullptr;
            if (FAILED(folder->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &child,
                                                nullptr))) {
                parsed = false;
                break;
            }
            children.push_back(static_cast<PITEMID_CHILD>(child));
        }
        if (parsed) {
            folder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()),
                                  const_cast<PCUITEMID_CHILD_ARRAY>(children.data()),
                                  IID_IDataObject, nullptr, reinterpret_cast<void**>(&data));
        }
    }
    for (PITEMID_CHILD child : children)
        ::CoTaskMemFree(child);
    if (folder != nullptr)
        folder->Release();
    ::CoTaskMemFree(folderId);
    desktop->Release();
    return data;
}

Handler::Handler() {
    IClassFactory* factory = nullptr;
    if (Tavomenu().getClassObject == nullptr ||
        FAILED(Tavomenu().getClassObject(kClassId, IID_IClassFactory,
                                         reinterpret_cast<void**>(&factory))))
        return;
    factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
    factory->Release();
    if (init != nullptr)
        init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
}

Handler::~Handler() {
    if (menu != nullptr)
        menu->Release();
    if (init != nullptr)
        init->Release();
}

HRESULT Handler::InitializeWith(const std::vector<std::wstring>& paths) {
    auto* data = new TOwnDataObject(paths);
    const HRESULT result = Initialize(data);
    data->Release();
    return result;
}

TStandIn::TStandIn(bool hang) {
    static int serial = 0;
    resultFile_ = WorkFolder() + L"\\standin-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                  std::to_wstring(++serial) + L".bin";
    ::DeleteFileW(resultFile_.c_str());
    std::wstring command = L"\"" + Env(L"LUMAVERT_STANDIN") + L"\" \"" + resultFile_ + L"\"";
    if (hang)
        command += L" hang 60";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process_))
        return;
    title_ = hang ? L"Hung Window" : L"Lumavert";
    for (int i = 0; i < 400 && !ready_; ++i) {
        ready_ = ::FindWindowW(L"#32770", title_) != nullptr;
        if (!ready_)
            ::Sleep(50);
    }
}

TStandIn::~TStandIn() {
    if (process_.hProcess == nullptr)
        return;
    // Our own child, ended by its handle.
    ::TerminateProcess(process_.hProcess, 0);
    ::WaitForSingleObject(process_.hProcess, 10000);
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
    // Another stand-in may follow: wait until this one's window is gone.
    for (int i = 0; i < 200 && ::FindWindowW(L"#32770", title_) != nullptr; ++i)
        ::Sleep(50);
}

std::vector<TStandIn::Record> TStandIn::Records() const {
    const std::string bytes = ReadFileBytes(resultFile_);
    std::vector<Record> records;
    std::size_t at = 0;
    while (at + 8 <= bytes.size()) {
        Record record;
        std::uint32_t length = 0;
        std::memcpy(&record.result, bytes.data() + at, 4);
        std::memcpy(&length, bytes.data() + at + 4, 4);
        at += 8;
        if (at + length * 2 > bytes.size())
            break;
        record.folder.resize(length);
        std::memcpy(record.folder.data(), bytes.data() + at, length * 2);
        at += length * 2;
        records.push_back(std::move(record));
    }
    return records;
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (out == nullptr)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
}

std::string ReadFileBytes(const std::wstring& path) {
    FILE* in = _wfopen(path.c_str(), L"rb");
    if (in == nullptr)
        return "<missing>";
    std::string bytes;
    char buffer[4096];
    std::size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        bytes.append(buffer, read);
    std::fclose(in);
    return bytes;
}

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD Attributes(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str());
}

void MakeFolders(const std::wstring& path) {
    ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
}

std::u16string U16(const std::wstring& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

std::wstring ListPath(const wchar_t* name) {
    const std::u16string folder = handoff::ListFolder(handoff::kExtensionFolderFailure);
    return std::wstring(reinterpret_cast<const wchar_t*>(folder.data()), folder.size()) + L"\\" +
           name;
}

namespace {

constexpr DWORD kPrintException = 0x40010006;     // DBG_PRINTEXCEPTION_C
constexpr DWORD kPrintExceptionWide = 0x4001000A; // DBG_PRINTEXCEPTION_WIDE_C

std::vector<std::string>& CapturedLines() {
    static std::vector<std::string> lines;
    return lines;
}

void Capture(std::string line) {
    std::printf("debug: %s%s", line.c_str(), !line.empty() && line.back() == '\n' ? "" : "\n");
    CapturedLines().push_back(std::move(line));
}

LONG CALLBACK OnDebugString(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    if (record.ExceptionCode == kPrintExceptionWide && record.NumberParameters >= 2) {
        const auto* text = reinterpret_cast<const wchar_t*>(record.ExceptionInformation[1]);
        std::string line;
        for (; text != nullptr && *text != L'\0'; ++text)
            line.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
        Capture(std::move(line));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (record.ExceptionCode == kPrintException && record.NumberParameters >= 2) {
        const auto* text = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
        Capture(text != nullptr ? text : "");
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void StartDebugCapture() {
    ::AddVectoredExceptionHandler(1, OnDebugString);
}

bool HasDebugLine(const std::string& text) {
    for (const auto& line : CapturedLines()) {
        if (line == text)
            return true;
    }
    return false;
}

bool HasDebugLineStart(const std::string& start) {
    for (const auto& line : CapturedLines()) {
        if (line.compare(0, start.size(), start) == 0)
            return true;
    }
    return false;
}

void ClearDebugLines() {
    CapturedLines().clear();
}

std::wstring ItemText(HMENU menu, UINT position) {
    wchar_t text[256] = {};
    ::GetMenuStringW(menu, position, text, 256, MF_BYPOSITION);
    return text;
}

} // namespace driver
