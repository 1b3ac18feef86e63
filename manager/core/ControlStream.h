// The control connection is a byte stream: a read may hold several packets or part of one.
// This carry buffer of one largest packet (2064 bytes) cuts what arrived into whole packets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "manager/core/ControlPacket.h"

namespace manager {

class ControlStream {
  public:
    enum class Next {
        Empty,            // nothing buffered
        HeaderIncomplete, // fewer than 12 bytes buffered; kept for the next read
        OutOfStep,        // the buffered header cannot start a packet; the bytes before the
                          // next place where one may start were dropped
        Incomplete,       // a valid header, not all of its packet yet; kept for the next read
        Packet,           // a whole packet was taken out into `packet`
    };

    // Copies as much of `bytes` as there is room for and returns how much; the room is never
    // empty while the stream keeps no whole packet.
    std::size_t Append(std::span<const std::uint8_t> bytes);

    // Looks at the front of the buffer. `header` is filled for OutOfStep, Incomplete and Packet.
    Next Take(PacketHeader& header, std::vector<std::uint8_t>& packet);

    std::size_t Buffered() const { return size_; }
    void Clear() { size_ = 0; }

  private:
    // Drops the front up to the next offset whose bytes could begin an in-step header (all of
    // it when there is none), so that a packet behind garbage is still found.
    void DropToNextHeader();

    std::array<std::uint8_t, kMaxPacketSize> buffer_{};
    std::size_t size_ = 0;
};

} // namespace manager
