// XDR primitives: every read is checked against the received length, every write against the
// message limit, and nothing is written when a write fails.
#include "server/rpc/XdrCodec.h"

#include <cstring>

namespace rpc {
namespace {

constexpr std::uint32_t Pad4(std::uint32_t count) {
    return (4 - (count & 3)) & 3;
}

} // namespace

bool XdrReader::ReadInPlace(const std::uint8_t*& bytes, std::uint32_t count) {
    const std::uint32_t available = buffer_.length - buffer_.position;
    if (buffer_.position > buffer_.length || count > available)
        return false;
    bytes = buffer_.data + buffer_.position;
    // Padding may run past the end of the message; the cursor then simply sits at the end.
    const std::uint64_t advanced = std::uint64_t{count} + Pad4(count);
    buffer_.position = advanced > available
                           ? buffer_.length
                           : buffer_.position + static_cast<std::uint32_t>(advanced);
    return true;
}

bool XdrReader::ReadBytes(void* destination, std::uint32_t count) {
    const std::uint8_t* bytes = nullptr;
    if (!ReadInPlace(bytes, count))
        return false;
    if (count != 0)
        std::memcpy(destination, bytes, count);
    return true;
}

bool XdrReader::ReadUInt32(std::uint32_t& value) {
    std::uint8_t bytes[4];
    if (!ReadBytes(bytes, 4))
        return false;
    value = LoadBigEndian32(bytes);
    return true;
}

bool XdrReader::ReadBool(bool& value) {
    std::uint32_t word = 0;
    if (!ReadUInt32(word))
        return false;
    value = word != 0;
    return true;
}

bool XdrReader::ReadUInt64(std::uint64_t& value) {
    std::uint8_t bytes[8];
    if (!ReadBytes(bytes, 8))
        return false;
    value = LoadBigEndian64(bytes);
    return true;
}

std::uint8_t* XdrWriter::Reserve(std::uint32_t count) {
    const std::uint64_t newLength = std::uint64_t{buffer_.length} + count + Pad4(count);
    if (newLength > kMessageLimit)
        return nullptr;
    const auto needed = static_cast<std::uint32_t>(newLength);
    if (buffer_.capacity < needed && !SetCapacity(buffer_, needed, kGrowthAlignment))
        return nullptr;
    std::uint8_t* at = buffer_.data + buffer_.length;
    if (Pad4(count) != 0)
        std::memset(at + count, 0, Pad4(count));
    buffer_.length = needed;
    return at;
}

bool XdrWriter::WriteBytes(const void* source, std::uint32_t count) {
    std::uint8_t* at = Reserve(count);
    if (at == nullptr)
        return false;
    if (count != 0)
        std::memcpy(at, source, count);
    return true;
}

bool XdrWriter::WriteUInt32(std::uint32_t value) {
    std::uint8_t* at = Reserve(4);
    if (at == nullptr)
        return false;
    StoreBigEndian32(at, value);
    return true;
}

bool XdrWriter::WriteBool(bool value) {
    return WriteUInt32(value ? 1 : 0);
}

bool XdrWriter::WriteUInt64(std::uint64_t value) {
    std::uint8_t* at = Reserve(8);
    if (at == nullptr)
        return false;
    StoreBigEndian64(at, value);
    return true;
}

} // namespace rpc
