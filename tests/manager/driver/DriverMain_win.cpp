// ManagerDriver.exe: the manager's core on the Win32 glue (a hidden window receiving the
// control socket's notifications and the posted answers), run by the same script of steps as
// the native driver.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/platform/Clock.h"
#include "common/platform/CodePage.h"
#include "common/text/DebugPrint.h"
#include "manager/win32/ManagerWindow.h"
#include "manager/win32/Win32Port.h"
#include "tests/manager/driver/DriverScript.h"

namespace {

using namespace manager;

driver::DriverEvents* gEvents = nullptr;
Win32Port* gPort = nullptr;

LRESULT CALLBACK DriverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (gEvents != nullptr && DeliverManagerMessage(*gEvents, message, wParam, lParam))
        return 0;
    if (gPort != nullptr && gPort->ServeClosingSockets(message, wParam))
        return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// No one presses OK here: the box's text is printed and its closing posted at once.
class DriverPort : public Win32Port {
  public:
    using Win32Port::Win32Port;
    // Log lines printed, debug lines (below) marked apart.
    void Log(std::u16string_view line) override { PrintLine("log: " + driver::Printable(line)); }
    void ShowErrorBox(std::u16string_view text, DialogTicket ticket) override {
        PrintLine("box: " + driver::Printable(text));
        PostErrorBoxClosed(ticket);
    }
};

class WindowHost : public driver::DriverHost {
  public:
    explicit WindowHost(DriverPort& port) : port_(port) {}
    IManagerPort& Port() override { return port_; }
    void RunFor(int ms, const std::function<bool()>& done) override {
        const std::uint32_t start = platform::TickCountMs();
        for (;;) {
            MSG message{};
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
                if (done && done())
                    return;
            }
            if (done && done())
                return;
            const std::uint32_t elapsed = platform::TickCountMs() - start;
            if (elapsed >= static_cast<std::uint32_t>(ms))
                return;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms) - elapsed,
                                      QS_ALLINPUT);
        }
    }
    void Print(const std::string& line) override { PrintLine(line); }

  private:
    DriverPort& port_;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: ManagerDriver STEP...\n", stderr);
        std::fputs(driver::kDriverUsage, stderr);
        return 2;
    }
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(platform::Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DriverWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LumavertManagerDriver";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Manager driver", WS_POPUP, 0, 0,
                                  0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        std::fputs("no window\n", stderr);
        return 3;
    }
    driver::DriverSession session;
    DriverPort port(window);
    DeviceControl control(port, session.context.host);
    session.events.Attach(control);
    gEvents = &session.events;
    gPort = &port;
    WindowHost host(port);
    text::SetDebugSink(
        [&](std::u16string_view l) { host.Print("debug: " + driver::Printable(l)); });
    const int status = driver::RunDriverScript(host, session, control, args);
    text::SetDebugSink({});
    gEvents = nullptr;
    gPort = nullptr;
    port.FinishClosingSockets();
    DestroyWindow(window);
    return status;
}
