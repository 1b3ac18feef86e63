// The control layer against a scripted player on a fake stream socket: connection set-up,
// answer matching, the player's requests and their answers, framing of the byte stream.
#include "manager/core/DeviceControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "tests/support/ManagerFakes.h"

namespace manager {
namespace {

using testing::Address;
using testing::FakePort;

std::vector<std::uint8_t> Packet(std::uint32_t cmd, std::uint32_t subCmd,
                                 std::vector<std::uint8_t> body = {}) {
    return BuildPacket(cmd, subCmd, body);
}

std::vector<std::uint8_t> U32s(std::initializer_list<std::uint32_t> values) {
    std::vector<std::uint8_t> out;
    for (std::uint32_t v : values)
        PutU32(out, v);
    return out;
}

// The player's answer to the PC's last request, with `result` and `body`.
std::vector<std::uint8_t> AnswerToLast(const testing::StreamLog& stream, std::uint32_t result) {
    return BuildAnswer(stream.sends.back(), result);
}

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Session {
    FakePort port;
    HostIdentity host;
    DeviceControl control{port, host};

    Session() {
        host.mac = {0x02, 1, 2, 3, 4, 5};
        host.hostNameUtf8 = "pc";
        control.OpenControlConnection(Address(192, 0, 2, 2));
        port.logs.clear();
    }
    testing::StreamLog& Stream() { return *port.stream; }
    // Delivers `chunks` as separate reads, then FD_READ for as long as bytes wait, as the
    // socket notifies again after a read that left some.
    void Read(std::initializer_list<std::vector<std::uint8_t>> chunks) {
        for (const auto& c : chunks)
            Stream().incoming.push_back(c);
        Notify();
    }
    void Notify() {
        do
            control.OnSocketEvent(Stream().id, FD_READ_EVENT, 0);
        while (control.HasConnection() && !Stream().incoming.empty());
    }
    void AnswerPosted() {
        auto posted = port.posted;
        port.posted.clear();
        for (auto [cmd, subCmd] : posted)
            control.OnAnswerDeviceRequest(cmd, subCmd);
    }
    const ResultSlots& Slots() const { return control.State().results; }
};

TEST(DeviceControl, StartsPendingAndStopped) {
    FakePort port;
    HostIdentity host;
    DeviceControl control(port, host);
    const ControlState& s = control.State();
    for (std::uint32_t slot : {s.results.connectResult, s.results.openResult, s.results.closeResult,
                               s.results.assignResult, s.results.playResult, s.results.stopResult,
                               s.results.updateResult, s.results.statusResult})
        EXPECT_EQ(slot, kResultPending);
    EXPECT_FALSE(s.connected || s.playing || control.HasConnection());
    EXPECT_EQ(s.playState, kPlayStateStopped);
    EXPECT_EQ(InitialAddressField(), Address(127, 0, 0, 1));
    // Without a connection requests mark their slots and log, but send nothing.
    control.REQ_UpdateFileList(3);
    EXPECT_EQ(port.logs, std::vector<std::u16string>{u"do REQ_UpdateFileList=0x3"});
}

TEST(DeviceControl, OpenRunsItsStepsInOrder) {
    FakePort port;
    HostIdentity host;
    DeviceControl control(port, host);
    control.OpenControlConnection(Address(192, 0, 2, 2));
    ASSERT_TRUE(control.HasConnection());
    EXPECT_EQ(port.stream->calls,
              (std::vector<std::string>{"get-keepalive", "set-keepalive", "get-keepalive",
                                        "keepalive-times", "select-events", "connect"}));
    EXPECT_EQ(port.Joined(), u"SO_KEEPALIVE Value: 0\n|Set SO_KEEPALIVE: ON\n|"
                             u"SO_KEEPALIVE Value: 1\n|OK \n|Connect Ok...|");
    EXPECT_EQ(port.stream->keepAliveTime, 13000u);
    EXPECT_EQ(port.stream->keepAliveInterval, 500u);
    EXPECT_EQ(port.stream->connectedTo, Address(192, 0, 2, 2));
    EXPECT_EQ(control.State().playerPort, 62000);
}

TEST(DeviceControl, OpenFailuresLogAndEndTheSession) {
    FakePort port;
    HostIdentity host;
    DeviceControl control(port, host);
    control.OpenControlConnection(0);
    port.streamCreateFails = true;
    control.OpenControlConnection(Address(192, 0, 2, 2));
    EXPECT_EQ(port.Joined(), u"Error: Server IP is ZERO\n|Allocating socket failed. Error: 10055|");
    EXPECT_FALSE(control.HasConnection());

    port.streamCreateFails = false;
    port.streamSettings.connectError = 10061;
    port.logs.clear();
    control.OpenControlConnection(Address(192, 0, 2, 2));
    EXPECT_FALSE(control.HasConnection());
    EXPECT_TRUE(port.stream->closed);
    EXPECT_EQ(port.logs[4], u"Connecting to the server failed. Error: 10061");
    EXPECT_EQ(port.logs[5], u"DoDisConnect!!!");

    port.streamSettings.connectError = kWouldBlock;
    port.streamSettings.selectFails = true;
    port.logs.clear();
    control.OpenControlConnection(Address(192, 0, 2, 2));
    EXPECT_FALSE(control.HasConnection());
    EXPECT_EQ(port.logs[4], u"Can't setup WSAAsyncSelect(). Error: 10022");
    EXPECT_EQ(port.stream->calls.back(), "select-events");
}

TEST(DeviceControl, OnlyTheAnswerToTheLatestRequestCounts) {
    Session s;
    s.control.REQ_AssignFileIndex(1, 0);
    const auto assignAnswer = AnswerToLast(s.Stream(), 0);
    s.control.REQ_PlayCtrl(KEY_PLAY);
    const auto playAnswer = AnswerToLast(s.Stream(), 0);
    // The earlier request's answer, a wrong length, a wrong echoed subCmd: all dropped.
    auto longer = playAnswer;
    longer[10] = 9;
    longer.push_back(0);
    auto otherKey = playAnswer;
    otherKey[16] = KEY_STOP;
    s.Read({assignAnswer, longer, otherKey});
    EXPECT_EQ(s.Slots().assignResult, kResultPending);
    EXPECT_EQ(s.Slots().playResult, kResultPending);
    EXPECT_EQ(s.Slots().stopResult, kResultPending);
    s.Read({playAnswer});
    EXPECT_EQ(s.Slots().playResult, 0u);
    EXPECT_TRUE(s.control.State().playing);
    EXPECT_TRUE(s.port.Logged(u"ACK CMD_0x30000_0x0: 0"));
    EXPECT_TRUE(s.port.Logged(u"ACK CTRL_ACK_PC_PLAYCTRL_0: 0"));
}

TEST(DeviceControl, AnswersUpdateSlotsAndState) {
    Session s;
    const ControlState& st = s.control.State();
    s.control.REQ_ConnectKestro(kConnectOpen, s.host.mac, {});
    EXPECT_EQ(s.Slots().closeResult, kResultPending);
    s.Read({AnswerToLast(s.Stream(), 101)});
    EXPECT_EQ(s.Slots().connectResult, 101u);
    EXPECT_EQ(s.Slots().openResult, 101u);
    EXPECT_FALSE(st.connected);
    s.control.REQ_ConnectKestro(kConnectWithCode, s.host.mac, "1234");
    s.Read({AnswerToLast(s.Stream(), 0)});
    EXPECT_TRUE(st.connected);
    EXPECT_TRUE(s.port.Logged(u"ACK CTRL_ACK_PC_CONNECT_0x2: 0"));

    s.control.REQ_PlayCtrl(KEY_PAUSE);
    s.Read({AnswerToLast(s.Stream(), 0)});
    EXPECT_EQ(st.playState, kPlayStatePaused);
    EXPECT_TRUE(st.playing);
    s.control.REQ_PlayCtrl(KEY_FF); // fast forward changes neither
    s.Read({AnswerToLast(s.Stream(), 0)});
    EXPECT_EQ(st.playState, kPlayStatePaused);
    s.control.REQ_PlayCtrl(KEY_STOP);
    s.Read({AnswerToLast(s.Stream(), 7)});
    EXPECT_EQ(s.Slots().stopResult, 7u);
    EXPECT_TRUE(st.playing) << "a refused stop changes nothing";

    // Status answers carry state, index and type; only result 0 is believed.
    s.control.REQ_GetStatus();
    ASSERT_EQ(s.Stream().sends.back().size(), 28u);
    auto status = AnswerToLast(s.Stream(), 0);
    ASSERT_EQ(status.size(), 32u);
    std::copy_n(U32s({kPlayStatePlaying, 3, 2}).begin(), 12, status.begin() + 20);
    s.Read({status});
    EXPECT_EQ(st.playState, kPlayStatePlaying);
    EXPECT_EQ(st.fileIndex, 3u);
    EXPECT_EQ(st.mediaType, 2u);
    EXPECT_TRUE(s.port.Logged(u"\tFile Idx: (status=0) 3, MediaType=2"));
    s.control.REQ_GetStatus();
    status = AnswerToLast(s.Stream(), 5);
    std::copy_n(U32s({kPlayStateStopped, 9, 9}).begin(), 12, status.begin() + 20);
    s.Read({status});
    EXPECT_EQ(s.Slots().statusResult, 5u);
    EXPECT_EQ(st.fileIndex, 3u);

    s.control.REQ_ConnectKestro(kConnectDeactivate, s.host.mac, {});
    s.Read({AnswerToLast(s.Stream(), 0)});
    EXPECT_EQ(s.Slots().closeResult, 0u);
    EXPECT_FALSE(st.connected || st.playing);
}

TEST(DeviceControl, PlayerRequestsAreAnsweredAfterwards) {
    Session s;
    const ControlState& st = s.control.State();
    s.Read({Packet(CTRL_REQ_PLAYSTATUS_PC, 0x102)}); // the low byte counts: paused
    EXPECT_EQ(st.playState, kPlayStatePaused);
    EXPECT_TRUE(s.Stream().sends.empty()) << "answers wait for the posted message";
    s.AnswerPosted();
    EXPECT_EQ(s.Stream().sends.back(), Concat(Packet(0x00008003, 0, U32s({0x102})), {}));

    s.Read({Packet(CTRL_REQ_GETNEXTFILE_PC, 4, {0xA1, 0xA2, 0xA3, 0xA4})});
    s.AnswerPosted();
    EXPECT_EQ(s.Stream().sends.back(),
              Packet(0x00008002, 200, {4, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0xA4}));

    s.Read({Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, U32s({2, 3}))});
    EXPECT_EQ(st.fileIndex, 2u);
    EXPECT_EQ(st.mediaType, 3u);
    // A payload too short for index and type stores nothing, and is still answered.
    s.Read({Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, {9, 0, 0, 0})});
    EXPECT_EQ(st.fileIndex, 2u);
    s.AnswerPosted();
    EXPECT_EQ(s.Stream().sends.back().size(), 24u);
    s.Read({Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 0, {'a', 0, 0xE9, 0, 'z'})});
    EXPECT_TRUE(s.port.Logged(u"\tFile Name: a\u00E9"));

    s.Read({Packet(CTRL_REQ_CONNECT_PC, 7)});
    EXPECT_TRUE(s.port.Logged(u"REQ CTRL_REQ_CONNECT_PC: not support subCmd=7 \n "));
    s.AnswerPosted();
    EXPECT_EQ(s.Stream().sends.back(), Packet(0x00008001, 0, U32s({7})));

    const std::size_t sends = s.Stream().sends.size();
    s.Read({Packet(0x80040000, 1)});
    EXPECT_TRUE(s.port.posted.empty());
    // A newer request replaces the older one: only it is answered.
    s.Read({Packet(CTRL_REQ_PLAYSTATUS_PC, 1), Packet(CTRL_REQ_PLAYSTATUS_PC, 0)});
    ASSERT_EQ(s.port.posted.size(), 2u);
    s.AnswerPosted();
    EXPECT_EQ(s.Stream().sends.size(), sends + 1);
    EXPECT_EQ(s.Stream().sends.back(), Packet(0x00008003, 0, U32s({0})));
}

