// Control packets as the player reads and writes them: framing of the byte stream, the
// commands of both directions, answers, and the checks of what the PC sends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "player/Bytes.h"
#include "player/Departure.h"

namespace player {

inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::uint16_t kPacketTag = 19;

// Requests of the PC.
inline constexpr std::uint32_t REQ_ConnectKestro = 0x00000001;
inline constexpr std::uint32_t REQ_AssignFileIndex = 0x00000002;
inline constexpr std::uint32_t REQ_PlayCtrl = 0x00000003;
inline constexpr std::uint32_t REQ_UpdateFileList = 0x00000004;
inline constexpr std::uint32_t REQ_GetStatus = 0x00000005;
// Requests of the player.
inline constexpr std::uint32_t CTRL_REQ_CONNECT_PC = 0x80010000;
inline constexpr std::uint32_t CTRL_REQ_GETNEXTFILE_PC = 0x80020000;
inline constexpr std::uint32_t CTRL_REQ_PLAYSTATUS_PC = 0x80030000;
inline constexpr std::uint32_t CTRL_REQ_ASSIGNFILESTATUS_PC = 0x80050000;

// REQ_ConnectKestro sub-commands and REQ_PlayCtrl keys.
inline constexpr std::uint32_t kConnectOpen = 0, kConnectClose = 1, kConnectWithCode = 2,
                               kConnectDeactivate = 3;
inline constexpr std::uint32_t KEY_PLAY = 0, kKeyStop = 1, kKeyPause = 2, kKeyForward = 5,
                               kKeyRewind = 6;
// Play states.
inline constexpr std::uint32_t kStatePlaying = 0, kStateStopped = 1, kStatePaused = 2;

inline constexpr std::uint32_t SwapHalves(std::uint32_t cmd) {
    return cmd << 16 | cmd >> 16;
}

// Wire name of a request or of the answer to one; "unknown" otherwise.
const char* CommandName(std::uint32_t cmd);

// One packet: 12 header bytes and `length` more.
struct Packet {
    std::uint32_t cmd = 0;
    std::uint32_t reserved = 0;
    std::uint16_t tag = 0;
    std::uint16_t length = 0;
    Bytes bytes; // the whole packet

    // subCmd of a request, result of an answer (0 when the packet has no such field).
    std::uint32_t Word(std::size_t offset) const {
        return bytes.size() >= offset + 4 ? GetU32(bytes, offset) : 0;
    }
    ByteSpan From(std::size_t offset) const {
        return offset < bytes.size() ? ByteSpan(bytes).subspan(offset) : ByteSpan();
    }
};

// Cuts a byte stream into packets, whatever the reads' boundaries. A header whose reserved or
// tag is wrong puts the stream out of step: everything buffered is dropped.
class PacketFramer {
  public:
    enum class Outcome { Packet, NeedMore, OutOfStep };

    void Feed(ByteSpan data) { buffer_.insert(buffer_.end(), data.begin(), data.end()); }
    Outcome Next(Packet& packet, Bytes& dropped);
    std::size_t Buffered() const { return buffer_.size(); }
    void Clear() { buffer_.clear(); }

  private:
    Bytes buffer_;
};

// Header (reserved 0, tag 19, length = 4 + body), the 32-bit word at 12, then `body`.
Bytes BuildPacket(std::uint32_t cmd, std::uint32_t word12, ByteSpan body);

// The answer to `request`: halves-exchanged cmd, length + 4, `result`, the request's subCmd,
// then `body` resized to the request's payload length.
Bytes BuildAnswer(const Packet& request, std::uint32_t result, Bytes body);

// What the PC must do with a player request: answer it with `result`, or not at all.
struct AnswerExpectation {
    bool answered = false;
    std::uint32_t result = 0;
};
AnswerExpectation ExpectedAnswer(ByteSpan request);

// Checks the PC's answer to `request` (whose answer it claims to be by its cmd).
Departures CheckPcAnswer(ByteSpan request, const Packet& answer);

// The connect payload of REQ_ConnectKestro, decoded as far as it goes.
struct ConnectPayload {
    Bytes mac;
    Bytes code; // 8 bytes
    std::string hostName;
};
bool DecodeConnectPayload(const Packet& request, ConnectPayload& payload);

// What the checks of a PC request compare against.
struct RequestContext {
    std::optional<Bytes> discoveryMac; // from the PC's last search request
    std::optional<Bytes> expectedMac;
    std::optional<std::string> expectedHostName;
    bool accessCodeAsked = false; // this connection answered 101
};

// Checks a PC request (cmd 1 to 5) against its table: length, subCmd, payload.
Departures CheckPcRequest(const Packet& request, const RequestContext& context);

} // namespace player
