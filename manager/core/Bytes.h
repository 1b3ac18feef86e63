// Little-endian fields of the discovery datagrams and control packets, written and read one by
// one; every read is checked against the bytes that arrived.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace manager {

using ByteSpan = std::span<const std::uint8_t>;

inline void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

inline void PutBytes(std::vector<std::uint8_t>& out, ByteSpan bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// False (and `value` untouched) when the field does not lie wholly within `bytes`.
inline bool GetU16(ByteSpan bytes, std::size_t offset, std::uint16_t& value) {
    if (offset > bytes.size() || bytes.size() - offset < 2)
        return false;
    value = static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
    return true;
}

inline bool GetU32(ByteSpan bytes, std::size_t offset, std::uint32_t& value) {
    if (offset > bytes.size() || bytes.size() - offset < 4)
        return false;
    value = static_cast<std::uint32_t>(bytes[offset]) |
            static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
            static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
            static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
    return true;
}

// An IPv4 address in network byte order (as sockaddr_in keeps it), whatever the host's order.
inline std::array<std::uint8_t, 4> Octets(std::uint32_t networkOrder) {
    std::array<std::uint8_t, 4> octets{};
    std::memcpy(octets.data(), &networkOrder, 4);
    return octets;
}

inline std::uint32_t FromOctets(const std::array<std::uint8_t, 4>& octets) {
    std::uint32_t networkOrder = 0;
    std::memcpy(&networkOrder, octets.data(), 4);
    return networkOrder;
}

} // namespace manager
