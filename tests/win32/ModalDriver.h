// Drives modal loops from inside, as a user would: a thread timer whose ticks run a step with
// the dialog or message box this thread shows on top (the one that is visible and enabled; a
// modal window disables its owner). Steps may open further modal windows: the timer keeps
// ticking inside their loops and the step is called again there.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace wintest {

// The visible, enabled top-level windows of class "#32770" of this thread, in Z order.
inline std::vector<HWND> OpenDialogs() {
    std::vector<HWND> found;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM context) -> BOOL {
            wchar_t name[32] = {};
            GetClassNameW(window, name, 32);
            if (std::wstring(name) == L"#32770" && IsWindowVisible(window) &&
                IsWindowEnabled(window))
                reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The text of every child window, joined by "|" (a message box's text is one of them).
inline std::wstring ChildTexts(HWND window) {
    std::wstring texts;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM context) -> BOOL {
            wchar_t text[1024] = {};
            GetWindowTextW(child, text, 1024);
            auto& all = *reinterpret_cast<std::wstring*>(context);
            all += text;
            all += L'|';
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

class TModalDriver {
  public:
    // `step` gets the newest open dialog (null when none) on every tick; returning true stops
    // the timer. `limit` ticks of 20 ms end it in any case (a dialog still open is then ended
    // with IDCANCEL, so a failing test does not hang).
    explicit TModalDriver(std::function<bool(HWND dialog)> step, int limit = 250)
        : step_(std::move(step)), limit_(limit) {
        Current() = this;
        timer_ = SetTimer(nullptr, 0, 20, Tick);
    }
    ~TModalDriver() {
        Stop();
        Current() = nullptr;
    }
    TModalDriver(const TModalDriver&) = delete;
    TModalDriver& operator=(const TModalDriver&) = delete;

    bool TimedOut() const { return timedOut_; }

  private:
    static TModalDriver*& Current() {
        static TModalDriver* current = nullptr;
        return current;
    }
    void Stop() {
        if (timer_ != 0)
            KillTimer(nullptr, timer_);
        timer_ = 0;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        TModalDriver* driver = Current();
        if (driver == nullptr || driver->timer_ == 0)
            return;
        const std::vector<HWND> dialogs = OpenDialogs();
        const HWND top = dialogs.empty() ? nullptr : dialogs.front();
        if (++driver->ticks_ > driver->limit_) {
            driver->timedOut_ = true;
            driver->Stop();
            if (top != nullptr)
                PostMessageW(top, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        if (driver->step_(top))
            driver->Stop();
    }

    std::function<bool(HWND)> step_;
    int limit_;
    int ticks_ = 0;
    bool timedOut_ = false;
    UINT_PTR timer_ = 0;
};

// A window's rectangle relative to its parent's client area (a dialog's control).
inline RECT ClientRectOf(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

} // namespace wintest
