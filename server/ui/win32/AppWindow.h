// The hidden application window "TApplication" / "Lumavert Server" by which other programs find
// the server; a close request to it ends the program.
#pragma once

#include <windows.h>

namespace serverui {

class TAppWindow {
  public:
    explicit TAppWindow(HINSTANCE instance) : instance_(instance) {}
    ~TAppWindow();
    TAppWindow(const TAppWindow&) = delete;
    TAppWindow& operator=(const TAppWindow&) = delete;

    // Another top-level window of the class with the title, that is a running server.
    static bool IsAnotherRunning();

    bool Create(HICON icon);
    HWND Handle() const { return window_; }

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    HWND window_ = nullptr;
};

} // namespace serverui
