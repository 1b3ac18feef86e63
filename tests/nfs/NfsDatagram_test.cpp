// NFS over UDP: every reply fits one datagram. READ answers a short count and the listings fewer
// entries, as over TCP at the record limit, and FSINFO offers sizes a datagram holds.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/support/NfsDataTest.h"

namespace rpctest::nfsdata {
namespace {

constexpr std::size_t kDatagramLimit = 65507;
constexpr std::uint32_t kProcFsInfo = 19;

class NfsDatagram : public MountedExport {
  protected:
    // The mount over TCP opened the gate for this address; the calls go over UDP.
    RpcClient udp_{daemon_.Client(Transport::Udp)};
};

TEST_F(NfsDatagram, ReadsOfAnySizeAreAnsweredWithinOneDatagram) {
    const Bytes content = Pattern(2 * 1024 * 1024 + 11, 5);
    ASSERT_TRUE(WriteFile(Path("film.mkv"), content));
    const std::uint32_t file = Lookup(root_, "film.mkv");
    ASSERT_NE(file, 0u);
    for (const std::uint32_t count : {32768u, 65536u, 1048576u}) {
        for (const std::uint64_t offset : {std::uint64_t{0}, std::uint64_t{1001}}) {
            SCOPED_TRACE(std::to_string(count) + " at " + std::to_string(offset));
            RpcReply reply = udp_.NfsCall(
                kProcRead, XdrArgs().PutHandle(file).PutUInt64(offset).PutUInt32(count));
            ASSERT_TRUE(reply.Succeeded()) << reply;
            EXPECT_LE(reply.raw.size(), kDatagramLimit);
            ASSERT_EQ(reply.body.GetUInt32(), kOk);
            ASSERT_TRUE(reply.body.GetBool());
            GetAttributes(reply.body);
            const std::uint32_t got = reply.body.GetUInt32();
            EXPECT_FALSE(reply.body.GetBool()) << "eof";
            const Bytes data = reply.body.GetOpaque();
            ASSERT_EQ(data.size(), got);
            EXPECT_TRUE(data == Slice(content, offset, got));
            if (count <= 32768)
                EXPECT_EQ(got, count);
            else
                EXPECT_GT(got, 60000u) << "as much as fits";
        }
    }
    // A client that asks for 1 MiB at a time still gets the whole file, in datagrams.
    Bytes whole;
    bool eof = false;
    while (!eof) {
        RpcReply reply = udp_.NfsCall(
            kProcRead, XdrArgs().PutHandle(file).PutUInt64(whole.size()).PutUInt32(1048576));
        ASSERT_TRUE(reply.Succeeded()) << reply;
        ASSERT_EQ(reply.body.GetUInt32(), kOk);
        ASSERT_TRUE(reply.body.GetBool());
        GetAttributes(reply.body);
        reply.body.GetUInt32();
        eof = reply.body.GetBool();
        const Bytes data = reply.body.GetOpaque();
        ASSERT_FALSE(data.empty() && !eof);
        whole.insert(whole.end(), data.begin(), data.end());
    }
    EXPECT_TRUE(whole == content);
}

TEST_F(NfsDatagram, ListingsSendFewerEntriesAndTheRestFollows) {
    std::filesystem::create_directory(Path("many"));
    std::set<std::string> made{".", ".."};
    for (int i = 0; i < 600; ++i) {
        const std::string name = std::string(100, 'n') + std::to_string(i);
        ASSERT_TRUE(WriteFile(Path("many/" + name), Pattern(1)));
        made.insert(name);
    }
    const std::uint32_t folder = Lookup(root_, "many");
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "READDIRPLUS" : "READDIR");
        std::set<std::string> listed;
        std::uint64_t cookie = 0, verifier = 0;
        int replies = 0;
        for (bool eof = false; !eof; ++replies) {
            ASSERT_LT(replies, 100);
            XdrArgs args;
            args.PutHandle(folder).PutUInt64(cookie).PutUInt64(verifier).PutUInt32(1048576);
            if (plus)
                args.PutUInt32(1048576);
            RpcReply reply = udp_.NfsCall(plus ? kProcReadDirPlus : kProcReadDir, args);
            ASSERT_TRUE(reply.Succeeded()) << reply;
            EXPECT_LE(reply.raw.size(), kDatagramLimit);
            XdrDecoder& in = reply.body;
            ASSERT_EQ(in.GetUInt32(), kOk);
            ASSERT_TRUE(in.GetBool());
            GetAttributes(in);
            verifier = in.GetUInt64();
            while (in.Ok() && in.GetBool()) {
                in.GetUInt64();
                EXPECT_TRUE(listed.insert(in.GetString(1024)).second) << "listed twice";
                cookie = in.GetUInt64();
                if (plus) {
                    if (in.GetBool())
                        GetAttributes(in);
                    if (in.GetBool())
                        in.GetOpaque(64);
                }
            }
            eof = in.GetBool();
            ASSERT_TRUE(in.AtEnd());
        }
        EXPECT_GT(replies, 1);
        EXPECT_EQ(listed, made);
    }
}

TEST_F(NfsDatagram, FsInfoOffersSizesThatFitADatagram) {
    RpcReply reply = udp_.NfsCall(kProcFsInfo, XdrArgs().PutHandle(root_));
    ASSERT_TRUE(reply.Succeeded()) << reply;
    XdrDecoder& in = reply.body;
    ASSERT_EQ(in.GetUInt32(), kOk);
    ASSERT_TRUE(in.GetBool());
    GetAttributes(in);
    const std::uint32_t rtmax = in.GetUInt32(), rtpref = in.GetUInt32();
    in.GetUInt32(); // rtmult
    const std::uint32_t wtmax = in.GetUInt32(), wtpref = in.GetUInt32();
    in.GetUInt32(); // wtmult
    const std::uint32_t dtpref = in.GetUInt32();
    EXPECT_TRUE(in.Ok());
    for (const std::uint32_t size : {rtmax, rtpref, wtmax, wtpref, dtpref})
        EXPECT_EQ(size, 32768u);
}

} // namespace
} // namespace rpctest::nfsdata
