// TDaemon over real loopback sockets: the reply header table, dispatch verdicts, TCP record
// framing, the portmapper, the host filter, start-up errors and stopping.
#include "server/rpc/Daemon.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/FileSystem.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakePortmapper.h"
#include "tests/support/RpcClient.h"
#include "tests/support/TestDaemon.h"

namespace rpctest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kPortmapSet = 1, kPortmapUnset = 2, kPortmapGetPort = 3, kPortmapDump = 4,
                        kPortmapCallIt = 5;
constexpr int kNoAnswerMs = 400;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

CallHeader Header(std::uint32_t xid, std::uint32_t program, std::uint32_t version,
                  std::uint32_t procedure) {
    CallHeader header;
    header.xid = xid;
    header.program = program;
    header.version = version;
    header.procedure = procedure;
    return header;
}

CallHeader PortmapNull(std::uint32_t xid) {
    return Header(xid, kPortmapProgram, kPortmapVersion, 0);
}

class DaemonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(daemon_.Ready()) << daemon_.ErrorText();
        ports_ = daemon_.Ports();
        ASSERT_NE(ports_.portmap, 0);
        ASSERT_NE(ports_.mount, 0);
        ASSERT_NE(ports_.nfs, 0);
    }

    // Mounts the export root so that the NFS port answers this client.
    void MountRoot(RpcClient& client) {
        const MountResult mount = client.Mount("/");
        ASSERT_TRUE(mount.Ok()) << mount.reply << ", mountstat " << mount.status;
    }

    TestDaemon daemon_;
    ServerPorts ports_;
};

// --- Reply header table ---

TEST_F(DaemonTest, RpcVersion3IsDeniedWithMismatch2To2AndTheXidEchoed) {
    CallHeader header = PortmapNull(0xCAFEF00D);
    header.rpcVersion = 3;

    TcpConnection tcp(ports_.portmap);
    ASSERT_TRUE(tcp.Connected());
    UdpEndpoint udp(ports_.mount);
    for (const RpcReply& reply : {tcp.Call(header), udp.Call(header)}) {
        ASSERT_TRUE(reply.Received()) << reply;
        EXPECT_EQ(reply.xid, 0xCAFEF00Du);
        EXPECT_EQ(reply.replyStatus, kDenied);
        EXPECT_EQ(reply.rejectStatus, kRpcMismatch);
        EXPECT_EQ(reply.mismatchLow, 2u);
        EXPECT_EQ(reply.mismatchHigh, 2u);
        EXPECT_TRUE(reply.body.AtEnd()) << reply;
    }
}

TEST_F(DaemonTest, ReplyMessagesAreNeverAnswered) {
    CallHeader bogus = PortmapNull(77);
    bogus.messageType = kReply;

    UdpEndpoint udp(ports_.portmap);
    ASSERT_TRUE(udp.Send(BuildCall(bogus)));
    const RpcReply silence = udp.ReceiveReply(kNoAnswerMs);
    EXPECT_TRUE(silence.timedOut) << silence;
    const RpcReply answer = udp.Call(PortmapNull(78));
    ASSERT_TRUE(answer.Succeeded()) << answer;
    EXPECT_EQ(answer.xid, 78u);

    // Over TCP the connection stays and the next call's reply is the first record.
    TcpConnection tcp(ports_.portmap);
    ASSERT_TRUE(tcp.SendRecord(BuildCall(bogus)));
    const RpcReply next = tcp.Call(PortmapNull(79));
    ASSERT_TRUE(next.Succeeded()) << next;
    EXPECT_EQ(next.xid, 79u);
}

