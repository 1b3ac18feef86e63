// Robustness over real sockets: many concurrent clients, broken and hostile clients, a restart of
// the Linux daemon under load, a full disk, and attempts to reach outside the export.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/platform/Socket.h"
#include "server/rpc/Daemon.h"
#include "tests/support/RobustnessCalls.h"
#include "tests/support/RpcClient.h"
#include "tests/support/TestDaemon.h"

extern char** environ;

namespace rpctest {
namespace {

namespace fs = std::filesystem;

using namespace robust;

constexpr std::uint64_t kNoFileId = ~std::uint64_t{0};
// Largest WRITE data FSINFO offers (wtmax), and the record limit, mark included.
constexpr std::uint32_t kWriteMax = 10481664;
constexpr std::uint32_t kRecordLimit = 10485760;

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
    std::cout << "[ figures  ] burst: " << kClients << " simultaneous connections, slowest answer "
              << slowestMs.load() << " ms\n";
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
        std::cout << "[ figures  ] idle: 300 idle connections, late client " << late
                  << " answered in " << MsSince(start) << " ms\n";
    }
}

// --- Load ---

// 50 TCP clients and 4 UDP clients, one thread each, issue a fixed mix of LOOKUP, READ,
// READDIRPLUS and WRITE (each to its own file) at the same time. Every call must be answered
// correctly, and every written file must be byte-identical on disk afterwards.
TEST(Robustness, FiftyTcpAndFourUdpClientsHaveEveryMixedCallAnsweredCorrectly) {
    constexpr int kTcpClients = 50, kUdpClients = 4, kClients = kTcpClients + kUdpClients;
    constexpr int kRounds = 12; // each round: LOOKUP, READ, READDIRPLUS, WRITE
    constexpr int kMediaFiles = 8, kListedNames = 120;
    constexpr std::size_t kMediaSize = 192 * 1024;

    TestDaemon daemon;
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    const fs::path root = daemon.Root();
    fs::create_directories(root / "media");
    fs::create_directories(root / "listing");
    fs::create_directories(root / "writes");
    for (int i = 0; i < kMediaFiles; ++i)
        ASSERT_TRUE(WriteDisk(root / "media" / ("m" + std::to_string(i) + ".bin"),
                              Pattern(kMediaSize, 100 + i)));
    for (int i = 0; i < kListedNames; ++i)
        ASSERT_TRUE(WriteDisk(root / "listing" / ("entry-" + std::to_string(1000 + i)), {}));
    for (int i = 0; i < kClients; ++i)
        ASSERT_TRUE(WriteDisk(root / "writes" / ("w" + std::to_string(i) + ".bin"), {}));

    RpcClient setup = daemon.Client();
    const MountResult mounted = setup.Mount("/");
    ASSERT_TRUE(mounted.Ok()) << mounted.reply;
    const std::uint32_t media = Lookup(setup, mounted.handle, "media").handle;
    const std::uint32_t listing = Lookup(setup, mounted.handle, "listing").handle;
    const std::uint32_t writes = Lookup(setup, mounted.handle, "writes").handle;
    ASSERT_NE(media, 0u);
    ASSERT_NE(listing, 0u);
    ASSERT_NE(writes, 0u);
    std::vector<std::uint32_t> mediaHandles;
    for (int i = 0; i < kMediaFiles; ++i) {
        mediaHandles.push_back(Lookup(setup, media, "m" + std::to_string(i) + ".bin").handle);
        ASSERT_NE(mediaHandles.back(), 0u);
    }

    std::atomic<int> calls{0};
    std::mutex errorsLock;
    std::vector<std::string> errors;
    std::vector<Bytes> expectedWrites(kClients);
    const auto clientBody = [&](int index) {
        const bool tcp = index < kTcpClients;
        const std::size_t chunk = tcp ? 16384 : 4096;
        const auto fail = [&](const std::string& what) {
            const std::lock_guard<std::mutex> lock(errorsLock);
            errors.push_back("client " + std::to_string(index) + ": " + what);
        };
        RpcClient mounter(daemon.Ports(), Transport::Udp);
        RpcClient client(daemon.Ports(), tcp ? Transport::Tcp : Transport::Udp);
        client.SetTimeoutMs(20000);
        mounter.SetTimeoutMs(20000);
        const MountResult mount = mounter.Mount("/");
        ++calls;
        if (!mount.Ok() || mount.handle != mounted.handle)
            return fail("MNT: " + mount.reply.Describe());
        const HandleResult own = Lookup(client, writes, "w" + std::to_string(index) + ".bin");
        ++calls;
        if (own.status != kOk)
            return fail("LOOKUP of its file: " + own.error);
        Bytes& expected = expectedWrites[index];
        for (int round = 0; round < kRounds; ++round) {
            const int file = (index + round) % kMediaFiles;
            const HandleResult found = Lookup(client, media, "m" + std::to_string(file) + ".bin");
            ++calls;
            if (found.status != kOk || found.handle != mediaHandles[file])
                fail("LOOKUP m" + std::to_string(file) + ": " + found.error);

            const std::uint32_t count = tcp ? 8192u * (1 + (round + index) % 8) : 8192u;
            const std::uint64_t offset =
                (std::uint64_t{7919} * (index * kRounds + round)) % (kMediaSize - count);
            const ReadResult read = Read(client, mediaHandles[file], offset, count);
            ++calls;
            if (read.status != kOk ||
                read.data != Slice(Pattern(kMediaSize, 100 + file), offset, count))
                fail("READ m" + std::to_string(file) + " at " + std::to_string(offset) + ": " +
                     read.error);

            const Listing listed = List(client, listing, true, 60000);
            ++calls;
            std::set<std::string> names;
            for (const ListedEntry& entry : listed.entries)
                names.insert(entry.name);
            if (listed.status != kOk || !listed.eof ||
                names.size() != static_cast<std::size_t>(kListedNames) + 2)
                fail("READDIRPLUS: " + std::to_string(names.size()) + " names, " + listed.error);

            const Bytes data = Pattern(chunk, static_cast<std::uint32_t>(index * 1000 + round));
            const WriteResult written = Write(client, own.handle, expected.size(), data,
                                              round % 2 == 0 ? kFileSync : kUnstable);
            ++calls;
            if (written.status != kOk || written.count != data.size())
                fail("WRITE " + std::to_string(round) + ": " + written.error);
            expected.insert(expected.end(), data.begin(), data.end());
        }
        const CommitResult committed = Commit(client, own.handle);
        ++calls;
        if (committed.status != kOk)
            fail("COMMIT: status " + std::to_string(committed.status));
    };

    const Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i)
        threads.emplace_back(clientBody, i);
    for (std::thread& thread : threads)
        thread.join();
    const long long elapsedMs = MsSince(start);

    for (std::size_t i = 0; i < errors.size() && i < 10; ++i)
        ADD_FAILURE() << errors[i];
    EXPECT_TRUE(errors.empty()) << errors.size() << " calls went wrong";
    for (int i = 0; i < kClients; ++i) {
        EXPECT_EQ(ReadDisk(root / "writes" / ("w" + std::to_string(i) + ".bin")), expectedWrites[i])
            << "file of client " << i;
    }
    EXPECT_EQ(calls.load(), kClients * (3 + 4 * kRounds));
    std::cout << "[ figures  ] load: " << kTcpClients << " TCP + " << kUdpClients
              << " UDP clients, " << calls.load() << " calls in " << elapsedMs << " ms\n";
}

