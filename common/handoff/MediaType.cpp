// The media extension table and the classification of a path by its extension.
#include "common/handoff/MediaType.h"

namespace handoff {

namespace {

constexpr MediaExtensionRow Row(std::u16string_view extension, MediaType type) {
    MediaExtensionRow row{{}, static_cast<std::int32_t>(extension.size()), type};
    for (std::size_t i = 0; i < extension.size() && i < 7; ++i)
        row.extension[i] = extension[i];
    return row;
}

constexpr char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

} // namespace

// Images first, then audio, then video; no extension occurs twice.
const std::array<MediaExtensionRow, 49> MediaExtensionTable = {
    Row(u".jpeg", MediaType::Image), Row(u".jpg", MediaType::Image),
    Row(u".bmp", MediaType::Image),  Row(u".gif", MediaType::Image),
    Row(u".tiff", MediaType::Image), Row(u".tif", MediaType::Image),
    Row(u".png", MediaType::Image),  Row(u".dng", MediaType::Image),
    Row(u".alb", MediaType::Image),

    Row(u".mp3", MediaType::Audio),  Row(u".wma", MediaType::Audio),
    Row(u".aac", MediaType::Audio),  Row(u".m4a", MediaType::Audio),
    Row(u".wav", MediaType::Audio),  Row(u".aiff", MediaType::Audio),
    Row(u".aif", MediaType::Audio),  Row(u".ogg", MediaType::Audio),
    Row(u".flac", MediaType::Audio), Row(u".ra", MediaType::Audio),
    Row(u".mka", MediaType::Audio),  Row(u".ec3", MediaType::Audio),
    Row(u".ape", MediaType::Audio),

    Row(u".ts", MediaType::Video),   Row(u".tp", MediaType::Video),
    Row(u".trp", MediaType::Video),  Row(u".m2ts", MediaType::Video),
    Row(u".mts", MediaType::Video),  Row(u".avsts", MediaType::Video),
    Row(u".wmv", MediaType::Video),  Row(u".asf", MediaType::Video),
    Row(u".mpeg", MediaType::Video), Row(u".mpg", MediaType::Video),
    Row(u".vob", MediaType::Video),  Row(u".dat", MediaType::Video),
    Row(u".avi", MediaType::Video),  Row(u".divx", MediaType::Video),
    Row(u".ifo", MediaType::Video),  Row(u".mkv", MediaType::Video),
    Row(u".iso", MediaType::Video),  Row(u".mov", MediaType::Video),
    Row(u".mp4", MediaType::Video),  Row(u".m4v", MediaType::Video),
    Row(u".rm", MediaType::Video),   Row(u".rmvb", MediaType::Video),
    Row(u".flv", MediaType::Video),  Row(u".ogm", MediaType::Video),
    Row(u".swf", MediaType::Video),  Row(u".asm", MediaType::Video),
    Row(u".avs", MediaType::Video),
};

MediaType ClassifyMediaFile(std::u16string_view path) {
    const std::size_t n = path.size();
    if (n <= 1)
        return MediaType::None;
    // Index 0 is never examined: a name that is only an extension (".mp3") has none.
    for (std::size_t i = n - 1; i >= 1; --i) {
        if (path[i] == u'\\')
            return MediaType::None;
        if (path[i] != u'.')
            continue;
        const std::u16string_view extension = path.substr(i);
        for (const MediaExtensionRow& row : MediaExtensionTable) {
            const std::u16string_view stored(row.extension, static_cast<std::size_t>(row.length));
            if (EqualsIgnoringAsciiCase(extension, stored))
                return row.type;
        }
        return MediaType::None;
    }
    return MediaType::None;
}

} // namespace handoff
