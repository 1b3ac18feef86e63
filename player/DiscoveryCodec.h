// The discovery datagrams as the player sees them: checks of the PC's search request, and the
// answers it sends, good or deliberately faulty.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "player/Bytes.h"
#include "player/Departure.h"

namespace player {

inline constexpr std::uint16_t kDiscoveryTag = 19;
inline constexpr std::string_view kSearchText = "Search Kestro PC Mode";
inline constexpr std::string_view kAnswerText = "Kestro PC Mode ACK";
inline constexpr std::size_t kSearchRequestSize = 42;

// What an answer needs from the request; `usable` once the datagram holds bytes 0 to 19.
struct SearchRequest {
    bool usable = false;
    std::uint32_t token = 0;
    Bytes mac;  // bytes 12 to 17
    Bytes echo; // bytes 12 to 19, copied into the answer at offset 16
};

// Checks a received datagram against the request table (42 bytes, length 34, header, zero
// bytes, text) and fills `request` when it is long enough to answer.
Departures CheckSearchRequest(ByteSpan datagram, SearchRequest& request);

// The request as the PC builds it; for the flood and for tests.
Bytes BuildSearchRequest(std::uint32_t tick, ByteSpan mac);

// Each way an answer can be made to fail one of the PC's checks, and a few odd but valid ones.
enum class AnswerVariant {
    Good,
    Reserved,     // non-zero bytes 0 to 3
    Tag,          // tag 18
    Length19,     // L = 19
    Length1024,   // L = 1024 (the datagram is padded to match)
    Length20,     // L = 20: valid; the PC forces byte 27 to 0
    Token,        // the request's token, not its complement
    ZeroAt12,     // zero at offset 12
    MacEcho,      // the MAC echo differs in its last byte
    TextExtra,    // "Kestro PC Mode ACKX"
    TextWrong,    // "Kestro PC Mode ACk"
    CutName,      // valid: L ends inside DeviceName, so the PC keeps its first 3 bytes
    Unterminated, // valid: DeviceName runs to the end of the datagram without a zero byte
};

bool ParseAnswerVariant(std::string_view name, AnswerVariant& variant);
const char* AnswerVariantName(AnswerVariant variant);

struct AnswerFields {
    std::string productName = "Kestro Simulated Player";
    std::string deviceName = "kestro-player";
    std::uint16_t connectInform = 0;
    std::uint16_t activeInform = 0;
    std::uint32_t workStatus = 0;
    std::uint32_t field12 = 1; // any non-zero value
};

Bytes BuildSearchAnswer(const SearchRequest& request, const AnswerFields& fields,
                        AnswerVariant variant);

} // namespace player
