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

// Initialize, QueryContextMenu and InvokeCommand of `paths`, as Explorer calls them: the three
// results, and whether the item was inserted.
struct Sequence {
    HRESULT init = E_FAIL;
    bool item = false;
    HRESULT invoke = E_FAIL;
};
Sequence RunSequence(const std::vector<std::wstring>& paths, IDataObject* data = nullptr) {
    Sequence out;
    Handler handler;
    if (handler.menu == nullptr)
        return out;
    out.init = data != nullptr ? handler.Initialize(data) : handler.InitializeWith(paths);
    HMENU menu = ::CreatePopupMenu();
    handler.menu->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL);
    out.item = ::GetMenuItemCount(menu) == 1;
    ::DestroyMenu(menu);
    out.invoke = InvokePlain(handler.menu);
    return out;
}

std::wstring Repeat(std::size_t count, wchar_t unit) {
    return std::wstring(count, unit);
}

TEST(TavomenuHostile, TenThousandFilesArriveWholeInOrder) {
    TStandIn standIn;
    ASSERT_TRUE(standIn.Ready());
    RemoveLists();
    // The scenario makes the files beforehand (much faster than here under Wine).
    const std::wstring folder = Folder(L"many");
    std::vector<std::wstring> names;
    for (int i = 0; i < 10000; ++i) {
        wchar_t name[32];
        std::swprintf(name, 32, L"%05d %ls", i, i % 2 == 0 ? L"song.mp3" : L"clip.mkv");
        names.push_back(name);
        if (!Exists(folder + L"\\" + name))
            WriteFile(folder + L"\\" + name, "");
    }
    auto* data = new TOwnDataObject(In(folder, names));
    ClearDebugLines();
    const auto start = std::chrono::steady_clock::now();
    const Sequence run = RunSequence({}, data);
    data->Release();
    std::printf("10000 files through the sequence: %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    EXPECT_EQ(run.init, S_OK);
    EXPECT_TRUE(run.item);
    EXPECT_EQ(run.invoke, S_OK);
    EXPECT_TRUE(HasDebugLine("CContextMenu::Initialize: m_nFileCount=10000 (V5000 A5000 I0)\n"));
    std::vector<std::wstring> audio, video;
    for (std::size_t i = 0; i < names.size(); ++i)
        (i % 2 == 0 ? audio : video).push_back(names[i]);
    // Compared whole, reported by size: a diff of 100 KiB would drown the log.
    const std::string audioList = ReadFileBytes(ListPath(L"AudioList.txt"));
    const std::string videoList = ReadFileBytes(ListPath(L"VideoList.txt"));
    EXPECT_TRUE(audioList == Image(audio)) << audioList.size() << " bytes";
    EXPECT_TRUE(videoList == Image(video)) << videoList.size() << " bytes";
    EXPECT_FALSE(Exists(ListPath(L"ImageList.txt")));
    const auto records = standIn.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].folder, U16(folder));
}

