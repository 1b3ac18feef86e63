// MOUNT over loopback sockets: MNT's statuses and result, the list folder, use counts of UMNT as
// the NFS gate sees them, UMNTALL per caller address, the allowed-host list in front of MNT, and
// the EXPORT and DUMP lists.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/RpcClient.h"
#include "tests/support/TestDaemon.h"

namespace rpctest {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kMnt = 1, kDump = 2, kUmnt = 3, kUmntAll = 4, kExport = 5;
constexpr std::uint32_t kMntOk = 0, kMntNoEnt = 2, kMntAcces = 13, kMntNotDir = 20,
                        kMntNameTooLong = 63;
constexpr std::uint32_t kNfsLookup = 3;
constexpr std::uint32_t kNfsOk = 0, kNfsNoEnt = 2;

// Calls to one daemon from one loopback source address (127.0.0.x), over TCP.
class Caller {
  public:
    Caller(ServerPorts ports, std::uint8_t host) : ports_(ports), host_(host) {}

    // Whether this machine lets a socket bind the source address at all.
    bool CanBind() {
        platform::Socket probe = platform::Socket::Create(platform::SocketKind::Tcp);
        return probe.IsValid() && probe.Bind(Source());
    }

    RpcReply Call(std::uint16_t port, std::uint32_t program, std::uint32_t version,
                  std::uint32_t procedure, const XdrArgs& args = {}) {
        TcpConnection* connection = Connection(port);
        if (connection == nullptr) {
            RpcReply failed;
            failed.error = "cannot connect from 127.0.0." + std::to_string(host_);
            return failed;
        }
        CallHeader header;
        header.xid = ++xid_;
        header.program = program;
        header.version = version;
        header.procedure = procedure;
        return connection->Call(header, args);
    }
    RpcReply Mount(std::uint32_t procedure, const XdrArgs& args = {}) {
        return Call(ports_.mount, kMountProgram, kMountVersion, procedure, args);
    }
    RpcReply NfsNull() { return Call(ports_.nfs, kNfsProgram, kNfsVersion, 0); }

  private:
    platform::SocketAddress Source() const {
        return {platform::HostToNetwork32(0x7F000000u | host_), 0};
    }
    TcpConnection* Connection(std::uint16_t port) {
        auto& slot = connections_[port];
        if (slot == nullptr) {
            platform::Socket socket = platform::Socket::Create(platform::SocketKind::Tcp);
            if (!socket.IsValid() || !socket.Bind(Source()) ||
                !socket.Connect(LoopbackAddress(port)))
                return nullptr;
            slot = std::make_unique<TcpConnection>(std::move(socket));
        }
        return slot.get();
    }

    ServerPorts ports_;
    std::uint8_t host_;
    std::uint32_t xid_ = 0x4D000000;
    std::map<std::uint16_t, std::unique_ptr<TcpConnection>> connections_;
};

XdrArgs DirPath(std::string_view path) {
    return XdrArgs().PutString(path);
}

// The mount status of a reply that carries one (0xFFFFFFFF otherwise).
std::uint32_t MountStatus(RpcReply& reply) {
    if (!reply.Succeeded())
        return 0xFFFFFFFFu;
    const std::uint32_t status = reply.body.GetUInt32();
    return reply.body.Ok() ? status : 0xFFFFFFFFu;
}

bool NfsAllowed(RpcReply reply) {
    return reply.Succeeded();
}
bool NfsDenied(const RpcReply& reply) {
    return reply.DeniedWithAuth(kAuthTooWeak);
}

class MountTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(daemon_.Ready()) << daemon_.ErrorText(); }

    std::uint32_t Mnt(std::string_view path) {
        RpcReply reply = client_.MountCall(kMnt, DirPath(path));
        return MountStatus(reply);
    }
    // UMNT or UMNTALL: the status word, and nothing after it.
    std::uint32_t Unmount(std::uint32_t procedure, const XdrArgs& args = {}) {
        RpcReply reply = client_.MountCall(procedure, args);
        const std::uint32_t status = MountStatus(reply);
        EXPECT_TRUE(reply.body.AtEnd()) << reply;
        return status;
    }
    std::uint32_t LookupStatus(std::uint32_t directory, std::string_view name) {
        RpcReply reply =
            client_.NfsCall(kNfsLookup, XdrArgs().PutHandle(directory).PutString(name));
        return reply.Succeeded() ? reply.body.GetUInt32() : 0xFFFFFFFFu;
    }

    TestDaemon daemon_;
    RpcClient client_{daemon_.Client()};
};

