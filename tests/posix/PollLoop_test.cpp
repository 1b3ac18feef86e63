// The POSIX loop gives the control socket's events as Winsock's WSAAsyncSelect does.
#include "manager/posix/PollLoop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace manager {
namespace {

using platform::Socket;
using platform::SocketAddress;

struct Recorder : IManagerEvents {
    std::vector<std::string> seen;
    Socket* drain = nullptr; // read to the end on FD_READ, as the core does
    void OnSocketEvent(SocketId, std::uint16_t event, int error) override {
        seen.push_back(std::to_string(event) + ":" + std::to_string(error));
        if (event != FD_READ_EVENT || drain == nullptr)
            return;
        char buffer[64];
        std::size_t received = 0;
        while (drain->Receive(buffer, sizeof(buffer), received) && received > 0) {
        }
    }
    void OnAnswerDeviceRequest(std::uint32_t, std::uint32_t subCmd) override {
        seen.push_back("answer:" + std::to_string(subCmd));
    }
    void OnErrorBoxClosed(DialogTicket) override {}
};

SocketAddress Loopback(std::uint16_t port) {
    return SocketAddress{platform::HostToNetwork32(platform::kInaddrLoopbackHostOrder), port};
}

Socket Listener(std::uint16_t& port) {
    Socket listener = Socket::Create(platform::SocketKind::Tcp);
    EXPECT_TRUE(listener.Bind(Loopback(0)));
    EXPECT_TRUE(listener.Listen(4));
    SocketAddress local;
    listener.LocalAddress(local);
    port = local.port;
    return listener;
}

Socket Connecting(std::uint16_t port) {
    Socket socket = Socket::Create(platform::SocketKind::Tcp);
    EXPECT_TRUE(socket.SetNonBlocking(true));
    EXPECT_FALSE(socket.StartConnect(Loopback(port)));
    EXPECT_EQ(platform::LastSocketError(), platform::kWsaEWouldBlock);
    return socket;
}

TEST(PollLoop, ConnectOnceThenReadsThenCloseAtTheEnd) {
    std::uint16_t port = 0;
    Socket listener = Listener(port);
    Recorder events;
    PollLoop loop;
    loop.Attach(events);
    Socket socket = Connecting(port);
    events.drain = &socket;
    loop.Watch(socket);
    loop.RunFor(2000, [&] { return !events.seen.empty(); });
    loop.Post([&] { events.OnAnswerDeviceRequest(0, 9); });
    Socket peer = listener.Accept(nullptr);
    std::size_t sent = 0;
    peer.Send("data", 4, sent);
    loop.RunFor(2000, [&] { return events.seen.size() >= 3; });
    peer.Close();
    loop.RunFor(2000, [&] { return events.seen.size() >= 5; });
    loop.RunFor(100);
    EXPECT_EQ(events.seen, (std::vector<std::string>{"16:0", "answer:9", "1:0", "1:0", "32:0"}));
}

TEST(PollLoop, RefusedConnectGivesNoClose) {
    std::uint16_t port = 0;
    { Socket gone = Listener(port); }
    Recorder events;
    PollLoop loop;
    loop.Attach(events);
    Socket socket = Connecting(port);
    loop.Watch(socket);
    loop.RunFor(2000, [&] { return !events.seen.empty(); });
    loop.RunFor(200);
    EXPECT_EQ(events.seen, (std::vector<std::string>{"16:10061"}));
}

} // namespace
} // namespace manager
