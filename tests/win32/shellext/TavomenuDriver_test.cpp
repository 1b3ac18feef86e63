// Tavomenu64.dll under Wine with this program playing Explorer on its STA thread: the COM
// results in order, the menu item, the hand-off to a manager stand-in in another process.
#include "tests/win32/shellext/DriverSupport.h"

#include "common/handoff/HandOffReader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace {

using namespace driver;

constexpr wchar_t kCommand[] = L"Lumavert(Kestro Media Player) (&D)";
constexpr UINT kFirstId = 100;

HRESULT CanUnloadNow() {
    return Tavomenu().canUnloadNow();
}

// A fresh folder of the work folder for one test, with these files in it.
std::wstring Folder(const std::wstring& name, const std::vector<std::wstring>& files = {}) {
    const std::wstring folder = WorkFolder() + L"\\" + name;
    MakeFolders(folder);
    for (const auto& file : files)
        WriteFile(folder + L"\\" + file);
    return folder;
}

std::vector<std::wstring> In(const std::wstring& folder, const std::vector<std::wstring>& names) {
    std::vector<std::wstring> paths;
    for (const auto& name : names)
        paths.push_back(folder + L"\\" + name);
    return paths;
}

void RemoveLists() {
    for (const wchar_t* name : {L"VideoList.txt", L"AudioList.txt", L"ImageList.txt"}) {
        const std::wstring path = ListPath(name);
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
    }
}

// The list image of `names`: FF FE, UTF-16LE, CR LF after each.
std::string Image(const std::vector<std::wstring>& names) {
    std::string bytes = "\xFF\xFE";
    for (const auto& name : names) {
        for (wchar_t unit : name + L"\r\n") {
            bytes.push_back(static_cast<char>(unit & 0xFF));
            bytes.push_back(static_cast<char>(unit >> 8));
        }
    }
    return bytes;
}

HRESULT InvokePlain(IContextMenu* menu, LPCSTR verb = MAKEINTRESOURCEA(0)) {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = verb;
    info.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(&info);
}

HRESULT InvokeEx(IContextMenu* menu, LPCWSTR verbW = MAKEINTRESOURCEW(0)) {
    CMINVOKECOMMANDINFOEX info{};
    info.cbSize = sizeof info;
    info.fMask = CMIC_MASK_UNICODE;
    info.lpVerb = MAKEINTRESOURCEA(0);
    info.lpVerbW = verbW;
    info.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
}

// The handed-off folder of a selection, as the stand-in received it.
std::u16string HandOffFolder(const std::vector<std::wstring>& paths, TStandIn& standIn) {
    Handler handler;
    if (handler.InitializeWith(paths) != S_OK)
        return u"<no init>";
    HMENU menu = ::CreatePopupMenu();
    handler.menu->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL);
    ::DestroyMenu(menu);
    const std::size_t before = standIn.Records().size();
    if (InvokePlain(handler.menu) != S_OK)
        return u"<invoke failed>";
    const auto records = standIn.Records();
    if (records.size() != before + 1)
        return u"<no message>";
    if (records.back().result != 0)
        return u"<reader failed>";
    return records.back().folder;
}

