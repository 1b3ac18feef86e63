// XDR buffers and codec: growth and limit, bounds-checked reads, padding, composites, times.
#include "server/rpc/XdrCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace rpc {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A request buffer holding exactly `bytes` (allocated to that size, so that AddressSanitizer
// sees any read past the end).
void Fill(XdrBuffer& buffer, const Bytes& bytes) {
    ASSERT_TRUE(SetCapacity(buffer, static_cast<std::uint32_t>(bytes.size()), 1));
    if (!bytes.empty())
        std::memcpy(buffer.data, bytes.data(), bytes.size());
    buffer.Reset(static_cast<std::uint32_t>(bytes.size()));
}

Bytes Written(const XdrBuffer& buffer, std::uint32_t from = 0) {
    return Bytes(buffer.data + from, buffer.data + buffer.length);
}

// --- Growth and the message limit ---

TEST(XdrBufferGrowth, GrowsInStepsOf10240AndKeepsTheContents) {
    XdrBuffer buffer;
    XdrWriter writer(buffer);
    ASSERT_TRUE(writer.WriteUInt32(0x01020304));
    EXPECT_EQ(buffer.capacity, 10240u);
    const Bytes filler(10240 - 4, 0x55);
    ASSERT_TRUE(writer.WriteBytes(filler.data(), static_cast<std::uint32_t>(filler.size())));
    EXPECT_EQ(buffer.length, 10240u);
    EXPECT_EQ(buffer.capacity, 10240u);
    ASSERT_TRUE(writer.WriteUInt32(0xAABBCCDD));
    EXPECT_EQ(buffer.capacity, 20480u);
    EXPECT_EQ(buffer.length, 10244u);
    EXPECT_EQ(Bytes(buffer.data, buffer.data + 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(buffer.data[10239], 0x55);
    EXPECT_EQ(Bytes(buffer.data + 10240, buffer.data + 10244), (Bytes{0xAA, 0xBB, 0xCC, 0xDD}));
}

TEST(XdrBufferGrowth, SetCapacityKeepsAtMostLengthAndZeroFrees) {
    XdrBuffer buffer(true);
    ASSERT_TRUE(SetCapacity(buffer, 100, 4096));
    EXPECT_EQ(buffer.capacity, 4096u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data) % 4096, 0u) << "page aligned";
    std::memset(buffer.data, 0x11, 16);
    buffer.length = 16;
    ASSERT_TRUE(SetCapacity(buffer, 8192, 4096));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data) % 4096, 0u);
    EXPECT_EQ(Bytes(buffer.data, buffer.data + 16), Bytes(16, 0x11));
    // A smaller request keeps the larger buffer.
    ASSERT_TRUE(SetCapacity(buffer, 10, 1));
    EXPECT_EQ(buffer.capacity, 8192u);
    ASSERT_TRUE(SetCapacity(buffer, 0, 1));
    EXPECT_EQ(buffer.capacity, 0u);
    EXPECT_EQ(buffer.data, nullptr);
}

TEST(XdrBufferGrowth, WriteThatWouldPassTheLimitFailsAndWritesNothing) {
    ASSERT_EQ(kMessageLimit, 10485760u);
    XdrBuffer buffer;
    XdrWriter writer(buffer);
    const Bytes big(kMessageLimit - 8, 0);
    ASSERT_TRUE(writer.WriteBytes(big.data(), static_cast<std::uint32_t>(big.size())));
    EXPECT_EQ(buffer.capacity, kMessageLimit); // 1024 steps of 10240
    ASSERT_TRUE(writer.WriteUInt32(0x01020304));
    ASSERT_EQ(buffer.length, kMessageLimit - 4);
    std::memset(buffer.data + buffer.length, 0xEE, 4); // the last four bytes, not yet written

    const std::uint8_t five[5] = {1, 2, 3, 4, 5};
    EXPECT_FALSE(writer.WriteUInt64(7));
    EXPECT_FALSE(writer.WriteBytes(five, 5)) << "5 bytes and 3 of padding pass the limit";
    EXPECT_FALSE(writer.WriteBytes(five, 0xFFFFFFFFu)) << "length arithmetic must not wrap";
    EXPECT_EQ(writer.Reserve(0xFFFFFFFDu), nullptr);
    EXPECT_EQ(buffer.length, kMessageLimit - 4);
    EXPECT_EQ(Bytes(buffer.data + buffer.length, buffer.data + kMessageLimit), Bytes(4, 0xEE));
    EXPECT_EQ(buffer.capacity, kMessageLimit);

    // Exactly up to the limit is fine.
    ASSERT_TRUE(writer.WriteUInt32(0x0A0B0C0D));
    EXPECT_EQ(buffer.length, kMessageLimit);
    EXPECT_FALSE(writer.WriteBool(true));
    EXPECT_EQ(buffer.length, kMessageLimit);
}

// --- Reading ---