TEST_F(MountTest, MntOfTheRootAnswersAFourByteHandleAndTheFlavorAuthNone) {
    std::uint32_t handles[2] = {};
    int i = 0;
    for (Transport transport : {Transport::Tcp, Transport::Udp}) {
        RpcClient client = daemon_.Client(transport);
        RpcReply reply = client.MountCall(kMnt, DirPath("/"));
        ASSERT_TRUE(reply.Succeeded()) << reply;
        EXPECT_EQ(reply.body.GetUInt32(), kMntOk);
        const Bytes handle = reply.body.GetOpaque(64);
        ASSERT_EQ(handle.size(), 4u);
        handles[i++] = (std::uint32_t{handle[0]} << 24) | (std::uint32_t{handle[1]} << 16) |
                       (std::uint32_t{handle[2]} << 8) | handle[3];
        EXPECT_EQ(reply.body.GetUInt32(), 1u); // one flavor
        EXPECT_EQ(reply.body.GetUInt32(), kAuthNone);
        EXPECT_TRUE(reply.body.AtEnd()) << reply;
    }
    EXPECT_NE(handles[0], 0u);
    EXPECT_EQ(handles[0], handles[1]) << "one entry per export path";
}

TEST_F(MountTest, ListPrefixMountsTheListFolderAndItsSubfolders) {
    std::ofstream(daemon_.ListFolder() / "in-list.txt") << "l";
    fs::create_directory(daemon_.ListFolder() / "Audio");
    std::ofstream(daemon_.ListFolder() / "Audio" / "song.mp3") << "s";

    const MountResult list = client_.Mount("/lst");
    ASSERT_TRUE(list.Ok()) << list.reply << ", status " << list.status;
    EXPECT_EQ(LookupStatus(list.handle, "in-list.txt"), kNfsOk);
    const MountResult audio = client_.Mount("/lstAudio");
    ASSERT_TRUE(audio.Ok()) << audio.reply << ", status " << audio.status;
    EXPECT_EQ(LookupStatus(audio.handle, "song.mp3"), kNfsOk);

    // Another case is an ordinary folder of the root.
    EXPECT_EQ(Mnt("/LST"), kMntNoEnt);
    fs::create_directory(daemon_.Root() / "LST");
    const MountResult upper = client_.Mount("/LST");
    ASSERT_TRUE(upper.Ok()) << upper.reply;
    EXPECT_EQ(LookupStatus(upper.handle, "in-list.txt"), kNfsNoEnt);
}

TEST_F(MountTest, FailedMntAnswersItsStatusAndRecordsNoMount) {
    std::ofstream(daemon_.Root() / "file.txt") << "f";
    fs::create_directory(daemon_.Root() / "a");
    const std::string longest = "/" + std::string(259, 'a'); // 260 bytes: may be mounted
    struct Case {
        std::string path;
        std::uint32_t status;
    };
    const Case cases[] = {
        {"/missing", kMntNoEnt},
        {"/file.txt", kMntNotDir},
        {"/../..", kMntAcces},
        {"/a/../..", kMntAcces},
        {"/lst/..", kMntAcces},
        {longest, kMntNoEnt},
        {longest + "a", kMntNameTooLong},
        {"/../" + std::string(300, 'a'), kMntNameTooLong}, // the length is checked first
        {"/" + std::string(1022, 'a'), kMntNameTooLong},
    };
    for (const Case& c : cases) {
        RpcReply reply = client_.MountCall(kMnt, DirPath(c.path));
        EXPECT_EQ(MountStatus(reply), c.status) << c.path.substr(0, 40) << " " << reply;
        EXPECT_TRUE(reply.body.AtEnd()) << reply;
    }
    for (const XdrArgs& garbage :
         {DirPath(std::string(1024, 'a')), XdrArgs().PutUInt32(8).PutUInt32(0)}) {
        for (std::uint32_t procedure : {kMnt, kUmnt}) {
            const RpcReply reply = client_.MountCall(procedure, garbage);
            ASSERT_TRUE(reply.Accepted()) << reply;
            EXPECT_EQ(reply.acceptStatus, kGarbageArgs);
            EXPECT_TRUE(reply.body.AtEnd()) << reply;
        }
    }
    EXPECT_TRUE(NfsDenied(client_.NfsCall(0)));
    EXPECT_EQ(Mnt("/a/.."), kMntOk);
}