TEST(DeviceControl, PlayerEndingTheSessionGetsNoAnswer) {
    Session s;
    // Whatever follows in the same read belongs to the connection just closed.
    s.Read({Concat(Packet(CTRL_REQ_CONNECT_PC, 1), Packet(CTRL_REQ_PLAYSTATUS_PC, 0))});
    EXPECT_FALSE(s.control.HasConnection());
    EXPECT_TRUE(s.Stream().closed);
    EXPECT_EQ(s.Stream().sends.size(), 1u);
    EXPECT_EQ(s.Stream().sends[0][0], REQ_ConnectKestro);
    EXPECT_EQ(s.Stream().sends[0][12], kConnectClose);
    EXPECT_EQ(s.control.State().playState, kPlayStateStopped);
    EXPECT_EQ(s.port.Joined(), u"|FD_READ!!!|recv: size=32, cmd=0x80010000|"
                               u"REQ CTRL_REQ_CONNECT_PC: do DoDisConnect() \n |DoDisConnect!!!|"
                               u"do REQ_ConnectKestro=0x1|REQ CTRL_REQ_CONNECT_PC: 1 |");
    s.AnswerPosted();
    EXPECT_EQ(s.Stream().sends.size(), 1u);
}

TEST(DeviceControl, StreamIsCutIntoPackets) {
    Session s;
    const ControlState& st = s.control.State();
    // Two packets in one read both take effect.
    s.Read({Concat(Packet(CTRL_REQ_PLAYSTATUS_PC, 0),
                   Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, U32s({4, 1})))});
    EXPECT_EQ(st.playState, kPlayStatePlaying);
    EXPECT_EQ(st.fileIndex, 4u);
    EXPECT_EQ(s.port.posted.size(), 2u);

    // One byte per read: kept until whole, the short read logged.
    const auto packet = Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, U32s({5, 2}));
    for (std::uint8_t b : packet)
        s.Stream().incoming.push_back({b});
    s.port.logs.clear();
    s.Notify();
    EXPECT_EQ(st.fileIndex, 5u);
    EXPECT_TRUE(s.port.Logged(u"recv: size=12 < (12+12)"));

    // A packet split over two notifications.
    s.Read({std::vector<std::uint8_t>(packet.begin(), packet.begin() + 7)});
    EXPECT_EQ(s.port.posted.size(), 3u);
    s.Read({std::vector<std::uint8_t>(packet.begin() + 7, packet.end())});
    EXPECT_EQ(s.port.posted.size(), 4u);
}