TEST(TavomenuHostile, LongOddAndForeignNamesAreTakenVerbatimOrSkippedWithALine) {
    TStandIn standIn;
    ASSERT_TRUE(standIn.Ready());
    RemoveLists();

    // A name of 255 units in a drive root (258 units in all), and paths of 259 and 260 units:
    // the last does not fit the 260-unit buffer with its terminator.
    const std::wstring longName = Repeat(251, L'n') + L".mp3";
    WriteFile(L"M:\\" + longName, "");
    const std::wstring base = Folder(L"len") + L"\\";
    const std::wstring of259 = base + Repeat(259 - base.size() - 4, L'a') + L".mp3";
    const std::wstring of260 = base + Repeat(260 - base.size() - 4, L'b') + L".mp3";
    ASSERT_EQ(of259.size(), 259u);
    ASSERT_EQ(of260.size(), 260u);
    WriteFile(of259, "");
    WriteFile(of260, "");
    ASSERT_TRUE(Exists(of260));
    ClearDebugLines();
    Sequence run = RunSequence({L"M:\\" + longName, of259, of260});
    EXPECT_EQ(run.init, S_OK);
    EXPECT_EQ(run.invoke, S_OK);
    EXPECT_TRUE(HasDebugLine("CContextMenu:: Path of 260 units skipped \n"));
    EXPECT_TRUE(HasDebugLine("CContextMenu::Initialize: m_nFileCount=2 (V0 A2 I0)\n"));
    EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")),
              Image({longName, of259.substr(base.size())}));
    ASSERT_EQ(standIn.Records().size(), 1u);
    EXPECT_EQ(standIn.Records().back().folder, u"M:");
    // The manager reads the longest line whole.
    const std::u16string listFolder = handoff::ListFolder(handoff::kManagerFolderFailure);
    std::u16string line;
    EXPECT_EQ(handoff::ReadListLine(handoff::BuildListPaths(listFolder), 1, 2, line), -100);
    EXPECT_EQ(line, U16(longName) + u"\n");

    // Percent signs in the folder and the names, never read as formats.
    const std::wstring percent = Folder(L"%s%n%x", {L"%s%n.mp3", L"100%.jpg"});
    ClearDebugLines();
    run = RunSequence(In(percent, {L"%s%n.mp3", L"100%.jpg"}));
    EXPECT_EQ(run.invoke, S_OK);
    EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image({L"%s%n.mp3"}));
    EXPECT_EQ(ReadFileBytes(ListPath(L"ImageList.txt")), Image({L"100%.jpg"}));
    EXPECT_TRUE(HasDebugLineStart("SendMap: m_wstrFilePath=Z:\\"));
    EXPECT_EQ(standIn.Records().back().folder, U16(percent));

    // Lone surrogate halves: each item is listed as it is exactly when the system knows it
    // (Wine may not be able to make such a name), and the folder arrives unit for unit.
    const std::wstring halves = WorkFolder() + L"\\half\xD800";
    MakeFolders(halves);
    const std::vector<std::wstring> odd = {L"a\xD800.mp3", L"\xDC00z.mp3", L"ok.mp3"};
    std::vector<std::wstring> known;
    for (const auto& name : odd) {
        WriteFile(halves + L"\\" + name, "");
        if (::GetFileAttributesW((halves + L"\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES)
            known.push_back(name);
    }
    const std::size_t before = standIn.Records().size();
    run = RunSequence(In(halves, odd));
    EXPECT_EQ(run.init, S_OK);
    EXPECT_EQ(run.invoke, S_OK);
    if (known.empty()) {
        EXPECT_FALSE(Exists(ListPath(L"AudioList.txt")));
    } else {
        EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image(known));
    }
    ASSERT_EQ(standIn.Records().size(), before + 1);
    EXPECT_EQ(standIn.Records().back().folder, U16(halves));
    std::printf("lone halves: %zu of 3 names known to the system\n", known.size());

    // A \\?\ prefix: the folder keeps it, the names are the plain names.
    const std::wstring plain = Folder(L"prefixed", {L"p.mp3"});
    run = RunSequence({L"\\\\?\\" + plain + L"\\p.mp3"});
    EXPECT_EQ(run.invoke, S_OK);
    EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image({L"p.mp3"}));
    EXPECT_EQ(standIn.Records().back().folder, u"\\\\?\\" + U16(plain));

    // Network paths that do not answer: skipped with a line; a first one still names the
    // folder. Only network items: no command.
    ClearDebugLines();
    run =
        RunSequence({L"\\\\nohost.invalid\\share\\u.mp3", L"\\\\?\\UNC\\nohost.invalid\\s\\v.mp3"});
    EXPECT_EQ(run.init, S_OK);
    EXPECT_FALSE(run.item);
    EXPECT_TRUE(HasDebugLine("CContextMenu:: GetFileAttributes Error \n"));
    run = RunSequence({L"\\\\nohost.invalid\\share\\u.mp3", plain + L"\\p.mp3"});
    EXPECT_TRUE(run.item);
    EXPECT_EQ(run.invoke, S_OK);
    EXPECT_EQ(standIn.Records().back().folder, u"\\\\nohost.invalid\\share");
}

