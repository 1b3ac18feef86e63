// Discovery datagrams as byte tables: the 42-byte request and each check of an answer.
#include "manager/core/DiscoveryPacket.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/ManagerFakes.h"

namespace manager {
namespace {

using testing::Bytes;

constexpr std::uint32_t kTick = 0x01020304;
const MacAddress kMac = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};

// A well-formed answer to the request of kTick and kMac; `length` follows the content unless
// given.
std::vector<std::uint8_t> Answer(std::string product = "KP-100", std::string device = "Den",
                                 int length = -1) {
    std::vector<std::uint8_t> a = Bytes({0, 0, 0, 0, 19, 0, 0, 0});
    PutU32(a, kTick);
    PutU32(a, 7);
    PutBytes(a, kMac);
    PutU16(a, 0);
    PutU16(a, 1);          // connectInform
    PutU16(a, 0x1102);     // activeInform
    PutU32(a, 0x44332211); // workStatus
    const std::string text = "Kestro PC Mode ACK";
    a.insert(a.end(), text.begin(), text.end());
    a.push_back(0);
    a.insert(a.end(), product.begin(), product.end());
    a.push_back(0);
    a.insert(a.end(), device.begin(), device.end());
    a.push_back(0);
    const int l = length >= 0 ? length : static_cast<int>(a.size()) - 8;
    a[6] = static_cast<std::uint8_t>(l);
    a[7] = static_cast<std::uint8_t>(l >> 8);
    return a;
}

AnswerCheck Check(const std::vector<std::uint8_t>& datagram, bool macEcho = true) {
    SearchAnswer answer;
    return CheckSearchAnswer(datagram, kTick, kMac, macEcho, answer);
}

TEST(DiscoveryPacket, SearchRequestIs42Bytes) {
    EXPECT_EQ(
        BuildSearchRequest(kTick, kMac),
        Bytes(
            {0,    0,    0,    0,    19,   0,    34,  0,   0xFB, 0xFC, 0xFD, 0xFE, // token = ~tick
             0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0,   0,                           // MAC, zeros
             'S',  'e',  'a',  'r',  'c',  'h',  ' ', 'K', 'e',  's',  't',  'r',
             'o',  ' ',  'P',  'C',  ' ',  'M',  'o', 'd', 'e',  0}));
}

TEST(DiscoveryPacket, EachCheckFailsAlone) {
    ASSERT_EQ(Check(Answer()), AnswerCheck::Ok);
    auto changed = [](std::size_t offset, std::uint8_t value) {
        auto a = Answer();
        a[offset] = value;
        return a;
    };
    EXPECT_EQ(Check(changed(2, 1)), AnswerCheck::Reserved);
    EXPECT_EQ(Check(changed(4, 18)), AnswerCheck::Tag);
    EXPECT_EQ(Check(Answer("KP", "Den", 19)), AnswerCheck::Length);
    EXPECT_EQ(Check(Answer("KP", "Den", 1024)), AnswerCheck::Length);
    // The answer echoes the raw tick; the request's own token is not good enough.
    auto token = Answer();
    token[8] = 0xFB, token[9] = 0xFC, token[10] = 0xFD, token[11] = 0xFE;
    EXPECT_EQ(Check(token), AnswerCheck::Token);
    auto zero = Answer();
    std::fill(zero.begin() + 12, zero.begin() + 16, 0);
    EXPECT_EQ(Check(zero), AnswerCheck::NonZero);
    EXPECT_EQ(Check(changed(17, 0)), AnswerCheck::MacEcho);
    EXPECT_EQ(Check(changed(22, 1)), AnswerCheck::MacEcho);
    EXPECT_EQ(Check(changed(17, 0), false), AnswerCheck::Ok); // the refresh skips the echo
    // More characters before the zero, or a short datagram, fail the text check.
    EXPECT_EQ(Check(changed(50, '!')), AnswerCheck::Text);
    auto cut = Answer();
    cut.resize(45);
    EXPECT_EQ(Check(cut), AnswerCheck::Text);
    EXPECT_EQ(Check(Bytes({0, 0, 0, 0, 19})), AnswerCheck::Tag);
}

TEST(DiscoveryPacket, NamesEndAtZeroAnnouncedLengthOrDatagramEnd) {
    SearchAnswer answer;
    ASSERT_EQ(CheckSearchAnswer(Answer("KP-\xC3\xA9", "Den"), kTick, kMac, true, answer),
              AnswerCheck::Ok);
    EXPECT_EQ(answer.productName, "KP-\xC3\xA9");
    EXPECT_EQ(answer.deviceName, "Den");
    EXPECT_EQ(answer.connectInform, 1);
    EXPECT_EQ(answer.activeInform, 0x1102);
    EXPECT_EQ(answer.workStatus, 0x44332211u);

    // L = 20 passes and forces byte 27, the top byte of activeInform, to 0.
    ASSERT_EQ(CheckSearchAnswer(Answer("KP", "Den", 20), kTick, kMac, true, answer),
              AnswerCheck::Ok);
    EXPECT_EQ(answer.activeInform, 0x0002);

    // The byte at 7 + L cuts the device name.
    auto longer = Answer("KP", "Denmark");
    longer[6] = static_cast<std::uint8_t>(longer.size() - 8 - 5);
    ASSERT_EQ(CheckSearchAnswer(longer, kTick, kMac, true, answer), AnswerCheck::Ok);
    EXPECT_EQ(answer.deviceName, "De");

    // A full 1056-byte datagram without a zero after the product name: the device name
    // stops where the datagram ends, not past it.
    auto full = Answer("KP", "");
    full.pop_back();
    full.resize(kMaxAnswerSize, 'x');
    full[6] = 0xFF, full[7] = 0x03; // L = 1023: byte 1030 forced to 0
    ASSERT_EQ(CheckSearchAnswer(full, kTick, kMac, true, answer), AnswerCheck::Ok);
    EXPECT_EQ(answer.deviceName, std::string(1030 - 54, 'x'));
    ASSERT_EQ(CheckSearchAnswer(std::span(full).first(1000), kTick, kMac, true, answer),
              AnswerCheck::Ok);
    EXPECT_EQ(answer.deviceName, std::string(1000 - 54, 'x'));
}

} // namespace
} // namespace manager