TEST(DeviceControl, AHeaderOutOfStepIsSkippedToThePacketBehindIt) {
    Session s;
    const ControlState& st = s.control.State();
    auto reserved = Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, U32s({7, 1}));
    reserved[4] = 1;
    auto tag = Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, U32s({7, 1}));
    tag[8] = 20;
    auto tooShort = Packet(CTRL_REQ_PLAYSTATUS_PC, 0);
    tooShort[10] = 3;
    auto tooLong = Packet(CTRL_REQ_PLAYSTATUS_PC, 0);
    tooLong[10] = 0x05, tooLong[11] = 0x08; // 2053
    std::uint32_t index = 10;
    for (const auto& bad : {reserved, tag, tooShort, tooLong}) {
        // The good packet behind the bad one in the same read is taken; the bad one is not.
        s.port.logs.clear();
        s.Read({Concat(bad, Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, U32s({index, 1})))});
        EXPECT_EQ(st.fileIndex, index);
        EXPECT_EQ(st.mediaType, 1u);
        EXPECT_EQ(s.port.posted.size(), 1u);
        EXPECT_EQ(s.port.logs.size(), 6u) << "FD_READ, one line for the bad header, the good one's";
        s.port.posted.clear();
        ++index;
    }
}

// A player that sent garbage for a while: its next request lies somewhere inside a read,
// after the garbage's last bytes, and is still answered, however the reads fall.
TEST(DeviceControl, ARequestBehindGarbageIsFoundWhereverTheReadsFall) {
    std::mt19937 random(20);
    for (const std::size_t readSize : {1u, 5u, 11u, 12u, 13u, 700u, 2063u, 2064u}) {
        Session s;
        std::vector<std::uint8_t> stream(40000);
        for (std::uint8_t& byte : stream)
            byte = static_cast<std::uint8_t>(random());
        stream = Concat(stream, Packet(CTRL_REQ_PLAYSTATUS_PC, 2));
        for (std::size_t at = 0; at < stream.size(); at += readSize)
            s.Stream().incoming.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                             stream.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                  at + readSize, stream.size())));
        s.port.logs.clear();
        for (int notification = 0; !s.Stream().incoming.empty() && notification < 50000;
             ++notification)
            s.control.OnSocketEvent(s.Stream().id, FD_READ_EVENT, 0);
        EXPECT_EQ(s.control.State().playState, kPlayStatePaused) << readSize;
        ASSERT_EQ(s.port.posted.size(), 1u) << readSize;
        EXPECT_EQ(s.port.posted[0].first, CTRL_REQ_PLAYSTATUS_PC);
        EXPECT_EQ(s.port.posted[0].second, 2u);
    }
}

