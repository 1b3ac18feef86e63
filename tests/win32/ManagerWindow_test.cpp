// The Win32 glue of the manager: window messages to core events, and the address field's
// byte order.
#include <winsock2.h>

#include "manager/win32/ManagerWindow.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include "manager/core/Bytes.h"
#include "manager/win32/ManagerMessages.h"

namespace manager {
namespace {

struct Recorder : IManagerEvents {
    std::vector<std::string> seen;
    void OnSocketEvent(SocketId socket, std::uint16_t event, int error) override {
        seen.push_back("socket " + std::to_string(socket) + " " + std::to_string(event) + " " +
                       std::to_string(error));
    }
    void OnAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) override {
        seen.push_back("answer " + std::to_string(cmd) + " " + std::to_string(subCmd));
    }
    void OnErrorBoxClosed(DialogTicket ticket) override {
        seen.push_back("box " + std::to_string(ticket.sequence) + " " +
                       std::to_string(ticket.step));
    }
};

TEST(ManagerWindow, MessagesBecomeCoreEvents) {
    Recorder events;
    EXPECT_TRUE(DeliverManagerMessage(events, WM_CTRL_SOCKET, 77,
                                      WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET)));
    // Only the low 32 bits of lParam are the subCmd.
    EXPECT_TRUE(DeliverManagerMessage(events, WM_ANSWER_DEVICE_REQ, 0x80010000,
                                      static_cast<LPARAM>(0xFFFFFFFF00000007ULL)));
    EXPECT_TRUE(DeliverManagerMessage(events, WM_ERROR_BOX_CLOSED, 3, 2));
    EXPECT_FALSE(DeliverManagerMessage(events, WM_USER + 2, 0, 0));
    EXPECT_EQ(events.seen,
              (std::vector<std::string>{"socket 77 32 10054", "answer 2147549184 7", "box 3 2"}));
    EXPECT_EQ(WM_CTRL_SOCKET, 1025u);
    EXPECT_EQ(WM_ANSWER_DEVICE_REQ, 1028u);
}

TEST(ManagerWindow, AddressFieldHoldsHostOrder) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_INTERNET_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    HWND field = CreateWindowExW(0, WC_IPADDRESSW, L"", WS_POPUP, 0, 0, 120, 20, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(field, nullptr);
    const std::uint32_t address = FromOctets({192, 0, 2, 7});
    WriteIpAddressField(field, address);
    DWORD raw = 0;
    SendMessageW(field, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&raw));
    EXPECT_EQ(raw, 0xC0000207u);
    EXPECT_EQ(ReadIpAddressField(field), address);
    DestroyWindow(field);
}

} // namespace
} // namespace manager
