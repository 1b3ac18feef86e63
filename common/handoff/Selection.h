// What the extension keeps of an Explorer selection: the selection folder, the media counts and
// the names per media type, built from the selected paths in Explorer's order.
#pragma once

#include "common/handoff/MediaType.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace handoff {

// Path buffers on both sides hold 260 units with the terminator.
inline constexpr std::size_t kPathUnits = 260;

// The folder of an item: its path up to the last backslash before the final character (which is
// dropped), or the whole path without one. C:\Movies\a.avi gives C:\Movies, C:\a.avi gives C:,
// a drive root D:\ stays D:\.
std::u16string_view SelectionFolder(std::u16string_view itemPath);

// The text after the last backslash, or the whole path without one.
std::u16string_view FileNameOf(std::u16string_view path);

struct Selection {
    std::int32_t fileCount = 0; // media files
    std::int32_t videoCount = 0;
    std::int32_t audioCount = 0;
    std::int32_t imageCount = 0;
    std::vector<std::u16string> videoNames;
    std::vector<std::u16string> audioNames;
    std::vector<std::u16string> imageNames;
    std::u16string folder; // of the first item; empty until one is read

    // Counts, names and folder, so that nothing of a previous selection is handed on.
    void Clear();
    const std::vector<std::u16string>& NamesOf(MediaType type) const;
};

// Replaces `out` with the selection of `paths`: the first path gives the folder, items whose
// attributes cannot be read are skipped with a debug line, folders are skipped, media files are
// counted and named. A path of kPathUnits units or more is skipped with a debug line; as the
// first one it leaves the selection empty, since the names would have no folder to belong to.
// Ends with the count line when there was a path.
void CollectSelection(std::span<const std::u16string> paths, Selection& out);

} // namespace handoff