TEST(TavomenuExports, FactoryAndHandlerResultsInOrderWithTheModuleCount) {
    const Library& library = Tavomenu();
    ASSERT_NE(library.module, nullptr);
    ASSERT_NE(library.getClassObject, nullptr);
    ASSERT_NE(library.canUnloadNow, nullptr);
    EXPECT_EQ(CanUnloadNow(), S_OK);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(library.getClassObject(kClassId, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(library.getClassObject(IID_IUnknown, IID_IClassFactory, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    // A factory whose query fails is gone at once.
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(library.getClassObject(kClassId, IID_IShellExtInit, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CanUnloadNow(), S_OK);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(
        library.getClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
        S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    IUnknown* unknown = nullptr;
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(factory));
    EXPECT_EQ(unknown->Release(), 1u);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->QueryInterface(IID_IContextMenu, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->Release(), 1u);

    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, nullptr), E_POINTER);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(factory, IID_IShellExtInit, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    // A handler whose query fails is gone at once too: only the factory counts.
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    IShellExtInit* init = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)),
              S_OK);
    IContextMenu* menu = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    // One identity, one count for both faces.
    IUnknown* fromInit = nullptr;
    IUnknown* fromMenu = nullptr;
    init->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromInit));
    menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromMenu));
    EXPECT_EQ(fromInit, fromMenu);
    EXPECT_EQ(fromInit, static_cast<IUnknown*>(init));
    EXPECT_EQ(fromMenu->Release(), 3u);
    EXPECT_EQ(fromInit->Release(), 2u);
    IShellExtInit* again = nullptr;
    EXPECT_EQ(menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again, init);
    EXPECT_EQ(again->Release(), 2u);
    EXPECT_EQ(menu->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, nullptr, 0), E_INVALIDARG);

    // LockServer changes nothing: the factory's release alone decides.
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(CanUnloadNow(), S_FALSE); // the handler is alive
    EXPECT_EQ(menu->Release(), 1u);
    EXPECT_EQ(init->Release(), 0u);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST(TavomenuRegistered, CoCreateInstanceFindsTheClassThroughTheKeys) {
    IShellExtInit* init = nullptr;
    ASSERT_EQ(::CoCreateInstance(kClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                 reinterpret_cast<void**>(&init)),
              S_OK);
    IContextMenu* menu = nullptr;
    EXPECT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    // COM loaded the same library by its registered path.
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    menu->Release();
    init->Release();
    EXPECT_EQ(CanUnloadNow(), S_OK);
    ::CoFreeUnusedLibraries();
}

TEST(TavomenuInitialize, EveryDataObjectGivesItsResultWithOneGetDataAndItsStorageReleased) {
    Handler handler;
    ASSERT_NE(handler.menu, nullptr);
    EXPECT_EQ(handler.Initialize(nullptr), E_FAIL);

    auto* noDrop = new TOwnDataObject({}, false);
    EXPECT_EQ(handler.Initialize(noDrop), E_FAIL);
    EXPECT_EQ(noDrop->GetDataCalls(), 1);
    noDrop->Release();

    const std::wstring folder = Folder(L"mixed", {L"a.txt", L"b.mp3", L"c.jpg", L"d.mkv", L"e"});
    auto* own = new TOwnDataObject(In(folder, {L"a.txt", L"b.mp3", L"c.jpg", L"d.mkv", L"e"}));
    ClearDebugLines();
    EXPECT_EQ(handler.Initialize(own), S_OK);
    EXPECT_TRUE(HasDebugLine("CContextMenu::Initialize: m_nFileCount=3 (V1 A1 I1)\n"));
    EXPECT_EQ(own->GetDataCalls(), 1);
    EXPECT_EQ(own->StorageHandedOut(), 1);
    EXPECT_EQ(own->StorageReleases(), 1);
    own->Release();

    IDataObject* shell = ShellDataObject(In(folder, {L"b.mp3", L"d.mkv"}));
    ASSERT_NE(shell, nullptr);
    ClearDebugLines();
    EXPECT_EQ(handler.Initialize(shell), S_OK);
    shell->Release();
    EXPECT_TRUE(HasDebugLine("CContextMenu::Initialize: m_nFileCount=2 (V1 A1 I0)\n"));

    // An item that is not there is skipped with its line.
    ClearDebugLines();
    EXPECT_EQ(handler.InitializeWith(In(folder, {L"gone.mp3", L"b.mp3"})), S_OK);
    EXPECT_TRUE(HasDebugLine("CContextMenu:: GetFileAttributes Error \n"));
    EXPECT_TRUE(HasDebugLine("CContextMenu::Initialize: m_nFileCount=1 (V0 A1 I0)\n"));
    HMENU menu = ::CreatePopupMenu();
    EXPECT_EQ(handler.menu->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2));
    EXPECT_EQ(::GetMenuItemCount(menu), 1);
    ::DestroyMenu(menu);
}