TEST_F(MountTest, EachMntNeedsItsUmntBeforeNfsIsDenied) {
    ASSERT_EQ(Mnt("/"), kMntOk);
    ASSERT_EQ(Mnt("/"), kMntOk);
    EXPECT_TRUE(NfsAllowed(client_.NfsCall(0)));
    EXPECT_EQ(Unmount(kUmnt, DirPath("/")), kMntOk);
    EXPECT_TRUE(NfsAllowed(client_.NfsCall(0))) << "one UMNT must leave a count of 1";
    // The status only tells that the caller had a mount when the call came.
    EXPECT_EQ(Unmount(kUmnt, DirPath("/")), kMntOk);
    EXPECT_TRUE(NfsDenied(client_.NfsCall(0)));
    EXPECT_EQ(Unmount(kUmnt, DirPath("/")), kMntAcces);
    EXPECT_EQ(Unmount(kUmntAll), kMntAcces);
}

TEST_F(MountTest, UmntOfAnotherPathLeavesTheMountAlone) {
    fs::create_directory(daemon_.Root() / "a");
    ASSERT_EQ(Mnt("/a"), kMntOk);
    EXPECT_EQ(Unmount(kUmnt, DirPath("/b")), kMntOk);
    EXPECT_EQ(Unmount(kUmnt, DirPath("/")), kMntOk);
    EXPECT_TRUE(NfsAllowed(client_.NfsCall(0)));
    EXPECT_EQ(Unmount(kUmnt, DirPath("/a")), kMntOk);
    EXPECT_TRUE(NfsDenied(client_.NfsCall(0)));
}

// The gate counts a caller's mounts over all its paths: the last UMNT closes it.
TEST_F(MountTest, CallerWithSeveralPathsStaysAllowedUntilItsLastUmnt) {
    for (const char* name : {"a", "b", "c"})
        fs::create_directory(daemon_.Root() / name);
    for (const char* path : {"/a", "/b", "/c"})
        ASSERT_EQ(Mnt(path), kMntOk) << path;
    for (const char* path : {"/b", "/a"}) {
        EXPECT_EQ(Unmount(kUmnt, DirPath(path)), kMntOk) << path;
        EXPECT_TRUE(NfsAllowed(client_.NfsCall(0))) << "after UMNT " << path;
    }
    EXPECT_EQ(Unmount(kUmnt, DirPath("/c")), kMntOk);
    EXPECT_TRUE(NfsDenied(client_.NfsCall(0)));
    ASSERT_EQ(Mnt("/b"), kMntOk);
    EXPECT_TRUE(NfsAllowed(client_.NfsCall(0)));
}

TEST_F(MountTest, PathsThatDifferInCaseShareOneMountEntry) {
    fs::create_directory(daemon_.Root() / "Music");
    const MountResult first = client_.Mount("/Music");
    ASSERT_TRUE(first.Ok()) << first.reply;
#ifdef _WIN32
    const MountResult second = client_.Mount("/music");
    ASSERT_TRUE(second.Ok()) << second.reply;
    EXPECT_EQ(first.handle, second.handle);
    EXPECT_EQ(Unmount(kUmnt, DirPath("/MUSIC")), kMntOk);
    EXPECT_TRUE(NfsAllowed(client_.NfsCall(0)));
#else
    // A Linux file system has no folder "music" beside "Music".
    EXPECT_EQ(Mnt("/music"), kMntNoEnt);
#endif
    EXPECT_EQ(Unmount(kUmnt, DirPath("/music")), kMntOk);
    EXPECT_TRUE(NfsDenied(client_.NfsCall(0)));
}