TEST_F(DaemonTest, VersionMismatchTellsTheOneSupportedVersion) {
    RpcClient client = daemon_.Client();
    for (std::uint32_t version : {1u, 3u, 4u}) {
        const RpcReply reply = client.Call(ports_.portmap, kPortmapProgram, version, 0);
        ASSERT_TRUE(reply.Accepted()) << reply;
        EXPECT_EQ(reply.acceptStatus, kProgMismatch) << version;
        EXPECT_EQ(reply.mismatchLow, 2u);
        EXPECT_EQ(reply.mismatchHigh, 2u);
    }
    for (std::uint32_t version : {1u, 2u, 4u}) {
        const RpcReply reply = client.Call(ports_.mount, kMountProgram, version, 0);
        ASSERT_TRUE(reply.Accepted()) << reply;
        EXPECT_EQ(reply.acceptStatus, kProgMismatch) << version;
        EXPECT_EQ(reply.mismatchLow, 3u);
        EXPECT_EQ(reply.mismatchHigh, 3u);
    }
    MountRoot(client);
    const RpcReply nfs = client.Call(ports_.nfs, kNfsProgram, 2, 0);
    ASSERT_TRUE(nfs.Accepted()) << nfs;
    EXPECT_EQ(nfs.acceptStatus, kProgMismatch);
    EXPECT_EQ(nfs.mismatchLow, 3u);
    EXPECT_EQ(nfs.mismatchHigh, 3u);
}

TEST_F(DaemonTest, UnknownProcedureIsProcUnavailOnEachService) {
    for (Transport transport : {Transport::Tcp, Transport::Udp}) {
        RpcClient client = daemon_.Client(transport);
        MountRoot(client);
        for (const RpcReply& reply :
             {client.PortmapCall(256), client.MountCall(256), client.NfsCall(256)}) {
            ASSERT_TRUE(reply.Accepted()) << reply;
            EXPECT_EQ(reply.acceptStatus, kProcUnavail) << reply;
            EXPECT_TRUE(reply.body.AtEnd()) << reply;
        }
    }
}

TEST_F(DaemonTest, ForeignProgramOnAServicePortIsProgUnavail) {
    RpcClient client = daemon_.Client();
    MountRoot(client);
    const RpcReply onMount = client.Call(ports_.mount, kPortmapProgram, kPortmapVersion, 0);
    const RpcReply onPortmap = client.Call(ports_.portmap, kNfsProgram, kNfsVersion, 0);
    const RpcReply onNfs = client.Call(ports_.nfs, kMountProgram, kMountVersion, 0);
    for (const RpcReply& reply : {onMount, onPortmap, onNfs}) {
        ASSERT_TRUE(reply.Accepted()) << reply;
        EXPECT_EQ(reply.acceptStatus, kProgUnavail) << reply;
    }
}

TEST_F(DaemonTest, NfsPortDeniesClientsThatHaveNotMounted) {
    for (Transport transport : {Transport::Tcp, Transport::Udp}) {
        RpcClient client = daemon_.Client(transport);
        const RpcReply nullCall = client.NfsCall(0);
        EXPECT_TRUE(nullCall.DeniedWithAuth(kAuthTooWeak)) << nullCall;
        EXPECT_TRUE(nullCall.body.AtEnd()) << nullCall;
        // The header table checks the caller before the program.
        const RpcReply wrongProgram = client.Call(ports_.nfs, kPortmapProgram, 2, 0);
        EXPECT_TRUE(wrongProgram.DeniedWithAuth(kAuthTooWeak)) << wrongProgram;
    }
    RpcClient client = daemon_.Client();
    MountRoot(client);
    for (Transport transport : {Transport::Tcp, Transport::Udp}) {
        const RpcReply reply = daemon_.Client(transport).NfsCall(0);
        EXPECT_TRUE(reply.Succeeded()) << reply;
    }
}