TEST(TavomenuMenu, TheItemItsStateAndItsPicture) {
    const std::wstring folder = Folder(L"menu", {L"a.avi", L"b.txt"});
    MakeFolders(folder + L"\\sub");
    Handler handler;
    ASSERT_NE(handler.menu, nullptr);

    // Folders only, or files of no media type: no item, still 2.
    ASSERT_EQ(handler.InitializeWith(In(folder, {L"sub", L"b.txt"})), S_OK);
    HMENU menu = ::CreatePopupMenu();
    EXPECT_EQ(handler.menu->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2));
    EXPECT_EQ(::GetMenuItemCount(menu), 0);

    ASSERT_EQ(handler.InitializeWith(In(folder, {L"a.avi"})), S_OK);
    EXPECT_EQ(handler.menu->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_DEFAULTONLY),
              S_OK);
    EXPECT_EQ(::GetMenuItemCount(menu), 0);

    // Without the manager: present, grayed and disabled, at the index with the first id.
    ::AppendMenuW(menu, MF_STRING, 1, L"Open");
    ::AppendMenuW(menu, MF_STRING, 2, L"Properties");
    ASSERT_EQ(::FindWindowW(L"#32770", L"Lumavert"), nullptr);
    EXPECT_EQ(handler.menu->QueryContextMenu(menu, 1, kFirstId, kFirstId + 10, CMF_NORMAL),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2));
    ASSERT_EQ(::GetMenuItemCount(menu), 3);
    EXPECT_EQ(ItemText(menu, 1), kCommand);
    EXPECT_EQ(::GetMenuItemID(menu, 1), kFirstId);
    EXPECT_EQ(::GetMenuState(menu, 1, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED),
              static_cast<UINT>(MF_GRAYED | MF_DISABLED));
    ::DestroyMenu(menu);

    // With the manager: enabled. The picture follows the check-mark size and the index.
    TStandIn standIn;
    ASSERT_TRUE(standIn.Ready());
    const LONG dimensions = ::GetMenuCheckMarkDimensions();
    const int width = LOWORD(dimensions);
    const int height = HIWORD(dimensions);
    std::printf("check mark %dx%d\n", width, height);
    std::vector<HBITMAP> attached;
    for (UINT index : {0u, 1u}) {
        ClearDebugLines();
        menu = ::CreatePopupMenu();
        ::AppendMenuW(menu, MF_STRING, 1, L"Open");
        handler.menu->QueryContextMenu(menu, index, kFirstId, kFirstId + 10, CMF_NORMAL);
        EXPECT_EQ(::GetMenuState(menu, index, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED), 0u);
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_CHECKMARKS;
        ASSERT_TRUE(::GetMenuItemInfoW(menu, index, TRUE, &item));
        const bool expectPicture = !(width == 13 && height == 13) || index == 0;
        if (width == 13 && height == 13)
            EXPECT_TRUE(HasDebugLine("lDim=0xd000d, lw=13, lh=13 -> 13x13\n"));
        else
            EXPECT_TRUE(HasDebugLineStart("lDim=0x"));
        EXPECT_EQ(item.hbmpUnchecked != nullptr, expectPicture) << "index " << index;
        if (item.hbmpUnchecked != nullptr) {
            BITMAP info{};
            ASSERT_NE(::GetObjectW(item.hbmpUnchecked, sizeof info, &info), 0);
            EXPECT_EQ(info.bmWidth, width);
            EXPECT_EQ(info.bmHeight, height);
            attached.push_back(item.hbmpUnchecked);
        }
        ::DestroyMenu(menu);
    }
    ASSERT_FALSE(attached.empty());
    for (HBITMAP bitmap : attached)
        EXPECT_EQ(::GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
    // The handler owned them: gone with it.
    handler.menu->Release();
    handler.menu = nullptr;
    handler.init->Release();
    handler.init = nullptr;
    for (HBITMAP bitmap : attached)
        EXPECT_EQ(::GetObjectType(bitmap), 0u);
}

