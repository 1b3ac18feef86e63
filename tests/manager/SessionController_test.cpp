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
using testing::DiscoveryAnswer;
using testing::FakePort;

const MacAddress kMac = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};

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
            for (const Player& p : players)
                port.Arrive(DiscoveryAnswer(sent.bytes, p.connectInform, p.name),
                            Address(192, 0, 2, p.host), 5);
        };
    }
    struct Player {
        std::uint8_t host;
        std::uint16_t connectInform;
        std::string name;
    };
    std::vector<Player> players = {{7, 0, "Den"}};
    // The hand-off of `folder`, acknowledged by the server, and the tick that follows.
    void HandOffAcked(std::u16string folder = u"D:\\Media 100%") {
        port.handOffBlock = true;
        port.handOffFolder = std::move(folder);
        c.OnHandOffMessage(0, 0);
        c.OnServerMessage(0, 0);
        c.OnTimer(kServerWaitTimer);
    }
    // Through the hand-off to the first connect request, answered with `result`.
    void ConnectAnswered(std::uint32_t result) {
        HandOffAcked();
        c.OnTimer(kSequenceTimer);
        Answer(result);
    }
    // Ticks of timer 0 until the step changes or `limit` ticks have passed.
    void TickSequence(int count) {
        for (int i = 0; i < count; ++i)
            c.OnTimer(kSequenceTimer);
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

TEST(SessionController, TimeOutsOfStepsThreeToSixAndWhatTheyKeep) {
    struct Case {
        std::uint32_t step; // the step left unanswered (or answered with `late`)
        std::uint32_t late; // kResultPending: no answer at all
        std::u16string text;
        bool disconnects;
    };
    for (const Case& k :
         {Case{3, kResultPending, u"Fail to connect with device. (Code:3,f0000000)\n", true},
          Case{4, kResultPending, u"Command timeout. (Code:4,f0000000)\n", true},
          Case{4, 5, u"Command timeout. (Code:4,5)\n", false},
          Case{5, kResultPending, u"Command timeout. (Code:5,f0000000)\n", false},
          Case{6, 2, u"Command timeout. (Code:6,2)\n", false}}) {
        SCOPED_TRACE(k.step);
        Rig r;
        r.ConnectAnswered(k.step == 3 ? 101 : 0);
        if (k.step == 3) {
            r.c.OnTimer(kSequenceTimer);
            r.c.OnAccessCodeEntered(r.port.prompts.at(0).ticket, true, "1234");
        }
        for (std::uint32_t step = 4; step < k.step; ++step) {
            r.c.OnTimer(kSequenceTimer);
            r.Answer(0);
        }
        if (k.step != 3) // the prompt's outcome sent step 3's request
            r.c.OnTimer(kSequenceTimer);
        ASSERT_EQ(r.c.Step(), k.step);
        // A non-zero answer is not acted on: the step waits out its ticks.
        if (k.late != kResultPending)
            r.Answer(k.late);
        r.TickSequence(200);
        EXPECT_TRUE(r.port.errorBoxes.empty());
        r.c.OnTimer(kSequenceTimer);
        ASSERT_EQ(r.port.errorBoxes.size(), 1u);
        EXPECT_EQ(r.port.errorBoxes[0].text, k.text);
        EXPECT_TRUE(
            r.port.Logged(u"Timer_0: complete=0x0,error=0x" + std::u16string(1, u'0' + k.step)));
        r.c.OnErrorBoxClosed(r.port.errorBoxes[0].ticket);
        EXPECT_EQ(r.Stream().closed, k.disconnects);
        EXPECT_FALSE(r.c.SequenceRunning());
        EXPECT_FALSE(r.port.timers[kSequenceTimer]);
    }
}

TEST(SessionController, HandOffOnAnOpenSessionGoesStraightToUpdateAssignPlay) {
    Rig r;
    r.ConnectAnswered(0);
    r.TickSequence(1);
    for (int i = 0; i < 3; ++i) { // update, assign, play
        r.Answer(0);
        r.c.OnTimer(kSequenceTimer);
    }
    ASSERT_FALSE(r.c.SequenceRunning());
    ASSERT_TRUE(r.c.State().connected);
    const std::size_t searches = r.port.datagrams->sent.size();
    const auto stream = r.port.stream;
    const std::size_t sends = stream->sends.size();

    r.port.handOffFolder = u"E:\\Second";
    r.c.OnHandOffMessage(0, 0);
    EXPECT_TRUE(r.port.timers[kSessionServerWaitTimer]);
    EXPECT_FALSE(r.port.timers[kServerWaitTimer]);
    r.c.OnTimer(kSessionServerWaitTimer); // no ack yet
    r.c.OnServerMessage(0, 0);
    r.c.OnTimer(kSessionServerWaitTimer);
    EXPECT_TRUE(r.port.Logged(u"Set Server: OK!"));
    EXPECT_FALSE(r.port.timers[kSessionServerWaitTimer]);
    EXPECT_EQ(r.c.Step(), 4u);
    r.Answer(0);
    r.c.OnTimer(kSequenceTimer);
    r.Answer(0);
    r.c.OnTimer(kSequenceTimer);
    r.Answer(0);
    r.c.OnTimer(kSequenceTimer);
    const auto sent = r.Sent();
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> tail(sent.begin() + sends,
                                                                    sent.end());
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {REQ_UpdateFileList, 3}, {REQ_AssignFileIndex, 1}, {REQ_PlayCtrl, KEY_PLAY}};
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(r.port.stream, stream);
    EXPECT_EQ(r.port.datagrams->sent.size(), searches);
    EXPECT_TRUE(r.port.prompts.empty());
    EXPECT_TRUE(r.port.Logged(u"Play OP Complete."));

    // Unacknowledged on the open session: the box, and the session stays.
    r.c.OnHandOffMessage(0, 0);
    for (int i = 0; i <= 100; ++i)
        r.c.OnTimer(kSessionServerWaitTimer);
    ASSERT_EQ(r.port.errorBoxes.size(), 1u);
    EXPECT_EQ(r.port.errorBoxes[0].text, u"Fail to set Server");
    r.c.OnErrorBoxClosed(r.port.errorBoxes[0].ticket);
    EXPECT_FALSE(stream->closed);
    EXPECT_TRUE(r.c.State().connected);
}

