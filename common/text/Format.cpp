// printf-style formatting of UTF-16 text; see Format.h for the accepted conversions.
#include "common/text/Format.h"

#include "common/platform/CodePage.h"

namespace text {

namespace {

struct Field {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    std::size_t width = 0;
    bool hasPrecision = false;
    std::size_t precision = 0;
    int bits = 32; // width of an integer argument: 8, 16, 32 or 64
    char16_t conversion = 0;
};

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Reads a conversion after its '%'; false when the text is no complete conversion.
bool ParseField(std::u16string_view format, std::size_t& pos, Field& field) {
    for (; pos < format.size(); ++pos) {
        const char16_t c = format[pos];
        if (c == u'-')
            field.left = true;
        else if (c == u'0')
            field.zero = true;
        else if (c == u'+')
            field.plus = true;
        else if (c == u' ')
            field.space = true;
        else if (c == u'#')
            field.alternate = true;
        else
            break;
    }
    // Widths and precisions are capped: a format of the program never needs more.
    constexpr std::size_t kMaxField = 4096;
    while (pos < format.size() && IsDigit(format[pos])) {
        field.width = std::min<std::size_t>(field.width * 10 + (format[pos] - u'0'), kMaxField);
        ++pos;
    }
    if (pos < format.size() && format[pos] == u'.') {
        field.hasPrecision = true;
        ++pos;
        while (pos < format.size() && IsDigit(format[pos])) {
            field.precision =
                std::min<std::size_t>(field.precision * 10 + (format[pos] - u'0'), kMaxField);
            ++pos;
        }
    }
    if (format.substr(pos, 3) == u"I64") {
        field.bits = 64;
        pos += 3;
    } else if (format.substr(pos, 2) == u"ll") {
        field.bits = 64;
        pos += 2;
    } else if (format.substr(pos, 2) == u"hh") {
        field.bits = 8;
        pos += 2;
    } else if (pos < format.size() && format[pos] == u'h') {
        field.bits = 16;
        ++pos;
    } else if (pos < format.size() && (format[pos] == u'l' || format[pos] == u'w')) {
        ++pos; // long is 32 bits on Windows; %ls / %ws name a UTF-16 text, as %s does here
    } else if (pos < format.size() && (format[pos] == u'z' || format[pos] == u'I')) {
        field.bits = 64;
        ++pos;
    }
    if (pos >= format.size())
        return false;
    field.conversion = format[pos++];
    return true;
}

std::uint64_t Truncate(std::uint64_t value, int bits) {
    return bits >= 64 ? value : value & ((std::uint64_t{1} << bits) - 1);
}

std::int64_t SignExtend(std::uint64_t value, int bits) {
    if (bits >= 64)
        return static_cast<std::int64_t>(value);
    const std::uint64_t truncated = Truncate(value, bits);
    const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
    return static_cast<std::int64_t>((truncated ^ sign) - sign);
}

std::u16string Digits(std::uint64_t value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), static_cast<char16_t>(digits[value % base]));
        value /= base;
    } while (value != 0);
    return out;
}

void Pad(std::u16string& out, std::u16string_view body, const Field& field, bool zeroAllowed,
         std::u16string_view prefix = {}) {
    const std::size_t length = prefix.size() + body.size();
    const std::size_t fill = field.width > length ? field.width - length : 0;
    if (field.left) {
        out += prefix;
        out += body;
        out.append(fill, u' ');
    } else if (field.zero && zeroAllowed) {
        out += prefix;
        out.append(fill, u'0');
        out += body;
    } else {
        out.append(fill, u' ');
        out += prefix;
        out += body;
    }
}

void AppendInteger(std::u16string& out, const FormatArg& arg, const Field& field) {
    const char16_t c = field.conversion;
    std::u16string prefix;
    std::u16string body;
    if (c == u'd' || c == u'i') {
        const std::int64_t value =
            arg.kind() == FormatArg::Kind::Signed
                ? SignExtend(arg.integer(), field.bits)
                : static_cast<std::int64_t>(Truncate(arg.integer(), field.bits));
        const std::uint64_t magnitude =
            value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        body = Digits(magnitude, 10, false);
        if (value < 0)
            prefix = u"-";
        else if (field.plus)
            prefix = u"+";
        else if (field.space)
            prefix = u" ";
    } else {
        const std::uint64_t value = Truncate(arg.integer(), field.bits);
        const unsigned base = c == u'u' ? 10 : c == u'o' ? 8 : 16;
        body = Digits(value, base, c == u'X');
        if (field.alternate && value != 0 && base == 16)
            prefix = c == u'X' ? u"0X" : u"0x";
        if (field.alternate && base == 8 && body.front() != u'0')
            body.insert(body.begin(), u'0');
    }
    if (field.hasPrecision && body.size() < field.precision)
        body.insert(body.begin(), field.precision - body.size(), u'0');
    if (field.hasPrecision && field.precision == 0 && body == u"0")
        body.clear();
    Pad(out, body, field, !field.hasPrecision, prefix);
}

