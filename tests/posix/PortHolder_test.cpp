// Who holds a port: a socket of this very process is found by its inode among /proc's
// descriptors, for TCP listeners and UDP sockets; a free port has no holder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>

#include "common/platform/Socket.h"
#include "server/ui/posix/PortHolder.h"

namespace {

std::uint16_t Bound(platform::Socket& socket, platform::SocketKind kind) {
    socket = platform::Socket::Create(kind);
    platform::SocketAddress local;
    if (!socket.Bind({platform::kInaddrAny, 0}) ||
        (kind == platform::SocketKind::Tcp && !socket.Listen(1)) || !socket.LocalAddress(local))
        return 0;
    return local.port;
}

TEST(PortHolder, NamesThisProcessForItsOwnSockets) {
    std::string name;
    std::getline(std::ifstream("/proc/self/comm"), name);
    const std::string expected = name + " (pid " + std::to_string(::getpid()) + ")";
    for (platform::SocketKind kind : {platform::SocketKind::Tcp, platform::SocketKind::Udp}) {
        platform::Socket socket;
        const std::uint16_t port = Bound(socket, kind);
        ASSERT_NE(port, 0);
        const bool tcp = kind == platform::SocketKind::Tcp;
        EXPECT_EQ(posixui::DescribePortHolder(port, tcp), expected) << (tcp ? "TCP" : "UDP");
        socket.Close();
        EXPECT_EQ(posixui::DescribePortHolder(port, tcp), "") << "closed: no holder";
    }
}

} // namespace
