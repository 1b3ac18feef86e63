// printf-style formatting of UTF-16 text with arguments typed at compile time.
// The format is always a literal of the program; paths, names and received text travel as
// arguments, so no character of them is ever interpreted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace text {

// One argument of a format. Integers keep their signedness; 8-bit strings are UTF-8.
class FormatArg {
  public:
    enum class Kind { Signed, Unsigned, Text16, Text8 };

    template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
             !std::is_same_v<T, char16_t>)
        FormatArg(T value) // NOLINT(google-explicit-constructor): built by Format's pack expansion
        : kind_(std::is_signed_v<T> ? Kind::Signed : Kind::Unsigned),
          integer_(std::is_signed_v<T>
                       ? static_cast<std::uint64_t>(static_cast<std::int64_t>(value))
                       : static_cast<std::uint64_t>(value)) {}
    FormatArg(bool value) : kind_(Kind::Unsigned), integer_(value ? 1 : 0) {}
    FormatArg(char value) : kind_(Kind::Unsigned), integer_(static_cast<unsigned char>(value)) {}
    FormatArg(char16_t value) : kind_(Kind::Unsigned), integer_(value) {}
    FormatArg(const char16_t* value)
        : kind_(Kind::Text16), text16_(value == nullptr ? u"(null)" : value) {}
    FormatArg(std::u16string_view value) : kind_(Kind::Text16), text16_(value) {}
    FormatArg(const std::u16string& value) : kind_(Kind::Text16), text16_(value) {}
    FormatArg(const char* value)
        : kind_(Kind::Text8), text8_(value == nullptr ? "(null)" : value) {}
    FormatArg(std::string_view value) : kind_(Kind::Text8), text8_(value) {}
    FormatArg(const std::string& value) : kind_(Kind::Text8), text8_(value) {}
    // Handles and pointers print as their numeric value (%x, %p).
    FormatArg(const void* value)
        : kind_(Kind::Unsigned), integer_(reinterpret_cast<std::uintptr_t>(value)) {}

    Kind kind() const { return kind_; }
    std::uint64_t integer() const { return integer_; }
    std::u16string_view text16() const { return text16_; }
    std::string_view text8() const { return text8_; }

  private:
    Kind kind_;
    std::uint64_t integer_ = 0;
    std::u16string_view text16_;
    std::string_view text8_;
};

// Formats with the conversions d i u x X o c s p and %%, the flags - 0 + space #, a width and a
// precision, and the length modifiers h hh l ll I64 (l is 32 bits, as on Windows). A missing
// argument leaves its conversion as written; an argument of the other kind is shown as what it
// is (a number in decimal, a text as text).
std::u16string FormatList(std::u16string_view format, std::span<const FormatArg> args);

template <typename... Args> std::u16string Format(std::u16string_view format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return FormatList(format, {});
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        return FormatList(format, list);
    }
}

// Cuts `text` so that it fits a buffer of `capacity` units with its terminator (at most
// capacity - 1 units), never between the two halves of a surrogate pair.
void CutToFit(std::u16string& text, std::size_t capacity);

// Format, then CutToFit: what a fixed buffer of `capacity` units would hold.
template <typename... Args>
std::u16string FormatCut(std::size_t capacity, std::u16string_view format, const Args&... args) {
    std::u16string out = Format(format, args...);
    CutToFit(out, capacity);
    return out;
}

// Copies `source` into `buffer` (of `capacity` units) as plain text, cut to fit, and terminates
// it; returns the number of units copied. Nothing is written when capacity is 0.
std::size_t CopyCut(std::u16string_view source, char16_t* buffer, std::size_t capacity);

} // namespace text
