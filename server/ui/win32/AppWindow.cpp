// The hidden application window. It is a plain top-level popup, never shown; the manager looks it
// up by class and title and sends it WM_CLOSE to end the server.
#include "server/ui/win32/AppWindow.h"

#include "common/control/ControlNames.h"
#include "common/win32/Text.h"

namespace serverui {

namespace {

const wchar_t* AppClass() {
    return win32::AsWide(control::kServerWindowClass);
}
const wchar_t* AppTitle() {
    return win32::AsWide(control::kServerWindowTitle);
}

} // namespace

TAppWindow::~TAppWindow() {
    if (window_ != nullptr)
        DestroyWindow(window_);
}

bool TAppWindow::IsAnotherRunning() {
    return FindWindowW(AppClass(), AppTitle()) != nullptr;
}

bool TAppWindow::Create(HICON icon) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = icon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = AppClass();
    if (RegisterClassExW(&windowClass) == 0)
        return false;
    // A tool window so that it never gets a taskbar button, even if something shows it.
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, AppClass(), AppTitle(),
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS, 0, 0, 0, 0, nullptr, nullptr,
                              instance_, nullptr);
    return window_ != nullptr;
}

LRESULT CALLBACK TAppWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        // Ends the message loop; the settings form is destroyed after it, stopping the server.
        PostQuitMessage(0);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace serverui
