// The player's session driven by a scripted PC over a fake port: the access code, the reports
// after a play sent one at a time, late and forbidden answers, the end of a session, splitting.
#include "player/ControlSession.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "player/Config.h"

namespace player {
namespace {

class FakePort : public SessionPort {
  public:
    double Now() override { return now; }
    bool Write(ByteSpan bytes) override {
        if (++writeCount > writeLimit)
            return false; // the PC has reset the connection
        writes.emplace_back(bytes.begin(), bytes.end());
        return true;
    }
    void Close(bool reset) override { closed = reset ? 2 : 1; }
    void StartNfs(const NfsJob& job) override { jobs.push_back(job); }
    std::uint32_t Random() override { return 7; }

    // Packets written since the last call, reassembled whatever the writes' sizes.
    std::vector<Packet> Sent() {
        for (const Bytes& write : writes)
            framer.Feed(write);
        writes.clear();
        std::vector<Packet> packets;
        Packet packet;
        Bytes dropped;
        while (framer.Next(packet, dropped) == PacketFramer::Outcome::Packet)
            packets.push_back(packet);
        return packets;
    }

    double now = 100;
    int writeCount = 0;
    int writeLimit = 1 << 30;
    std::vector<Bytes> writes;
    std::vector<NfsJob> jobs;
    PacketFramer framer;
    int closed = 0;
};

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        logFile = std::string(::testing::TempDir()) + "player_session_" +
                  std::to_string(::getpid()) + ".log";
        ASSERT_TRUE(log.Open(logFile));
        log.SetEcho(false);
    }
    void TearDown() override { ::unlink(logFile.c_str()); }

    ControlSession& Session() {
        if (!session) {
            session = std::make_unique<ControlSession>(1, "127.0.0.1", Bytes{2, 0, 0, 0, 0, 1},
                                                       config, log, port);
            session->Start();
        }
        return *session;
    }
    void Pc(const Bytes& packet) { Session().OnBytes(packet); }
    void Advance(double seconds) {
        port.now += seconds;
        Session().OnTime();
    }
    static Bytes ConnectPayload(const std::string& code) {
        Bytes payload = {2, 0, 0, 0, 0, 1, 0, 0};
        Bytes codeBytes(code.begin(), code.end());
        codeBytes.resize(8, 0);
        payload.insert(payload.end(), codeBytes.begin(), codeBytes.end());
        for (char c : std::string("pc\0", 3))
            payload.push_back(static_cast<std::uint8_t>(c));
        return payload;
    }
    // Plays the PC up to the play answer with an audio-only selection of two files.
    void UpToPlay() {
        Pc(BuildPacket(REQ_ConnectKestro, 0, ConnectPayload("")));
        Pc(BuildPacket(REQ_UpdateFileList, 3, {}));
        ASSERT_EQ(port.jobs.size(), 1u);
        NfsResult lists;
        lists.stage = NfsResult::Stage::Lists;
        lists.ok = true;
        MediaLists parsed;
        parsed.lists[1] = {u"a.mp3", u"b.mp3"};
        Session().OnNfs(lists, parsed);
        Pc(BuildPacket(REQ_AssignFileIndex, 1, Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
        Pc(BuildPacket(REQ_PlayCtrl, KEY_PLAY, {}));
        ASSERT_EQ(port.jobs.size(), 2u);
        EXPECT_EQ(port.jobs[1].fileName, "a.mp3");
        EXPECT_EQ(port.jobs[1].server, "127.0.0.1");
        EXPECT_EQ(port.Sent().size(), 3u); // connect, update and assign answered, play waits
        NfsResult first;
        first.stage = NfsResult::Stage::FirstData;
        first.ok = true;
        Session().OnNfs(first, {});
    }
    // The rules of the departures logged so far, in order.
    std::vector<std::string> Departures() const {
        std::ifstream file(logFile);
        std::vector<std::string> rules;
        const std::string key = "\"event\":\"departure\",\"rule\":\"";
        for (std::string line; std::getline(file, line);) {
            const std::size_t at = line.find(key);
            if (at == std::string::npos)
                continue;
            const std::size_t start = at + key.size();
            rules.push_back(line.substr(start, line.find('"', start) - start));
        }
        return rules;
    }
    using Rules = std::vector<std::string>;

    Bytes AnswerTo(const Packet& request, std::uint32_t result) {
        return BuildAnswer(request, result,
                           Bytes(request.From(16).begin(), request.From(16).end()));
    }

    std::string logFile;
    JsonLog log;
    FakePort port;
    SessionConfig config;
    std::unique_ptr<ControlSession> session;
};

TEST_F(SessionTest, AccessCodeAskedThenRightAndWrongCodes) {
    config.accessCode = "12345678";
    Pc(BuildPacket(REQ_ConnectKestro, 0, ConnectPayload("")));
    Pc(BuildPacket(REQ_ConnectKestro, 2, ConnectPayload("1234")));
    Pc(BuildPacket(REQ_ConnectKestro, 2, ConnectPayload("12345678")));
    const std::vector<Packet> sent = port.Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].cmd, 0x00010000u);
    EXPECT_EQ(sent[0].Word(12), 101u);
    EXPECT_EQ(sent[1].Word(12), 102u);
    EXPECT_EQ(sent[2].Word(12), 0u);
    EXPECT_EQ(sent[2].length, 4u + 4 + 19); // the request's length + 4
    EXPECT_EQ(Departures(), Rules{});
}

