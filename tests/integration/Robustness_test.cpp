// Robustness over real sockets: many concurrent clients, broken and hostile clients, a restart of
// the Linux daemon under load, a full disk, and attempts to reach outside the export.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "server/rpc/Daemon.h"

#include "tests/support/RobustnessCalls.h"
#include "tests/support/RpcClient.h"
#include "tests/support/TestDaemon.h"

namespace rpctest {
namespace {

using namespace robust;

// --- Connections ---

void RaiseTo(std::atomic<long long>& maximum, long long value) {
    long long seen = maximum.load();
    while (value > seen && !maximum.compare_exchange_weak(seen, value)) {
    }
}

CallHeader PortmapNull(std::uint32_t xid) {
    CallHeader header;
    header.xid = xid;
    header.program = kPortmapProgram;
    header.version = kPortmapVersion;
    return header;
}

// Clients that connect at the same moment are all answered at once: the listen backlog holds a
// burst until the loop accepts it, instead of the kernel dropping handshakes to be retried.
TEST(Robustness, ABurstOfSimultaneousConnectionsIsAnsweredPromptly) {
    constexpr int kClients = 40;
    TestDaemon daemon;
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    const std::uint16_t port = daemon.Ports().portmap;
    std::atomic<bool> go{false};
    std::atomic<int> answered{0};
    std::atomic<long long> slowestMs{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            while (!go)
                std::this_thread::yield();
            const Clock::time_point start = Clock::now();
            TcpConnection tcp(port);
            if (tcp.Connected() && tcp.Call(PortmapNull(900 + i), {}, 20000).Succeeded())
                ++answered;
            RaiseTo(slowestMs, MsSince(start));
        });
    }
    go = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(answered.load(), kClients);
    EXPECT_LT(slowestMs.load(), 3000) << "a connection waited for its handshake to be retried";
}

// Many more connections than the select set holds sit idle: new clients are still served at
// once, however the idle ones fall in the rotation.
TEST(Robustness, IdleConnectionsBeyondTheSelectSetDoNotStarveNewClients) {
    TestDaemon daemon;
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    const ServerPorts ports = daemon.Ports();
    std::vector<std::unique_ptr<TcpConnection>> idle;
    for (int i = 0; i < 300; ++i) {
        idle.push_back(std::make_unique<TcpConnection>(i % 2 == 0 ? ports.nfs : ports.mount));
        ASSERT_TRUE(idle.back()->Connected());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (std::uint32_t late = 0; late < 3; ++late) {
        const Clock::time_point start = Clock::now();
        TcpConnection connection(ports.portmap);
        const RpcReply reply = connection.Call(PortmapNull(77 + late), {}, 20000);
        EXPECT_TRUE(reply.Succeeded()) << reply;
        EXPECT_LT(MsSince(start), 3000) << "late client " << late;
    }
}

// --- Replies ---

// A client that sends calls and never reads the replies must not hold the daemon: once its
// replies stop moving, its connection is given up and everyone else is served.
TEST(Robustness, ClientThatNeverReadsItsRepliesDoesNotBlockTheOthers) {
    TestDaemon daemon;
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    const ServerPorts ports = daemon.Ports();
    const Bytes content = Pattern(1024 * 1024, 3);
    ASSERT_TRUE(WriteDisk(daemon.Root() / "big.bin", content));
    ASSERT_TRUE(WriteDisk(daemon.Root() / "steady.bin", Slice(content, 0, 65536)));
    RpcClient client(ports, Transport::Tcp);
    const MountResult mounted = client.Mount("/");
    ASSERT_TRUE(mounted.Ok());
    const std::uint32_t big = Lookup(client, mounted.handle, "big.bin").handle;
    ASSERT_NE(big, 0u);

    TcpConnection deaf(ports.nfs);
    ASSERT_TRUE(deaf.Connected());
    // 64 READs of 1 MiB: far more than the socket buffers of both ends hold.
    Bytes calls;
    for (std::uint32_t i = 0; i < 64; ++i) {
        const Bytes one = BuildCall(NfsHeader(100 + i, kRead),
                                    XdrArgs().PutHandle(big).PutUInt64(0).PutUInt32(1048576));
        const Bytes record = Record(one);
        calls.insert(calls.end(), record.begin(), record.end());
    }
    ASSERT_TRUE(deaf.SendRaw(calls));

    const Bytes steadyContent = Slice(content, 0, 65536);
    SteadyClient steady(ports, "steady.bin", steadyContent);
    // The daemon gives the deaf client up after at most two send time-outs (reading now to
    // see the close would let the replies move again, so the check comes after the wait).
    const int giveUpMs = 2 * server::kReplySendTimeoutMs;
    std::this_thread::sleep_for(std::chrono::milliseconds(giveUpMs + 2000));
    EXPECT_TRUE(deaf.WaitForClose(5000)) << "the deaf connection was kept";
    steady.Stop();
    for (std::size_t i = 0; i < steady.Failures().size() && i < 10; ++i)
        ADD_FAILURE() << "steady client: " << steady.Failures()[i];
    EXPECT_GT(steady.Calls(), 20) << "the other client was not served";
    EXPECT_LE(steady.MaxLatencyMs(), giveUpMs + 2000);
    RpcClient after(ports, Transport::Tcp);
    EXPECT_TRUE(after.NfsCall(kNull).Succeeded());
}

} // namespace
} // namespace rpctest
