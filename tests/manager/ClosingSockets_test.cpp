// A closed control connection ends gracefully: the peer reads the last request and then the end
// of the stream, never a reset, and a peer that stays open is given up at the bound.
#include "manager/port/ClosingSockets.h"

#include <gtest/gtest.h>

#include <string>

namespace manager {
namespace {

using platform::Socket;
using platform::SocketAddress;

SocketAddress Loopback(std::uint16_t port) {
    return SocketAddress{platform::HostToNetwork32(platform::kInaddrLoopbackHostOrder), port};
}

// A connected pair over loopback: `client` is the manager's side, `server` the player's.
void ConnectedPair(Socket& client, Socket& server) {
    Socket listener = Socket::Create(platform::SocketKind::Tcp);
    ASSERT_TRUE(listener.Bind(Loopback(0)));
    ASSERT_TRUE(listener.Listen(1));
    SocketAddress local;
    ASSERT_TRUE(listener.LocalAddress(local));
    client = Socket::Create(platform::SocketKind::Tcp);
    ASSERT_TRUE(client.Connect(Loopback(local.port))) << platform::LastSocketError();
    server = listener.Accept(nullptr);
    ASSERT_TRUE(server.IsValid());
}

std::string ReceiveExactly(Socket& socket, std::size_t size) {
    std::string got(size, '\0');
    std::size_t at = 0;
    while (at < size) {
        std::size_t received = 0;
        if (!socket.Receive(got.data() + at, size - at, received) || received == 0)
            break;
        at += received;
    }
    got.resize(at);
    return got;
}

void SendText(Socket& socket, const std::string& text) {
    std::size_t sent = 0;
    ASSERT_TRUE(socket.Send(text.data(), text.size(), sent));
    ASSERT_EQ(sent, text.size());
}

TEST(ClosingSockets, PeerReadsTheLastRequestThenTheEndWhileItsAnswerIsUnread) {
    Socket client, server;
    ConnectedPair(client, server);
    SendText(server, "answer to stop"); // never read by the manager's side before the close
    SendText(client, "disconnect");
    ClosingSockets closing;
    closing.Add(std::move(client), 0);

    EXPECT_EQ(ReceiveExactly(server, 10), "disconnect");
    SendText(server, "answer to disconnect");
    std::size_t received = 1;
    char byte = 0;
    ASSERT_TRUE(server.WaitReadable(5000));
    EXPECT_TRUE(server.Receive(&byte, 1, received)) << "reset: " << platform::LastSocketError();
    EXPECT_EQ(received, 0u);

    closing.Serve(0);
    EXPECT_FALSE(closing.Empty()) << "the peer has not closed yet";
    server.Close();
    closing.Finish();
    EXPECT_TRUE(closing.Empty());
}

TEST(ClosingSockets, PeerThatStaysOpenIsGivenUpAtTheBoundAcrossTheTickWrap) {
    Socket client, server;
    ConnectedPair(client, server);
    const std::uint32_t added = 0xFFFFFF00u; // the tick count wraps within the bound
    ClosingSockets closing;
    closing.Add(std::move(client), added);
    closing.Serve(added + ClosingSockets::kBoundMs - 1);
    EXPECT_FALSE(closing.Empty());
    closing.Serve(added + ClosingSockets::kBoundMs);
    EXPECT_TRUE(closing.Empty());
    std::size_t received = 1;
    char byte = 0;
    ASSERT_TRUE(server.WaitReadable(5000));
    EXPECT_TRUE(server.Receive(&byte, 1, received));
    EXPECT_EQ(received, 0u);
}

} // namespace
} // namespace manager
