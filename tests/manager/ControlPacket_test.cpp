// Control packets as byte tables: the PC's requests as the player receives them, and the
// answers the PC builds to the player's requests.
#include "manager/core/ControlPacket.h"
#include "manager/core/DeviceControl.h"

#include <gtest/gtest.h>

#include "tests/support/ManagerFakes.h"

namespace manager {
namespace {

using testing::Bytes;
using testing::FakePort;

// A control layer with an open connection whose sends the test reads.
struct Connected {
    FakePort port;
    HostIdentity host;
    DeviceControl control{port, host};
    Connected() {
        host.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
        host.hostNameUtf8 = "pc-\xC3\xA9";
        control.OpenControlConnection(testing::Address(192, 0, 2, 2));
        port.stream->sends.clear();
    }
    std::vector<std::uint8_t> LastSend() const { return port.stream->sends.back(); }
};

TEST(ControlPacket, RequestsHaveTheirByteLayout) {
    Connected c;
    c.control.REQ_PlayCtrl(KEY_PLAY);
    EXPECT_EQ(c.LastSend(), Bytes({3, 0, 0, 0, 0, 0, 0, 0, 0x13, 0, 4, 0, 0, 0, 0, 0}));

    c.control.REQ_GetStatus();
    EXPECT_EQ(c.LastSend(), Bytes({5, 0, 0, 0, 0, 0, 0, 0, 0x13, 0, 16, 0, 1, 0,
                                   0, 0, 0, 0, 0, 0, 0, 0, 0,    0, 0,  0, 0, 0}));

    c.control.REQ_AssignFileIndex(1, 0);
    EXPECT_EQ(c.LastSend(),
              Bytes({2, 0, 0, 0, 0, 0, 0, 0, 0x13, 0, 12, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));

    c.control.REQ_UpdateFileList(3);
    EXPECT_EQ(c.LastSend(), Bytes({4, 0, 0, 0, 0, 0, 0, 0, 0x13, 0, 4, 0, 3, 0, 0, 0}));
}

TEST(ControlPacket, ConnectPayloadCarriesMacCodeAndHostName) {
    Connected c;
    // An 8-character code fills offsets 8-15 with no terminator; the name starts at 16.
    c.control.REQ_ConnectKestro(kConnectWithCode, c.host.mac, "12%4abcdXYZ");
    EXPECT_EQ(c.LastSend(), Bytes({1,    0,    0,    0,    0,    0,    0,   0,
                                   0x13, 0,    26,   0,    2,    0,    0,   0,   // header
                                   0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0,   0,   // MAC, zero
                                   '1',  '2',  '%',  '4',  'a',  'b',  'c', 'd', // code
                                   'p',  'c',  '-',  0xC3, 0xA9, 0}));           // name, zero
    // Without subCmd 2 the code field stays zero.
    c.control.REQ_ConnectKestro(kConnectOpen, c.host.mac, "1234");
    const auto open = c.LastSend();
    ASSERT_EQ(open.size(), 16u + 17u + 5u);
    EXPECT_EQ(std::vector<std::uint8_t>(open.begin() + 24, open.begin() + 32),
              std::vector<std::uint8_t>(8, 0));
}

TEST(ControlPacket, AnswersSwapTheHalvesAndEchoThePayload) {
    const auto request =
        Bytes({0, 0, 2, 0x80, 0, 0, 0, 0, 0x13, 0, 8, 0, 9, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0xA4});
    EXPECT_EQ(BuildAnswer(request, 200),
              Bytes({2,   0x80, 0, 0, 0, 0, 0, 0, 0x13, 0,    12,   0,
                     200, 0,    0, 0, 9, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0xA4}));
    // The largest request the PC takes (2064 bytes) is answered with 2068.
    std::vector<std::uint8_t> largest =
        BuildPacket(CTRL_REQ_GETNEXTFILE_PC, 5, std::vector<std::uint8_t>(2048, 0x5A));
    ASSERT_EQ(largest.size(), kMaxPacketSize);
    const auto answer = BuildAnswer(largest, 200);
    ASSERT_EQ(answer.size(), 2068u);
    EXPECT_EQ(answer[10] | (answer[11] << 8), 2056);
    EXPECT_EQ(answer.back(), 0x5A);
    EXPECT_EQ(SwapHalves(REQ_ConnectKestro), CTRL_ACK_PC_CONNECT);
    EXPECT_EQ(SwapHalves(CTRL_REQ_CONNECT_PC), 0x00008001u);
}

} // namespace
} // namespace manager
