// Datagrams of device discovery (UDP port 62000): the PC's search request and the player's
// answer with its checks, applied in order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "manager/core/Bytes.h"

namespace manager {

inline constexpr std::uint16_t kDiscoveryPort = 62000;
inline constexpr std::uint16_t kDiscoveryTag = 19;
inline constexpr std::size_t kSearchRequestSize = 42;
// The PC reads at most this much of an answer.
inline constexpr std::size_t kMaxAnswerSize = 1056;

using MacAddress = std::array<std::uint8_t, 6>;

// 42 bytes: header (0, tag 19, length 34), the token ~tick, the MAC, two zeros, the text.
std::vector<std::uint8_t> BuildSearchRequest(std::uint32_t tick, const MacAddress& mac);

// The first check an answer fails, in the order they are applied.
enum class AnswerCheck {
    Ok,
    Reserved, // bytes 0-3 not 0
    Tag,      // not 19
    Length,   // L outside 20..1023
    Token,    // not the PC's raw tick
    NonZero,  // bytes 12-15 are 0
    MacEcho,  // bytes 16-23 are not the request's 12-19 (SearchTargets only)
    Text,     // not exactly "Kestro PC Mode ACK"
};

struct SearchAnswer {
    std::uint16_t connectInform = 0;
    std::uint16_t activeInform = 0;
    std::uint32_t workStatus = 0;
    std::string productName; // UTF-8 as received
    std::string deviceName;
};

// Checks a received datagram against the request built from `tick` and `mac`. A field that
// did not arrive fails its check. Before the text and names are read, the byte at 7 + L is
// taken as 0; names also end where the datagram does.
AnswerCheck CheckSearchAnswer(ByteSpan datagram, std::uint32_t tick, const MacAddress& mac,
                              bool checkMacEcho, SearchAnswer& answer);

} // namespace manager