TEST(DeviceControl, ACutSendClosesTheConnection) {
    Session s;
    // Nothing taken: lost, the connection stays.
    s.Stream().sendLimit = 0;
    s.control.REQ_PlayCtrl(KEY_PLAY);
    EXPECT_TRUE(s.control.HasConnection());
    // Part of a packet taken: closed at once, then the close path.
    s.Stream().sendLimit = 10;
    s.port.logs.clear();
    s.control.REQ_PlayCtrl(KEY_PLAY);
    EXPECT_FALSE(s.control.HasConnection());
    EXPECT_TRUE(s.Stream().closed);
    EXPECT_EQ(s.port.Joined(), u"do REQ_PlayCtrl=0x0||Socket disconnect!!!|DoDisConnect!!!|");
    EXPECT_EQ(s.Stream().sends.size(), 2u) << "no disconnect request on the cut stream";
}

TEST(DeviceControl, SocketEventsOfTheCurrentSocketOnly) {
    Session s;
    const SocketId old = s.Stream().id;
    s.control.OnSocketEvent(old, FD_CONNECT_EVENT, 10061);
    EXPECT_EQ(s.port.Joined(), u"FD_CONNECT!!!|");
    EXPECT_TRUE(s.control.HasConnection());
    s.control.OnSocketEvent(old + 1, FD_CLOSE_EVENT, 0);
    EXPECT_TRUE(s.control.HasConnection());
    s.control.OnSocketEvent(old, FD_CLOSE_EVENT, 10054);
    EXPECT_FALSE(s.control.HasConnection());
    EXPECT_TRUE(s.port.Logged(u"Socket disconnect!!!"));
    EXPECT_TRUE(s.port.Logged(u"DoDisConnect!!!"));
    // A new connection starts with an empty carry buffer.
    s.Stream().incoming.push_back({1, 2, 3});
    s.control.OpenControlConnection(Address(192, 0, 2, 2));
    s.Read({Packet(CTRL_REQ_PLAYSTATUS_PC, 2)});
    EXPECT_EQ(s.control.State().playState, kPlayStatePaused);
}

