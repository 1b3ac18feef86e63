// The session controller against a scripted player: fake ticks (timer events), a fake control
// socket and a fake LAN answering discovery.
#include "manager/core/SessionController.h"

#include <gtest/gtest.h>

#include "common/text/DebugPrint.h"
#include "tests/support/ManagerFakes.h"

namespace manager {
namespace {

using testing::Address;
using testing::Datagram;
using testing::FakePort;

const MacAddress kMac = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};

// A discovery answer to `request` from a player of the given freeness.
std::vector<std::uint8_t> DiscoveryAnswer(const std::vector<std::uint8_t>& request,
                                          std::uint16_t connectInform) {
    std::uint32_t token = 0;
    GetU32(request, 8, token);
    std::vector<std::uint8_t> a;
    PutU32(a, 0);
    PutU16(a, 19);
    PutU16(a, 0);
    PutU32(a, ~token);
    PutU32(a, 1);
    for (int i = 12; i < 20; ++i)
        a.push_back(request[static_cast<std::size_t>(i)]);
    PutU16(a, connectInform);
    PutU16(a, 0);
    PutU32(a, 0);
    for (const std::string text : {"Kestro PC Mode ACK", "KP-1", "Den"}) {
        a.insert(a.end(), text.begin(), text.end());
        a.push_back(0);
    }
    const std::size_t length = a.size() - 8;
    a[6] = static_cast<std::uint8_t>(length);
    a[7] = static_cast<std::uint8_t>(length >> 8);
    return a;
}

struct Rig {
    FakePort port;
    SessionController c{port};
    text::DebugSink previousSink = text::SetDebugSink([](std::u16string_view) {});
    ~Rig() { text::SetDebugSink(previousSink); }
    Rig() {
        port.hostAddress = Address(192, 0, 2, 1);
        port.adapters = {platform::AdapterInfo{
            "eth0", {kMac.begin(), kMac.end()}, {{"192.0.2.1", "255.255.255.0"}}}};
        port.onDatagramSent = [this](const Datagram& sent) {
            port.Arrive(DiscoveryAnswer(sent.bytes, 0), Address(192, 0, 2, 7), 5);
        };
    }
    // The hand-off of `folder`, acknowledged by the server, and the tick that follows.
    void HandOffAcked(std::u16string folder = u"D:\\Media 100%") {
        port.handOffBlock = true;
        port.handOffFolder = std::move(folder);
        c.OnHandOffMessage(0, 0);
        c.OnServerMessage(0, 0);
        c.OnTimer(kServerWaitTimer);
    }
    testing::StreamLog& Stream() { return *port.stream; }
    void Answer(std::uint32_t result) {
        Stream().incoming.push_back(BuildAnswer(Stream().sends.back(), result));
        c.OnSocketEvent(Stream().id, FD_READ_EVENT, 0);
    }
    // cmd and subCmd of each packet sent on the connection.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> Sent() {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const auto& s : Stream().sends) {
            PacketHeader h;
            std::uint32_t sub = 0;
            ReadHeader(s, h);
            GetU32(s, kPacketHeaderSize, sub);
            out.emplace_back(h.cmd, sub);
        }
        return out;
    }
};