TEST_F(DaemonTest, AuthUnixCredentialIsAcceptedWithAnAuthNoneVerifier) {
    CallHeader header = PortmapNull(501);
    header.credentialFlavor = kAuthUnix;
    header.credentialBody = AuthUnixBody(12345, "player", 0, 0, {0, 1, 2});
    header.verifierFlavor = kAuthUnix; // odd but harmless: ignored like the credential
    header.verifierBody = {1, 2, 3, 4, 5};

    TcpConnection tcp(ports_.portmap);
    UdpEndpoint udp(ports_.mount);
    CallHeader mountHeader = header;
    mountHeader.program = kMountProgram;
    mountHeader.version = kMountVersion;
    for (const RpcReply& reply : {tcp.Call(header), udp.Call(mountHeader)}) {
        ASSERT_TRUE(reply.Succeeded()) << reply;
        EXPECT_EQ(reply.xid, 501u);
        EXPECT_EQ(reply.verifierFlavor, kAuthNone);
        EXPECT_TRUE(reply.verifierBody.empty());
        EXPECT_TRUE(reply.body.AtEnd()) << reply;
    }
}

// --- TCP record framing ---

TEST_F(DaemonTest, TwoCallsInOneSegmentAreBothAnswered) {
    TcpConnection tcp(ports_.portmap);
    ASSERT_TRUE(tcp.Connected());
    const Bytes both = Concat(Record(BuildCall(PortmapNull(11))),
                              Record(BuildCall(Header(12, kPortmapProgram, 2, kPortmapDump))));
    ASSERT_TRUE(tcp.SendRaw(both));
    const RpcReply first = tcp.ReceiveReply();
    const RpcReply second = tcp.ReceiveReply();
    ASSERT_TRUE(first.Succeeded()) << first;
    ASSERT_TRUE(second.Succeeded()) << second;
    EXPECT_EQ(first.xid, 11u);
    EXPECT_EQ(second.xid, 12u);
    EXPECT_GT(second.body.Remaining(), 4u) << "the DUMP list";
}

TEST_F(DaemonTest, BadRecordsCloseTheConnection) {
    const Bytes call = BuildCall(PortmapNull(21));
    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case cases[] = {
        {"no last-fragment bit",
         Concat(RecordMark(static_cast<std::uint32_t>(call.size()), false), call)},
        {"announces 10485757 bytes", Concat(RecordMark(10485757), call)},
        {"zero length", RecordMark(0)},
        {"shorter than an xid", Concat(RecordMark(3), Bytes{1, 2, 3})},
    };
    for (const Case& test : cases) {
        TcpConnection tcp(ports_.portmap);
        ASSERT_TRUE(tcp.Connected()) << test.what;
        ASSERT_TRUE(tcp.SendRaw(test.bytes)) << test.what;
        EXPECT_TRUE(tcp.WaitForClose(kDefaultTimeoutMs)) << test.what;
    }
    // The daemon still serves others.
    TcpConnection tcp(ports_.portmap);
    EXPECT_TRUE(tcp.Call(PortmapNull(22)).Succeeded());
}

TEST_F(DaemonTest, CutShortCallHeaderGetsNoAnswerButKeepsTheConnection) {
    TcpConnection tcp(ports_.portmap);
    ASSERT_TRUE(tcp.SendRecord(Bytes{0, 0, 0, 31, 0, 0, 0, 0, 0, 0, 0, 2}));
    const RpcReply reply = tcp.Call(PortmapNull(32));
    ASSERT_TRUE(reply.Succeeded()) << reply;
    EXPECT_EQ(reply.xid, 32u);
}

TEST_F(DaemonTest, LargestRecordIsReadWholeAndAnswered) {
    // 10485756 bytes of body and the 4-byte mark make exactly the 10 MiB message limit. The call
    // decodes from the front; the trailing bytes are read and ignored.
    const Bytes call = BuildCall(PortmapNull(41));
    XdrArgs padding;
    padding.PutFixed(Bytes(10485756 - call.size(), 0x5A));
    const Bytes body = Concat(call, padding.Data());
    ASSERT_EQ(body.size(), 10485756u);

    TcpConnection tcp(ports_.portmap);
    ASSERT_TRUE(tcp.SendRecord(body));
    const RpcReply reply = tcp.ReceiveReply(20000);
    ASSERT_TRUE(reply.Succeeded()) << reply;
    EXPECT_EQ(reply.xid, 41u);
    // Nothing of the padding was taken for a second call.
    const RpcReply next = tcp.Call(PortmapNull(42));
    ASSERT_TRUE(next.Succeeded()) << next;
    EXPECT_EQ(next.xid, 42u);
}