// Hostile players: a stream cut at every byte, packets at and past the largest size, a player
// that never answers, answers late or closes inside a packet; the next player is served normally.
TEST(DeviceControl, AStreamCutAtAnyByteGivesTheSameOutcome) {
    const auto expectOutcome = [](Session& s, const char* where) {
        const ControlState& st = s.control.State();
        EXPECT_EQ(s.Slots().statusResult, 0u) << where;
        EXPECT_EQ(st.playState, kPlayStatePaused) << where;
        EXPECT_EQ(st.fileIndex, 3u) << where;
        EXPECT_EQ(st.mediaType, 2u) << where;
        EXPECT_EQ(s.port.posted.size(), 2u) << where;
    };
    std::vector<std::uint8_t> stream;
    {
        Session s;
        s.control.REQ_GetStatus();
        // The status answer (playing, index 7 of the video list), then two player requests.
        stream = Concat(BuildAnswer(s.Stream().sends.back(), 0),
                        Concat(Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, U32s({3, 2})),
                               Packet(CTRL_REQ_PLAYSTATUS_PC, 2)));
        stream[20] = 0, stream[24] = 7, stream[28] = 1;
        s.Read({stream});
        expectOutcome(s, "whole");
    }
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        Session s;
        s.control.REQ_GetStatus();
        s.Read({std::vector<std::uint8_t>(stream.begin(), stream.begin() + cut)});
        s.Read({std::vector<std::uint8_t>(stream.begin() + cut, stream.end())});
        expectOutcome(s, ("cut at " + std::to_string(cut)).c_str());
    }
}