TEST(TavomenuInvoke, ListsAreByteExactAndHiddenAndTheStandInGetsTheFolder) {
    TStandIn standIn;
    ASSERT_TRUE(standIn.Ready());
    RemoveLists();
    const std::wstring folder =
        Folder(L"invoke", {L"a.txt", L"b.mp3", L"c.jpg", L"d.mkv", L"e", L"f.MP3"});
    Handler handler;
    ASSERT_EQ(handler.InitializeWith(
                  In(folder, {L"a.txt", L"b.mp3", L"c.jpg", L"d.mkv", L"e", L"f.MP3"})),
              S_OK);

    // String verbs and other offsets write nothing and tell nobody.
    EXPECT_EQ(InvokePlain(handler.menu, "open"), E_INVALIDARG);
    EXPECT_EQ(InvokePlain(handler.menu, MAKEINTRESOURCEA(1)), E_INVALIDARG);
    EXPECT_EQ(InvokeEx(handler.menu, L"open"), E_INVALIDARG);
    EXPECT_FALSE(Exists(ListPath(L"AudioList.txt")));
    EXPECT_TRUE(standIn.Records().empty());

    ClearDebugLines();
    EXPECT_EQ(InvokePlain(handler.menu), S_OK);
    EXPECT_TRUE(HasDebugLineStart("SendMap: m_wstrFilePath=Z:\\"));
    EXPECT_TRUE(HasDebugLineStart("OK: hSendMap=0x"));
    EXPECT_TRUE(HasDebugLineStart("GetLastError=0: "));
    EXPECT_EQ(ReadFileBytes(ListPath(L"VideoList.txt")), Image({L"d.mkv"}));
    EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image({L"b.mp3", L"f.MP3"}));
    EXPECT_EQ(ReadFileBytes(ListPath(L"ImageList.txt")), Image({L"c.jpg"}));
    for (const wchar_t* name : {L"VideoList.txt", L"AudioList.txt", L"ImageList.txt"})
        EXPECT_NE(Attributes(ListPath(name)) & FILE_ATTRIBUTE_HIDDEN, 0u) << name;
    auto records = standIn.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].result, 0);
    EXPECT_EQ(records[0].folder, U16(folder));

    // The manager reads its lines from the same files.
    const std::u16string listFolder = handoff::ListFolder(handoff::kManagerFolderFailure);
    std::u16string line;
    EXPECT_EQ(handoff::ReadListLine(handoff::BuildListPaths(listFolder), 2, 2, line), -100);
    EXPECT_EQ(line, u"f.MP3\n");

    // The extended structure, and audio after video: no video list is left.
    Handler audioOnly;
    ASSERT_EQ(audioOnly.InitializeWith(In(folder, {L"b.mp3"})), S_OK);
    EXPECT_EQ(InvokeEx(audioOnly.menu), S_OK);
    EXPECT_FALSE(Exists(ListPath(L"VideoList.txt")));
    EXPECT_FALSE(Exists(ListPath(L"ImageList.txt")));
    EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image({L"b.mp3"}));
    EXPECT_EQ(standIn.Records().size(), 2u);
}

