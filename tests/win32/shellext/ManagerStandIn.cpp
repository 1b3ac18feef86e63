// Plays the manager's side of the hand-off for the extension's tests: a hidden top-level
// "#32770" window titled "Lumavert" that, inside its handler of "CMD DLL To Manager AP" (0, 0),
// reads the block with the real reader and writes what it found to a file.
//
// ManagerStandIn.exe RESULT_FILE            the manager stand-in
// ManagerStandIn.exe RESULT_FILE hang SECS  a window of another program that hangs in its handler
//
// RESULT_FILE gets, per message handled: the reader's result (int32), the folder's length in
// units (uint32) and its UTF-16LE units; a message with other parameters adds the result 1000.
#include <windows.h>

#include "common/handoff/HandOffReader.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring gResultFile;
UINT gHandOffMessage = 0;
DWORD gHangMs = 0;

void AppendRecord(std::int32_t result, std::u16string_view folder) {
    FILE* out = _wfopen(gResultFile.c_str(), L"ab");
    if (out == nullptr)
        return;
    const auto length = static_cast<std::uint32_t>(folder.size());
    std::fwrite(&result, sizeof result, 1, out);
    std::fwrite(&length, sizeof length, 1, out);
    std::fwrite(folder.data(), sizeof(char16_t), folder.size(), out);
    std::fclose(out);
}

void OnHandOff(WPARAM wParam, LPARAM lParam) {
    if (wParam != 0 || lParam != 0) {
        AppendRecord(1000, u"");
        return;
    }
    if (gHangMs != 0) {
        AppendRecord(2000, u"");
        ::Sleep(gHangMs);
        return;
    }
    handoff::HandOffBlock block;
    const int result = handoff::OpenHandOffBlock(block);
    // Copied inside the handler: the writer destroys the block once the message returns.
    const std::u16string folder(block.Folder());
    handoff::CloseHandOffBlock(block);
    AppendRecord(result, folder);
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == gHandOffMessage && gHandOffMessage != 0) {
        OnHandOff(wParam, lParam);
        return TRUE;
    }
    if (message == WM_CLOSE) {
        ::DestroyWindow(window);
        return TRUE;
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}

// An empty dialog template without WS_VISIBLE: the window is of the dialog class "#32770".
struct alignas(4) EmptyDialog {
    DLGTEMPLATE header;
    WORD menu = 0;
    WORD windowClass = 0;
    wchar_t title[16];
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    gResultFile = argv[1];
    const bool hang = argc >= 4 && std::wcscmp(argv[2], L"hang") == 0;
    if (hang)
        gHangMs = static_cast<DWORD>(_wtoi(argv[3])) * 1000;
    gHandOffMessage =
        ::RegisterWindowMessageW(reinterpret_cast<const wchar_t*>(handoff::kHandOffMessageName));

    EmptyDialog dialog{};
    dialog.header.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
    dialog.header.cx = 100;
    dialog.header.cy = 50;
    std::wcscpy(dialog.title, hang ? L"Hung Window" : L"Lumavert");
    HWND window = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), &dialog.header, nullptr,
                                               DialogProc, 0);
    if (window == nullptr)
        return 3;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageW(window, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return 0;
}