TEST_F(SessionTest, ReportsAfterPlayGoOneAtATimeAndAreChecked) {
    UpToPlay();
    std::vector<Packet> sent = port.Sent();
    ASSERT_EQ(sent.size(), 2u); // the play answer, then only the first report
    EXPECT_EQ(sent[0].cmd, 0x00030000u);
    EXPECT_EQ(sent[0].Word(12), 0u);
    EXPECT_EQ(sent[1].cmd, CTRL_REQ_PLAYSTATUS_PC);
    EXPECT_EQ(sent[1].Word(12), kStatePlaying);

    Advance(0.5);
    Pc(AnswerTo(sent[1], 0));
    sent = port.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].cmd, CTRL_REQ_ASSIGNFILESTATUS_PC);
    EXPECT_EQ(sent[0].bytes,
              BuildPacket(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, Bytes{1, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(Departures(), Rules{});

    // No answer within the wait is a departure; a late one then counts no second time, but a
    // wrong result does.
    Advance(1.01);
    Pc(AnswerTo(sent[0], 5));
    Pc(AnswerTo(sent[0], 0)); // nothing is left to answer
    EXPECT_EQ(Departures(), (Rules{"answer.late", "answer.result", "answer.unexpected"}));

    Pc(BuildPacket(REQ_GetStatus, 1, Bytes(12, 0)));
    sent = port.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes.size(), 32u);
    EXPECT_EQ(sent[0].Word(20), kStatePlaying);
    EXPECT_EQ(sent[0].Word(24), 1u);
    EXPECT_EQ(sent[0].Word(28), 2u); // mediaType 0 chose the audio list
}

TEST_F(SessionTest, EndOfSessionWantsNoAnswerThenDisconnectAndClose) {
    Pc(BuildPacket(REQ_ConnectKestro, 0, ConnectPayload("")));
    port.Sent();
    Session().EndSession();
    std::vector<Packet> sent = port.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, BuildPacket(CTRL_REQ_CONNECT_PC, 1, {}));
    Pc(BuildPacket(REQ_ConnectKestro, 1, ConnectPayload("")));
    Session().OnClosed(false);
    EXPECT_EQ(Departures(), Rules{});
}

TEST_F(SessionTest, EndOfSessionAnsweredAndNeverClosedAreDepartures) {
    Pc(BuildPacket(REQ_ConnectKestro, 0, ConnectPayload("")));
    port.Sent();
    Session().EndSession();
    const Packet end = port.Sent().at(0);
    Pc(BuildAnswer(end, 0, {}));
    Pc(BuildPacket(REQ_GetStatus, 1, Bytes(12, 0)));
    Advance(1.5);
    EXPECT_EQ(Departures(), (Rules{"answer.forbidden", "end.order", "end.disconnect"}));
}

TEST_F(SessionTest, ClosingWithoutDisconnectAndAnUnfinishedPacketAreDepartures) {
    Pc(BuildPacket(REQ_ConnectKestro, 0, ConnectPayload("")));
    Pc(Bytes{4, 0, 0, 0, 0});
    Session().OnClosed(false);
    EXPECT_EQ(Departures(), (Rules{"stream.incomplete", "close.without-disconnect"}));
}

TEST_F(SessionTest, SplitModeWritesOneByteAtATimeAndMergeModePairsPackets) {
    config.split = true;
    config.splitGapMs = 10;
    Pc(BuildPacket(REQ_UpdateFileList, 3, {}));
    config.Of(Step::Status).result = 0;
    Pc(BuildPacket(REQ_GetStatus, 1, Bytes(12, 0)));
    for (int i = 0; i < 100; ++i)
        Advance(0.01);
    ASSERT_EQ(port.writes.size(), 32u);
    for (const Bytes& write : port.writes)
        EXPECT_EQ(write.size(), 1u);
    EXPECT_EQ(port.Sent().size(), 1u);

    config.split = false;
    config.merge = true;
    Pc(BuildPacket(REQ_GetStatus, 1, Bytes(12, 0)));
    EXPECT_TRUE(port.writes.empty()); // held for a partner
    Pc(BuildPacket(REQ_GetStatus, 1, Bytes(12, 0)));
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.writes[0].size(), 64u);
    Pc(BuildPacket(REQ_GetStatus, 1, Bytes(12, 0)));
    Advance(0.2); // no partner: sent alone after the hold
    EXPECT_EQ(port.writes.size(), 2u);
}

TEST_F(SessionTest, ModesCloseInTheMiddleOfAnAnswer) {
    config.Of(Step::Assign).cut = Cut::Reset;
    config.Of(Step::Assign).cutAfterBytes = 5;
    Pc(BuildPacket(REQ_AssignFileIndex, 1, Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.writes[0].size(), 5u);
    EXPECT_EQ(port.closed, 2);
    EXPECT_FALSE(Session().Open());
}

TEST_F(SessionTest, PacketsOfAReadStillCountWhenAWriteFailsOnTheWay) {
    UpToPlay();
    std::vector<Packet> sent = port.Sent();
    Pc(AnswerTo(sent[1], 0));
    sent = port.Sent();
    ASSERT_EQ(sent.size(), 1u);
    Pc(AnswerTo(sent[0], 0));
    port.Sent();
    // The PC stops, disconnects and closes at once: the answer to stop goes out, the report
    // after it meets the reset, and the disconnect in the same read must still count.
    port.writeLimit = port.writeCount + 1;
    Bytes both = BuildPacket(REQ_PlayCtrl, 1, {});
    const Bytes bye = BuildPacket(REQ_ConnectKestro, 1, ConnectPayload(""));
    both.insert(both.end(), bye.begin(), bye.end());
    Pc(both);
    EXPECT_EQ(Departures(), Rules{});
}

} // namespace
} // namespace player