TEST(SessionController, AServerThatEndedIsStartedAgainBeforeTheWaitAndTheSessionStays) {
    Rig r;
    r.ConnectAnswered(0);
    r.TickSequence(1);
    for (int i = 0; i < 3; ++i) {
        r.Answer(0);
        r.c.OnTimer(kSequenceTimer);
    }
    ASSERT_TRUE(r.c.State().connected);
    const auto stream = r.port.stream;
    const std::size_t sends = stream->sends.size();

    // Killed: the next hand-off starts it after storing the root, then tells it.
    r.port.serverRunning = false;
    r.port.effects.clear();
    r.port.handOffFolder = u"E:\\After";
    r.c.OnHandOffMessage(0, 0);
    EXPECT_EQ(r.port.JoinedEffects(), "restart server|broadcast|start timer 2");
    EXPECT_EQ(r.port.storedRoots.back(), u"E:\\After");
    EXPECT_TRUE(r.port.Logged(u"Server has ended: restart"));
    EXPECT_TRUE(r.port.timers[kSessionServerWaitTimer]);
    r.c.OnServerMessage(0, 0);
    r.c.OnTimer(kSessionServerWaitTimer);
    EXPECT_TRUE(r.port.Logged(u"Set Server: OK!"));
    for (int i = 0; i < 3; ++i) {
        r.Answer(0);
        r.c.OnTimer(kSequenceTimer);
    }
    const auto sent = r.Sent();
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> tail(sent.begin() + sends,
                                                                    sent.end());
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {REQ_UpdateFileList, 3}, {REQ_AssignFileIndex, 1}, {REQ_PlayCtrl, KEY_PLAY}};
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(r.port.stream, stream);
    EXPECT_FALSE(stream->closed);
    EXPECT_TRUE(r.port.errorBoxes.empty());

    // Running: no restart. Not startable: no broadcast, no wait, no second box (the start
    // code has shown its own), the session stays.
    r.port.effects.clear();
    r.c.OnHandOffMessage(0, 0);
    EXPECT_EQ(r.port.JoinedEffects(), "broadcast|start timer 2");
    r.c.OnServerMessage(0, 0);
    r.c.OnTimer(kSessionServerWaitTimer);
    r.port.serverRunning = false;
    r.port.serverRestarts = false;
    r.port.effects.clear();
    r.c.OnHandOffMessage(0, 0);
    EXPECT_EQ(r.port.JoinedEffects(), "restart server");
    EXPECT_TRUE(r.port.Logged(u"Fail to restart Server!"));
    EXPECT_FALSE(r.port.timers[kSessionServerWaitTimer]);
    EXPECT_TRUE(r.port.errorBoxes.empty());
    EXPECT_FALSE(stream->closed);
}