TEST(DeviceControl, PacketsAtAndPastTheLargestSize) {
    Session s;
    // 2064 bytes (length 2052), and in the same read the next packet: both taken in turn.
    const std::vector<std::uint8_t> body(kMaxPacketSize - 16, 0x41);
    const auto largest = Packet(CTRL_REQ_GETNEXTFILE_PC, 5, body);
    ASSERT_EQ(largest.size(), kMaxPacketSize);
    s.Read({Concat(largest, Packet(CTRL_REQ_PLAYSTATUS_PC, 0))});
    EXPECT_EQ(s.control.State().playState, kPlayStatePlaying);
    ASSERT_EQ(s.port.posted.size(), 2u);
    // Only the latest request is answered.
    s.AnswerPosted();
    ASSERT_EQ(s.Stream().sends.size(), 1u);
    EXPECT_EQ(s.Stream().sends[0].size(), 20u);

    s.Read({largest});
    s.AnswerPosted();
    ASSERT_EQ(s.Stream().sends.size(), 2u);
    const auto& answer = s.Stream().sends[1];
    ASSERT_EQ(answer.size(), kMaxPacketSize + 4);
    PacketHeader header;
    ASSERT_TRUE(ReadHeader(answer, header));
    EXPECT_EQ(header.length, kMaxPacketLength + 4);
    EXPECT_TRUE(std::equal(body.begin(), body.end(), answer.begin() + 20));

    // One byte more announced: out of step, all of it dropped (also its last byte, read apart
    // from the first 2064), and the next packet is read from its start.
    auto past = Packet(CTRL_REQ_GETNEXTFILE_PC, 5, std::vector<std::uint8_t>(body.size() + 1));
    s.Read({past});
    EXPECT_TRUE(s.port.posted.empty());
    s.Read({Packet(CTRL_REQ_PLAYSTATUS_PC, 1)});
    EXPECT_EQ(s.control.State().playState, kPlayStateStopped);
    EXPECT_EQ(s.port.posted.size(), 1u);
}

TEST(DeviceControl, SilentLateAndVanishingPlayersThenAGoodOne) {
    Session s;
    // Never answers: the slot stays pending.
    s.control.REQ_GetStatus();
    const auto statusRequest = s.Stream().sends.back();
    EXPECT_EQ(s.Slots().statusResult, kResultPending);
    // Answers late, after a newer request: dropped, both slots pending.
    s.control.REQ_PlayCtrl(KEY_PLAY);
    s.Read({BuildAnswer(statusRequest, 0)});
    EXPECT_EQ(s.Slots().statusResult, kResultPending);
    EXPECT_EQ(s.Slots().playResult, kResultPending);
    // Closes inside a packet: the session ends with half a packet buffered.
    const auto answer = BuildAnswer(s.Stream().sends.back(), 0);
    s.Read({std::vector<std::uint8_t>(answer.begin(), answer.begin() + 9)});
    s.control.OnSocketEvent(s.Stream().id, FD_CLOSE_EVENT, 10054);
    EXPECT_FALSE(s.control.HasConnection());
    EXPECT_EQ(s.control.State().playState, kPlayStateStopped);

    // The next player: its first answer is read from a clean start.
    s.control.OpenControlConnection(Address(192, 0, 2, 3));
    s.control.REQ_PlayCtrl(KEY_PLAY);
    s.Read({BuildAnswer(s.Stream().sends.back(), 0)});
    EXPECT_EQ(s.Slots().playResult, 0u);
    EXPECT_TRUE(s.control.State().playing);
}