// The record time-out runs on the daemon's clock: a stalled record holds the daemon until the
// time-out has passed, not a moment less, and is then cut off and the others are served.
TEST(DaemonRecordTimeOut, StalledRecordIsCutOffWhenItsTimeHasPassedAndOthersAreServedAfterwards) {
    static_assert(server::kRecordReceiveTimeoutMs == 10000);
    FakeClock clock;
    TestDaemonOptions options;
    options.clock = &clock;
    TestDaemon daemon(options);
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    const ServerPorts ports = daemon.Ports();
    TcpConnection stalled(ports.portmap);
    ASSERT_TRUE(stalled.Connected());
    const Bytes call = BuildCall(PortmapNull(51));
    ASSERT_TRUE(stalled.SendRaw(Concat(RecordMark(static_cast<std::uint32_t>(call.size())),
                                       Bytes(call.begin(), call.begin() + call.size() / 2))));
    // Give the daemon time to start on the stalled record before the second client calls.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    TcpConnection other(ports.mount);
    ASSERT_TRUE(other.Connected());
    ASSERT_TRUE(other.SendRecord(BuildCall(Header(52, kMountProgram, kMountVersion, 0))));

    clock.Advance(server::kRecordReceiveTimeoutMs - 1);
    EXPECT_TRUE(other.ReceiveReply(300).timedOut) << "answered while the record was pending";
    EXPECT_FALSE(stalled.WaitForClose(0)) << "cut off before its time";
    clock.Advance(1);
    const RpcReply reply = other.ReceiveReply(5000);
    ASSERT_TRUE(reply.Succeeded()) << reply;
    EXPECT_EQ(reply.xid, 52u);
    EXPECT_TRUE(stalled.WaitForClose(1000));
}

