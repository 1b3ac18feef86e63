// Packets of the device control protocol (TCP port 62000 of the player): the 12-byte header,
// requests both ways and their answers. Integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "manager/core/Bytes.h"

namespace manager {

inline constexpr std::uint16_t kControlPort = 62000;

// Requests of the PC.
inline constexpr std::uint32_t REQ_ConnectKestro = 0x00000001;
inline constexpr std::uint32_t REQ_AssignFileIndex = 0x00000002;
inline constexpr std::uint32_t REQ_PlayCtrl = 0x00000003;
inline constexpr std::uint32_t REQ_UpdateFileList = 0x00000004;
inline constexpr std::uint32_t REQ_GetStatus = 0x00000005;

// Their answers (the request's cmd with its halves exchanged).
inline constexpr std::uint32_t CTRL_ACK_PC_CONNECT = 0x00010000;
inline constexpr std::uint32_t CTRL_ACK_PC_ASSIGNFILE = 0x00020000;
inline constexpr std::uint32_t CTRL_ACK_PC_PLAYCTRL = 0x00030000;
inline constexpr std::uint32_t CTRL_ACK_PC_UPDATEFILELIST = 0x00040000;
inline constexpr std::uint32_t CTRL_ACK_PC_GETSTATUS = 0x00050000;

// Requests of the player.
inline constexpr std::uint32_t CTRL_REQ_CONNECT_PC = 0x80010000;
inline constexpr std::uint32_t CTRL_REQ_GETNEXTFILE_PC = 0x80020000;
inline constexpr std::uint32_t CTRL_REQ_PLAYSTATUS_PC = 0x80030000;
inline constexpr std::uint32_t CTRL_REQ_ASSIGNFILESTATUS_PC = 0x80050000;

// `subCmd` values of REQ_ConnectKestro.
inline constexpr std::uint32_t kConnectOpen = 0;
inline constexpr std::uint32_t kConnectClose = 1;
inline constexpr std::uint32_t kConnectWithCode = 2;
inline constexpr std::uint32_t kConnectDeactivate = 3;

// Keys of REQ_PlayCtrl.
inline constexpr std::uint8_t KEY_PLAY = 0;
inline constexpr std::uint8_t KEY_STOP = 1;
inline constexpr std::uint8_t KEY_PAUSE = 2;
inline constexpr std::uint8_t KEY_FF = 5;
inline constexpr std::uint8_t KEY_REW = 6;

// Play states in player requests and status answers.
inline constexpr std::uint32_t kPlayStatePlaying = 0;
inline constexpr std::uint32_t kPlayStateStopped = 1;
inline constexpr std::uint32_t kPlayStatePaused = 2;

inline constexpr std::uint16_t kPacketTag = 19;
inline constexpr std::size_t kPacketHeaderSize = 12;
// A receiver takes at most 2064 bytes at a time, so `length` lies in 4..2052.
inline constexpr std::size_t kMaxPacketSize = 2064;
inline constexpr std::uint16_t kMinPacketLength = 4;
inline constexpr std::uint16_t kMaxPacketLength = kMaxPacketSize - kPacketHeaderSize;

// Connect payload: MAC (6), zero (2), access code (8), host name in UTF-8 and its zero.
inline constexpr std::size_t kAccessCodeOffset = 8;
inline constexpr std::size_t kAccessCodeSize = 8;
inline constexpr std::size_t kHostNameOffset = 16;

struct PacketHeader {
    std::uint32_t cmd = 0;
    std::uint32_t reserved = 0;
    std::uint16_t tag = 0;
    std::uint16_t length = 0; // bytes after the header: 4 + payload
};

constexpr std::uint32_t SwapHalves(std::uint32_t cmd) {
    return (cmd << 16) | (cmd >> 16);
}

constexpr bool IsPlayerRequest(std::uint32_t cmd) {
    return (cmd & 0x80000000u) != 0;
}

// Header, `subCmd` (or an answer's `result`) and body: 16 + body bytes, `length` 4 + body.
std::vector<std::uint8_t> BuildPacket(std::uint32_t cmd, std::uint32_t subCmd, ByteSpan body);

// False when fewer than 12 bytes are given.
bool ReadHeader(ByteSpan bytes, PacketHeader& header);

// A header the stream can be in step with: reserved 0, tag 19 and a length a receiver accepts.
bool IsInStep(const PacketHeader& header);

// The answer to a whole request packet: halves exchanged, length + 4, `result`, the request's
// subCmd and its payload unchanged (none when its length is 4 or less).
std::vector<std::uint8_t> BuildAnswer(ByteSpan request, std::uint32_t result);

} // namespace manager