void AppendText(std::u16string& out, const FormatArg& arg, const Field& field) {
    std::u16string converted;
    std::u16string_view text;
    if (arg.kind() == FormatArg::Kind::Text16) {
        text = arg.text16();
    } else if (arg.kind() == FormatArg::Kind::Text8) {
        converted = platform::Utf8ToUtf16(arg.text8());
        text = converted;
    } else {
        converted = arg.kind() == FormatArg::Kind::Signed
                        ? Format(u"%lld", static_cast<std::int64_t>(arg.integer()))
                        : Format(u"%llu", arg.integer());
        text = converted;
    }
    if (field.hasPrecision && text.size() > field.precision) {
        std::u16string cut(text);
        CutToFit(cut, field.precision + 1);
        converted = std::move(cut);
        text = converted;
    }
    Pad(out, text, field, false);
}

void AppendCharacter(std::u16string& out, const FormatArg& arg, const Field& field) {
    if (arg.kind() == FormatArg::Kind::Text16 || arg.kind() == FormatArg::Kind::Text8) {
        AppendText(out, arg, field);
        return;
    }
    std::u16string body;
    const std::uint64_t code = arg.integer();
    if (code >= 0x10000 && code <= 0x10FFFF) {
        body.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
        body.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
        body.push_back(static_cast<char16_t>(code));
    }
    Pad(out, body, field, false);
}

} // namespace

std::u16string FormatList(std::u16string_view format, std::span<const FormatArg> args) {
    std::u16string out;
    out.reserve(format.size() + 16 * args.size());
    std::size_t next = 0;
    std::size_t pos = 0;
    while (pos < format.size()) {
        const char16_t c = format[pos];
        if (c != u'%') {
            out.push_back(c);
            ++pos;
            continue;
        }
        const std::size_t start = pos++;
        if (pos < format.size() && format[pos] == u'%') {
            out.push_back(u'%');
            ++pos;
            continue;
        }
        Field field;
        const bool complete = ParseField(format, pos, field);
        const std::u16string_view written = format.substr(start, pos - start);
        if (!complete || next >= args.size()) {
            out += written;
            continue;
        }
        switch (field.conversion) {
        case u'd':
        case u'i':
        case u'u':
        case u'x':
        case u'X':
        case u'o':
            if (args[next].kind() == FormatArg::Kind::Signed ||
                args[next].kind() == FormatArg::Kind::Unsigned)
                AppendInteger(out, args[next], field);
            else
                AppendText(out, args[next], field);
            break;
        case u'p': {
            Field pointer = field;
            pointer.conversion = u'X';
            pointer.bits = 64;
            pointer.zero = true;
            pointer.width = sizeof(void*) * 2;
            AppendInteger(out, args[next], pointer);
            break;
        }
        case u's':
        case u'S':
            AppendText(out, args[next], field);
            break;
        case u'c':
        case u'C':
            AppendCharacter(out, args[next], field);
            break;
        default:
            out += written; // unknown conversion: shown as written, its argument kept
            continue;
        }
        ++next;
    }
    return out;
}

void CutToFit(std::u16string& text, std::size_t capacity) {
    if (capacity == 0) {
        text.clear();
        return;
    }
    if (text.size() <= capacity - 1)
        return;
    std::size_t keep = capacity - 1;
    // Never keep a high surrogate whose low half would be cut off.
    if (keep > 0 && text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF && text[keep] >= 0xDC00 &&
        text[keep] <= 0xDFFF)
        --keep;
    text.resize(keep);
}

std::size_t CopyCut(std::u16string_view source, char16_t* buffer, std::size_t capacity) {
    if (capacity == 0 || buffer == nullptr)
        return 0;
    std::u16string cut(source);
    CutToFit(cut, capacity);
    cut.copy(buffer, cut.size());
    buffer[cut.size()] = 0;
    return cut.size();
}

} // namespace text
