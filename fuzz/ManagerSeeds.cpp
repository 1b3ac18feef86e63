// Seeds of the manager's targets, from the byte tables of the manager's and the hand-off's
// tests, written in each target's input format (see the targets' headers).
#include "fuzz/ManagerSeeds.h"

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "manager/core/ControlPacket.h"
#include "manager/core/DiscoveryPacket.h"

namespace fuzzing {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using manager::PutU16;
using manager::PutU32;

// The fake port's clock at the start of every input: the raw tick the answers must carry.
constexpr std::uint32_t kStartTick = 0x12345678;
const manager::MacAddress kMac = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};

Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

bool WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

struct Target {
    std::string name;
    std::vector<std::pair<std::string, Bytes>> seeds;
    std::vector<Bytes> words;
};

// --- Discovery: mode byte, then (flags, sender, length, bytes) records ---

Bytes Answer(std::uint16_t connectInform, std::string product, std::string device,
             int length = -1) {
    Bytes a = {0, 0, 0, 0, 19, 0, 0, 0};
    PutU32(a, kStartTick);
    PutU32(a, 7);
    a.insert(a.end(), kMac.begin(), kMac.end());
    PutU16(a, 0);
    PutU16(a, connectInform);
    PutU16(a, 0x1102);
    PutU32(a, 0x44332211);
    const Bytes text = Text("Kestro PC Mode ACK");
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

Bytes Record(std::uint8_t flags, std::uint8_t sender, const Bytes& datagram) {
    Bytes r = {flags, sender};
    PutU16(r, static_cast<std::uint16_t>(datagram.size()));
    r.insert(r.end(), datagram.begin(), datagram.end());
    return r;
}

Target DiscoverySeeds() {
    Target t{"fuzz_discovery", {}, {}};
    const Bytes free = Answer(0, "KP-100", "Den");
    const Bytes busy = Answer(1, "KP-\xC3\xA9", "Kitchen");
    // Mode: exchange in bits 0-1, fill token (4) and MAC (8), prefill in bits 4-5.
    t.seeds.push_back({"search_one_free", Join({{0x0C}, Record(3, 1, free)})});
    t.seeds.push_back({"search_raw_token", Join({{0x00}, Record(0, 1, free)})});
    t.seeds.push_back(
        {"refresh_busy_then_free", Join({{0x0D}, Record(3, 2, busy), Record(0x43, 2, free)})});
    t.seeds.push_back({"discover_busy_only", Join({{0x0E}, Record(3, 3, busy)})});
    t.seeds.push_back({"discover_silence", {0x0E}});
    t.seeds.push_back(
        {"search_full_table", Join({{0x3C}, Record(3, 9, free), Record(3, 0, busy)})});
    t.seeds.push_back(
        {"search_127_two_new", Join({{0x2C}, Record(3, 9, free), Record(0x13, 10, free)})});
    t.seeds.push_back({"length_19", Join({{0x0C}, Record(3, 1, Answer(0, "A", "B", 19))})});
    t.seeds.push_back({"length_20", Join({{0x0C}, Record(3, 1, Answer(0, "A", "B", 20))})});
    t.seeds.push_back({"length_1024", Join({{0x0C}, Record(3, 1, Answer(0, "A", "B", 1024))})});
    Bytes longer = Answer(0, "A", "B");
    longer[50] = 'X';
    t.seeds.push_back({"text_too_long", Join({{0x0C}, Record(3, 1, longer)})});
    t.seeds.push_back(
        {"names_200",
         Join({{0x0C}, Record(3, 1, Answer(0, std::string(200, 'p'), std::string(200, 'd')))})});
    t.seeds.push_back(
        {"names_4_byte_utf8",
         Join({{0x0C},
               Record(3, 1,
                      Answer(0, std::string(60, 'p') + "\xF0\x9F\x8E\xB5" + std::string(70, 'q'),
                             "\xC0\x80zero"))})});
    Bytes late = {0x0C};
    for (std::uint8_t i = 0; i < 6; ++i) {
        const Bytes r = Record(static_cast<std::uint8_t>(0xF3), static_cast<std::uint8_t>(20 + i),
                               Answer(i % 2, "KP", "late"));
        late.insert(late.end(), r.begin(), r.end());
    }
    t.seeds.push_back({"late_answers", late});
    Bytes many = {0x0C};
    for (int i = 0; i < 200; ++i) {
        const Bytes r = Record(static_cast<std::uint8_t>(3 | ((i >> 8) << 2) | (i >= 128 ? 4 : 0)),
                               static_cast<std::uint8_t>(i), Answer(0, "KP", "p"));
        many.insert(many.end(), r.begin(), r.end());
    }
    t.seeds.push_back({"two_hundred_players", many});
    Bytes tick;
    PutU32(tick, kStartTick);
    t.words = {Text("Kestro PC Mode ACK"),
               {0, 0, 0, 0, 19, 0},
               tick,
               Bytes(kMac.begin(), kMac.end()),
               {20, 0},
               {0xFF, 0x03},
               {0x00, 0x04},
               {7, 0, 0, 0}};
    return t;
}

// --- Control: opcode steps ---

Bytes Arrive(const Bytes& bytes, bool notify = true) {
    Bytes r = {static_cast<std::uint8_t>(notify ? 0x08 : 0x00)};
    PutU16(r, static_cast<std::uint16_t>(bytes.size() - 1));
    r.insert(r.end(), bytes.begin(), bytes.end());
    return r;
}

Bytes Packet(std::uint32_t cmd, std::uint32_t subCmd, const Bytes& body = {}) {
    return manager::BuildPacket(cmd, subCmd, body);
}

Bytes AnswerPacket(std::uint32_t cmd, std::uint32_t result, std::uint32_t subCmd,
                   const Bytes& body = {}) {
    Bytes payload;
    PutU32(payload, subCmd);
    payload.insert(payload.end(), body.begin(), body.end());
    return Packet(cmd, result, payload);
}

Target ControlSeeds() {
    using namespace manager;
    Target t{"fuzz_control", {}, {}};
    // Requests: opcode 2, then the selector (connect 0 | subCmd << 3, 1 assign, 2 key, 3
    // update, 4 status).
    const Bytes connect = {2, 0x00, 0};
    const Bytes connectCode = {2, 0x10, 8, '1', '2', '3', '4', '5', '6', '7', '8'};
    const Bytes status = {2, 4};
    const Bytes play = {2, 2, KEY_PLAY};
    const Bytes answerPosted = {3};
    Bytes connectBody(16, 0);
    const Bytes host = Text("pc-fuzz");
    connectBody.insert(connectBody.end(), host.begin(), host.end());
    connectBody.push_back(0);
    t.seeds.push_back(
        {"connect_accepted",
         Join({connect, Arrive(AnswerPacket(CTRL_ACK_PC_CONNECT, 0, 0, connectBody))})});
    t.seeds.push_back(
        {"connect_needs_code",
         Join({connect, Arrive(AnswerPacket(CTRL_ACK_PC_CONNECT, 101, 0, connectBody)),
               connectCode})});
    Bytes statusBody(12, 0);
    statusBody[4] = 2;
    statusBody[8] = 1;
    t.seeds.push_back(
        {"status_by_index",
         Join({status, Arrive(AnswerPacket(CTRL_ACK_PC_GETSTATUS, 0, 1, statusBody))})});
    t.seeds.push_back(
        {"play_then_stop", Join({play, Arrive(AnswerPacket(CTRL_ACK_PC_PLAYCTRL, 0, KEY_PLAY)),
                                 Bytes{2, 2, KEY_STOP}})});
    t.seeds.push_back(
        {"get_next_file_answered",
         Join({Arrive(Packet(CTRL_REQ_GETNEXTFILE_PC, 9, {1, 2, 3, 4})), answerPosted})});
    t.seeds.push_back(
        {"player_ends_session", Join({Arrive(Packet(CTRL_REQ_CONNECT_PC, 1)), answerPosted})});
    t.seeds.push_back({"player_connect_unsupported",
                       Join({Arrive(Packet(CTRL_REQ_CONNECT_PC, 7)), answerPosted})});
    t.seeds.push_back({"play_status_paused",
                       Join({Arrive(Packet(CTRL_REQ_PLAYSTATUS_PC, 0x102)), answerPosted})});
    t.seeds.push_back(
        {"assign_status_index",
         Join({Arrive(Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, {2, 0, 0, 0, 2, 0, 0, 0})),
               answerPosted})});
    t.seeds.push_back(
        {"assign_status_name",
         Join({Arrive(Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 0, {'a', 0, '.', 0, 'm', 0, 0, 0})),
               answerPosted})});
    const Bytes two = Join({Packet(CTRL_REQ_PLAYSTATUS_PC, 0), Packet(CTRL_REQ_GETNEXTFILE_PC, 1)});
    t.seeds.push_back({"two_packets_one_read", Join({Arrive(two), answerPosted})});
    const Bytes whole = Packet(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, {5, 0, 0, 0, 1, 0, 0, 0});
    t.seeds.push_back(
        {"packet_in_pieces", Join({Arrive(Bytes(whole.begin(), whole.begin() + 5), false),
                                   Arrive(Bytes(whole.begin() + 5, whole.begin() + 13)),
                                   Arrive(Bytes(whole.begin() + 13, whole.end())), answerPosted})});
    Bytes largest = Packet(CTRL_REQ_GETNEXTFILE_PC, 2, Bytes(kMaxPacketSize - 16, 0x41));
    t.seeds.push_back({"largest_request", Join({Arrive(largest), answerPosted})});
    t.seeds.push_back({"cut_send", Join({Bytes{6, 5, 0}, Arrive(Packet(CTRL_REQ_GETNEXTFILE_PC, 1)),
                                         answerPosted})});
    t.seeds.push_back({"peer_closes_reconnect", Bytes{4, 5, 2, 4, 1, 9}});
    Bytes outOfStep = Packet(CTRL_REQ_PLAYSTATUS_PC, 0);
    outOfStep[8] = 18;
    t.seeds.push_back({"out_of_step", Join({Arrive(outOfStep), answerPosted})});
    for (std::uint32_t cmd :
         {REQ_ConnectKestro, REQ_AssignFileIndex, REQ_PlayCtrl, REQ_UpdateFileList, REQ_GetStatus,
          CTRL_REQ_CONNECT_PC, CTRL_REQ_GETNEXTFILE_PC, CTRL_REQ_PLAYSTATUS_PC,
          CTRL_REQ_ASSIGNFILESTATUS_PC}) {
        Bytes word;
        PutU32(word, cmd);
        t.words.push_back(word);
        if (!IsPlayerRequest(cmd)) {
            word.clear();
            PutU32(word, SwapHalves(cmd));
            t.words.push_back(word);
        }
    }
    t.words.push_back({0, 0, 0, 0, 19, 0});
    for (std::uint16_t length : {4, 8, 12, 16, 20, 28, 2052, 2053})
        t.words.push_back(
            {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)});
    return t;
}