TEST(XdrReader, ReadBytesSkipsThePadding) {
    XdrBuffer buffer;
    Fill(buffer, {'a', 'b', 'c', 'd', 'e', 0, 0, 0, 0, 0, 0, 9});
    XdrReader reader(buffer);
    char text[5];
    ASSERT_TRUE(reader.ReadBytes(text, 5));
    EXPECT_EQ(std::string(text, 5), "abcde");
    EXPECT_EQ(buffer.position, 8u);
    std::uint32_t value = 0;
    ASSERT_TRUE(reader.ReadUInt32(value));
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(reader.Remaining(), 0u);
}

TEST(XdrReader, PaddingCutOffAtTheEndLeavesTheCursorAtTheEnd) {
    XdrBuffer buffer;
    Fill(buffer, {'a', 'b', 'c', 'd', 'e', 0});
    XdrReader reader(buffer);
    char text[5];
    ASSERT_TRUE(reader.ReadBytes(text, 5));
    EXPECT_EQ(buffer.position, 6u);
    EXPECT_EQ(reader.Remaining(), 0u);
    std::uint32_t value = 0;
    EXPECT_FALSE(reader.ReadUInt32(value));
}

TEST(XdrReader, NumbersAndBooleans) {
    XdrBuffer buffer;
    Fill(buffer, {0, 0, 0,    1,    0,    0,    0,    2, 0, 0, 0, 0, 0, 0,
                  0, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 1});
    XdrReader reader(buffer);
    std::uint64_t wide = 0;
    ASSERT_TRUE(reader.ReadUInt64(wide));
    EXPECT_EQ(wide, 4294967298ull);
    bool flag = true;
    ASSERT_TRUE(reader.ReadBool(flag));
    EXPECT_FALSE(flag);
    ASSERT_TRUE(reader.ReadBool(flag));
    EXPECT_TRUE(flag) << "any non-zero word is true";
    std::uint32_t word = 0;
    ASSERT_TRUE(reader.ReadUInt32(word));
    EXPECT_EQ(word, 0xFFFFFFFFu);
    ASSERT_TRUE(reader.ReadUInt64(wide));
    EXPECT_EQ(wide, 0x8000000000000001ull);
}

TEST(XdrReader, TruncatedInputFailsWithoutMovingOrReadingPastTheEnd) {
    for (std::size_t size = 0; size < 8; ++size) {
        XdrBuffer buffer;
        Fill(buffer, Bytes(size, 0x7F));
        XdrReader reader(buffer);
        std::uint64_t wide = 0;
        EXPECT_FALSE(reader.ReadUInt64(wide)) << size;
        EXPECT_EQ(buffer.position, 0u);
        std::uint8_t bytes[8];
        EXPECT_FALSE(reader.ReadBytes(bytes, static_cast<std::uint32_t>(size + 1))) << size;
        EXPECT_FALSE(reader.ReadBytes(bytes, 0xFFFFFFFFu)) << size;
        const std::uint8_t* at = nullptr;
        EXPECT_FALSE(reader.ReadInPlace(at, 0xFFFFFFFCu)) << size;
        EXPECT_EQ(buffer.position, 0u);
        if (size < 4) {
            std::uint32_t word = 0;
            bool flag = false;
            EXPECT_FALSE(reader.ReadUInt32(word)) << size;
            EXPECT_FALSE(reader.ReadBool(flag)) << size;
        }
    }
    // A cursor already past the length (a caller's mistake) reads nothing.
    XdrBuffer buffer;
    Fill(buffer, Bytes(8, 0));
    buffer.position = 12;
    XdrReader reader(buffer);
    std::uint32_t word = 0;
    EXPECT_FALSE(reader.ReadUInt32(word));
}

// --- Writing ---

TEST(XdrWriter, BytesArePaddedWithZeros) {
    XdrBuffer buffer;
    ASSERT_TRUE(SetCapacity(buffer, 64, 1));
    std::memset(buffer.data, 0xCC, 64); // what a reused reply buffer may hold
    buffer.Reset(4);                    // a TCP reply starts after the record mark slot
    XdrWriter writer(buffer);
    const std::uint8_t five[5] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(writer.WriteBytes(five, 5));
    EXPECT_EQ(Written(buffer, 4), (Bytes{1, 2, 3, 4, 5, 0, 0, 0}));
    ASSERT_TRUE(writer.WriteBytes(five, 0));
    EXPECT_EQ(buffer.length, 12u);
    std::uint8_t* at = writer.Reserve(2);
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(at, buffer.data + 12);
    EXPECT_EQ(Bytes(buffer.data + 14, buffer.data + 16), (Bytes{0, 0}));
    EXPECT_EQ(buffer.length, 16u);
}

TEST(XdrWriter, NumbersAreBigEndian) {
    XdrBuffer buffer;
    XdrWriter writer(buffer);
    ASSERT_TRUE(writer.WriteUInt64(4294967298ull));
    ASSERT_TRUE(writer.WriteUInt32(0xDEADBEEF));
    ASSERT_TRUE(writer.WriteBool(true));
    ASSERT_TRUE(writer.WriteBool(false));
    EXPECT_EQ(Written(buffer),
              (Bytes{0, 0, 0, 1, 0, 0, 0, 2, 0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 1, 0, 0, 0, 0}));
    writer.Truncate(8);
    EXPECT_EQ(writer.Length(), 8u);
}

} // namespace
} // namespace rpc