// libnfs mounts "" for a file directly in the export root (nfs://host/file).
TEST_F(MountTest, EmptyPathMountsAndUnmountsTheRoot) {
    const MountResult root = client_.Mount("/");
    const MountResult empty = client_.Mount("");
    ASSERT_TRUE(root.Ok() && empty.Ok()) << root.reply << empty.reply;
    EXPECT_EQ(empty.handle, root.handle);
    EXPECT_EQ(Unmount(kUmnt, DirPath("")), kMntOk);
    EXPECT_TRUE(NfsAllowed(client_.NfsCall(0))) << "\"\" and \"/\" share one entry";
    EXPECT_EQ(Unmount(kUmnt, DirPath("")), kMntOk);
    EXPECT_TRUE(NfsDenied(client_.NfsCall(0)));
}

using Exports = std::vector<std::pair<std::string, std::vector<std::string>>>;
using Mounts = std::vector<std::pair<std::string, std::string>>;

// The exports as (path, groups) pairs, or an empty list when the reply does not parse whole.
Exports ExportList(RpcReply reply) {
    Exports exports;
    if (!reply.Succeeded())
        return exports;
    while (reply.body.Ok() && reply.body.GetBool()) {
        auto& item = exports.emplace_back(reply.body.GetString(1024), std::vector<std::string>());
        while (reply.body.Ok() && reply.body.GetBool())
            item.second.push_back(reply.body.GetString(255));
    }
    if (!reply.body.Ok() || !reply.body.AtEnd())
        exports.clear();
    return exports;
}

TEST_F(MountTest, ExportListsTheRootAndTheListFolderWithoutGroupsForEveryHost) {
    for (Transport transport : {Transport::Tcp, Transport::Udp}) {
        EXPECT_EQ(ExportList(daemon_.Client(transport).MountCall(kExport)),
                  (Exports{{"/", {}}, {"/lst", {}}}));
    }
    EXPECT_TRUE(NfsDenied(client_.NfsCall(0))) << "EXPORT is no mount";
}

TEST(MountExport, GroupsAreTheAllowedHostsAsWritten) {
    TestDaemonOptions options;
    options.allowedHosts = {"127.0.0.1", "localhost"};
    TestDaemon daemon(options);
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    const std::vector<std::string> groups = {"127.0.0.1", "localhost"};
    EXPECT_EQ(ExportList(daemon.Client().MountCall(kExport)),
              (Exports{{"/", groups}, {"/lst", groups}}));
}

// The mount list as (host, path) pairs, or {"unparsed", ...} when the reply does not parse.
Mounts MountList(RpcReply reply) {
    Mounts mounts;
    if (!reply.Succeeded())
        return {{"unparsed", "not accepted"}};
    while (reply.body.Ok() && reply.body.GetBool()) {
        std::string host = reply.body.GetString(255);
        mounts.emplace_back(host, reply.body.GetString(1024));
    }
    if (!reply.body.Ok() || !reply.body.AtEnd())
        return {{"unparsed", "trailing or cut short"}};
    return mounts;
}

TEST_F(MountTest, DumpListsEachMountedPathWithItsClientUntilUnmounted) {
    fs::create_directory(daemon_.Root() / "Films");
    EXPECT_EQ(MountList(client_.MountCall(kDump)), Mounts{});
    ASSERT_EQ(Mnt("/"), kMntOk);
    ASSERT_EQ(Mnt("/Films"), kMntOk);
    ASSERT_EQ(Mnt("/Films"), kMntOk);
    EXPECT_EQ(MountList(daemon_.Client(Transport::Udp).MountCall(kDump)),
              (Mounts{{"127.0.0.1", "/"}, {"127.0.0.1", "/Films"}}));
    EXPECT_EQ(Unmount(kUmnt, DirPath("/")), kMntOk);
    EXPECT_EQ(MountList(client_.MountCall(kDump)), (Mounts{{"127.0.0.1", "/Films"}}));

    Caller two(daemon_.Ports(), 2);
    if (!two.CanBind())
        return;
    RpcReply reply = two.Mount(kMnt, DirPath("/lst"));
    ASSERT_EQ(MountStatus(reply), kMntOk) << reply;
    EXPECT_EQ(MountList(client_.MountCall(kDump)),
              (Mounts{{"127.0.0.1", "/Films"}, {"127.0.0.2", "/lst"}}));
    EXPECT_EQ(Unmount(kUmntAll), kMntOk);
    EXPECT_EQ(MountList(client_.MountCall(kDump)), (Mounts{{"127.0.0.2", "/lst"}}));
}