// --- Broken and hostile clients ---

// A call header whose credential or verifier length does not match the bytes that follow.
Bytes LyingHeader(std::uint32_t xid, std::uint32_t credentialLength, std::size_t credentialBytes,
                  std::uint32_t verifierLength) {
    XdrArgs out;
    out.PutUInt32(xid).PutUInt32(kCall).PutUInt32(2).PutUInt32(kNfsProgram).PutUInt32(3);
    out.PutUInt32(kNull).PutUInt32(kAuthUnix).PutUInt32(credentialLength);
    out.PutRaw(Bytes(credentialBytes, 0x41));
    out.PutUInt32(kAuthNone).PutUInt32(verifierLength);
    return out.Data();
}

void SetResetOnClose(TcpConnection& connection) {
    linger option{1, 0};
    setsockopt(static_cast<int>(connection.Socket().Value()), SOL_SOCKET, SO_LINGER, &option,
               sizeof option);
}

TEST(Robustness, BrokenAndHostileClientsLeaveTheOthersServed) {
    // The record time-out in real time, shortened: the operating system's wait ends it here
    // (Daemon_test runs the full one on a fake clock).
    TestDaemonOptions options;
    options.times.recordReceiveMs = 2000;
    const int recordTimeoutMs = options.times.recordReceiveMs;
    TestDaemon daemon(options);
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    const ServerPorts ports = daemon.Ports();
    const Bytes steadyContent = Pattern(256 * 1024, 7);
    ASSERT_TRUE(WriteDisk(daemon.Root() / "steady.bin", steadyContent));
    ASSERT_TRUE(WriteDisk(daemon.Root() / "target.bin", {}));
    SteadyClient steady(ports, "steady.bin", steadyContent);
    std::mt19937 random(20240607);
    int faults = 0;

    // Connections that end in the middle of a record, by FIN and by RST.
    const Bytes call = BuildCall(NfsHeader(1, kNull));
    for (int i = 0; i < 40; ++i) {
        TcpConnection broken(i % 3 == 0 ? ports.mount : ports.nfs);
        ASSERT_TRUE(broken.Connected());
        if (i % 2 == 1)
            SetResetOnClose(broken);
        const Bytes partial = i % 4 == 0
                                  ? Bytes{0x80, 0x00} // half a record mark
                                  : Concat(RecordMark(1000), Slice(call, 0, call.size() / 2));
        EXPECT_TRUE(broken.SendRaw(partial));
        ++faults;
    }

    // Garbage datagrams to every UDP port, from empty to the largest datagram.
    UdpEndpoint udpPorts[] = {UdpEndpoint(ports.portmap), UdpEndpoint(ports.mount),
                              UdpEndpoint(ports.nfs)};
    for (int i = 0; i < 300; ++i) {
        const std::size_t size = i == 0 ? 0 : i == 1 ? 65507 : random() % 1500;
        Bytes garbage(size);
        for (auto& byte : garbage)
            byte = static_cast<std::uint8_t>(random());
        EXPECT_TRUE(udpPorts[i % 3].Send(garbage));
        ++faults;
    }

    // Garbage records over TCP: whatever the answer, the daemon goes on.
    for (int i = 0; i < 30; ++i) {
        TcpConnection connection(i % 2 == 0 ? ports.nfs : ports.portmap);
        Bytes garbage(random() % 4000);
        for (auto& byte : garbage)
            byte = static_cast<std::uint8_t>(random());
        EXPECT_TRUE(connection.SendRecord(garbage));
        connection.WaitForClose(50);
        ++faults;
    }

    // Credentials and verifiers whose lengths lie: no answer, and a TCP connection stays usable.
    RpcClient mounter(ports, Transport::Udp);
    ASSERT_TRUE(mounter.Mount("/").Ok());
    struct Lie {
        const char* what;
        Bytes message;
    };
    const Lie lies[] = {
        {"credential length 0xFFFFFFFF", LyingHeader(61, 0xFFFFFFFFu, 8, 0)},
        {"credential longer than the message", LyingHeader(62, 400, 20, 0)},
        {"verifier length 0x80000000", LyingHeader(63, 8, 8, 0x80000000u)},
        {"verifier longer than the message by one", LyingHeader(64, 0, 0, 1)},
    };
    for (const Lie& lie : lies) {
        TcpConnection tcp(ports.nfs);
        ASSERT_TRUE(tcp.SendRecord(lie.message)) << lie.what;
        Bytes nothing;
        EXPECT_EQ(tcp.ReceiveRecord(nothing, 300), ReceiveStatus::TimedOut) << lie.what;
        const RpcReply next = tcp.Call(NfsHeader(70, kNull));
        EXPECT_TRUE(next.Succeeded()) << lie.what << ": " << next;
        UdpEndpoint udp(ports.nfs);
        ASSERT_TRUE(udp.Send(lie.message));
        EXPECT_TRUE(udp.ReceiveReply(300).timedOut) << lie.what;
        faults += 2;
    }
    // Argument lengths that lie are GARBAGE_ARGS.
    {
        RpcClient client(ports, Transport::Tcp);
        const MountResult mounted = client.Mount("/");
        ASSERT_TRUE(mounted.Ok());
        const RpcReply name = client.NfsCall(
            kLookup, XdrArgs().PutHandle(mounted.handle).PutUInt32(0xFFFFFFFFu).PutUInt32(0));
        EXPECT_TRUE(name.Accepted() && name.acceptStatus == kGarbageArgs) << name;
        const RpcReply data = client.NfsCall(kWrite, XdrArgs()
                                                         .PutHandle(mounted.handle)
                                                         .PutUInt64(0)
                                                         .PutUInt32(100)
                                                         .PutUInt32(kUnstable)
                                                         .PutUInt32(100)
                                                         .PutUInt32(0));
        EXPECT_TRUE(data.Accepted() && data.acceptStatus == kGarbageArgs) << data;
        const RpcReply path = client.MountCall(1, XdrArgs().PutUInt32(0xFFFFFFF0u));
        EXPECT_TRUE(path.Accepted() && path.acceptStatus == kGarbageArgs) << path;
        faults += 3;
    }

    // Many connections that never send a byte.
    {
        std::vector<std::unique_ptr<TcpConnection>> idle;
        for (int i = 0; i < 100; ++i) {
            idle.push_back(std::make_unique<TcpConnection>(i % 2 == 0 ? ports.nfs : ports.mount));
            ++faults;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        RpcClient client(ports, Transport::Tcp);
        EXPECT_TRUE(client.NfsCall(kNull).Succeeded());
    }

    // A record that never completes holds the daemon for at most the record time-out.
    {
        TcpConnection stalled(ports.nfs);
        ASSERT_TRUE(stalled.SendRaw(
            Concat(RecordMark(static_cast<std::uint32_t>(call.size())), Slice(call, 0, 10))));
        const Clock::time_point start = Clock::now();
        EXPECT_TRUE(stalled.WaitForClose(recordTimeoutMs + 3000));
        EXPECT_GE(MsSince(start), recordTimeoutMs - 500);
        EXPECT_LE(MsSince(start), recordTimeoutMs + 2000);
        ++faults;
    }

    steady.Stop();
    for (std::size_t i = 0; i < steady.Failures().size() && i < 10; ++i)
        ADD_FAILURE() << "steady client: " << steady.Failures()[i];
    EXPECT_TRUE(steady.Failures().empty());
    EXPECT_GT(steady.Calls(), 50);
    EXPECT_LE(steady.MaxLatencyMs(), recordTimeoutMs + 2000);
    RpcClient after(ports, Transport::Tcp);
    EXPECT_TRUE(after.NfsCall(kNull).Succeeded()) << "the daemon still answers";
    EXPECT_EQ(ReadDisk(daemon.Root() / "steady.bin"), steadyContent);
    std::cout << "[ figures  ] broken clients: " << faults << " faults injected; steady client "
              << steady.Calls() << " calls, longest wait " << steady.MaxLatencyMs() << " ms\n";
}

// A client that sends calls and never reads the replies must not hold the daemon: once its
// replies stop moving, its connection is given up and everyone else is served.
TEST(Robustness, ClientThatNeverReadsItsRepliesDoesNotBlockTheOthers) {
    // The operating system times the sends out; a shorter send time-out makes the same case.
    TestDaemonOptions options;
    options.times.replySendMs = 1000;
    TestDaemon daemon(options);
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
    const int giveUpMs = 2 * options.times.replySendMs;
    std::this_thread::sleep_for(std::chrono::milliseconds(giveUpMs + 2000));
    EXPECT_TRUE(deaf.WaitForClose(5000)) << "the deaf connection was kept";
    steady.Stop();
    for (std::size_t i = 0; i < steady.Failures().size() && i < 10; ++i)
        ADD_FAILURE() << "steady client: " << steady.Failures()[i];
    EXPECT_GT(steady.Calls(), 20) << "the other client was not served";
    EXPECT_LE(steady.MaxLatencyMs(), giveUpMs + 2000);
    RpcClient after(ports, Transport::Tcp);
    EXPECT_TRUE(after.NfsCall(kNull).Succeeded());
    std::cout << "[ figures  ] deaf client: the other client's longest wait "
              << steady.MaxLatencyMs() << " ms, " << steady.Calls() << " calls\n";
}

// --- Sizes at the record limit ---

TEST(Robustness, RecordsAtTheLimitAreServedAndOneByteOverIsRefused) {
    TestDaemon daemon;
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    const ServerPorts ports = daemon.Ports();
    ASSERT_TRUE(WriteDisk(daemon.Root() / "large.bin", {}));
    RpcClient client(ports, Transport::Tcp);
    client.SetTimeoutMs(30000);
    const MountResult mounted = client.Mount("/");
    ASSERT_TRUE(mounted.Ok());
    const std::uint32_t large = Lookup(client, mounted.handle, "large.bin").handle;
    ASSERT_NE(large, 0u);

    // A WRITE of wtmax bytes fits one record.
    const Bytes first = Pattern(kWriteMax, 11);
    const WriteResult wtmax = Write(client, large, 0, first, kFileSync);
    ASSERT_EQ(wtmax.status, kOk) << wtmax.error;
    EXPECT_EQ(wtmax.count, kWriteMax);

    // The largest record there is: its WRITE data fills the record to the last byte.
    const std::uint32_t headerAndArguments = 40 + 28;
    const std::uint32_t fill = kRecordLimit - 4 - headerAndArguments;
    const Bytes second = Pattern(fill, 12);
    const Bytes atLimit = BuildCall(NfsHeader(500, kWrite), XdrArgs()
                                                                .PutHandle(large)
                                                                .PutUInt64(kWriteMax)
                                                                .PutUInt32(fill)
                                                                .PutUInt32(kFileSync)
                                                                .PutOpaque(second));
    ASSERT_EQ(atLimit.size() + 4, kRecordLimit);
    TcpConnection tcp(ports.nfs);
    ASSERT_TRUE(tcp.SendRecord(atLimit));
    RpcReply reply = tcp.ReceiveReply(30000);
    ASSERT_EQ(StatusOf(reply), kOk) << reply;
    SkipWcc(reply.body);
    EXPECT_EQ(reply.body.GetUInt32(), fill);

    // One byte more: the connection is closed and nothing is written.
    Bytes overLimit = atLimit;
    overLimit.push_back(0);
    TcpConnection over(ports.nfs);
    over.SendRecord(overLimit); // the daemon may close before all of it is sent
    EXPECT_TRUE(over.WaitForClose(10000));

    Bytes expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_TRUE(ReadDisk(daemon.Root() / "large.bin") == expected) << "file differs";

    // A READ of the largest count is answered short, within one record, with the right bytes.
    const ReadResult read = Read(client, large, 0, kRecordLimit);
    ASSERT_EQ(read.status, kOk) << read.error;
    EXPECT_LT(read.data.size(), kRecordLimit);
    EXPECT_GT(read.data.size(), kRecordLimit - 1024);
    EXPECT_FALSE(read.eof);
    EXPECT_TRUE(read.data == Slice(expected, 0, read.data.size()));
    std::cout << "[ figures  ] limits: WRITE of " << kWriteMax << " and " << fill
              << " bytes, READ of " << kRecordLimit << " answered with " << read.data.size()
              << "\n";
}

// --- Escapes ---

// A base folder with the export, the list folder and sentinels beside them.
class EscapeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(base_.Valid());
        exportDir_ = base_.Path() / "export";
        listDir_ = base_.Path() / "list";
        fs::create_directories(exportDir_ / "a" / "b");
        fs::create_directories(listDir_);
        fs::create_directories(base_.Path() / "Outside");
        ASSERT_TRUE(WriteDisk(exportDir_ / "file.txt", Pattern(100, 1)));
        ASSERT_TRUE(WriteDisk(listDir_ / "song.mp3", Pattern(100, 2)));
        const std::string secret = "outside-secret-contents";
        ASSERT_TRUE(
            WriteDisk(base_.Path() / "outside-secret.txt", Bytes(secret.begin(), secret.end())));
        ASSERT_TRUE(
            WriteDisk(base_.Path() / "Outside" / "inner.txt", Bytes(secret.begin(), secret.end())));
        before_ = Around();
        daemon_ = std::make_unique<server::TDaemon>(
            exportDir_.u16string(), 65001, listDir_.u16string(), server::ServicePorts{0, 0, 0});
        ASSERT_TRUE(daemon_->Start()) << daemon_->ErrorText();
        const server::ServicePorts& ports = daemon_->Ports();
        client_ = std::make_unique<RpcClient>(ServerPorts{ports.portmap, ports.mount, ports.nfs});
        const MountResult mounted = client_->Mount("/");
        ASSERT_TRUE(mounted.Ok()) << mounted.reply;
        root_ = mounted.handle;
        const MountResult list = client_->Mount("/lst");
        ASSERT_TRUE(list.Ok()) << list.reply;
        list_ = list.handle;
    }

    void TearDown() override {
        if (daemon_)
            daemon_->Stop();
        daemon_.reset();
    }

    // Everything beside the export: names, sizes and contents.
    std::map<std::string, Bytes> Around() const {
        std::map<std::string, Bytes> found;
        for (auto it = fs::recursive_directory_iterator(base_.Path());
             it != fs::recursive_directory_iterator(); ++it) {
            if (it->path() == exportDir_ || it->path() == listDir_) {
                it.disable_recursion_pending();
                continue;
            }
            found[it->path().string()] = it->is_regular_file() ? ReadDisk(it->path()) : Bytes{};
        }
        return found;
    }

    TempFolder base_;
    fs::path exportDir_, listDir_;
    std::map<std::string, Bytes> before_;
    std::unique_ptr<server::TDaemon> daemon_;
    std::unique_ptr<RpcClient> client_;
    std::uint32_t root_ = 0, list_ = 0;
};

