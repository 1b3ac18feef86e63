// Socket behaviour over loopback that callers rely on, identical under Winsock and BSD sockets.
#include "common/platform/Socket.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace platform {
namespace {

constexpr int kWsaENotSock = 10038;

SocketAddress Loopback(std::uint16_t port) {
    return SocketAddress{HostToNetwork32(kInaddrLoopbackHostOrder), port};
}

// A socket bound to 127.0.0.1 on an ephemeral port; the port is read back into `port`.
Socket BoundSocket(SocketKind kind, std::uint16_t& port) {
    Socket socket = Socket::Create(kind);
    EXPECT_TRUE(socket.IsValid()) << LastSocketError();
    EXPECT_TRUE(socket.Bind(Loopback(0))) << LastSocketError();
    SocketAddress local;
    EXPECT_TRUE(socket.LocalAddress(local)) << LastSocketError();
    port = local.port;
    return socket;
}

Socket ListeningSocket(std::uint16_t& port) {
    Socket socket = BoundSocket(SocketKind::Tcp, port);
    EXPECT_TRUE(socket.Listen(8)) << LastSocketError();
    return socket;
}

TEST(SocketTcp, ConnectAcceptSendReceiveAndEndOfStream) {
    std::uint16_t port = 0;
    Socket listener = ListeningSocket(port);
    ASSERT_NE(port, 0);

    Socket client = Socket::Create(SocketKind::Tcp);
    ASSERT_TRUE(client.Connect(Loopback(port))) << LastSocketError();
    SocketAddress clientLocal;
    ASSERT_TRUE(client.LocalAddress(clientLocal));

    SocketAddress peer;
    Socket accepted = listener.Accept(&peer);
    ASSERT_TRUE(accepted.IsValid()) << LastSocketError();
    EXPECT_EQ(peer.address, HostToNetwork32(kInaddrLoopbackHostOrder));
    EXPECT_EQ(peer.port, clientLocal.port);
    SocketAddress clientPeer;
    ASSERT_TRUE(client.PeerAddress(clientPeer));
    EXPECT_EQ(clientPeer.port, port);

    // Ownership moves with the socket; the moved-from object no longer closes it.
    const std::intptr_t value = accepted.Value();
    Socket server = std::move(accepted);
    EXPECT_FALSE(accepted.IsValid());
    EXPECT_EQ(server.Value(), value);

    const std::string message = "hello over loopback";
    std::size_t sent = 0;
    ASSERT_TRUE(client.Send(message.data(), message.size(), sent)) << LastSocketError();
    EXPECT_EQ(sent, message.size());

    std::string received;
    while (received.size() < message.size()) {
        char buffer[64];
        std::size_t count = 0;
        ASSERT_TRUE(server.Receive(buffer, sizeof(buffer), count)) << LastSocketError();
        ASSERT_NE(count, 0u);
        received.append(buffer, count);
    }
    EXPECT_EQ(received, message);

    client.Close();
    EXPECT_FALSE(client.IsValid());
    char buffer[8];
    std::size_t count = 1;
    ASSERT_TRUE(server.Receive(buffer, sizeof(buffer), count)) << LastSocketError();
    EXPECT_EQ(count, 0u);
}

// TryReceive never waits: nothing yet is "would block", data is taken, and the end of the stream
// is a receive of 0 bytes, not "would block" (a caller waiting on it would wait forever).
TEST(SocketTcp, TryReceiveTellsNothingYetFromDataAndFromEndOfStream) {
    std::uint16_t port = 0;
    Socket listener = ListeningSocket(port);
    Socket client = Socket::Create(SocketKind::Tcp);
    ASSERT_TRUE(client.Connect(Loopback(port))) << LastSocketError();
    Socket server = listener.Accept(nullptr);
    ASSERT_TRUE(server.IsValid()) << LastSocketError();

    char buffer[16];
    std::size_t count = 99;
    bool wouldBlock = false;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(server.TryReceive(buffer, sizeof(buffer), count, wouldBlock)) << LastSocketError();
    EXPECT_TRUE(wouldBlock);
    EXPECT_EQ(count, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    std::size_t sent = 0;
    ASSERT_TRUE(client.Send("abc", 3, sent));
    ASSERT_TRUE(server.WaitReadable(5000));
    ASSERT_TRUE(server.TryReceive(buffer, sizeof(buffer), count, wouldBlock));
    EXPECT_FALSE(wouldBlock);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(std::string(buffer, 3), "abc");

    client.Close();
    ASSERT_TRUE(server.WaitReadable(5000));
    ASSERT_TRUE(server.TryReceive(buffer, sizeof(buffer), count, wouldBlock));
    EXPECT_FALSE(wouldBlock);
    EXPECT_EQ(count, 0u);
}

TEST(SocketTcp, ErrorsUseWinsockNumbers) {
    std::uint16_t port = 0;
    Socket listener = ListeningSocket(port);

    Socket second = Socket::Create(SocketKind::Tcp);
    EXPECT_FALSE(second.Bind(Loopback(port)));
    EXPECT_EQ(LastSocketError(), kWsaEAddrInUse);

    // A bound port nobody listens on answers a connection attempt with a reset.
    std::uint16_t closedPort = 0;
    Socket notListening = BoundSocket(SocketKind::Tcp, closedPort);
    Socket client = Socket::Create(SocketKind::Tcp);
    EXPECT_FALSE(client.Connect(Loopback(closedPort)));
    EXPECT_EQ(LastSocketError(), kWsaEConnRefused);

    Socket empty;
    EXPECT_FALSE(empty.IsValid());
    EXPECT_FALSE(empty.Bind(Loopback(0)));
    EXPECT_EQ(LastSocketError(), kWsaENotSock);
    EXPECT_FALSE(empty.Accept(nullptr).IsValid());
    EXPECT_EQ(LastSocketError(), kWsaENotSock);
}

TEST(SocketTcp, RestartedServerRebindsWhileOldConnectionLingers) {
    std::uint16_t port = 0;
    {
        Socket listener = ListeningSocket(port);
        Socket client = Socket::Create(SocketKind::Tcp);
        ASSERT_TRUE(client.Connect(Loopback(port)));
        Socket accepted = listener.Accept(nullptr);
        ASSERT_TRUE(accepted.IsValid());
        // The server closes first, so its side of the connection enters TIME_WAIT.
        accepted.Close();
        char buffer[4];
        std::size_t count = 1;
        EXPECT_TRUE(client.Receive(buffer, sizeof(buffer), count));
        EXPECT_EQ(count, 0u);
    }
    Socket restarted = Socket::Create(SocketKind::Tcp);
    EXPECT_TRUE(restarted.Bind(Loopback(port))) << LastSocketError();
    EXPECT_TRUE(restarted.Listen(8)) << LastSocketError();
}

TEST(SocketTcp, SendToClosedPeerFailsWithoutEndingTheProcess) {
    std::uint16_t port = 0;
    Socket listener = ListeningSocket(port);
    Socket client = Socket::Create(SocketKind::Tcp);
    ASSERT_TRUE(client.Connect(Loopback(port)));
    Socket accepted = listener.Accept(nullptr);
    ASSERT_TRUE(accepted.IsValid());
    accepted.Close();

    // The first send may still succeed; the peer's reset makes a later one fail.
    const char data[1024] = {};
    bool failed = false;
    for (int attempt = 0; attempt < 50 && !failed; ++attempt) {
        std::size_t sent = 0;
        failed = !client.Send(data, sizeof(data), sent);
        if (!failed)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(failed);
    const int error = LastSocketError();
    EXPECT_TRUE(error == kWsaEConnReset || error == 10053 || error == 10058) << error;
}

TEST(SocketUdp, OversizedDatagramIsConsumedAndReportsMessageSize) {
    std::uint16_t port = 0;
    Socket receiver = BoundSocket(SocketKind::Udp, port);
    Socket sender = Socket::Create(SocketKind::Udp);
    ASSERT_TRUE(sender.IsValid());

    std::array<char, 200> big{};
    big.fill('x');
    std::size_t sent = 0;
    ASSERT_TRUE(sender.SendTo(big.data(), big.size(), Loopback(port), sent)) << LastSocketError();
    ASSERT_TRUE(sender.SendTo("small", 5, Loopback(port), sent)) << LastSocketError();

    char buffer[16];
    std::size_t received = 0;
    SocketAddress from;
    EXPECT_FALSE(receiver.ReceiveFrom(buffer, sizeof(buffer), received, from));
    EXPECT_EQ(LastSocketError(), kWsaEMsgSize);

    // The next read yields the following datagram, not the rest of the oversized one.
    ASSERT_TRUE(receiver.ReceiveFrom(buffer, sizeof(buffer), received, from)) << LastSocketError();
    EXPECT_EQ(std::string(buffer, received), "small");
    SocketAddress senderLocal;
    ASSERT_TRUE(sender.LocalAddress(senderLocal));
    EXPECT_EQ(from.port, senderLocal.port);
    EXPECT_EQ(from.address, HostToNetwork32(kInaddrLoopbackHostOrder));
}

TEST(SocketUdp, OptionsCanBeSetAndRead) {
    Socket socket = Socket::Create(SocketKind::Udp);
    EXPECT_TRUE(socket.SetBroadcast(true)) << LastSocketError();
    EXPECT_TRUE(socket.SetReceiveBufferSize(64 * 1024)) << LastSocketError();
    EXPECT_TRUE(socket.SetSendBufferSize(64 * 1024)) << LastSocketError();
    int size = 0;
    EXPECT_TRUE(socket.GetReceiveBufferSize(size));
    EXPECT_GE(size, 64 * 1024);
    size = 0;
    EXPECT_TRUE(socket.GetSendBufferSize(size));
    EXPECT_GE(size, 64 * 1024);
}

TEST(SocketWait, SelectReadableReportsTheSocketWithData) {
    std::uint16_t firstPort = 0;
    std::uint16_t secondPort = 0;
    Socket first = BoundSocket(SocketKind::Udp, firstPort);
    Socket second = BoundSocket(SocketKind::Udp, secondPort);
    Socket invalid;
    const std::array<const Socket*, 4> sockets = {&first, nullptr, &invalid, &second};
    bool ready[4] = {true, true, true, true};

    EXPECT_EQ(SelectReadable(sockets, 20, ready), 0);
    EXPECT_FALSE(ready[0] || ready[1] || ready[2] || ready[3]);
    EXPECT_FALSE(second.WaitReadable(0));

    Socket sender = Socket::Create(SocketKind::Udp);
    std::size_t sent = 0;
    ASSERT_TRUE(sender.SendTo("ping", 4, Loopback(secondPort), sent));
    ASSERT_EQ(SelectReadable(sockets, 2000, ready), 1);
    EXPECT_FALSE(ready[0]);
    EXPECT_FALSE(ready[1]);
    EXPECT_FALSE(ready[2]);
    EXPECT_TRUE(ready[3]);
    EXPECT_TRUE(second.WaitReadable(2000));
    EXPECT_FALSE(first.WaitReadable(0));
}

TEST(SocketWait, ListenerBecomesReadableWhenAClientConnects) {
    std::uint16_t port = 0;
    Socket listener = ListeningSocket(port);
    EXPECT_FALSE(listener.WaitReadable(10));
    Socket client = Socket::Create(SocketKind::Tcp);
    ASSERT_TRUE(client.Connect(Loopback(port)));
    const std::array<const Socket*, 1> sockets = {&listener};
    bool ready[1] = {false};
    EXPECT_EQ(SelectReadable(sockets, 2000, ready), 1);
    EXPECT_TRUE(ready[0]);
    EXPECT_TRUE(listener.Accept(nullptr).IsValid());
}

TEST(SocketAddresses, DottedQuadsAndHostNames) {
    std::uint32_t address = 0;
    ASSERT_TRUE(ParseDottedAddress("127.0.0.1", address));
    EXPECT_EQ(address, HostToNetwork32(kInaddrLoopbackHostOrder));
    ASSERT_TRUE(ParseDottedAddress("192.168.1.20", address));
    EXPECT_EQ(NetworkToHost32(address), 0xC0A80114u);
    for (const char* bad : {"", "1.2.3", "256.1.1.1", "1.2.3.4.5", "host", "1.2.3.4 "})
        EXPECT_FALSE(ParseDottedAddress(bad, address)) << '"' << bad << '"';

    ASSERT_TRUE(ResolveHostName("127.0.0.1", address));
    EXPECT_EQ(address, HostToNetwork32(kInaddrLoopbackHostOrder));
    ASSERT_TRUE(ResolveHostName("localhost", address));
    EXPECT_EQ(NetworkToHost32(address) >> 24, 127u);
    EXPECT_FALSE(ResolveHostName("no-such-host.invalid", address));
}

} // namespace
} // namespace platform
