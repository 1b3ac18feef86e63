// Byte layout of the search request and its answer, offset by offset.
#include "player/DiscoveryCodec.h"

#include <algorithm>
#include <array>

namespace player {

namespace {

struct VariantName {
    AnswerVariant variant;
    const char* name;
};

constexpr std::array<VariantName, 13> kVariantNames = {{
    {AnswerVariant::Good, "good"},
    {AnswerVariant::Reserved, "reserved"},
    {AnswerVariant::Tag, "tag"},
    {AnswerVariant::Length19, "len19"},
    {AnswerVariant::Length1024, "len1024"},
    {AnswerVariant::Length20, "len20"},
    {AnswerVariant::Token, "token"},
    {AnswerVariant::ZeroAt12, "zero12"},
    {AnswerVariant::MacEcho, "mac"},
    {AnswerVariant::TextExtra, "text-extra"},
    {AnswerVariant::TextWrong, "text-wrong"},
    {AnswerVariant::CutName, "cut-name"},
    {AnswerVariant::Unterminated, "unterminated"},
}};

std::string Quoted(const Bytes& bytes) {
    return "hex " + ToHex(bytes);
}

} // namespace

Departures CheckSearchRequest(ByteSpan datagram, SearchRequest& request) {
    Departures out;
    const std::size_t size = datagram.size();
    if (size < 8) {
        out.push_back({"search.size", "datagram of " + std::to_string(size) +
                                          " bytes is shorter than the 8-byte header"});
        return out;
    }
    if (GetU32(datagram, 0) != 0)
        out.push_back({"search.header", "bytes 0 to 3 are not zero"});
    if (GetU16(datagram, 4) != kDiscoveryTag)
        out.push_back(
            {"search.header", "tag is " + std::to_string(GetU16(datagram, 4)) + ", not 19"});
    const std::uint16_t length = GetU16(datagram, 6);
    if (length != size - 8)
        out.push_back({"search.length", "length says " + std::to_string(length) + " but " +
                                            std::to_string(size - 8) + " bytes follow the header"});
    else if (length != kSearchRequestSize - 8)
        out.push_back({"search.length", "length is " + std::to_string(length) + ", not 34"});
    if (size != kSearchRequestSize)
        out.push_back({"search.size",
                       "datagram of " + std::to_string(size) + " bytes; the stock request is 42"});
    if (size < 20) {
        out.push_back({"search.size", "no room for the token and the MAC address"});
        return out;
    }
    request.usable = true;
    request.token = GetU32(datagram, 8);
    request.mac.assign(datagram.begin() + 12, datagram.begin() + 18);
    request.echo.assign(datagram.begin() + 12, datagram.begin() + 20);
    if (GetU16(datagram, 18) != 0)
        out.push_back({"search.zero", "bytes 18 and 19 are not zero"});
    Bytes text(datagram.begin() + 20, datagram.begin() + std::min<std::size_t>(size, 42));
    Bytes expected(kSearchText.begin(), kSearchText.end());
    expected.push_back(0);
    if (text != expected)
        out.push_back({"search.text", "text at offset 20 is " + Quoted(text) +
                                          ", not \"Search Kestro PC Mode\" and a zero byte"});
    return out;
}

Bytes BuildSearchRequest(std::uint32_t tick, ByteSpan mac) {
    Bytes out;
    PutU32(out, 0);
    PutU16(out, kDiscoveryTag);
    PutU16(out, static_cast<std::uint16_t>(13 + kSearchText.size()));
    PutU32(out, ~tick);
    out.insert(out.end(), mac.begin(), mac.end());
    out.resize(18, 0);
    PutU16(out, 0);
    PutText(out, kSearchText);
    out.push_back(0);
    return out;
}

bool ParseAnswerVariant(std::string_view name, AnswerVariant& variant) {
    for (const VariantName& entry : kVariantNames) {
        if (name == entry.name) {
            variant = entry.variant;
            return true;
        }
    }
    return false;
}

const char* AnswerVariantName(AnswerVariant variant) {
    for (const VariantName& entry : kVariantNames) {
        if (entry.variant == variant)
            return entry.name;
    }
    return "?";
}

Bytes BuildSearchAnswer(const SearchRequest& request, const AnswerFields& fields,
                        AnswerVariant variant) {
    Bytes out;
    PutU32(out, variant == AnswerVariant::Reserved ? 1 : 0);
    PutU16(out, variant == AnswerVariant::Tag ? kDiscoveryTag - 1 : kDiscoveryTag);
    PutU16(out, 0); // length, set at the end
    PutU32(out, variant == AnswerVariant::Token ? request.token : ~request.token);
    PutU32(out,
           variant == AnswerVariant::ZeroAt12 ? 0 : (fields.field12 != 0 ? fields.field12 : 1));
    Bytes echo = request.echo;
    echo.resize(8, 0);
    if (variant == AnswerVariant::MacEcho)
        echo[5] ^= 0xFF;
    out.insert(out.end(), echo.begin(), echo.end());
    PutU16(out, fields.connectInform);
    PutU16(out, fields.activeInform);
    PutU32(out, fields.workStatus);
    if (variant == AnswerVariant::TextExtra)
        PutText(out, "Kestro PC Mode ACKX");
    else if (variant == AnswerVariant::TextWrong)
        PutText(out, "Kestro PC Mode ACk");
    else
        PutText(out, kAnswerText);
    out.push_back(0);
    PutText(out, fields.productName);
    out.push_back(0);
    const std::size_t deviceStart = out.size();
    PutText(out, fields.deviceName);
    if (variant != AnswerVariant::Unterminated)
        out.push_back(0);

    std::size_t length = out.size() - 8;
    switch (variant) {
    case AnswerVariant::Length19:
        length = 19;
        break;
    case AnswerVariant::Length20:
        length = 20;
        break;
    case AnswerVariant::Length1024:
        length = 1024;
        out.resize(8 + 1024, 0);
        break;
    case AnswerVariant::CutName:
        // The PC zeroes byte 7 + L, so it keeps the first three bytes of DeviceName.
        length = deviceStart + 3 - 7;
        break;
    default:
        break;
    }
    SetU16(out, 6, static_cast<std::uint16_t>(std::min<std::size_t>(length, 0xFFFF)));
    return out;
}

} // namespace player
