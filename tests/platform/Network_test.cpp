// What the manager asks the platform about its network, identical natively and under Wine:
// the adapter list, the host name, keep-alive, a non-blocking connect and error texts.
#include "common/platform/Network.h"
#include "common/platform/Socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace platform {
namespace {

bool IsDotted(const std::string& text) {
    std::uint32_t value = 0;
    return ParseDottedAddress(text.c_str(), value);
}

TEST(Network, AdapterListHasNoLoopbackAndDottedAddresses) {
    std::vector<AdapterInfo> adapters;
    int error = 0;
    const AdapterListStatus status = ReadAdapterList(adapters, error);
    // A machine without any adapter but loopback has no table at all on Windows
    // (ERROR_NO_DATA); everywhere else the table is read.
    if (status == AdapterListStatus::Failed) {
        EXPECT_EQ(error, 232);
        return;
    }
    ASSERT_EQ(status, AdapterListStatus::Ok);
    for (const AdapterInfo& adapter : adapters) {
        EXPECT_FALSE(adapter.name.empty());
        EXPECT_LE(adapter.hardwareAddress.size(), 8u) << adapter.name;
        for (const AdapterAddress& entry : adapter.addresses) {
            EXPECT_TRUE(IsDotted(entry.address)) << entry.address;
            EXPECT_TRUE(IsDotted(entry.mask)) << entry.mask;
            EXPECT_NE(entry.address.rfind("127.", 0), 0u) << adapter.name;
        }
    }
}

TEST(Network, HostNameFitsItsBuffer) {
    std::string name;
    ASSERT_TRUE(GetLocalHostName(name));
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 127u);
    EXPECT_EQ(name.find('\0'), std::string::npos);
}

TEST(Network, KeepAliveIsOffUntilSetAndTakesItsTimes) {
    ASSERT_TRUE(StartSocketLibrary());
    Socket socket = Socket::Create(SocketKind::Tcp);
    ASSERT_TRUE(socket.IsValid());
    std::int32_t value = -1;
    ASSERT_TRUE(socket.GetKeepAlive(value)) << LastSocketError();
    EXPECT_EQ(value, 0);
    ASSERT_TRUE(socket.SetKeepAlive(true)) << LastSocketError();
    ASSERT_TRUE(socket.GetKeepAlive(value));
    EXPECT_NE(value, 0);
    EXPECT_TRUE(socket.SetKeepAliveTimes(13000, 500)) << LastSocketError();
}

TEST(Network, ConnectToAClosedPortGoesOnThenFailsRefused) {
    ASSERT_TRUE(StartSocketLibrary());
    // A port nobody listens on: bound, then closed.
    std::uint16_t port = 0;
    {
        Socket probe = Socket::Create(SocketKind::Tcp);
        ASSERT_TRUE(probe.Bind(SocketAddress{HostToNetwork32(kInaddrLoopbackHostOrder), 0}));
        SocketAddress local;
        ASSERT_TRUE(probe.LocalAddress(local));
        port = local.port;
    }
    Socket socket = Socket::Create(SocketKind::Tcp);
    ASSERT_TRUE(socket.SetNonBlocking(true));
    const SocketAddress closed{HostToNetwork32(kInaddrLoopbackHostOrder), port};
    if (!socket.StartConnect(closed)) {
        const int started = LastSocketError();
        ASSERT_TRUE(started == kWsaEWouldBlock || started == kWsaEConnRefused) << started;
    }
    int error = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (error == 0 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(socket.PendingError(error));
        if (error == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(error, kWsaEConnRefused);
}

TEST(Network, SocketErrorsHaveTexts) {
    const std::u16string refused = SocketErrorText(kWsaEConnRefused);
    const std::u16string denied = SocketErrorText(10013);
    EXPECT_FALSE(refused.empty());
    EXPECT_NE(refused, denied);
    EXPECT_NE(refused.back(), u'\n');
}

} // namespace
} // namespace platform
