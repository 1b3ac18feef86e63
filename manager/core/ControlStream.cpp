// Cutting the control connection's bytes into packets.
#include "manager/core/ControlStream.h"

#include <algorithm>
#include <cstring>

namespace manager {

std::size_t ControlStream::Append(std::span<const std::uint8_t> bytes) {
    const std::size_t taken = std::min(bytes.size(), buffer_.size() - size_);
    std::memcpy(buffer_.data() + size_, bytes.data(), taken);
    size_ += taken;
    return taken;
}

ControlStream::Next ControlStream::Take(PacketHeader& header, std::vector<std::uint8_t>& packet) {
    if (size_ == 0)
        return Next::Empty;
    if (!ReadHeader(std::span(buffer_.data(), size_), header))
        return Next::HeaderIncomplete;
    // A header no sender in step would write: the stream goes on at the next place where a
    // header may start. Six fixed bytes (reserved 0, tag 19) make a false start in garbage rare.
    if (!IsInStep(header)) {
        DropToNextHeader();
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

void ControlStream::DropToNextHeader() {
    // Byte by byte what an in-step header holds at offsets 4 to 9 (reserved 0, the tag); its
    // length is checked when both of its bytes are there.
    static constexpr std::uint8_t kFixed[6] = {0, 0, 0, 0, kPacketTag & 0xFF, kPacketTag >> 8};
    const auto couldStartAt = [this](std::size_t at) {
        const std::size_t available = size_ - at;
        for (std::size_t i = 0; i < 6 && 4 + i < available; ++i)
            if (buffer_[at + 4 + i] != kFixed[i])
                return false;
        if (available < kPacketHeaderSize)
            return true;
        const auto length = static_cast<std::uint16_t>(buffer_[at + 10] | buffer_[at + 11] << 8);
        return length >= kMinPacketLength && length <= kMaxPacketLength;
    };
    std::size_t at = 1;
    while (at < size_ && !couldStartAt(at))
        ++at;
    std::memmove(buffer_.data(), buffer_.data() + at, size_ - at);
    size_ -= at;
}

} // namespace manager
