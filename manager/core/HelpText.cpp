#include "manager/core/HelpText.h"

#include <cstddef>

#include "common/platform/CodePage.h"

namespace manager {
namespace {

std::u16string Decode(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string out;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        }
        return out;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    return platform::Utf8ToUtf16(bytes);
}

// Text mode: a CR before an LF is dropped.
std::u16string DropCarriageReturns(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue;
        out.push_back(text[i]);
    }
    return out;
}

} // namespace

std::u16string AssembleHelpText(std::string_view bytes) {
    const std::size_t capacity = 2 * bytes.size();
    if (capacity == 0)
        return {};
    const std::u16string text = DropCarriageReturns(Decode(bytes));
    std::u16string out;
    std::size_t read = 0;
    while (read < text.size() && capacity - out.size() >= 2) {
        // One line read: up to its LF, at most the remaining room less the terminator.
        const std::size_t room = capacity - out.size() - 1;
        std::size_t end = text.find(u'\n', read);
        end = end == std::u16string::npos ? text.size() : end + 1;
        if (end - read > room)
            end = read + room;
        out.append(text, read, end - read);
        read = end;
        if (capacity - out.size() < 3)
            break;
        out += u"\r\n";
        if (capacity == out.size())
            break;
    }
    if (out.size() >= capacity)
        out.resize(capacity - 1);
    return out;
}

} // namespace manager