TEST(TavomenuInvoke, TheFolderArrivesExact) {
    TStandIn standIn;
    ASSERT_TRUE(standIn.Ready());
    const std::wstring percent = Folder(L"%d 100%", {L"a.mp3"});
    EXPECT_EQ(HandOffFolder(In(percent, {L"a.mp3"}), standIn), U16(percent));

    const std::wstring foreign = Folder(L"\x00DCn\x00EF"
                                        L"c\x00F8"
                                        L"d\x00E9 \x65E5\x672C",
                                        {L"a.mp3"});
    EXPECT_EQ(HandOffFolder(In(foreign, {L"a.mp3"}), standIn), U16(foreign));

    // 150 units, beyond the 130 that an older block held.
    const std::wstring base = WorkFolder() + L"\\";
    const std::wstring longFolder = Folder(std::wstring(150 - base.size(), L'L'), {L"a.mp3"});
    ASSERT_EQ(longFolder.size(), 150u);
    EXPECT_EQ(HandOffFolder(In(longFolder, {L"a.mp3"}), standIn), U16(longFolder));

    // M: is the test's drive (a link to a folder of the work folder): a file in its root gives
    // "M:", the selected root itself "M:\".
    WriteFile(L"M:\\root.mp3");
    EXPECT_EQ(HandOffFolder({L"M:\\root.mp3"}, standIn), u"M:");
    EXPECT_EQ(HandOffFolder({L"M:\\", L"M:\\root.mp3"}, standIn), u"M:\\");

    // A first path of 300 units: no folder, no item, nothing handed off.
    Handler handler;
    const std::wstring tooLong = L"M:\\" + std::wstring(297, L'x');
    ClearDebugLines();
    ASSERT_EQ(handler.InitializeWith({tooLong, L"M:\\root.mp3"}), S_OK);
    EXPECT_TRUE(HasDebugLine("CContextMenu:: Path of 300 units skipped \n"));
    HMENU menu = ::CreatePopupMenu();
    EXPECT_EQ(handler.menu->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2));
    EXPECT_EQ(::GetMenuItemCount(menu), 0);
    ::DestroyMenu(menu);
}

TEST(TavomenuInvoke, AHungWindowDelaysTheHandOffBoundedAndTheManagerStillGetsIt) {
    TStandIn standIn;
    TStandIn hung(true);
    ASSERT_TRUE(standIn.Ready());
    ASSERT_TRUE(hung.Ready());
    const std::wstring folder = Folder(L"hung", {L"a.mp3"});
    Handler handler;
    ASSERT_EQ(handler.InitializeWith(In(folder, {L"a.mp3"})), S_OK);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InvokePlain(handler.menu), S_OK);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("hand-off with a window hanging for 60 s: %.1f s\n", seconds);
    // The window hangs for 60 s: a plain broadcast would wait for all of it.
    EXPECT_LT(seconds, 30.0);
    EXPECT_EQ(hung.Records().size(), 1u);
    const auto records = standIn.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].folder, U16(folder));
}

TEST(TavomenuInvoke, AListHeldOpenStopsTheHandOff) {
    TStandIn standIn;
    ASSERT_TRUE(standIn.Ready());
    const std::wstring folder = Folder(L"held", {L"old.mp3", L"new.mp3"});
    Handler first;
    ASSERT_EQ(first.InitializeWith(In(folder, {L"old.mp3"})), S_OK);
    ASSERT_EQ(InvokePlain(first.menu), S_OK);
    std::size_t told = 1;
    ASSERT_EQ(standIn.Records().size(), told);

    // Held as a server's read slot holds the file the player read last: sharing reading only,
    // or reading and deleting (then the delete works but the name stays until the close).
    Handler second;
    ASSERT_EQ(second.InitializeWith(In(folder, {L"new.mp3"})), S_OK);
    for (DWORD share : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_DELETE}}) {
        HANDLE held = ::CreateFileW(ListPath(L"AudioList.txt").c_str(), GENERIC_READ, share,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << share;
        ClearDebugLines();
        EXPECT_EQ(InvokePlain(second.menu), S_OK);
        EXPECT_EQ(standIn.Records().size(), told) << "no notification while an old list stands";
        EXPECT_TRUE(HasDebugLineStart("Error: old list stays: ")) << share;
        EXPECT_FALSE(HasDebugLineStart("SendMap:"));
        ::CloseHandle(held);
        if (share == FILE_SHARE_READ) {
            EXPECT_TRUE(HasDebugLineStart("GetLastError=32: "));
            EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image({L"old.mp3"}));
        }

        EXPECT_EQ(InvokePlain(second.menu), S_OK);
        EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image({L"new.mp3"}));
        EXPECT_EQ(standIn.Records().size(), ++told);
    }
}

TEST(TavomenuZFinal, NothingIsLeftAlive) {
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

} // namespace
