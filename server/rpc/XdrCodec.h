// XDR primitives over an XdrBuffer: bounds-checked reads of a request, limit-checked writes of
// a reply, big-endian stores and loads.
#pragma once

#include <cstdint>

#include "server/rpc/XdrBuffer.h"

namespace rpc {

class XdrReader {
  public:
    explicit XdrReader(XdrBuffer& buffer) : buffer_(buffer) {}

    bool ReadBytes(void* destination, std::uint32_t count);
    // Points at `count` bytes of the request without copying them; advances like ReadBytes.
    bool ReadInPlace(const std::uint8_t*& bytes, std::uint32_t count);
    bool ReadUInt32(std::uint32_t& value);
    bool ReadBool(bool& value);
    bool ReadUInt64(std::uint64_t& value);

    std::uint32_t Remaining() const { return buffer_.length - buffer_.position; }

  private:
    XdrBuffer& buffer_;
};

class XdrWriter {
  public:
    explicit XdrWriter(XdrBuffer& buffer) : buffer_(buffer) {}

    bool WriteBytes(const void* source, std::uint32_t count);
    // Appends `count` bytes (plus XDR padding, zeroed) and returns where the caller may fill
    // them in, or nullptr when the reply would pass the limit.
    std::uint8_t* Reserve(std::uint32_t count);
    bool WriteUInt32(std::uint32_t value);
    bool WriteBool(bool value);
    bool WriteUInt64(std::uint64_t value);

    // Drops what was written after `length` (used to shorten a reply that failed midway).
    void Truncate(std::uint32_t length) { buffer_.length = length; }
    std::uint32_t Length() const { return buffer_.length; }

  private:
    XdrBuffer& buffer_;
};

// Big-endian stores and loads for building images.
inline void StoreBigEndian32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}
inline void StoreBigEndian64(std::uint8_t* at, std::uint64_t value) {
    StoreBigEndian32(at, static_cast<std::uint32_t>(value >> 32));
    StoreBigEndian32(at + 4, static_cast<std::uint32_t>(value));
}
inline std::uint32_t LoadBigEndian32(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}
inline std::uint64_t LoadBigEndian64(const std::uint8_t* at) {
    return (std::uint64_t{LoadBigEndian32(at)} << 32) | LoadBigEndian32(at + 4);
}

} // namespace rpc
