// Hex, MAC text and UTF-8 validation for the player's log and checks.
#include "player/Bytes.h"

#include <algorithm>

namespace player {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string ToHex(ByteSpan bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 15]);
    }
    return text;
}

bool FromHex(std::string_view text, Bytes& out) {
    out.clear();
    int high = -1;
    for (char c : text) {
        if (c == ' ')
            continue;
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        if (high < 0) {
            high = digit;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(high << 4 | digit));
        high = -1;
    }
    return high < 0;
}

std::string MacText(ByteSpan mac) {
    std::string text;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        if (i > 0)
            text.push_back(':');
        text += ToHex(mac.subspan(i, 1));
    }
    return text;
}

bool ParseMac(std::string_view text, Bytes& mac) {
    std::string digits;
    for (char c : text) {
        if (c != ':' && c != '-')
            digits.push_back(c);
    }
    return FromHex(digits, mac) && mac.size() == 6;
}

bool IsAllZero(ByteSpan bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

bool IsValidUtf8(ByteSpan bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t lead = bytes[i];
        std::size_t extra = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (bytes.size() - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                return false;
            code = code << 6 | (bytes[i + k] & 0x3F);
        }
        static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

} // namespace player