TEST_F(EscapeTest, NamesThatLeaveTheExportAreRefusedAndNothingOutsideIsTouched) {
    RpcClient& client = *client_;
    const std::uint32_t a = Lookup(client, root_, "a").handle;
    ASSERT_NE(a, 0u);
    int attempts = 0;

    // MNT paths that climb out of the export or the list folder.
    for (std::string_view path : {"/..", "/../..", "/a/../..", "/..\\Outside", "\\..", "/lst/..",
                                  "/lst/../export", "/lst/a/../.."}) {
        const MountResult mounted = client.Mount(path);
        EXPECT_TRUE(mounted.reply.Succeeded()) << path;
        EXPECT_EQ(mounted.status, kMntAcces) << path;
        ++attempts;
    }

    // LOOKUP, CREATE, MKDIR, REMOVE, RMDIR and RENAME with escaping names: NFS3ERR_ACCES.
    struct Named {
        std::uint32_t directory;
        std::string name;
    };
    const Named escaping[] = {
        {root_, ".."},
        {root_, "../outside-secret.txt"},
        {root_, "a/../../outside-secret.txt"},
        {root_, "..\\outside-secret.txt"},
        {root_, "a\\..\\..\\Outside"},
        {a, "../.."},
        {a, "b/../../../Outside/inner.txt"},
        {list_, ".."},
        {list_, "../outside-secret.txt"},
    };
    for (const Named& named : escaping) {
        EXPECT_EQ(Lookup(client, named.directory, named.name).status, kAcces) << named.name;
        // A name below an escaping one escapes too (the climb comes first).
        EXPECT_EQ(Create(client, named.directory, named.name + "/new").status, kAcces)
            << named.name;
        EXPECT_EQ(MkDir(client, named.directory, named.name + "/dir"), kAcces) << named.name;
        EXPECT_EQ(DirOpStatus(client, kRemove, named.directory, named.name), kAcces) << named.name;
        EXPECT_EQ(DirOpStatus(client, kRmDir, named.directory, named.name), kAcces) << named.name;
        EXPECT_EQ(Rename(client, named.directory, named.name, root_, "stolen.txt"), kAcces)
            << named.name;
        EXPECT_EQ(Rename(client, root_, "file.txt", named.directory, named.name + "/moved"), kAcces)
            << named.name;
        attempts += 7;
    }

    // Names that look absolute are no names of one object either: refused, nothing created.
    for (std::string_view name :
         {"/etc", "\\etc", "C:\\x", "/outside-secret.txt", "\\\\server\\share"}) {
        const HandleResult found = Lookup(client, root_, name);
        EXPECT_EQ(found.status, kAcces) << name;
        ++attempts;
    }
    EXPECT_EQ(Create(client, root_, "\\made-here").status, kAcces);
    EXPECT_FALSE(fs::exists(exportDir_ / "made-here"));
    ++attempts;

    // ".." that stays inside works.
    EXPECT_EQ(Lookup(client, a, "..").status, kOk);

    // Listings of the export root show ".." bare: no attributes, no handle, no fileid.
    for (bool plus : {true, false}) {
        const Listing listing = List(client, root_, plus, 65536);
        ASSERT_EQ(listing.status, kOk) << listing.error;
        bool sawParent = false;
        for (const ListedEntry& entry : listing.entries) {
            if (entry.name != "..")
                continue;
            sawParent = true;
            EXPECT_EQ(entry.fileId, kNoFileId);
            if (plus) {
                EXPECT_FALSE(entry.hasAttributes);
                EXPECT_FALSE(entry.hasHandle);
            }
        }
        EXPECT_TRUE(sawParent) << (plus ? "READDIRPLUS" : "READDIR");
        EXPECT_FALSE(Contains(listing.raw, "outside-secret")) << "listed outside the export";
        EXPECT_FALSE(Contains(listing.raw, "Outside")) << "listed outside the export";
        ++attempts;
    }
    const Listing listFolder = List(client, list_, true, 65536);
    ASSERT_EQ(listFolder.status, kOk);
    for (const ListedEntry& entry : listFolder.entries) {
        if (entry.name == "..") {
            EXPECT_FALSE(entry.hasHandle) << "the list folder's parent got a handle";
        }
    }

    EXPECT_EQ(Around(), before_) << "something beside the export changed";
    EXPECT_TRUE(fs::exists(exportDir_ / "file.txt"));
    std::cout << "[ figures  ] escapes: " << attempts << " attempts refused\n";
}

