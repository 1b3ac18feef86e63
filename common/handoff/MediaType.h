// Media classification of file names by extension, shared by the extension and the manager.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace handoff {

// The player reports the same values in its file-status reports.
enum class MediaType : std::int32_t { None = 0, Video = 1, Audio = 2, Image = 3 };

struct MediaExtensionRow {
    char16_t extension[8]; // with its leading dot, at most 7 characters and a terminator
    std::int32_t length;   // characters, dot included
    MediaType type;
};

extern const std::array<MediaExtensionRow, 49> MediaExtensionTable;

// The type of a full path by the extension of its last component (only its last dot counts);
// None for a component without a dot or an extension not in the table.
MediaType ClassifyMediaFile(std::u16string_view path);

} // namespace handoff