// The idle sweep closes the write files that have not been used for the idle time, by the
// daemon's clock, and leaves the others open.
TEST(DaemonIdleSweep, WriteFilesUnusedForTheIdleTimeAreClosed) {
    FakeClock clock;
    TestDaemonOptions options;
    options.clock = &clock;
    TestDaemon daemon(options);
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    RpcClient client = daemon.Client();
    const MountResult mounted = client.Mount("/");
    ASSERT_TRUE(mounted.Ok()) << mounted.reply;
    const auto unstableWrite = [&](std::string_view name) {
        RpcReply created = client.NfsCall(8, XdrArgs()
                                                 .PutHandle(mounted.handle)
                                                 .PutString(name)
                                                 .PutUInt32(0)
                                                 .PutUInt32(0)
                                                 .PutUInt32(0)
                                                 .PutUInt32(0)
                                                 .PutUInt32(0)
                                                 .PutUInt32(0)
                                                 .PutUInt32(0));
        ASSERT_TRUE(created.Succeeded()) << created;
        ASSERT_EQ(created.body.GetUInt32(), 0u) << "CREATE " << name;
        ASSERT_TRUE(created.body.GetBool());
        const Bytes handle = created.body.GetOpaque(64);
        ASSERT_EQ(handle.size(), 4u);
        const std::uint32_t id = (std::uint32_t{handle[0]} << 24) |
                                 (std::uint32_t{handle[1]} << 16) |
                                 (std::uint32_t{handle[2]} << 8) | handle[3];
        const Bytes data(100, 0x42);
        RpcReply written = client.NfsCall(7, XdrArgs()
                                                 .PutHandle(id)
                                                 .PutUInt64(0)
                                                 .PutUInt32(100)
                                                 .PutUInt32(0) // UNSTABLE: the file stays open
                                                 .PutOpaque(data));
        ASSERT_TRUE(written.Succeeded()) << written;
        ASSERT_EQ(written.body.GetUInt32(), 0u) << "WRITE " << name;
    };
    // Whether the server still holds the file: an open that shares nothing fails while it does.
    const auto held = [&](std::string_view name) {
        platform::OpenOptions exclusive;
        exclusive.access = platform::FileAccess::ReadWrite;
        exclusive.share = platform::FileShare::None;
        return !platform::File::Open((daemon.Root() / std::string(name)).u16string(), exclusive)
                    .IsOpen();
    };
    unstableWrite("old.bin");
    clock.Advance(40000);
    unstableWrite("recent.bin");
    // The sweep runs when the loop's wait (about a second) ends with nothing to do.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(held("old.bin")) << "closed before the idle time";
    clock.Advance(server::kIdleFileMs - 40000 + 1);
    const Clock::time_point start = Clock::now();
    while (held("old.bin") && MsSince(start) < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(held("old.bin")) << "kept past the idle time";
    EXPECT_TRUE(held("recent.bin")) << "closed while in use";
}

// --- Portmapper ---

TEST_F(DaemonTest, GetPortWithThreeWordsIsGarbageArgs) {
    RpcClient client = daemon_.Client();
    const RpcReply reply = client.PortmapCall(
        kPortmapGetPort, XdrArgs().PutUInt32(kNfsProgram).PutUInt32(3).PutUInt32(6));
    ASSERT_TRUE(reply.Accepted()) << reply;
    EXPECT_EQ(reply.acceptStatus, kGarbageArgs);
    EXPECT_TRUE(reply.body.AtEnd()) << reply;
}

TEST_F(DaemonTest, GetPortAnswersByProgramAndVersion) {
    struct Case {
        std::uint32_t program, version, protocol;
        std::uint16_t port;
    };
    const Case cases[] = {
        {kNfsProgram, 3, kIpProtoUdp, ports_.nfs},
        {kNfsProgram, 3, kIpProtoTcp, ports_.nfs},
        {kMountProgram, 3, kIpProtoUdp, ports_.mount},
        {kMountProgram, 3, kIpProtoTcp, ports_.mount},
        {kPortmapProgram, 2, kIpProtoTcp, ports_.portmap},
        {kNfsProgram, 2, kIpProtoUdp, 0},
        {kNfsProgram, 4, kIpProtoTcp, 0},
        {kMountProgram, 1, kIpProtoUdp, 0},
        {100021, 4, kIpProtoUdp, 0}, // lock manager: not offered
    };
    for (Transport transport : {Transport::Tcp, Transport::Udp}) {
        RpcClient client = daemon_.Client(transport);
        for (const Case& test : cases) {
            RpcReply reply = client.PortmapCall(kPortmapGetPort, XdrArgs()
                                                                     .PutUInt32(test.program)
                                                                     .PutUInt32(test.version)
                                                                     .PutUInt32(test.protocol)
                                                                     .PutUInt32(0));
            ASSERT_TRUE(reply.Succeeded()) << reply;
            EXPECT_EQ(reply.body.GetUInt32(), test.port)
                << test.program << " v" << test.version << " proto " << test.protocol;
            EXPECT_TRUE(reply.body.AtEnd());
        }
    }
}

TEST_F(DaemonTest, DumpListsTheSixServicesInOrder) {
    struct Row {
        std::uint32_t program, version, protocol, port;
    };
    const Row expected[] = {
        {kPortmapProgram, 2, kIpProtoTcp, ports_.portmap},
        {kPortmapProgram, 2, kIpProtoUdp, ports_.portmap},
        {kMountProgram, 3, kIpProtoTcp, ports_.mount},
        {kMountProgram, 3, kIpProtoUdp, ports_.mount},
        {kNfsProgram, 3, kIpProtoTcp, ports_.nfs},
        {kNfsProgram, 3, kIpProtoUdp, ports_.nfs},
    };
    for (Transport transport : {Transport::Tcp, Transport::Udp}) {
        RpcReply reply = daemon_.Client(transport).PortmapCall(kPortmapDump);
        ASSERT_TRUE(reply.Succeeded()) << reply;
        XdrDecoder& in = reply.body;
        for (const Row& row : expected) {
            ASSERT_TRUE(in.GetBool()) << "list ends early";
            EXPECT_EQ(in.GetUInt32(), row.program);
            EXPECT_EQ(in.GetUInt32(), row.version);
            EXPECT_EQ(in.GetUInt32(), row.protocol);
            EXPECT_EQ(in.GetUInt32(), row.port);
        }
        EXPECT_FALSE(in.GetBool()) << "more than six rows";
        EXPECT_TRUE(in.AtEnd());
    }
}

TEST_F(DaemonTest, RegistrationProceduresAreUnavailable) {
    RpcClient client = daemon_.Client();
    const XdrArgs mapping =
        XdrArgs().PutUInt32(200000).PutUInt32(1).PutUInt32(kIpProtoTcp).PutUInt32(4000);
    for (std::uint32_t procedure : {kPortmapSet, kPortmapUnset, kPortmapCallIt}) {
        const RpcReply reply = client.PortmapCall(procedure, mapping);
        ASSERT_TRUE(reply.Accepted()) << reply;
        EXPECT_EQ(reply.acceptStatus, kProcUnavail) << procedure;
    }
}

// --- Allowed hosts ---

struct HostListCase {
    const char* what;
    std::vector<std::string> hosts;
    bool allowed;
};

class DaemonHostListTest : public ::testing::TestWithParam<HostListCase> {};

TEST_P(DaemonHostListTest, FiltersPortmapperAndMountCallers) {
    TestDaemonOptions options;
    options.allowedHosts = GetParam().hosts;
    TestDaemon daemon(options);
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    for (Transport transport : {Transport::Tcp, Transport::Udp}) {
        RpcClient client = daemon.Client(transport);
        for (const RpcReply& reply : {client.PortmapCall(0), client.MountCall(0)}) {
            if (GetParam().allowed) {
                EXPECT_TRUE(reply.Succeeded()) << reply;
            } else {
                EXPECT_TRUE(reply.DeniedWithAuth(kAuthTooWeak)) << reply;
            }
        }
    }
}

// The name below is refused by the resolver itself (spaces), so no name server is asked.
INSTANTIATE_TEST_SUITE_P(
    Hosts, DaemonHostListTest,
    ::testing::Values(HostListCase{"EmptyListAllowsEveryone", {""}, true},
                      HostListCase{"OtherAddressIsDenied", {"127.0.0.2"}, false},
                      HostListCase{"UnresolvableNameMatchesNobody", {"no such host!"}, false},
                      HostListCase{"ListedAddressIsAllowed", {"127.0.0.2", "127.0.0.1"}, true},
                      HostListCase{"LocalhostNameResolves", {"localhost"}, true}),
    [](const ::testing::TestParamInfo<HostListCase>& info) { return info.param.what; });

// --- Start-up and stopping ---

// A TCP socket listening on a free port of every address (as the daemon binds).
platform::Socket ListeningOnFreePort(std::uint16_t& port) {
    platform::Socket socket = platform::Socket::Create(platform::SocketKind::Tcp);
    platform::SocketAddress local;
    if (!socket.Bind({platform::kInaddrAny, 0}) || !socket.Listen(4) ||
        !socket.LocalAddress(local)) {
        port = 0;
        return platform::Socket();
    }
    port = local.port;
    return socket;
}

bool CanBind(platform::SocketKind kind, std::uint16_t port) {
    platform::Socket socket = platform::Socket::Create(kind);
    return socket.IsValid() && socket.Bind({platform::kInaddrAny, port});
}

TEST(DaemonStartUp, TakenMountOrNfsPortIsReportedAndFreesWhatWasBound) {
    for (bool takeNfs : {false, true}) {
        TempFolder root, list;
        std::uint16_t taken = 0;
        platform::Socket blocker = ListeningOnFreePort(taken);
        ASSERT_NE(taken, 0);
        const server::ServicePorts ports{0, takeNfs ? std::uint16_t{0} : taken,
                                         takeNfs ? taken : std::uint16_t{0}};
        auto daemon = std::make_unique<server::TDaemon>(root.Path().u16string(), 65001,
                                                        list.Path().u16string(), ports);
        EXPECT_EQ(daemon->ErrorText(),
                  "Can't bind socket to local TCP port " + std::to_string(taken));
        EXPECT_FALSE(daemon->Start());
        const server::ServicePorts got = daemon->Ports();
        daemon.reset();
        // What the daemon had bound before it failed is free again.
        ASSERT_NE(got.portmap, 0);
        EXPECT_TRUE(CanBind(platform::SocketKind::Tcp, got.portmap));
        EXPECT_TRUE(CanBind(platform::SocketKind::Udp, got.portmap));
        if (takeNfs) {
            ASSERT_NE(got.mount, 0);
            EXPECT_TRUE(CanBind(platform::SocketKind::Tcp, got.mount));
            EXPECT_TRUE(CanBind(platform::SocketKind::Udp, got.mount));
        }
        blocker.Close();
        EXPECT_TRUE(CanBind(platform::SocketKind::Tcp, taken));
    }
}

TEST(DaemonStartUp, MissingRootFolderIsReported) {
    TempFolder parent, list;
    const std::filesystem::path missing = parent.Path() / "not-there";
    server::TDaemon daemon(missing.u16string(), 65001, list.Path().u16string(), {0, 0, 0});
    const std::string& text = daemon.ErrorText();
    EXPECT_EQ(text.rfind("Can't open folder \"", 0), 0u) << text;
    EXPECT_NE(text.find("not-there\""), std::string::npos) << text;
    EXPECT_FALSE(daemon.Start());
}

// A portmapper of someone else on the daemon's portmapper port: Server.exe asks it for its
// DUMP only to tell the user who is there.
TEST(DaemonStartUp, BusyPortmapperPortNamesWhoHoldsIt) {
    struct Case {
        std::vector<FakePortmapper::Row> rows;
        const char* text; // empty: the portmapper text with the port
    };
    const Case cases[] = {
        {{}, ""},
        {{{100000, 2, 6, 111}, {100000, 2, 17, 111}}, ""},
        {{{100000, 2, 6, 111}, {100003, 3, 17, 2049}},
         "A NFS server is still running on this machine"},
        {{{100005, 3, 6, 635}}, "A Mount service is still running on this machine"},
        {{{100005, 3, 6, 635}, {100003, 3, 6, 2049}},
         "A NFS server is still running on this machine"},
        {{{100003, 2, 17, 2049}, {100005, 1, 17, 635}}, ""},
    };
    for (const Case& test : cases) {
        TempFolder root, list;
        FakePortmapper fake(test.rows);
        ASSERT_NE(fake.Port(), 0);
        server::TDaemon daemon(root.Path().u16string(), 65001, list.Path().u16string(),
                               {fake.Port(), 0, 0});
        const std::string expected =
            *test.text != '\0'
                ? std::string(test.text)
                : "A Portmapper is still running on local TCP port " + std::to_string(fake.Port());
        EXPECT_EQ(daemon.ErrorText(), expected);
        EXPECT_TRUE(fake.Finish());
    }
}

TEST(DaemonStop, ReturnsWithinASecondAndAHalf) {
    TestDaemon daemon;
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    // Let the loop settle into its wait first.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Clock::time_point start = Clock::now();
    daemon.Stop();
    EXPECT_LE(MsSince(start), 1500);
    // Stopped means no more answers.
    UdpEndpoint udp(daemon.Ports().portmap);
    EXPECT_TRUE(udp.Call(PortmapNull(61), {}, kNoAnswerMs).timedOut);
}

} // namespace
} // namespace rpctest
