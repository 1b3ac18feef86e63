// The NFS composites over the XDR codec: sattr3, wcc_data, NFS times.
#include "server/nfs/NfsXdr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace nfs {
namespace {

using rpc::XdrBuffer;
using rpc::XdrReader;
using rpc::XdrWriter;
using Bytes = std::vector<std::uint8_t>;

// A request buffer holding exactly `bytes` (allocated to that size, so that AddressSanitizer
// sees any read past the end).
void Fill(XdrBuffer& buffer, const Bytes& bytes) {
    ASSERT_TRUE(rpc::SetCapacity(buffer, static_cast<std::uint32_t>(bytes.size()), 1));
    if (!bytes.empty())
        std::memcpy(buffer.data, bytes.data(), bytes.size());
    buffer.Reset(static_cast<std::uint32_t>(bytes.size()));
}

Bytes Concat(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes Written(const XdrBuffer& buffer, std::uint32_t from = 0) {
    return Bytes(buffer.data + from, buffer.data + buffer.length);
}

// --- sattr3 ---

// mode 0755, uid 1000, gid 100, size 2^32+5, atime SET_TO_CLIENT_TIME (a time follows),
// mtime SET_TO_SERVER_TIME.
const Bytes kFullSetAttributes = {
    0, 0, 0, 1, 0,    0,    0x01, 0xED,             // mode
    0, 0, 0, 1, 0,    0,    0x03, 0xE8,             // uid
    0, 0, 0, 1, 0,    0,    0,    100,              // gid
    0, 0, 0, 1, 0,    0,    0,    1,    0, 0, 0, 5, // size
    0, 0, 0, 2, 0x49, 0xAF, 0xDC, 0x8D, 0, 0, 0, 0, // atime: client time
    0, 0, 0, 1,                                     // mtime: server time
};

TEST(NfsXdrSetAttributes, EveryMemberSet) {
    XdrBuffer buffer;
    Fill(buffer, Concat(kFullSetAttributes, {0xAB, 0xCD, 0xEF, 0x01}));
    XdrReader reader(buffer);
    SetAttributes attributes;
    ASSERT_TRUE(ReadSetAttributes(reader, attributes));
    EXPECT_EQ(buffer.position, kFullSetAttributes.size());
    EXPECT_TRUE(attributes.setMode);
    EXPECT_EQ(attributes.mode, 0755u);
    EXPECT_TRUE(attributes.setUid);
    EXPECT_EQ(attributes.uid, 1000u);
    EXPECT_TRUE(attributes.setGid);
    EXPECT_EQ(attributes.gid, 100u);
    EXPECT_TRUE(attributes.setSize);
    EXPECT_EQ(attributes.size, 4294967301ull);
    EXPECT_TRUE(attributes.setAccessTime);
    EXPECT_TRUE(attributes.accessTimeFromClient);
    EXPECT_EQ(attributes.accessTime.seconds, 0x49AFDC8Du);
    EXPECT_EQ(attributes.accessTime.nanoseconds, 0u);
    EXPECT_TRUE(attributes.setModifyTime);
    EXPECT_FALSE(attributes.modifyTimeFromClient);
}

TEST(NfsXdrSetAttributes, NothingSetAndTheClientTimeDiscriminant) {
    struct Case {
        Bytes bytes;
        std::size_t consumed;
        bool access, modify;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         24,
         false,
         false},
        // mtime how=2: the discriminant and the 8-byte time, 12 bytes for that member.
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
          0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 7, 0, 0, 0, 9},
         32,
         false,
         true},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
          0, 0, 0, 2, 0, 0, 0, 7, 0, 0, 0, 9, 0, 0, 0, 0},
         32,
         true,
         false},
    };
    for (const Case& test : cases) {
        XdrBuffer buffer;
        Fill(buffer, Concat(test.bytes, {0, 0, 0, 1, 0, 0, 0, 1}));
        XdrReader reader(buffer);
        SetAttributes attributes;
        attributes.setMode = true; // stale values must be cleared
        ASSERT_TRUE(ReadSetAttributes(reader, attributes));
        EXPECT_EQ(buffer.position, test.consumed);
        EXPECT_FALSE(attributes.setMode);
        EXPECT_FALSE(attributes.setSize);
        EXPECT_EQ(attributes.setAccessTime, test.access);
        EXPECT_EQ(attributes.setModifyTime, test.modify);
        // The client's time comes with its discriminant: 7 seconds, 9 nanoseconds.
        EXPECT_EQ(attributes.accessTimeFromClient, test.access);
        EXPECT_EQ(attributes.modifyTimeFromClient, test.modify);
        const NfsTime& sent = test.access ? attributes.accessTime : attributes.modifyTime;
        if (test.access || test.modify) {
            EXPECT_EQ(sent.seconds, 7u);
            EXPECT_EQ(sent.nanoseconds, 9u);
        }
    }
}