TEST(DeviceControl, APlayerSendingItsOwnRequestsInALoop) {
    Session s;
    // The PC's answer arrives amid 1000 requests read 2064 bytes at a time: each takes effect.
    s.control.REQ_GetStatus();
    std::vector<std::uint8_t> burst = Packet(CTRL_REQ_PLAYSTATUS_PC, 0);
    burst = Concat(burst, BuildAnswer(s.Stream().sends.back(), 0));
    for (std::uint32_t i = 1; i <= 1000; ++i)
        burst = Concat(burst, Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, U32s({i, 1})));
    s.Read({burst});
    EXPECT_EQ(s.Slots().statusResult, 0u);
    EXPECT_EQ(s.control.State().fileIndex, 1000u);
    EXPECT_EQ(s.port.posted.size(), 1001u);
    // Requests alike in cmd and subCmd cannot be told apart: each gets the answer of the
    // latest; the one of another cmd, replaced, gets none.
    s.AnswerPosted();
    ASSERT_EQ(s.Stream().sends.size(), 1001u);
    EXPECT_EQ(s.Stream().sends.back(),
              BuildAnswer(Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, U32s({1000, 1})), 0));
}

// Each read re-arms the socket's notification while bytes remain: a notification that read more
// than once would leave one more notification queued per extra read, and a player sending
// without end would fill the dialog's queue with them.
TEST(DeviceControl, ANotificationReadsOnceAndAStreamWithoutEndIsReadInTurns) {
    Session s;
    s.Stream().incoming = {Packet(CTRL_REQ_PLAYSTATUS_PC, 2), Packet(CTRL_REQ_PLAYSTATUS_PC, 0),
                           Packet(CTRL_REQ_PLAYSTATUS_PC, 1)};
    s.control.OnSocketEvent(s.Stream().id, FD_READ_EVENT, 0);
    EXPECT_EQ(s.Stream().incoming.size(), 2u);
    EXPECT_EQ(s.control.State().playState, kPlayStatePaused);
    s.Notify();
    EXPECT_EQ(s.control.State().playState, kPlayStateStopped);

    // A read takes at most 64 KiB; the notifications after it go on from there.
    s.control.REQ_GetStatus();
    std::vector<std::uint8_t> burst = BuildAnswer(s.Stream().sends.back(), 0);
    for (std::uint32_t i = 1; i <= 8000; ++i) {
        const auto packet = Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, U32s({i, 1}));
        burst.insert(burst.end(), packet.begin(), packet.end());
    }
    const std::size_t total = burst.size();
    s.Stream().incoming.push_back(std::move(burst));
    s.port.posted.clear();
    s.control.OnSocketEvent(s.Stream().id, FD_READ_EVENT, 0);
    ASSERT_EQ(s.Stream().incoming.size(), 1u);
    EXPECT_EQ(s.Stream().incoming.front().size(), total - 65536);
    EXPECT_EQ(s.port.posted.size(), (65536u - 20) / 24); // after the 20-byte answer
    s.Notify();
    EXPECT_EQ(s.control.State().fileIndex, 8000u);
    EXPECT_EQ(s.Slots().statusResult, 0u);

    // Garbage likewise, and the packet after it is read once it comes.
    std::vector<std::uint8_t> noise(400000);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>(i * 7 + 1);
    s.port.posted.clear();
    s.Stream().incoming.push_back(noise);
    s.control.OnSocketEvent(s.Stream().id, FD_READ_EVENT, 0);
    EXPECT_EQ(s.Stream().incoming.front().size(), noise.size() - 65536);
    s.Notify();
    s.Read({Packet(CTRL_REQ_PLAYSTATUS_PC, 2)});
    EXPECT_EQ(s.control.State().playState, kPlayStatePaused);
    EXPECT_EQ(s.port.posted.size(), 1u);
}

} // namespace
} // namespace manager
