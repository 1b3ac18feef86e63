// Cutting the control connection's bytes into packets.
#include "manager/core/ControlStream.h"

#include <cstring>

namespace manager {

void ControlStream::Commit(std::size_t received) {
    size_ += received > buffer_.size() - size_ ? buffer_.size() - size_ : received;
}

ControlStream::Next ControlStream::Take(PacketHeader& header, std::vector<std::uint8_t>& packet) {
    if (size_ == 0)
        return Next::Empty;
    if (!ReadHeader(std::span(buffer_.data(), size_), header))
        return Next::HeaderIncomplete;
    // A header no sender in step would write: where the next packet starts is unknown, so all
    // that is buffered goes.
    if (!IsInStep(header)) {
        size_ = 0;
        return Next::OutOfStep;
    }
    const std::size_t total = kPacketHeaderSize + header.length;
    if (size_ < total)
        return Next::Incomplete;
    packet.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    std::memmove(buffer_.data(), buffer_.data() + total, size_ - total);
    size_ -= total;
    return Next::Packet;
}

} // namespace manager