TEST(TavomenuHostile, FilesThatVanishBeforeTheCommandAreHandedOffAsSelected) {
    TStandIn standIn;
    ASSERT_TRUE(standIn.Ready());
    const std::wstring folder = Folder(L"vanish", {L"a.mp3", L"b.avi"});
    Handler handler;
    ASSERT_EQ(handler.InitializeWith(In(folder, {L"a.mp3", L"b.avi"})), S_OK);
    HMENU menu = ::CreatePopupMenu();
    handler.menu->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL);
    ::DestroyMenu(menu);
    ::DeleteFileW((folder + L"\\a.mp3").c_str());
    ::DeleteFileW((folder + L"\\b.avi").c_str());
    ASSERT_TRUE(::RemoveDirectoryW(folder.c_str()));
    EXPECT_EQ(InvokePlain(handler.menu), S_OK);
    // The selection as the user made it; the server answers for what is gone.
    EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image({L"a.mp3"}));
    EXPECT_EQ(ReadFileBytes(ListPath(L"VideoList.txt")), Image({L"b.avi"}));
    ASSERT_EQ(standIn.Records().size(), 1u);
    EXPECT_EQ(standIn.Records()[0].folder, U16(folder));
}

TEST(TavomenuHostile, ListsAreTheNewOnesOrNoneWhateverTheListFolder) {
    TStandIn standIn;
    ASSERT_TRUE(standIn.Ready());
    const std::wstring folder = Folder(L"lists", {L"old.mp3", L"old.mkv", L"new.mp3", L"new.mkv"});
    ASSERT_EQ(RunSequence(In(folder, {L"old.mkv", L"old.mp3"})).invoke, S_OK);
    std::size_t told = standIn.Records().size();
    ASSERT_EQ(told, 1u);

    // The audio list held without delete sharing: the new video list must not stand beside
    // the old audio list.
    {
        HANDLE held = ::CreateFileW(ListPath(L"AudioList.txt").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        ClearDebugLines();
        EXPECT_EQ(RunSequence(In(folder, {L"new.mkv", L"new.mp3"})).invoke, S_OK);
        ::CloseHandle(held);
        EXPECT_TRUE(HasDebugLineStart("Error: old list stays: "));
        EXPECT_FALSE(Exists(ListPath(L"VideoList.txt")));
        EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image({L"old.mp3"}));
        EXPECT_EQ(standIn.Records().size(), told);
    }

    // A missing list folder is made again.
    RemoveLists();
    const std::wstring listFolder = ListPath(L"").substr(0, ListPath(L"").size() - 1);
    ASSERT_TRUE(::RemoveDirectoryW(listFolder.c_str()));
    EXPECT_EQ(RunSequence(In(folder, {L"new.mp3"})).invoke, S_OK);
    EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image({L"new.mp3"}));
    EXPECT_EQ(standIn.Records().size(), ++told);

    // A file where the folder should be: no list, nobody told, the lines say why.
    RemoveLists();
    ASSERT_TRUE(::RemoveDirectoryW(listFolder.c_str()));
    WriteFile(listFolder, "not a folder");
    ClearDebugLines();
    EXPECT_EQ(RunSequence(In(folder, {L"new.mp3"})).invoke, S_OK);
    EXPECT_TRUE(HasDebugLineStart("Error: list not created: "));
    EXPECT_TRUE(HasDebugLineStart("GetLastError="));
    EXPECT_FALSE(HasDebugLineStart("SendMap:"));
    EXPECT_EQ(ReadFileBytes(listFolder), "not a folder");
    EXPECT_EQ(standIn.Records().size(), told);
    ::DeleteFileW(listFolder.c_str());
    MakeFolders(listFolder);
}

