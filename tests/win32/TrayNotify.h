// What Wine's shell hands the taskbar window for each Shell_NotifyIcon request: WM_COPYDATA with
// dwData the NIM code and a record that starts with hWnd (32 bits), uID, uFlags,
// uCallbackMessage and szTip[128]. Stand-in taskbars of the tests read it with this.
#pragma once

#include <windows.h>

#include <string>

namespace wintest {

struct TTrayNotify {
    DWORD code = 0;
    UINT id = 0;
    UINT flags = 0;
    UINT callback = 0;
    std::wstring tip;
};

// The request in WM_COPYDATA's lParam; false when it is too short to be one.
inline bool ReadTrayNotify(LPARAM copyData, TTrayNotify& out) {
    struct Record {
        LONG window;
        UINT id;
        UINT flags;
        UINT callbackMessage;
        WCHAR tip[128];
    };
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(copyData);
    if (copy->cbData < sizeof(Record))
        return false;
    const auto* record = static_cast<const Record*>(copy->lpData);
    out.code = static_cast<DWORD>(copy->dwData);
    out.id = record->id;
    out.flags = record->flags;
    out.callback = record->callbackMessage;
    out.tip.assign(record->tip, wcsnlen(record->tip, 128));
    return true;
}

} // namespace wintest
