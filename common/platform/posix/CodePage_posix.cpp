// Windows code pages over iconv, and upper-casing of UTF-16 under a UTF-8 C library locale.
#include "common/platform/CodePage.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <locale.h>
#include <map>
#include <mutex>
#include <utility>
#include <wctype.h>

namespace platform {

namespace {

struct CodePageEntry {
    std::uint32_t number;
    const char* iconvName;
    const char* displayName;
};

// Windows code page numbers and the glibc iconv names that convert the same way.
constexpr CodePageEntry kCodePages[] = {
    {437, "CP437", "OEM United States"},
    {737, "CP737", "OEM Greek"},
    {775, "CP775", "OEM Baltic"},
    {850, "CP850", "OEM Multilingual Latin I"},
    {852, "CP852", "OEM Latin II"},
    {855, "CP855", "OEM Cyrillic"},
    {857, "CP857", "OEM Turkish"},
    {858, "CP858", "OEM Multilingual Latin I + Euro"},
    {860, "CP860", "OEM Portuguese"},
    {861, "CP861", "OEM Icelandic"},
    {862, "CP862", "OEM Hebrew"},
    {863, "CP863", "OEM Canadian French"},
    {864, "CP864", "OEM Arabic"},
    {865, "CP865", "OEM Nordic"},
    {866, "CP866", "OEM Russian"},
    {869, "CP869", "OEM Modern Greek"},
    {874, "CP874", "Thai"},
    {932, "CP932", "Japanese Shift-JIS"},
    {936, "CP936", "Simplified Chinese GBK"},
    {949, "CP949", "Korean"},
    {950, "CP950", "Traditional Chinese Big5"},
    {1250, "CP1250", "Windows-1250 Central European"},
    {1251, "CP1251", "Windows-1251 Cyrillic"},
    {1252, "CP1252", "Windows-1252 Latin I"},
    {1253, "CP1253", "Windows-1253 Greek"},
    {1254, "CP1254", "Windows-1254 Turkish"},
    {1255, "CP1255", "Windows-1255 Hebrew"},
    {1256, "CP1256", "Windows-1256 Arabic"},
    {1257, "CP1257", "Windows-1257 Baltic"},
    {1258, "CP1258", "Windows-1258 Vietnamese"},
    {20127, "ASCII", "US-ASCII"},
    {20866, "KOI8-R", "Russian KOI8-R"},
    {21866, "KOI8-U", "Ukrainian KOI8-U"},
    {28591, "ISO-8859-1", "ISO 8859-1 Latin I"},
    {28592, "ISO-8859-2", "ISO 8859-2 Central European"},
    {28593, "ISO-8859-3", "ISO 8859-3 Latin 3"},
    {28594, "ISO-8859-4", "ISO 8859-4 Baltic"},
    {28595, "ISO-8859-5", "ISO 8859-5 Cyrillic"},
    {28596, "ISO-8859-6", "ISO 8859-6 Arabic"},
    {28597, "ISO-8859-7", "ISO 8859-7 Greek"},
    {28598, "ISO-8859-8", "ISO 8859-8 Hebrew"},
    {28599, "ISO-8859-9", "ISO 8859-9 Turkish"},
    {28603, "ISO-8859-13", "ISO 8859-13 Estonian"},
    {28605, "ISO-8859-15", "ISO 8859-15 Latin 9"},
    {51949, "EUC-KR", "EUC Korean"},
    {54936, "GB18030", "Simplified Chinese GB18030"},
};

// char16_t strings are handed to iconv as bytes in the machine's own order.
constexpr const char* kUtf16Name =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
constexpr char16_t kReplacementChar = 0xFFFD;
constexpr char kDefaultChar = '?';

const CodePageEntry* FindCodePage(std::uint32_t number) {
    for (const CodePageEntry& entry : kCodePages) {
        if (entry.number == number)
            return &entry;
    }
    return nullptr;
}

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// An iconv descriptor carries conversion state, so one mutex guards both the cache and every
// conversion. Descriptors live until the process ends.
class ConverterCache {
  public:
    ConverterCache() = default;
    ConverterCache(const ConverterCache&) = delete;
    ConverterCache& operator=(const ConverterCache&) = delete;

    std::mutex& Mutex() { return mutex_; }

    // Call with Mutex() held. kNoConverter when iconv does not know the code page.
    iconv_t Get(const CodePageEntry& entry, bool toUtf16) {
        const auto key = std::make_pair(entry.number, toUtf16);
        const auto found = converters_.find(key);
        if (found != converters_.end())
            return found->second;
        const iconv_t cd = toUtf16 ? iconv_open(kUtf16Name, entry.iconvName)
                                   : iconv_open(entry.iconvName, kUtf16Name);
        converters_.emplace(key, cd);
        return cd;
    }