TEST(SessionController, HandOffWithAccessCodeConnectsThenUpdatesAssignsAndPlaysInOrder) {
    Rig r;
    r.HandOffAcked();
    EXPECT_EQ(r.port.storedRoots, std::vector<std::u16string>{u"D:\\Media 100%"});
    EXPECT_EQ(r.port.logClears, 1); // after "New share: ..."
    EXPECT_TRUE(r.port.Logged(u"Set to Server..."));
    EXPECT_TRUE(r.port.Logged(u"Set Server: OK!"));
    ASSERT_TRUE(r.c.SequenceRunning());
    EXPECT_TRUE(r.c.PlayAfterConnect());
    EXPECT_EQ(r.port.fieldName, u"Den");
    r.c.OnTimer(kSequenceTimer); // step 1: connect 0
    r.Answer(101);
    r.c.OnTimer(kSequenceTimer);
    ASSERT_EQ(r.port.prompts.size(), 1u);
    EXPECT_FALSE(r.port.timers[kSequenceTimer]);
    EXPECT_EQ(r.port.prompts[0].display.addressText, u"192.0.2.7");
    r.c.OnAccessCodeEntered(r.port.prompts[0].ticket, true, "12%4567890");
    EXPECT_TRUE(r.port.timers[kSequenceTimer]);
    const std::vector<std::uint8_t>& withCode = r.Stream().sends.back();
    EXPECT_EQ(std::string(withCode.begin() + 16 + 8, withCode.begin() + 16 + 16), "12%45678");
    r.Answer(0);
    r.c.OnTimer(kSequenceTimer); // update
    r.c.OnTimer(kSequenceTimer); // nothing before the answer
    r.Answer(0);
    r.c.OnTimer(kSequenceTimer); // assign
    r.Answer(0);
    r.c.OnTimer(kSequenceTimer); // play
    r.Answer(0);
    r.c.OnTimer(kSequenceTimer);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {REQ_ConnectKestro, 0},
        {REQ_ConnectKestro, 2},
        {REQ_UpdateFileList, 3},
        {REQ_AssignFileIndex, 1},
        {REQ_PlayCtrl, KEY_PLAY}};
    EXPECT_EQ(r.Sent(), expected);
    EXPECT_TRUE(r.port.Logged(u"Connect OP Complete."));
    EXPECT_TRUE(r.port.Logged(u"Play OP Complete."));
    EXPECT_TRUE(r.port.Logged(u"Timer_0: complete=0x1,error=0x0"));
    EXPECT_FALSE(r.c.SequenceRunning());
    EXPECT_TRUE(r.port.errorBoxes.empty());
}

TEST(SessionController, SilentPlayerGetsElevenRequestsAndCodeTwoAtTick201) {
    Rig r;
    r.HandOffAcked();
    r.c.OnTimer(kSequenceTimer);
    for (int tick = 1; tick <= 200; ++tick)
        r.c.OnTimer(kSequenceTimer);
    EXPECT_EQ(r.Stream().sends.size(), 11u);
    EXPECT_TRUE(r.port.errorBoxes.empty());
    r.c.OnTimer(kSequenceTimer);
    ASSERT_EQ(r.port.errorBoxes.size(), 1u);
    EXPECT_EQ(r.port.errorBoxes[0].text, u"Fail to connect with device. (Code:2,f0000000)\n");
    EXPECT_FALSE(r.port.timers[kSequenceTimer]);
    r.c.OnErrorBoxClosed(r.port.errorBoxes[0].ticket);
    EXPECT_EQ(r.Sent().back(), std::make_pair(REQ_ConnectKestro, kConnectClose));
    EXPECT_TRUE(r.Stream().closed);
    EXPECT_FALSE(r.c.SequenceRunning());
}

TEST(SessionController, FailuresAtTheNextTickWithTheirTexts) {
    struct Case {
        std::uint32_t first, second;
        std::u16string text;
    };
    for (const Case& k : {Case{1, 0, u"Device is busy. (Code:2)\n"},
                          Case{2, 0, u"Unable to connect with device. (Code:2)\n"},
                          Case{101, 102, u"Incorrect Pin Code. (Code:3)\n"},
                          Case{101, 103, u"Connection timeout. (Code:3)\n"}}) {
        Rig r;
        r.HandOffAcked();
        r.c.OnTimer(kSequenceTimer);
        r.Answer(k.first);
        if (k.first == 101) {
            r.c.OnTimer(kSequenceTimer);
            r.c.OnAccessCodeEntered(r.port.prompts.at(0).ticket, false, {});
            // Cancelled: eight zero bytes as the code.
            const std::vector<std::uint8_t>& sent = r.Stream().sends.back();
            EXPECT_EQ(std::vector<std::uint8_t>(sent.begin() + 24, sent.begin() + 32),
                      std::vector<std::uint8_t>(8, 0));
            r.Answer(k.second);
        }
        r.c.OnTimer(kSequenceTimer);
        ASSERT_EQ(r.port.errorBoxes.size(), 1u);
        EXPECT_EQ(r.port.errorBoxes[0].text, k.text);
        EXPECT_EQ(r.port.JoinedEffects().find("hide main") != std::string::npos, k.second == 103);
    }
}