// --- Restart under load ---

// Two ports that are free for both TCP and UDP right now (the test binds, reads and lets go).
bool FreePort(std::uint16_t& port) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        platform::Socket tcp = platform::Socket::Create(platform::SocketKind::Tcp);
        if (!tcp.Bind(platform::SocketAddress{platform::kInaddrAny, 0}))
            continue;
        platform::SocketAddress local;
        if (!tcp.LocalAddress(local))
            continue;
        platform::Socket udp = platform::Socket::Create(platform::SocketKind::Udp);
        if (udp.Bind(platform::SocketAddress{platform::kInaddrAny, local.port})) {
            port = local.port;
            return true;
        }
    }
    return false;
}

fs::path ServerProgram() {
    if (const char* configured = std::getenv("LUMAVERT_SERVER"))
        return configured;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return self.parent_path().parent_path() / "lumavert-server";
}

// lumavert-server as a child process on fixed free ports, with settings of its own.
class ServerProcess {
  public:
    ServerProcess(const fs::path& work, const fs::path& root) : work_(work), root_(root) {}
    ~ServerProcess() { Stop(); }

    bool Start(std::string& error) {
        const fs::path program = ServerProgram();
        if (!fs::exists(program)) {
            error = "no server program at " + program.string();
            return false;
        }
        if (!FreePort(ports_.portmap) || !FreePort(ports_.mount) || !FreePort(ports_.nfs)) {
            error = "no free ports";
            return false;
        }
        fs::create_directories(work_ / "config" / "lumavert");
        fs::create_directories(work_ / "home" / "Documents");
        std::vector<std::string> environment{"XDG_CONFIG_HOME=" + (work_ / "config").string(),
                                             "HOME=" + (work_ / "home").string()};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (text.rfind("XDG_CONFIG_HOME=", 0) != 0 && text.rfind("HOME=", 0) != 0)
                environment.push_back(text);
        }
        const std::string ports = std::to_string(ports_.portmap) + "," +
                                  std::to_string(ports_.mount) + "," + std::to_string(ports_.nfs);
        std::vector<std::string> arguments{
            program.string(), "--root", root_.string(), "--codepage", "65001", "--ports", ports};
        std::vector<char*> argv, envp;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        for (std::string& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string log = LogPath().string();
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        const int spawned =
            posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            error = "posix_spawn failed";
            return false;
        }
        // Ready when MOUNT answers over TCP.
        for (int i = 0; i < 150; ++i) {
            RpcClient probe(ports_, Transport::Tcp);
            probe.SetTimeoutMs(500);
            if (probe.MountCall(0).Succeeded())
                return true;
            if (!Running()) {
                error = "the server ended: " + Log();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        error = "the server did not answer: " + Log();
        return false;
    }

    bool Running() {
        if (pid_ <= 0)
            return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == 0)
            return true;
        exitStatus_ = status;
        pid_ = -1;
        return false;
    }
    bool Signal(int signal) { return pid_ > 0 && kill(pid_, signal) == 0; }
    // SIGTERM and the wait; the raw wait status, -1 when it was not running.
    int Stop() {
        if (!Running())
            return exitStatus_;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        exitStatus_ = status;
        return status;
    }