TEST(SessionController, NewHandOffRestartsTheServerWait) {
    Rig r;
    r.port.handOffBlock = true;
    r.port.handOffFolder = u"D:\\a";
    r.c.OnHandOffMessage(0, 0);
    for (int i = 0; i < 60; ++i)
        r.c.OnTimer(kServerWaitTimer);
    r.port.handOffFolder = u"D:\\b";
    r.c.OnHandOffMessage(0, 0);
    EXPECT_EQ(r.c.ServerTicks(), 0u);
    EXPECT_EQ(r.port.storedRoots, (std::vector<std::u16string>{u"D:\\a", u"D:\\b"}));
    for (int i = 0; i < 100; ++i)
        r.c.OnTimer(kServerWaitTimer);
    EXPECT_TRUE(r.port.errorBoxes.empty());
    r.c.OnTimer(kServerWaitTimer);
    EXPECT_EQ(r.port.errorBoxes.size(), 1u);
}

TEST(SessionController, DeviceListForNoneOrSeveralFreePlayers) {
    // Two free players: the list is shown, the second one chosen.
    {
        Rig r;
        r.players = {{7, 0, "Den"}, {8, 0, "Kitchen"}};
        r.HandOffAcked();
        ASSERT_EQ(r.port.choices.size(), 1u);
        EXPECT_EQ(r.port.choices[0].validCount, 2);
        EXPECT_NE(r.port.JoinedEffects().find("hide popup"), std::string::npos);
        EXPECT_EQ(r.port.stream, nullptr);
        r.c.OnTargetChosen(r.port.choices[0].ticket, false, 1);
        ASSERT_NE(r.port.stream, nullptr);
        EXPECT_EQ(r.Stream().connectedTo, Address(192, 0, 2, 8));
        EXPECT_EQ(r.c.PlayerName(), u"Kitchen");
        EXPECT_TRUE(r.c.SequenceRunning());
        EXPECT_TRUE(r.c.PlayAfterConnect());
        // The same list's outcome again: its sequence has moved on.
        const auto stream = r.port.stream;
        r.c.OnTargetChosen(r.port.choices[0].ticket, true, -1);
        EXPECT_FALSE(stream->closed);
    }
    // Cancelled, and OK with nothing selected: no connection.
    for (const bool cancelled : {true, false}) {
        Rig r;
        r.players = {{7, 0, "Den"}, {8, 0, "Kitchen"}};
        r.HandOffAcked();
        r.c.OnTargetChosen(r.port.choices.at(0).ticket, cancelled, -1);
        EXPECT_EQ(r.port.stream, nullptr);
        EXPECT_FALSE(r.c.SequenceRunning());
        EXPECT_TRUE(r.port.Logged(u"DoDisConnect!!!"));
    }
    // Only busy players: "Connect Server" after "Discovery" shows an empty list.
    {
        Rig r;
        r.players = {{7, 1, "Den"}};
        r.c.OnCommand(kCmdDiscovery);
        r.port.errorBoxes.clear();
        r.c.OnCommand(kCmdConnectServer);
        ASSERT_EQ(r.port.choices.size(), 1u);
        EXPECT_EQ(r.port.choices[0].validCount, 0);
        r.c.OnTargetChosen(r.port.choices[0].ticket, false, -1);
        EXPECT_EQ(r.port.stream, nullptr);
    }
}

