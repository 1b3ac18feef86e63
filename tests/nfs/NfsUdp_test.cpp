// NFS over UDP at the datagram's limit: every READ, READDIRPLUS and FSINFO is answered within one
// datagram, however much the client asks for, so that a client never retransmits in vain.
#include <gtest/gtest.h>

#include <set>

#include "tests/support/NfsDataTest.h"
#include "tests/support/RobustnessCalls.h"

namespace rpctest::nfsdata {
namespace {

constexpr std::uint32_t kProcFsInfo = 19;
// The largest UDP payload over IPv4, less the RPC reply header and READ's results before the
// data (accepted reply 24, status 4, post_op_attr 88, count 4, eof 4, data length 4).
constexpr std::uint32_t kDatagramData = 65507 - 128;

class NfsUdp : public MountedExport {
  protected:
    void SetUp() override {
        MountedExport::SetUp();
        udp_.SetTimeoutMs(2000); // a missing reply is the failure, not a slow one
    }

    struct Piece {
        RpcReply reply;
        std::uint32_t status = 0xFFFFFFFFu;
        bool eof = false;
        Bytes data;
    };
    Piece Read(std::uint32_t handle, std::uint64_t offset, std::uint32_t count) {
        Piece piece;
        piece.reply =
            udp_.NfsCall(kProcRead, XdrArgs().PutHandle(handle).PutUInt64(offset).PutUInt32(count));
        if (!piece.reply.Succeeded())
            return piece;
        XdrDecoder& in = piece.reply.body;
        piece.status = in.GetUInt32();
        if (in.GetBool())
            GetAttributes(in);
        if (piece.status != kOk)
            return piece;
        const std::uint32_t answered = in.GetUInt32();
        piece.eof = in.GetBool();
        piece.data = in.GetOpaque();
        if (!in.AtEnd() || piece.data.size() != answered)
            piece.status = 0xFFFFFFFFu;
        return piece;
    }

    RpcClient udp_{daemon_.Client(Transport::Udp)};
};

// 32 KiB fits a datagram; 64 KiB and 1 MiB do not and answer a short count. Read on from each
// answer as a client does, the whole file arrives exact.
TEST_F(NfsUdp, ReadsOfAnyCountAreAnsweredWithExactData) {
    const Bytes content = Pattern(3 * 1048576 + 17, 5);
    ASSERT_TRUE(WriteFile(Path("film.bin"), content));
    const std::uint32_t file = Lookup(root_, "film.bin");
    ASSERT_NE(file, 0u);
    for (std::uint32_t count : {32768u, 65536u, 1048576u}) {
        SCOPED_TRACE(count);
        const Piece first = Read(file, 4096, count);
        if (first.status != kOk) {
            ADD_FAILURE() << "READ of " << count << " over UDP: " << first.reply;
            continue;
        }
        EXPECT_GT(first.data.size(), 0u);
        EXPECT_LE(first.data.size(), count);
        EXPECT_FALSE(first.eof);
        EXPECT_TRUE(first.data == Slice(content, 4096, first.data.size()));

        Bytes whole;
        bool eof = false;
        for (int calls = 0; !eof && calls < 400; ++calls) {
            const Piece piece = Read(file, whole.size(), count);
            ASSERT_EQ(piece.status, kOk) << "at " << whole.size() << ": " << piece.reply;
            ASSERT_TRUE(piece.eof || !piece.data.empty()) << "no progress at " << whole.size();
            whole.insert(whole.end(), piece.data.begin(), piece.data.end());
            eof = piece.eof;
        }
        EXPECT_TRUE(eof);
        EXPECT_TRUE(whole == content) << whole.size() << " of " << content.size() << " bytes";
    }
}

// A listing asked with 1 MiB over UDP answers the entries that fit, each once.
TEST_F(NfsUdp, ReadDirPlusOfAMegabyteIsAnsweredWithTheEntriesThatFit) {
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(WriteFile(Path("a-rather-long-file-name-" + std::to_string(i) + ".mkv"), {}));
    const robust::Listing listing = robust::List(udp_, root_, true, 1048576);
    ASSERT_EQ(listing.status, kOk) << listing.error;
    EXPECT_FALSE(listing.entries.empty());
    EXPECT_LE(listing.raw.size(), 65507u);
    std::set<std::string> names;
    for (const robust::ListedEntry& entry : listing.entries)
        EXPECT_TRUE(names.insert(entry.name).second) << entry.name;
}

// FSINFO over UDP offers transfer sizes whose replies fit one datagram.
TEST_F(NfsUdp, FsinfoOffersSizesThatFitADatagram) {
    RpcReply reply = udp_.NfsCall(kProcFsInfo, XdrArgs().PutHandle(root_));
    ASSERT_TRUE(reply.Succeeded()) << reply;
    XdrDecoder& in = reply.body;
    ASSERT_EQ(in.GetUInt32(), kOk);
    if (in.GetBool())
        GetAttributes(in);
    const std::uint32_t rtmax = in.GetUInt32();
    in.GetUInt32(); // rtpref
    in.GetUInt32(); // rtmult
    const std::uint32_t wtmax = in.GetUInt32();
    in.GetUInt32(); // wtpref
    in.GetUInt32(); // wtmult
    const std::uint32_t dtpref = in.GetUInt32();
    ASSERT_TRUE(in.Ok());
    EXPECT_LE(rtmax, kDatagramData);
    EXPECT_LE(wtmax, kDatagramData);
    EXPECT_LE(dtpref, kDatagramData);
    EXPECT_GT(rtmax, 0u);
    EXPECT_GT(wtmax, 0u);
}

} // namespace
} // namespace rpctest::nfsdata
