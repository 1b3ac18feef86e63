// Start-up beside another portmapper when the daemon is to register with it (the Linux daemon
// beside the system's rpcbind): what an earlier run left is removed, MOUNT and NFS are
// registered and served, and unregistered when the daemon goes; another NFS server's
// registration is left alone, and a refusal is an error at start.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/rpc/Daemon.h"
#include "tests/support/FakePortmapper.h"
#include "tests/support/RpcClient.h"
#include "tests/support/TestDaemon.h"

namespace rpctest {
namespace {

using Call = FakePortmapper::Call;
constexpr std::uint32_t kSet = 1, kUnset = 2, kDump = 4;
constexpr std::uint32_t kTcp = 6, kUdp = 17;

struct Folders {
    TempFolder root, list;
};

std::unique_ptr<server::TDaemon> Registering(const Folders& folders, server::ServicePorts ports) {
    return std::make_unique<server::TDaemon>(folders.root.Path().u16string(), 65001,
                                             folders.list.Path().u16string(), ports, 0,
                                             server::PortmapperTaken::Register);
}

// A port nobody holds at the moment.
std::uint16_t FreePort() {
    platform::Socket socket = platform::Socket::Create(platform::SocketKind::Tcp);
    platform::SocketAddress local;
    return socket.Bind({platform::kInaddrAny, 0}) && socket.LocalAddress(local) ? local.port : 0;
}

std::vector<Call> Registrations(std::uint32_t mount, std::uint32_t nfs) {
    return {
        {kUnset, {100005, 3, 0, 0}},      {kSet, {100005, 3, kTcp, mount}},
        {kSet, {100005, 3, kUdp, mount}}, {kUnset, {100003, 3, 0, 0}},
        {kSet, {100003, 3, kTcp, nfs}},   {kSet, {100003, 3, kUdp, nfs}},
    };
}
const std::vector<Call> kUnregistrations = {{kUnset, {100005, 3, 0, 0}},
                                            {kUnset, {100003, 3, 0, 0}}};

std::vector<Call> Joined(std::vector<std::vector<Call>> parts) {
    std::vector<Call> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(PortmapRegistration, MountAndNfsAreRegisteredWhileTheDaemonLives) {
    Folders folders;
    FakePortmapper fake({{100000, 2, kTcp, 111}, {100000, 2, kUdp, 111}, {100021, 4, kTcp, 4045}});
    ASSERT_NE(fake.Port(), 0);
    auto daemon = Registering(folders, {fake.Port(), 0, 0});
    ASSERT_EQ(daemon->ErrorText(), "");
    EXPECT_TRUE(daemon->UsesSystemPortmapper());
    ASSERT_TRUE(daemon->Start());
    const server::ServicePorts ports = daemon->Ports();
    RpcClient client({ports.portmap, ports.mount, ports.nfs});
    const MountResult mounted = client.Mount("/");
    EXPECT_TRUE(mounted.Ok()) << mounted.reply;
    EXPECT_TRUE(client.NfsCall(0).Succeeded());

    daemon.reset();
    EXPECT_TRUE(fake.Finish());
    EXPECT_EQ(fake.Calls(),
              Joined({{{kDump, {}}}, Registrations(ports.mount, ports.nfs), kUnregistrations}));
}

// A server that ended without unregistering left its ports in the map; they are free, so the
// registration is simply renewed.
TEST(PortmapRegistration, LeftoverRegistrationOnTheOwnPortsIsRenewed) {
    Folders folders;
    const std::uint16_t mount = FreePort(), nfs = FreePort();
    ASSERT_TRUE(mount != 0 && nfs != 0 && mount != nfs);
    FakePortmapper fake({{100005, 3, kTcp, mount}, {100003, 3, kUdp, nfs}});
    auto daemon = Registering(folders, {fake.Port(), mount, nfs});
    EXPECT_EQ(daemon->ErrorText(), "");
    daemon.reset();
    fake.Finish();
    EXPECT_EQ(fake.Calls(), Joined({{{kDump, {}}}, Registrations(mount, nfs), kUnregistrations}));
}

TEST(PortmapRegistration, AnotherServersRegistrationIsLeftAloneAndNamed) {
    struct Case {
        FakePortmapper::Row row;
        const char* text;
    };
    const Case cases[] = {
        {{100003, 3, kTcp, 2049}, "A NFS server is still running on this machine"},
        {{100005, 3, kUdp, 20048}, "A Mount service is still running on this machine"},
    };
    for (const Case& test : cases) {
        Folders folders;
        FakePortmapper fake({test.row});
        auto daemon = Registering(folders, {fake.Port(), 0, 0});
        EXPECT_EQ(daemon->ErrorText(), test.text);
        EXPECT_FALSE(daemon->UsesSystemPortmapper());
        EXPECT_EQ(daemon->Conflict().port, test.row.port);
        EXPECT_EQ(daemon->Conflict().tcp, test.row.protocol == kTcp);
        daemon.reset();
        fake.Finish();
        EXPECT_EQ(fake.Calls(), (std::vector<Call>{{kDump, {}}})) << "no SET or UNSET";
    }
}

TEST(PortmapRegistration, RefusedRegistrationIsAnErrorAndLeavesNothingRegistered) {
    Folders folders;
    FakePortmapper fake({}, false);
    auto daemon = Registering(folders, {fake.Port(), 0, 0});
    EXPECT_EQ(daemon->ErrorText(), "The portmapper on local TCP port " +
                                       std::to_string(fake.Port()) +
                                       " refused to register the Mount and NFS services");
    EXPECT_FALSE(daemon->Start());
    const server::ServicePorts ports = daemon->Ports();
    daemon.reset();
    fake.Finish();
    // The first SET fails; what it may have left is unset at once.
    EXPECT_EQ(fake.Calls(),
              Joined({{{kDump, {}}},
                      {{kUnset, {100005, 3, 0, 0}}, {kSet, {100005, 3, kTcp, ports.mount}}},
                      kUnregistrations}));
}

} // namespace
} // namespace rpctest