TEST_F(MountTest, UmntAllRemovesOnlyTheCallersMounts) {
    fs::create_directory(daemon_.Root() / "sub");
    Caller one(daemon_.Ports(), 1), two(daemon_.Ports(), 2);
    if (!two.CanBind())
        GTEST_SKIP() << "127.0.0.2 cannot be bound on this system";

    RpcReply reply = one.Mount(kMnt, DirPath("/"));
    ASSERT_EQ(MountStatus(reply), kMntOk) << reply;
    reply = one.Mount(kMnt, DirPath("/sub"));
    ASSERT_EQ(MountStatus(reply), kMntOk) << reply;
    EXPECT_TRUE(NfsDenied(two.NfsNull())) << "a mount counts for its own address only";
    reply = two.Mount(kMnt, DirPath("/"));
    ASSERT_EQ(MountStatus(reply), kMntOk) << reply;
    EXPECT_TRUE(NfsAllowed(two.NfsNull()));

    reply = one.Mount(kUmntAll);
    EXPECT_EQ(MountStatus(reply), kMntOk) << reply;
    EXPECT_TRUE(reply.body.AtEnd());
    EXPECT_TRUE(NfsDenied(one.NfsNull())) << "both of its mounts are gone";
    EXPECT_TRUE(NfsAllowed(two.NfsNull()));
    reply = one.Mount(kUmntAll);
    EXPECT_EQ(MountStatus(reply), kMntAcces);

    reply = two.Mount(kUmntAll);
    EXPECT_EQ(MountStatus(reply), kMntOk) << reply;
    EXPECT_TRUE(NfsDenied(two.NfsNull()));
}

struct AllowedCase {
    const char* what;
    std::vector<std::string> hosts;
    bool oneAllowed, twoAllowed;
};

class MountAllowedHostsTest : public ::testing::TestWithParam<AllowedCase> {};

TEST_P(MountAllowedHostsTest, CallersOffTheListAreDeniedBeforeMntRuns) {
    TestDaemonOptions options;
    options.allowedHosts = GetParam().hosts;
    TestDaemon daemon(options);
    ASSERT_TRUE(daemon.Ready()) << daemon.ErrorText();
    Caller one(daemon.Ports(), 1), two(daemon.Ports(), 2);
    if (!two.CanBind())
        GTEST_SKIP() << "127.0.0.2 cannot be bound on this system";

    for (auto [caller, allowed] :
         {std::pair{&one, GetParam().oneAllowed}, std::pair{&two, GetParam().twoAllowed}}) {
        RpcReply reply = caller->Mount(kMnt, DirPath("/"));
        if (allowed) {
            EXPECT_EQ(MountStatus(reply), kMntOk) << reply;
            EXPECT_TRUE(NfsAllowed(caller->NfsNull()));
        } else {
            EXPECT_TRUE(reply.DeniedWithAuth(kAuthTooWeak)) << reply;
            EXPECT_TRUE(NfsDenied(caller->NfsNull())) << "a denied MNT records nothing";
        }
    }
}

// The name is refused by the resolver itself (it holds spaces), so no name server is asked.
INSTANTIATE_TEST_SUITE_P(
    Hosts, MountAllowedHostsTest,
    ::testing::Values(AllowedCase{"OnlyTheListedAddress", {"127.0.0.2"}, false, true},
                      AllowedCase{"TheOtherAddress", {"127.0.0.1"}, true, false},
                      AllowedCase{"UnresolvableNameMatchesNobody", {"no such host!"}, false, false},
                      AllowedCase{"EmptyListAllowsEveryone", {}, true, true}),
    [](const ::testing::TestParamInfo<AllowedCase>& info) { return info.param.what; });

} // namespace
} // namespace rpctest