// --- List lines: index, capacity, chunk, then the file ---

Bytes ListFile(std::initializer_list<std::u16string_view> names, bool mark = true) {
    Bytes out;
    if (mark)
        out = {0xFF, 0xFE};
    for (std::u16string_view name : names) {
        for (char16_t unit : name) {
            out.push_back(static_cast<std::uint8_t>(unit));
            out.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        out.insert(out.end(), {0x0D, 0x00, 0x0A, 0x00});
    }
    return out;
}

Target ListLineSeeds() {
    Target t{"fuzz_listline", {}, {}};
    const auto head = [](std::int16_t index, std::uint8_t capacity, std::uint8_t chunk) {
        Bytes h;
        PutU16(h, static_cast<std::uint16_t>(index));
        h.push_back(capacity);
        h.push_back(chunk);
        return h;
    };
    const Bytes three = ListFile({u"a.mp3", u"b.mp3", u"c.mp3"});
    t.seeds.push_back({"one_audio_line", Join({head(1, 255, 0xFF), ListFile({u"a.mp3"})})});
    t.seeds.push_back({"second_of_three", Join({head(2, 255, 0), three})});
    t.seeds.push_back({"fifth_of_three", Join({head(5, 255, 3), three})});
    t.seeds.push_back({"index_zero", Join({head(0, 255, 0), three})});
    t.seeds.push_back({"index_negative", Join({head(-3, 255, 0), three})});
    t.seeds.push_back({"small_buffer", Join({head(1, 4, 0), ListFile({u"longer-name.mkv"})})});
    t.seeds.push_back({"no_mark", Join({head(2, 255, 1), ListFile({u"x.avi", u"y.avi"}, false)})});
    t.seeds.push_back(
        {"utf8_mark", Join({head(2, 255, 0), Text("\xEF\xBB\xBFone\r\ntw\xC3\xB6\r\n")})});
    t.seeds.push_back({"lone_cr_odd_byte",
                       Join({head(1, 255, 0), Bytes{0xFF, 0xFE, 'a', 0, 0x0D, 0, 'b', 0, 0x0D}})});
    t.seeds.push_back({"surrogates", Join({head(1, 255, 0), Bytes{0xFF, 0xFE, 0x3C, 0xD8, 0x75,
                                                                  0xDF, 0x00, 0xDC, 0x0A, 0}})});
    t.words = {
        {0xFF, 0xFE}, {0xEF, 0xBB, 0xBF}, {0x0D, 0x00, 0x0A, 0x00}, {0x0D, 0x0A}, {0x0D, 0x00}};
    return t;
}

// --- Hand-off block: the block's bytes ---

Bytes Units(std::u16string_view text, bool terminator) {
    Bytes out;
    for (char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    if (terminator)
        out.insert(out.end(), {0, 0});
    return out;
}

Target BlockSeeds() {
    Target t{"fuzz_handoff_block", {}, {}};
    Bytes music = Units(u"C:\\Music", true);
    music.resize(520, 0);
    t.seeds.push_back({"music_folder", music});
    t.seeds.push_back({"full_260_units", Units(std::u16string(260, u'x'), false)});
    t.seeds.push_back({"old_260_bytes", Units(std::u16string(130, u'y'), false)});
    t.seeds.push_back({"odd_size", Bytes{'C', 0, ':', 0, '\\'}});
    t.seeds.push_back({"percent_unc", Units(u"\\\\?\\UNC\\srv\\%s%n", true)});
    t.words = {{0, 0}, {'\\', 0}, {':', 0}, {0x3C, 0xD8}, {0x00, 0xDC}};
    return t;
}

// --- Help text: the file's bytes ---

Target HelpSeeds() {
    Target t{"fuzz_helptext", {}, {}};
    t.seeds.push_back({"utf8_crlf", Text("ab\r\ncd")});
    t.seeds.push_back({"utf8_mark", Text("\xEF\xBB\xBFx\xC3\xA9\n")});
    t.seeds.push_back({"utf16_mark", Bytes{0xFF, 0xFE, 'h', 0, 'i', 0, '\n', 0}});
    t.seeds.push_back({"line_feeds", Text("\n\n\n\n")});
    t.words = {{0xFF, 0xFE}, {0xEF, 0xBB, 0xBF}, {0x0D, 0x0A}, {0x0D, 0x00, 0x0A, 0x00}};
    return t;
}

} // namespace

std::string DictionaryWord(const std::vector<std::uint8_t>& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::uint8_t byte : bytes) {
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
    }
    return out + "\"";
}

bool WriteManagerSeeds(const fs::path& out) {
    bool ok = true;
    for (const Target& target :
         {DiscoverySeeds(), ControlSeeds(), ListLineSeeds(), BlockSeeds(), HelpSeeds()}) {
        const fs::path folder = out / "corpus" / target.name;
        std::error_code error;
        fs::remove_all(folder, error);
        fs::create_directories(folder, error);
        for (const auto& [name, bytes] : target.seeds)
            ok = WriteFile(folder / name, bytes) && ok;
        std::string dict = "# Generated by make_fuzz_corpus: tokens of this input's format.\n";
        int n = 0;
        for (const Bytes& word : target.words)
            dict += "w" + std::to_string(++n) + "=" + DictionaryWord(word) + "\n";
        ok = WriteFile(out / (target.name + ".dict"), Bytes(dict.begin(), dict.end())) && ok;
    }
    return ok;
}

} // namespace fuzzing
