// What the probes of the scenario scripts share: output as UTF-8 lines, exit codes, window
// texts and searches, polling, broadcasts and the reading of a message box.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace probe {

constexpr int kExitUsage = 2;
constexpr int kExitTimeout = 3;
constexpr int kExitNotFound = 4;
constexpr UINT kBroadcastTimeoutMs = 5000;

inline void Print(const std::wstring& text) {
    std::string out;
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (needed > 0) {
        out.resize(static_cast<std::size_t>(needed));
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                            needed, nullptr, nullptr);
    }
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

inline std::wstring Text(HWND window) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(window, buffer, 1024);
    return buffer;
}

// A control's text in any process: GetWindowText only reads another process's caption, which
// an edit control's text is not.
inline std::wstring ControlText(HWND control) {
    wchar_t buffer[1024] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 2000, &copied);
    return buffer;
}

inline std::wstring ClassName(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

// Polls `found` every 50 ms until it holds or `seconds` have passed.
template <typename Predicate> bool WaitFor(double seconds, Predicate found) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        if (found())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(50);
    }
}

// A descendant of `parent` with control id `id`, at any depth (the fields sit on tab pages).
inline HWND FindDescendant(HWND parent, int id) {
    struct Search {
        int id;
        HWND found;
    } search{id, nullptr};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if (GetDlgCtrlID(child) != s->id)
                return TRUE;
            s->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM context) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(context)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

// A hidden top-level window of our own, so that broadcasts reach this process.
class TListener {
  public:
    TListener() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"LumavertServerProbe";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"Server probe", WS_POPUP, 0, 0, 0,
                                  0, nullptr, nullptr, windowClass.hInstance, nullptr);
    }
    ~TListener() {
        if (window_ != nullptr)
            DestroyWindow(window_);
    }
    TListener(const TListener&) = delete;
    TListener& operator=(const TListener&) = delete;
    HWND Handle() const { return window_; }

  private:
    HWND window_ = nullptr;
};

inline bool Broadcast(UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(HWND_BROADCAST, message, wParam, lParam, SMTO_ABORTIFHUNG,
                               kBroadcastTimeoutMs, &result) != 0;
}

// Waits for a message box titled `title`, prints its text and presses OK.
inline int ErrorBox(double seconds, const wchar_t* title) {
    HWND box = nullptr;
    // A message box is a standard dialog ("#32770").
    if (!WaitFor(seconds, [&] { return (box = FindWindowW(L"#32770", title)) != nullptr; })) {
        Print(L"no error box");
        return kExitTimeout;
    }
    for (const HWND child : Descendants(box)) {
        const std::wstring text = Text(child);
        if (ClassName(child) == L"Static" && !text.empty())
            Print(text);
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitFor(5, [&] { return IsWindow(box) == FALSE; });
    return 0;
}

inline double Seconds(const wchar_t* text) {
    return std::wcstod(text, nullptr);
}

} // namespace probe