// Run by the scenario with the list folder on a small tmpfs of its own (LUMAVERT_LIST_DISK
// "small", 64 KiB) or on one remounted read-only after a first hand-off ("readonly").
TEST(TavomenuListDisk, FullOrReadOnlyLeavesTheNewListsOrNone) {
    const std::wstring mode = Env(L"LUMAVERT_LIST_DISK");
    if (mode.empty())
        GTEST_SKIP() << "needs the scenario's list disk";
    TStandIn standIn;
    ASSERT_TRUE(standIn.Ready());
    const std::wstring folder = Folder(L"disk", {L"a.mp3", L"b.mkv"});
    // 6000 lines of "a.mp3" need 82 KiB: more than the disk.
    const std::vector<std::wstring> manyPaths(6000, folder + L"\\a.mp3");

    if (mode == L"readonly") {
        // The lists of the first hand-off stand; none can be removed or written.
        const std::string audio = ReadFileBytes(ListPath(L"AudioList.txt"));
        ClearDebugLines();
        EXPECT_EQ(RunSequence(In(folder, {L"b.mkv"})).invoke, S_OK);
        EXPECT_TRUE(HasDebugLineStart("Error: old list stays: "));
        EXPECT_TRUE(HasDebugLineStart("GetLastError="));
        EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), audio);
        EXPECT_FALSE(Exists(ListPath(L"VideoList.txt")));
        EXPECT_TRUE(standIn.Records().empty());
        return;
    }
    ClearDebugLines();
    EXPECT_EQ(RunSequence(manyPaths).invoke, S_OK);
    EXPECT_TRUE(HasDebugLineStart("Error: list not written: "));
    EXPECT_TRUE(HasDebugLineStart("GetLastError=112: "));
    EXPECT_FALSE(Exists(ListPath(L"AudioList.txt")));
    EXPECT_TRUE(standIn.Records().empty());

    // The video list fits, the audio list after it does not: the video list goes again.
    std::vector<std::wstring> mixed = manyPaths;
    mixed.insert(mixed.begin(), folder + L"\\b.mkv");
    EXPECT_EQ(RunSequence(mixed).invoke, S_OK);
    EXPECT_FALSE(Exists(ListPath(L"VideoList.txt")));
    EXPECT_FALSE(Exists(ListPath(L"AudioList.txt")));
    EXPECT_TRUE(standIn.Records().empty());

    // A disk filled to the last byte, then freed: a small selection goes through again.
    const std::wstring filler = ListPath(L"filler");
    FILE* out = _wfopen(filler.c_str(), L"wb");
    ASSERT_NE(out, nullptr);
    const std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), out) == block.size()) {
    }
    std::fclose(out);
    ClearDebugLines();
    EXPECT_EQ(RunSequence(In(folder, {L"b.mkv", L"a.mp3"})).invoke, S_OK);
    EXPECT_TRUE(HasDebugLineStart("Error: list not written: "));
    EXPECT_FALSE(Exists(ListPath(L"VideoList.txt")));
    EXPECT_FALSE(Exists(ListPath(L"AudioList.txt")));
    EXPECT_TRUE(standIn.Records().empty());
    ::DeleteFileW(filler.c_str());
    EXPECT_EQ(RunSequence(In(folder, {L"b.mkv", L"a.mp3"})).invoke, S_OK);
    EXPECT_EQ(ReadFileBytes(ListPath(L"VideoList.txt")), Image({L"b.mkv"}));
    EXPECT_EQ(ReadFileBytes(ListPath(L"AudioList.txt")), Image({L"a.mp3"}));
    EXPECT_EQ(standIn.Records().size(), 1u);
}

TEST(TavomenuZFinal, NothingIsLeftAlive) {
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

} // namespace