TEST(SessionController, StaleErrorBoxDoesNotEndTheSessionStartedWhileItWasOpen) {
    Rig r;
    r.HandOffAcked();
    r.c.OnTimer(kSequenceTimer);
    r.Answer(1);
    r.c.OnTimer(kSequenceTimer);
    ASSERT_EQ(r.port.errorBoxes.size(), 1u);
    const DialogTicket oldBox = r.port.errorBoxes[0].ticket;
    // Inside the box's modal loop: an acknowledged hand-off starts a new session.
    r.HandOffAcked(u"E:\\Other");
    ASSERT_TRUE(r.c.SequenceRunning());
    const auto newStream = r.port.stream;
    r.c.OnErrorBoxClosed(oldBox);
    EXPECT_TRUE(r.c.SequenceRunning());
    EXPECT_FALSE(newStream->closed);
    EXPECT_TRUE(r.port.timers[kSequenceTimer]);
}

TEST(SessionController, HandOffDecisions) {
    Rig r;
    r.c.OnHandOffMessage(1, 0);
    EXPECT_EQ(r.port.handOffReads, 0);
    r.port.errorBoxOpen = true;
    r.c.OnHandOffMessage(0, 0);
    EXPECT_EQ(r.port.handOffReads, 0);
    EXPECT_EQ(r.port.JoinedEffects(), "front main");
    r.port.errorBoxOpen = false;
    r.port.handOffBlock = true; // empty path
    r.c.OnHandOffMessage(0, 0);
    EXPECT_TRUE(r.port.Logged(u"New share: "));
    EXPECT_TRUE(r.port.storedRoots.empty());
    r.port.handOffFolder = u"D:\\x";
    r.port.settingsFail = true;
    r.c.OnHandOffMessage(0, 0);
    EXPECT_TRUE(r.port.Logged(u"Fail to set registry!"));
    EXPECT_EQ(r.port.JoinedEffects().find("broadcast"), std::string::npos);
    EXPECT_FALSE(r.port.timers[kServerWaitTimer]);
    // No acknowledgement: 100 ticks wait, the 101st gives up.
    r.port.settingsFail = false;
    r.c.OnHandOffMessage(0, 0);
    EXPECT_TRUE(r.port.timers[kServerWaitTimer]);
    for (int i = 0; i < 100; ++i)
        r.c.OnTimer(kServerWaitTimer);
    EXPECT_TRUE(r.port.errorBoxes.empty());
    r.c.OnTimer(kServerWaitTimer);
    ASSERT_EQ(r.port.errorBoxes.size(), 1u);
    EXPECT_EQ(r.port.errorBoxes[0].text, u"Fail to set Server");
    EXPECT_TRUE(r.port.Logged(u"Set Server: TimeOut!"));
    EXPECT_EQ(r.port.datagrams->sent.size(), 0u);
}

TEST(SessionController, LeavingWhilePlayingStopsThenDisconnects) {
    Rig r;
    r.HandOffAcked();
    r.c.OnTimer(kSequenceTimer);
    r.Answer(0);
    r.c.State().playing = true;
    r.c.OnDestroy();
    const auto sent = r.Sent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], std::make_pair(REQ_PlayCtrl, std::uint32_t{KEY_STOP}));
    EXPECT_EQ(sent.back(), std::make_pair(REQ_ConnectKestro, kConnectClose));
    EXPECT_TRUE(r.Stream().closed);
}

} // namespace
} // namespace manager