TEST(SessionController, EveryDisConnectTriggerEndsTheSequenceAndTheConnection) {
    const std::vector<std::pair<const char*, std::function<void(Rig&)>>> triggers = {
        {"button", [](Rig& r) { r.c.OnCommand(kCmdDisConnect); }},
        {"tray", [](Rig& r) { r.c.OnCommand(kCmdMenuDisconnect); }},
        {"server -1", [](Rig& r) { r.c.OnServerMessage(-1, -1); }},
        {"deactivate", [](Rig& r) { r.c.OnCommand(kCmdDeactivateAndClose); }},
        {"player",
         [](Rig& r) {
             r.Stream().incoming.push_back(
                 BuildPacket(CTRL_REQ_CONNECT_PC, kConnectClose, std::vector<std::uint8_t>(4, 0)));
             r.c.OnSocketEvent(r.Stream().id, FD_READ_EVENT, 0);
         }},
        {"FD_CLOSE", [](Rig& r) { r.c.OnSocketEvent(r.Stream().id, FD_CLOSE_EVENT, 0); }},
    };
    for (const auto& [name, trigger] : triggers) {
        SCOPED_TRACE(name);
        Rig r;
        r.HandOffAcked();
        r.c.OnTimer(kSequenceTimer); // step 2, waiting
        r.c.OnServerMessage(1, 1);   // other values are ignored
        ASSERT_TRUE(r.c.SequenceRunning());
        const auto stream = r.port.stream;
        trigger(r);
        EXPECT_FALSE(r.c.SequenceRunning());
        EXPECT_FALSE(r.port.timers[kSequenceTimer]);
        EXPECT_TRUE(stream->closed);
        EXPECT_NE(r.port.JoinedEffects().find("close prompts"), std::string::npos);
        if (std::string(name) == "deactivate") {
            EXPECT_EQ(r.Sent()[r.Sent().size() - 2],
                      std::make_pair(REQ_ConnectKestro, kConnectDeactivate));
        }
        EXPECT_EQ(r.Sent().back(), std::make_pair(REQ_ConnectKestro, kConnectClose));
        const std::size_t sends = stream->sends.size();
        r.TickSequence(300); // a late tick of a stopped timer does nothing
        EXPECT_EQ(stream->sends.size(), sends);
        EXPECT_TRUE(r.port.errorBoxes.empty());
    }
}

TEST(SessionController, StalePromptOutcomeAfterThePlayerLeft) {
    Rig r;
    r.ConnectAnswered(101);
    r.c.OnTimer(kSequenceTimer);
    ASSERT_EQ(r.port.prompts.size(), 1u);
    const auto stream = r.port.stream;
    // Inside the prompt's modal loop the player closes; DoDisConnect closes the prompt.
    r.c.OnSocketEvent(stream->id, FD_CLOSE_EVENT, 0);
    const std::size_t sends = stream->sends.size();
    r.c.OnAccessCodeEntered(r.port.prompts[0].ticket, true, "1234");
    EXPECT_FALSE(r.port.timers[kSequenceTimer]);
    EXPECT_EQ(stream->sends.size(), sends);
    EXPECT_FALSE(r.c.SequenceRunning());
}

TEST(SessionController, AutoConnectRefusalsAndCommands) {
    Rig r;
    r.port.promptOpen = true;
    r.c.OnCommand(kCmdAutoConnect);
    EXPECT_TRUE(r.port.datagrams->sent.empty());
    EXPECT_TRUE(r.port.effects.empty()); // not even the popup is closed
    r.port.promptOpen = false;
    r.c.OnCommand(kCmdMenuConnect);
    ASSERT_TRUE(r.c.SequenceRunning());
    EXPECT_FALSE(r.c.PlayAfterConnect());
    const std::size_t searches = r.port.datagrams->sent.size();
    r.c.OnCommand(kCmdAutoConnect); // a sequence runs
    EXPECT_EQ(r.port.datagrams->sent.size(), searches);
    EXPECT_EQ(r.port.effects.back(), "close popup");
    r.c.OnTimer(kSequenceTimer);
    r.Answer(0);
    r.c.OnTimer(kSequenceTimer); // connected, no play after it
    EXPECT_FALSE(r.c.SequenceRunning());
    EXPECT_EQ(r.Sent().size(), 1u);

    // The buttons and Stop Streaming, each one request.
    const std::size_t before = r.Sent().size();
    for (std::uint32_t command :
         {kCmdPlay, kCmdPause, kCmdStop, kCmdFastForward, kCmdRewind, kCmdConnectReq,
          kCmdAssignFileReq, kCmdUpdateFileList, kCmdGetStatus})
        r.c.OnCommand(command);
    r.c.OnStopStreaming();
    const auto sent = r.Sent();
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> tail(sent.begin() + before,
                                                                    sent.end());
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {REQ_PlayCtrl, 0},        {REQ_PlayCtrl, 2},       {REQ_PlayCtrl, 1},
        {REQ_PlayCtrl, 5},        {REQ_PlayCtrl, 6},       {REQ_ConnectKestro, 0},
        {REQ_AssignFileIndex, 1}, {REQ_UpdateFileList, 3}, {REQ_GetStatus, 1},
        {REQ_PlayCtrl, 1}};
    EXPECT_EQ(tail, expected);
}

} // namespace
} // namespace manager
