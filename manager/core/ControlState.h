// What the main dialog knows of the session with one player: the result slots that answers
// fill, and the player's state as its answers and requests report it.
#pragma once

#include <cstdint>

#include "manager/core/Bytes.h"
#include "manager/core/ControlPacket.h"

namespace manager {

// Not a wire value: marks a slot whose answer has not arrived yet.
inline constexpr std::uint32_t kResultPending = 0xF0000000;

struct ResultSlots {
    std::uint32_t connectResult = kResultPending; // any subCmd of CTRL_ACK_PC_CONNECT
    std::uint32_t openResult = kResultPending;    // subCmd 0 or 2
    std::uint32_t closeResult = kResultPending;   // subCmd 1 or 3
    std::uint32_t assignResult = kResultPending;
    std::uint32_t playResult = kResultPending; // KEY_PLAY
    std::uint32_t stopResult = kResultPending; // key 1
    std::uint32_t updateResult = kResultPending;
    std::uint32_t statusResult = kResultPending;
};

// Default values are the state the main dialog starts in.
struct ControlState {
    ResultSlots results;
    bool connected = false; // the player accepted the connection
    bool playing = false;   // playing or paused
    std::uint32_t playState = kPlayStateStopped;
    std::uint32_t fileIndex = 0; // 1-based; 0 is none
    std::uint32_t mediaType = 0;
    std::uint32_t playerAddress = 0; // network byte order; 0 until a connection is opened
    std::uint16_t playerPort = kControlPort;
};

// The address field starts at 127.0.0.1.
inline std::uint32_t InitialAddressField() {
    return FromOctets({127, 0, 0, 1});
}

} // namespace manager
