// The simulated player's codec against byte tables of the control and discovery protocols.
#include "player/ControlCodec.h"
#include "player/DiscoveryCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace player {
namespace {

Bytes Hex(const std::string& text) {
    Bytes bytes;
    EXPECT_TRUE(FromHex(text, bytes)) << text;
    return bytes;
}

Packet Parse(const Bytes& bytes) {
    PacketFramer framer;
    framer.Feed(bytes);
    Packet packet;
    Bytes dropped;
    EXPECT_EQ(framer.Next(packet, dropped), PacketFramer::Outcome::Packet);
    return packet;
}

std::vector<std::string> Rules(const Departures& departures) {
    std::vector<std::string> rules;
    for (const Departure& departure : departures)
        rules.push_back(departure.rule);
    return rules;
}

bool Has(const Departures& departures, const std::string& rule) {
    const std::vector<std::string> rules = Rules(departures);
    return std::find(rules.begin(), rules.end(), rule) != rules.end();
}

// --- Control packets ---

TEST(ControlPackets, KeyPlayIsTheSixteenBytesOfTheTable) {
    const Bytes table = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x13, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(BuildPacket(REQ_PlayCtrl, KEY_PLAY, {}), table);
    EXPECT_TRUE(CheckPcRequest(Parse(table), {}).empty());
}

TEST(ControlPackets, GetStatusIs28BytesAndItsAnswer32WithTheStatusLayout) {
    const Bytes request = Hex("05000000 00000000 1300 1000 01000000 000000000000000000000000");
    ASSERT_EQ(request.size(), 28u);
    const Packet parsed = Parse(request);
    EXPECT_TRUE(CheckPcRequest(parsed, {}).empty());
    Bytes status = Hex("02000000 01000000 02000000"); // paused, file 1, audio
    EXPECT_EQ(BuildAnswer(parsed, 0, status),
              Hex("00000500 00000000 1300 1400 00000000 01000000 02000000 01000000 02000000"));
    EXPECT_TRUE(Has(CheckPcRequest(Parse(Hex("05000000 00000000 1300 1000 01000000 "
                                             "000000000000000000000001")),
                                   {}),
                    "status.payload"));
}

TEST(ControlPackets, EachPcRequestOutsideItsTableIsADeparture) {
    struct Case {
        const char* hex;
        const char* rule;
    } cases[] = {
        {"03000000 00000000 1300 0400 03000000", "playctrl.key"},
        {"03000000 00000000 1300 0800 00000000 00000000", "playctrl.length"},
        {"04000000 00000000 1300 0400 01000000", "update.subcmd"},
        {"02000000 00000000 1300 0c00 01000000 00000000 00000000", "assign.index"},
        {"02000000 00000000 1300 0c00 01000000 01000000 04000000", "assign.mediatype"},
        {"02000000 00000000 1300 0c00 00000000 01000000 00000000", "assign.subcmd"},
        {"05000000 00000000 1300 1000 00000000 000000000000000000000000", "status.subcmd"},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(Has(CheckPcRequest(Parse(Hex(c.hex)), {}), c.rule)) << c.hex;
    EXPECT_TRUE(
        CheckPcRequest(Parse(Hex("02000000 00000000 1300 0c00 01000000 01000000 00000000")), {})
            .empty());
}

// The connect payload: MAC, two zero bytes, 8-byte code, UTF-8 host name and one zero.
Bytes Connect(std::uint32_t subCmd, const Bytes& payload) {
    return BuildPacket(REQ_ConnectKestro, subCmd, payload);
}

Bytes Payload(const std::string& code, const Bytes& name) {
    Bytes payload = Hex("020000000001 0000");
    Bytes codeBytes(code.begin(), code.end());
    codeBytes.resize(8, 0);
    payload.insert(payload.end(), codeBytes.begin(), codeBytes.end());
    payload.insert(payload.end(), name.begin(), name.end());
    return payload;
}

TEST(ControlPackets, ConnectPayloadChecks) {
    RequestContext context;
    context.discoveryMac = Hex("020000000001");
    const Bytes pcName = Hex("70632d c3a9 00"); // "pc-é" with its zero
    EXPECT_TRUE(CheckPcRequest(Parse(Connect(0, Payload("", pcName))), context).empty());

    struct Case {
        std::uint32_t subCmd;
        Bytes payload;
        const char* rule;
    } cases[] = {
        {0, Payload("", Hex("70632d e9 00")), "connect.hostname"},  // not UTF-8
        {0, Payload("", Hex("7063 00 2d 00")), "connect.hostname"}, // two zeros
        {0, Payload("", Hex("70632d")), "connect.hostname"},        // no zero
        {0, Payload("1234", pcName), "connect.code"},               // code outside subCmd 2
        {2, Payload("1234", pcName), "connect.order"},              // never asked for a code
        {2,
         Payload(std::string("12\0"
                             "4",
                             4),
                 pcName),
         "connect.code"}, // not zero-padded
        {0, Hex("020000000002 0000 0000000000000000 41 00"), "connect.mac"},
        {0, Hex("020000000001 0100 0000000000000000 41 00"), "connect.zero"},
        {0, Hex("020000000001 0000 0000000000000000"), "connect.length"},
        {4, Payload("", pcName), "connect.subcmd"},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(Has(CheckPcRequest(Parse(Connect(c.subCmd, c.payload)), context), c.rule))
            << c.rule << " " << ToHex(c.payload);

    Bytes longName(128, 'a');
    longName.push_back(0);
    EXPECT_TRUE(
        Has(CheckPcRequest(Parse(Connect(0, Payload("", longName))), context), "connect.hostname"));
    context.accessCodeAsked = true;
    EXPECT_TRUE(CheckPcRequest(Parse(Connect(2, Payload("12345678", pcName))), context).empty());
    context.expectedHostName = "other";
    EXPECT_TRUE(
        Has(CheckPcRequest(Parse(Connect(0, Payload("", pcName))), context), "connect.hostname"));
}

TEST(ControlPackets, PcAnswersToPlayerRequests) {
    // CTRL_REQ_GETNEXTFILE_PC with length 8 is answered 0x00008002, length 12, result 200, the
    // same subCmd and the same 4 payload bytes.
    const Bytes request = Hex("00000280 00000000 1300 0800 07000000 a1b2c3d4");
    const Bytes good = Hex("02800000 00000000 1300 0c00 c8000000 07000000 a1b2c3d4");
    EXPECT_EQ(BuildAnswer(Parse(request), 200, Hex("a1b2c3d4")), good);
    EXPECT_TRUE(CheckPcAnswer(request, Parse(good)).empty());

    struct Case {
        const char* hex;
        const char* rule;
    } cases[] = {
        {"02800000 00000000 1300 0c00 00000000 07000000 a1b2c3d4", "answer.result"},
        {"02800000 00000000 1300 0c00 c8000000 06000000 a1b2c3d4", "answer.subcmd"},
        {"02800000 00000000 1300 0c00 c8000000 07000000 a1b2c3d5", "answer.body"},
        {"02800000 00000000 1300 0800 c8000000 07000000", "answer.length"},
        {"00000280 00000000 1300 0c00 c8000000 07000000 a1b2c3d4", "answer.cmd"},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(Has(CheckPcAnswer(request, Parse(Hex(c.hex))), c.rule)) << c.hex;

    // The player ending the session gets no answer; an unsupported subCmd gets 0.
    const Bytes end = BuildPacket(CTRL_REQ_CONNECT_PC, 1, {});
    EXPECT_FALSE(ExpectedAnswer(end).answered);
    EXPECT_TRUE(Has(CheckPcAnswer(end, Parse(BuildAnswer(Parse(end), 0, {}))), "answer.forbidden"));
    EXPECT_EQ(ExpectedAnswer(BuildPacket(CTRL_REQ_CONNECT_PC, 7, {})).result, 0u);
    EXPECT_TRUE(ExpectedAnswer(BuildPacket(CTRL_REQ_CONNECT_PC, 7, {})).answered);
    EXPECT_FALSE(ExpectedAnswer(BuildPacket(0x80040000, 0, {})).answered);
    EXPECT_FALSE(ExpectedAnswer(Hex("00000380 00000000 1300 0200 0000")).answered);
}

TEST(ControlFraming, PacketsSurviveAnyCuttingAndAWrongHeaderDropsTheBuffer) {
    const Bytes first = BuildPacket(REQ_UpdateFileList, 3, {});
    const Bytes second = BuildPacket(REQ_AssignFileIndex, 1, Hex("01000000 00000000"));
    Bytes stream = first;
    stream.insert(stream.end(), second.begin(), second.end());
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        PacketFramer framer;
        std::vector<Bytes> seen;
        Packet packet;
        Bytes dropped;
        for (ByteSpan part : {ByteSpan(stream).first(cut), ByteSpan(stream).subspan(cut)}) {
            framer.Feed(part);
            while (framer.Next(packet, dropped) == PacketFramer::Outcome::Packet)
                seen.push_back(packet.bytes);
        }
        ASSERT_EQ(seen.size(), 2u) << "cut at " << cut;
        EXPECT_EQ(seen[0], first);
        EXPECT_EQ(seen[1], second);
    }
    PacketFramer framer;
    framer.Feed(Hex("04000000 00000000 1200 0400 03000000"));
    framer.Feed(first);
    Packet packet;
    Bytes dropped;
    EXPECT_EQ(framer.Next(packet, dropped), PacketFramer::Outcome::OutOfStep);
    EXPECT_EQ(dropped.size(), 32u);
    EXPECT_EQ(framer.Buffered(), 0u);
}

// --- Discovery ---

const Bytes kSearch = Hex("00000000 1300 2200 78563412 020000000001 0000"
                          "536561726368204b657374726f205043204d6f646500");

TEST(Discovery, TheStockRequestIs42BytesAndPasses) {
    ASSERT_EQ(kSearch.size(), 42u);
    EXPECT_EQ(BuildSearchRequest(~0x12345678u, Hex("020000000001")), kSearch);
    SearchRequest request;
    EXPECT_TRUE(CheckSearchRequest(kSearch, request).empty());
    EXPECT_EQ(request.token, 0x12345678u);
    EXPECT_EQ(request.mac, Hex("020000000001"));
}

TEST(Discovery, EachRequestFaultHasItsRule) {
    auto with = [](std::size_t offset, std::uint8_t value) {
        Bytes bytes = kSearch;
        bytes[offset] = value;
        return bytes;
    };
    Bytes whole = kSearch; // the 1044-byte buffer sent whole
    whole.resize(1044, 0);
    SetU16(whole, 6, 1036);
    struct Case {
        Bytes bytes;
        const char* rule;
    } cases[] = {
        {with(0, 1), "search.header"},
        {with(4, 18), "search.header"},
        {with(6, 35), "search.length"},
        {with(18, 1), "search.zero"},
        {with(41, 'x'), "search.text"},
        {whole, "search.size"},
        {Bytes(kSearch.begin(), kSearch.begin() + 12), "search.size"},
    };
    for (const Case& c : cases) {
        SearchRequest request;
        EXPECT_TRUE(Has(CheckSearchRequest(c.bytes, request), c.rule)) << c.rule;
    }
}

TEST(Discovery, AnswerLayoutAndEachFaultChangesOnlyItsField) {
    SearchRequest request;
    CheckSearchRequest(kSearch, request);
    AnswerFields fields;
    fields.productName = "P";
    fields.deviceName = "Wohnzimmer \xc3\x9c";
    fields.connectInform = 1;
    fields.activeInform = 2;
    fields.workStatus = 3;
    const Bytes good = BuildSearchAnswer(request, fields, AnswerVariant::Good);
    EXPECT_EQ(good, Hex("00000000 1300 3b00 87a9cbed 01000000 020000000001 0000 0100 0200 03000000"
                        "4b657374726f205043204d6f64652041434b00 5000"
                        "576f686e7a696d6d657220c39c00"));

    auto field = [](const Bytes& bytes, std::size_t offset, std::size_t size) {
        return Bytes(bytes.begin() + offset, bytes.begin() + offset + size);
    };
    struct Case {
        AnswerVariant variant;
        std::size_t offset, size; // the field that differs from the good answer
    } cases[] = {
        {AnswerVariant::Reserved, 0, 4}, {AnswerVariant::Tag, 4, 2},
        {AnswerVariant::Length19, 6, 2}, {AnswerVariant::Length20, 6, 2},
        {AnswerVariant::Token, 8, 4},    {AnswerVariant::ZeroAt12, 12, 4},
        {AnswerVariant::MacEcho, 16, 8}, {AnswerVariant::CutName, 6, 2},
    };
    for (const Case& c : cases) {
        Bytes faulty = BuildSearchAnswer(request, fields, c.variant);
        ASSERT_EQ(faulty.size(), good.size()) << AnswerVariantName(c.variant);
        EXPECT_NE(field(faulty, c.offset, c.size), field(good, c.offset, c.size));
        std::copy_n(good.begin() + c.offset, c.size, faulty.begin() + c.offset);
        EXPECT_EQ(faulty, good) << AnswerVariantName(c.variant);
    }
    EXPECT_EQ(GetU16(BuildSearchAnswer(request, fields, AnswerVariant::Length19), 6), 19);
    EXPECT_EQ(GetU16(BuildSearchAnswer(request, fields, AnswerVariant::Length20), 6), 20);
    EXPECT_EQ(GetU32(BuildSearchAnswer(request, fields, AnswerVariant::Token), 8), 0x12345678u);
    const Bytes big = BuildSearchAnswer(request, fields, AnswerVariant::Length1024);
    EXPECT_EQ(GetU16(big, 6), 1024);
    EXPECT_EQ(big.size(), 1032u);
    // The PC zeroes byte 7 + L: three bytes of DeviceName stay.
    const Bytes cut = BuildSearchAnswer(request, fields, AnswerVariant::CutName);
    EXPECT_EQ(7u + GetU16(cut, 6), 51u + 2 + 3);
    EXPECT_EQ(field(BuildSearchAnswer(request, fields, AnswerVariant::TextExtra), 32, 20),
              Hex("4b657374726f205043204d6f64652041434b5800"));
    const Bytes open = BuildSearchAnswer(request, fields, AnswerVariant::Unterminated);
    EXPECT_EQ(open.size(), good.size() - 1);
    EXPECT_EQ(GetU16(open, 6), open.size() - 8);
}

} // namespace
} // namespace player
