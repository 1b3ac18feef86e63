// Building the search request and checking the players' answers.
#include "manager/core/DiscoveryPacket.h"

#include <algorithm>
#include <string_view>

namespace manager {

namespace {

constexpr std::string_view kSearchText = "Search Kestro PC Mode";
constexpr std::string_view kAnswerText = "Kestro PC Mode ACK";
constexpr std::size_t kAnswerTextOffset = 32;
constexpr std::size_t kNamesOffset = 51;
constexpr std::uint16_t kMinAnswerLength = 20;
constexpr std::uint16_t kMaxAnswerLength = 1023;

// Text from `offset` up to its zero byte or the end of `bytes`; `next` is past the zero.
std::string ReadZeroTerminated(ByteSpan bytes, std::size_t offset, std::size_t& next) {
    if (offset >= bytes.size()) {
        next = bytes.size();
        return {};
    }
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = std::find(begin, bytes.end(), std::uint8_t{0});
    next = end == bytes.end() ? bytes.size() : static_cast<std::size_t>(end - bytes.begin()) + 1;
    return std::string(begin, end);
}

} // namespace

std::vector<std::uint8_t> BuildSearchRequest(std::uint32_t tick, const MacAddress& mac) {
    std::vector<std::uint8_t> request;
    request.reserve(kSearchRequestSize);
    PutU32(request, 0);
    PutU16(request, kDiscoveryTag);
    PutU16(request, static_cast<std::uint16_t>(13 + kSearchText.size()));
    PutU32(request, ~tick);
    PutBytes(request, mac);
    PutU16(request, 0);
    request.insert(request.end(), kSearchText.begin(), kSearchText.end());
    request.push_back(0);
    return request;
}

AnswerCheck CheckSearchAnswer(ByteSpan datagram, std::uint32_t tick, const MacAddress& mac,
                              bool checkMacEcho, SearchAnswer& answer) {
    std::uint32_t reserved = 0;
    if (!GetU32(datagram, 0, reserved) || reserved != 0)
        return AnswerCheck::Reserved;
    std::uint16_t tag = 0;
    if (!GetU16(datagram, 4, tag) || tag != kDiscoveryTag)
        return AnswerCheck::Tag;
    std::uint16_t length = 0;
    if (!GetU16(datagram, 6, length) || length < kMinAnswerLength || length > kMaxAnswerLength)
        return AnswerCheck::Length;
    std::uint32_t token = 0;
    if (!GetU32(datagram, 8, token) || token != tick)
        return AnswerCheck::Token;
    std::uint32_t nonZero = 0;
    if (!GetU32(datagram, 12, nonZero) || nonZero == 0)
        return AnswerCheck::NonZero;
    if (checkMacEcho) {
        if (datagram.size() < 24 || !std::equal(mac.begin(), mac.end(), datagram.begin() + 16) ||
            datagram[22] != 0 || datagram[23] != 0)
            return AnswerCheck::MacEcho;
    }
    // The last byte the header announces becomes a terminator, as far as it arrived.
    std::vector<std::uint8_t> bytes(datagram.begin(), datagram.end());
    const std::size_t terminator = 7u + length;
    if (terminator < bytes.size())
        bytes[terminator] = 0;
    const ByteSpan view(bytes);
    if (view.size() < kNamesOffset ||
        !std::equal(kAnswerText.begin(), kAnswerText.end(), view.begin() + kAnswerTextOffset) ||
        view[kAnswerTextOffset + kAnswerText.size()] != 0)
        return AnswerCheck::Text;
    GetU16(view, 24, answer.connectInform);
    GetU16(view, 26, answer.activeInform);
    GetU32(view, 28, answer.workStatus);
    std::size_t next = 0;
    answer.productName = ReadZeroTerminated(view, kNamesOffset, next);
    answer.deviceName = ReadZeroTerminated(view, next, next);
    return AnswerCheck::Ok;
}

} // namespace manager