    ServerPorts Ports() const { return ports_; }
    fs::path LogPath() const { return work_ / "server.log"; }
    std::string Log() const {
        const Bytes bytes = ReadDisk(LogPath());
        return std::string(bytes.begin(), bytes.end());
    }

  private:
    fs::path work_, root_;
    ServerPorts ports_{0, 0, 0};
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

// A client of one file that mounts again and looks its file up again after any failure, as a
// player does after the server restarted.
class Remounting {
  public:
    Remounting(ServerPorts ports, Transport transport, std::string name)
        : ports_(ports), transport_(transport), name_(std::move(name)) {}

    // Until `deadline`; false when the server never came back.
    bool Connect(Clock::time_point deadline) {
        while (Clock::now() < deadline) {
            client_ = std::make_unique<RpcClient>(ports_, transport_);
            client_->SetTimeoutMs(2000);
            const MountResult mounted = client_->Mount("/");
            if (mounted.Ok()) {
                const HandleResult file = Lookup(*client_, mounted.handle, name_);
                if (file.status == kOk) {
                    handle_ = file.handle;
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    void Failed() { ++failures_; }

    RpcClient& Client() { return *client_; }
    std::uint32_t Handle() const { return handle_; }
    int Failures() const { return failures_; }

  private:
    ServerPorts ports_;
    Transport transport_;
    std::string name_;
    std::unique_ptr<RpcClient> client_;
    std::uint32_t handle_ = 0;
    int failures_ = 0;
};

// SIGHUP restarts the server thread of lumavert-server (every handle goes stale, every client
// must mount again) while clients read and write. The daemon must not crash, the clients must
// carry on after mounting again, and no write the server acknowledged as on disk (FILE_SYNC,
// or UNSTABLE followed by a COMMIT with the same verifier) may be missing afterwards.
TEST(Robustness, SighupUnderLoadLosesNoAcknowledgedWrite) {
    constexpr std::size_t kChunk = 16384;
    constexpr int kRestarts = 3;
    TempFolder work;
    const fs::path root = work.Path() / "export";
    fs::create_directories(root);
    const Bytes fixed = Pattern(512 * 1024, 31);
    ASSERT_TRUE(WriteDisk(root / "fixed.bin", fixed));
    struct Writer {
        std::string name;
        Transport transport = Transport::Tcp;
        bool commits = false; // UNSTABLE in groups of eight, then COMMIT; else FILE_SYNC each
        Bytes written;
        int chunks = 0;
        int retries = 0;
        std::string error;
    };
    std::vector<Writer> writers;
    for (const auto& [name, transport, commits] :
         {std::tuple{"sync-tcp-1.bin", Transport::Tcp, false},
          std::tuple{"sync-tcp-2.bin", Transport::Tcp, false},
          std::tuple{"sync-udp.bin", Transport::Udp, false},
          std::tuple{"commit-tcp-1.bin", Transport::Tcp, true},
          std::tuple{"commit-tcp-2.bin", Transport::Tcp, true}}) {
        Writer writer;
        writer.name = name;
        writer.transport = transport;
        writer.commits = commits;
        writers.push_back(std::move(writer));
    }
    for (const Writer& writer : writers)
        ASSERT_TRUE(WriteDisk(root / writer.name, {}));

    ServerProcess server(work.Path(), root);
    std::string error;
    if (!fs::exists(ServerProgram()))
        GTEST_SKIP() << "lumavert-server is not built at " << ServerProgram();
    ASSERT_TRUE(server.Start(error)) << error;
    const ServerPorts ports = server.Ports();

    std::atomic<bool> stop{false};
    std::atomic<int> acknowledged{0};
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(90);

    const auto writeBody = [&](Writer& writer) {
        Remounting session(ports, writer.transport, writer.name);
        if (!session.Connect(deadline)) {
            writer.error = "never mounted";
            return;
        }
        // FILE_SYNC writers write chunk after chunk; committing writers a group of eight.
        const int group = writer.commits ? 8 : 1;
        while (!stop || writer.chunks < 16) {
            if (Clock::now() > deadline) {
                writer.error = "ran out of time";
                return;
            }
            Bytes data;
            bool done = true;
            std::uint64_t verifier = 0;
            for (int k = 0; k < group && done; ++k) {
                const Bytes chunk =
                    Pattern(kChunk, static_cast<std::uint32_t>(writer.chunks * 10 + k + 7));
                const WriteResult result =
                    Write(session.Client(), session.Handle(), writer.written.size() + data.size(),
                          chunk, writer.commits ? kUnstable : kFileSync);
                done = result.status == kOk && result.count == kChunk &&
                       (k == 0 || result.verifier == verifier);
                verifier = result.verifier;
                data.insert(data.end(), chunk.begin(), chunk.end());
            }
            if (done && writer.commits) {
                const CommitResult committed = Commit(session.Client(), session.Handle());
                done = committed.status == kOk && committed.verifier == verifier;
            }
            if (!done) {
                // Whatever of the group reached the file is written again after the remount.
                ++writer.retries;
                if (!session.Connect(deadline)) {
                    writer.error = "the server did not come back";
                    return;
                }
                continue;
            }
            writer.written.insert(writer.written.end(), data.begin(), data.end());
            writer.chunks += group;
            acknowledged += group;
        }
    };
    std::atomic<int> reads{0};
    std::vector<std::string> readErrors;
    std::mutex readErrorsLock;
    const auto readBody = [&](Transport transport) {
        Remounting session(ports, transport, "fixed.bin");
        if (!session.Connect(deadline))
            return;
        for (std::uint64_t round = 0; !stop && Clock::now() < deadline; ++round) {
            const std::uint64_t offset = (round * 32768) % fixed.size();
            const ReadResult read = Read(session.Client(), session.Handle(), offset, 32768);
            if (read.status == kOk) {
                ++reads;
                if (read.data != Slice(fixed, offset, read.data.size())) {
                    const std::lock_guard<std::mutex> lock(readErrorsLock);
                    readErrors.push_back("wrong bytes at " + std::to_string(offset));
                }
                continue;
            }
            if (!session.Connect(deadline))
                return;
        }
    };

    std::vector<std::thread> threads;
    for (Writer& writer : writers)
        threads.emplace_back(writeBody, std::ref(writer));
    threads.emplace_back(readBody, Transport::Tcp);
    threads.emplace_back(readBody, Transport::Udp);

    // Restart while the load runs: after some progress, and again at short intervals.
    for (int restart = 0; restart < kRestarts; ++restart) {
        const int before = acknowledged;
        for (int wait = 0; wait < 200 && acknowledged < before + 20; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(server.Signal(SIGHUP));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    // Load goes on after the last restart until every writer has written more.
    const int afterRestarts = acknowledged;
    for (int wait = 0; wait < 400 && acknowledged < afterRestarts + 40; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_TRUE(server.Running()) << "the server ended under load: " << server.Log();
    const int status = server.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << server.Log();
    const std::string log = server.Log();
    std::size_t reloads = 0;
    for (std::size_t at = log.find("reloading settings"); at != std::string::npos;
         at = log.find("reloading settings", at + 1))
        ++reloads;
    EXPECT_EQ(reloads, static_cast<std::size_t>(kRestarts)) << log;
    EXPECT_EQ(log.find("AddressSanitizer"), std::string::npos) << log;

    int retries = 0;
    for (const Writer& writer : writers) {
        EXPECT_TRUE(writer.error.empty()) << writer.name << ": " << writer.error;
        EXPECT_GE(writer.chunks, 16) << writer.name;
        // Every acknowledged chunk is on disk, byte for byte (a group written again after a
        // restart leaves the same bytes in the same place).
        const Bytes disk = ReadDisk(root / writer.name);
        EXPECT_GE(disk.size(), writer.written.size()) << writer.name;
        EXPECT_TRUE(Slice(disk, 0, std::min(disk.size(), writer.written.size())) == writer.written)
            << writer.name << ": acknowledged data lost or changed";
        retries += writer.retries;
    }
    EXPECT_GT(retries, 0) << "no client saw a restart: the test proved nothing";
    EXPECT_TRUE(readErrors.empty()) << readErrors.front();
    EXPECT_GT(reads.load(), 0);
    std::cout << "[ figures  ] restart: " << kRestarts << " SIGHUP restarts, "
              << acknowledged.load() << " acknowledged writes of 16 KiB, " << reads.load()
              << " reads, " << retries << " remounts after failed calls\n";
}

// --- Full disk ---

// Runs only inside tests/scenarios/test_full_disk.sh, which puts a small tmpfs (4 MiB, 64
// inodes) in a private mount namespace and names it in LUMAVERT_SMALL_DISK.
TEST(Robustness, FullDiskAnswersNoSpaceAndKeepsEarlierData) {
    const char* smallDisk = std::getenv("LUMAVERT_SMALL_DISK");
    if (smallDisk == nullptr)
        GTEST_SKIP() << "run by tests/scenarios/test_full_disk.sh on a small tmpfs";
    const fs::path root = fs::path(smallDisk) / "export";
    fs::create_directories(root);
    TempFolder list;
    server::TDaemon daemon(root.u16string(), 65001, list.Path().u16string(),
                           server::ServicePorts{0, 0, 0});
    ASSERT_TRUE(daemon.Start()) << daemon.ErrorText();
    const server::ServicePorts& bound = daemon.Ports();
    RpcClient client(ServerPorts{bound.portmap, bound.mount, bound.nfs}, Transport::Tcp);
    const MountResult mounted = client.Mount("/");
    ASSERT_TRUE(mounted.Ok()) << mounted.reply;

    // Earlier data, acknowledged stable.
    const Bytes kept = Pattern(256 * 1024, 21);
    const HandleResult keep = Create(client, mounted.handle, "keep.bin");
    ASSERT_EQ(keep.status, kOk) << keep.error;
    const WriteResult keptWrite = Write(client, keep.handle, 0, kept, kFileSync);
    ASSERT_EQ(keptWrite.status, kOk) << keptWrite.error;
    ASSERT_EQ(keptWrite.count, kept.size());

    // Fill the volume: every acknowledged byte counts, the last WRITE answers NOSPC.
    const HandleResult fill = Create(client, mounted.handle, "fill.bin");
    ASSERT_EQ(fill.status, kOk) << fill.error;
    Bytes filled;
    std::uint32_t lastStatus = kOk;
    for (int i = 0; i < 200 && lastStatus == kOk; ++i) {
        const Bytes chunk = Pattern(128 * 1024, 100 + i);
        const WriteResult written =
            Write(client, fill.handle, filled.size(), chunk, i % 2 == 0 ? kUnstable : kFileSync);
        lastStatus = written.status;
        if (written.status == kOk)
            filled.insert(filled.end(), chunk.begin(), chunk.begin() + written.count);
    }
    EXPECT_EQ(lastStatus, kNoSpc);
    EXPECT_EQ(Write(client, fill.handle, filled.size(), Pattern(4096, 1), kFileSync).status,
              kNoSpc);

    // Use up the inodes: CREATE answers NOSPC too.
    std::uint32_t createStatus = kOk;
    for (int i = 0; i < 200 && createStatus == kOk; ++i)
        createStatus = Create(client, mounted.handle, "empty-" + std::to_string(i)).status;
    EXPECT_EQ(createStatus, kNoSpc);

    // Earlier data is intact on disk and over NFS, and the server goes on.
    EXPECT_TRUE(ReadDisk(root / "keep.bin") == kept);
    EXPECT_TRUE(ReadDisk(root / "fill.bin") == filled);
    const ReadResult read = Read(client, keep.handle, 0, 256 * 1024);
    EXPECT_EQ(read.status, kOk) << read.error;
    EXPECT_TRUE(read.data == kept);
    EXPECT_EQ(DirOpStatus(client, kRemove, mounted.handle, "fill.bin"), kOk);
    const Bytes more = Pattern(64 * 1024, 22);
    EXPECT_EQ(Write(client, keep.handle, kept.size(), more, kFileSync).status, kOk);
    Bytes grown = kept;
    grown.insert(grown.end(), more.begin(), more.end());
    EXPECT_TRUE(ReadDisk(root / "keep.bin") == grown);
    std::cout << "[ figures  ] full disk: " << filled.size()
              << " bytes acknowledged before NOSPC\n";
    daemon.Stop();
}

} // namespace
} // namespace rpctest