TEST(NfsXdrSetAttributes, EveryTruncationFails) {
    for (std::size_t size = 0; size < kFullSetAttributes.size(); ++size) {
        XdrBuffer buffer;
        Fill(buffer, Bytes(kFullSetAttributes.begin(), kFullSetAttributes.begin() + size));
        XdrReader reader(buffer);
        SetAttributes attributes;
        EXPECT_FALSE(ReadSetAttributes(reader, attributes)) << "cut at " << size;
        EXPECT_LE(buffer.position, buffer.length);
    }
}

TEST(NfsXdrWriter, WccDataLayout) {
    Fattr3 before{}, after{};
    for (std::size_t i = 0; i < kFattrSize; ++i) {
        before[i] = static_cast<std::uint8_t>(i);
        after[i] = static_cast<std::uint8_t>(0x80 | i);
    }
    XdrBuffer buffer;
    XdrWriter writer(buffer);
    ASSERT_TRUE(WriteWccData(writer, before, after));

    Bytes expected = {0, 0, 0, 1};
    for (int offset : {20, 68, 76}) // size, mtime, ctime of the pre-op attributes
        expected.insert(expected.end(), before.begin() + offset, before.begin() + offset + 8);
    expected.insert(expected.end(), {0, 0, 0, 1});
    expected.insert(expected.end(), after.begin(), after.end());
    ASSERT_EQ(expected.size(), 116u);
    EXPECT_EQ(Written(buffer), expected);
}

// --- Times ---

TEST(NfsXdrTime, FileTimeToNfsTime) {
    struct Case {
        std::uint64_t fileTime;
        std::uint32_t seconds, nanoseconds;
    };
    const Case cases[] = {
        {116444736000000000ull, 0, 0},                 // 1 January 1970
        {116444736000000000ull - 1, 0, 0},             // just before
        {0, 0, 0},                                     // 1601
        {116444736000000001ull, 0, 100},               // one tick after 1970
        {128807356290450000ull, 1236262029, 45000000}, // 5 March 2009 14:07:09.045 UTC
        // The last second that fits, with its last tick.
        {116444736000000000ull + 4294967295ull * 10000000 + 9999999, 4294967295u, 999999900u},
        {159394408960000000ull, 4294967295u, 999999900u}, // 2106: clamped
        {0xFFFFFFFFFFFFFFFFull, 4294967295u, 999999900u},
    };
    for (const Case& test : cases) {
        const NfsTime time = FileTimeToNfsTime(test.fileTime);
        EXPECT_EQ(time.seconds, test.seconds) << test.fileTime;
        EXPECT_EQ(time.nanoseconds, test.nanoseconds) << test.fileTime;
    }
    // And back, for the times clients set: to the 100 ns tick below.
    EXPECT_EQ(NfsTimeToFileTime({1236262029, 45000099}), 128807356290450000ull);
    EXPECT_EQ(NfsTimeToFileTime({0, 0}), 116444736000000000ull);
    EXPECT_EQ(NfsTimeToFileTime({4294967295u, 999999900u}),
              116444736000000000ull + 4294967295ull * 10000000 + 9999999);
    std::uint8_t stored[8];
    StoreNfsTime(stored, {1236262029, 45000000});
    EXPECT_EQ(rpc::LoadBigEndian64(stored), (std::uint64_t{1236262029} << 32) | 45000000u);
}

} // namespace
} // namespace nfs