  private:
    std::mutex mutex_;
    std::map<std::pair<std::uint32_t, bool>, iconv_t> converters_;
};

// Never destroyed, so conversions made while the process exits still find their descriptors.
ConverterCache& Converters() {
    static ConverterCache* const cache = new ConverterCache();
    return *cache;
}

// Whether iconv knows the code page, without keeping a descriptor for it.
bool IconvKnows(const CodePageEntry& entry) {
    const iconv_t cd = iconv_open(kUtf16Name, entry.iconvName);
    if (cd == kNoConverter)
        return false;
    iconv_close(cd);
    return true;
}

// Runs `cd` over the whole input. Each undecodable input sequence is skipped and replaced by
// `replacement`; `skipUnit` says how many input bytes to skip for it.
template <typename Out, typename SkipFn>
void RunIconv(iconv_t cd, const char* input, std::size_t inputSize, Out& out,
              typename Out::value_type replacement, SkipFn skipUnit) {
    using Unit = typename Out::value_type;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out.assign(inputSize + 8, Unit{});
    std::size_t used = 0; // units of `out` filled
    char* in = const_cast<char*>(input);
    std::size_t inLeft = inputSize;
    bool flushing = false;
    for (;;) {
        char* outPtr = reinterpret_cast<char*>(out.data() + used);
        std::size_t outLeft = (out.size() - used) * sizeof(Unit);
        const std::size_t result = flushing ? iconv(cd, nullptr, nullptr, &outPtr, &outLeft)
                                            : iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        used = out.size() - outLeft / sizeof(Unit);
        if (result != static_cast<std::size_t>(-1)) {
            if (flushing)
                break;
            flushing = true; // Emit whatever a stateful converter still holds.
            continue;
        }
        if (error == E2BIG) {
            out.resize(out.size() * 2 + 16);
            continue;
        }
        if (error == EILSEQ || error == EINVAL) {
            if (used == out.size())
                out.resize(out.size() * 2 + 16);
            out[used++] = replacement;
            const std::size_t skip = error == EINVAL ? inLeft : skipUnit(in, inLeft);
            in += skip;
            inLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        break; // Anything else: keep what was converted.
    }
    out.resize(used);
}

// Bytes of one UTF-16 character at `in`: a surrogate pair is skipped as a whole.
std::size_t Utf16CharBytes(const char* in, std::size_t left) {
    if (left < 2)
        return left;
    char16_t first;
    std::memcpy(&first, in, sizeof(first));
    if (first >= 0xD800 && first <= 0xDBFF && left >= 4) {
        char16_t second;
        std::memcpy(&second, in + 2, sizeof(second));
        if (second >= 0xDC00 && second <= 0xDFFF)
            return 4;
    }
    return 2;
}

// The upper-case table of a UTF-8 locale; null when none exists, which leaves only ASCII.
locale_t UpperCaseLocale() {
    static const locale_t locale = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            const locale_t made = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
            if (made != static_cast<locale_t>(nullptr))
                return made;
        }
        return static_cast<locale_t>(nullptr);
    }();
    return locale;
}

} // namespace

bool MultiByteToUtf16(std::uint32_t codePage, std::string_view bytes, std::u16string& out) {
    if (codePage == kCodePageUtf8) {
        out = Utf8ToUtf16(bytes);
        return true;
    }
    const CodePageEntry* entry = FindCodePage(codePage);
    if (entry == nullptr)
        return false;
    ConverterCache& cache = Converters();
    std::lock_guard lock(cache.Mutex());
    const iconv_t cd = cache.Get(*entry, true);
    if (cd == kNoConverter)
        return false;
    RunIconv(cd, bytes.data(), bytes.size(), out, kReplacementChar,
             [](const char*, std::size_t) -> std::size_t { return 1; });
    return true;
}

bool Utf16ToMultiByte(std::uint32_t codePage, std::u16string_view text, std::string& out) {
    if (codePage == kCodePageUtf8) {
        out = Utf16ToUtf8(text);
        return true;
    }
    const CodePageEntry* entry = FindCodePage(codePage);
    if (entry == nullptr)
        return false;
    ConverterCache& cache = Converters();
    std::lock_guard lock(cache.Mutex());
    const iconv_t cd = cache.Get(*entry, false);
    if (cd == kNoConverter)
        return false;
    RunIconv(cd, reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t), out,
             kDefaultChar, Utf16CharBytes);
    return true;
}

std::uint32_t SystemAnsiCodePage() {
    return kCodePageUtf8;
}

std::vector<CodePageInfo> InstalledCodePages() {
    std::vector<CodePageInfo> pages;
    pages.push_back({kCodePageUtf8, u"65001 (UTF-8)"});
    for (const CodePageEntry& entry : kCodePages) {
        if (!IconvKnows(entry))
            continue;
        const std::string name = std::to_string(entry.number) + " (" + entry.displayName + ")";
        pages.push_back({entry.number, Utf8ToUtf16(name)});
    }
    return pages;
}

std::u16string UpperCase(std::u16string_view text) {
    std::u16string out(text);
    std::size_t i = 0;
    // Most names are ASCII: no locale lookup for them.
    for (; i < out.size() && out[i] < 0x80; ++i) {
        if (out[i] >= u'a' && out[i] <= u'z')
            out[i] = static_cast<char16_t>(out[i] - (u'a' - u'A'));
    }
    if (i == out.size())
        return out;
    const locale_t locale = UpperCaseLocale();
    for (; i < out.size(); ++i) {
        const char16_t unit = out[i];
        if (unit < 0x80) {
            if (unit >= u'a' && unit <= u'z')
                out[i] = static_cast<char16_t>(unit - (u'a' - u'A'));
            continue;
        }
        // Code units are mapped one by one, as the Windows call does; surrogates stay.
        if (locale == static_cast<locale_t>(nullptr) || (unit >= 0xD800 && unit <= 0xDFFF))
            continue;
        const wint_t upper = towupper_l(static_cast<wint_t>(unit), locale);
        if (upper <= 0xFFFF && !(upper >= 0xD800 && upper <= 0xDFFF))
            out[i] = static_cast<char16_t>(upper);
    }
    return out;
}

} // namespace platform
