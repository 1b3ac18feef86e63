// The list folder, the paths of the three list files and their image: FF FE, then each name in
// UTF-16LE followed by 0D 00 0A 00. The extension writes the lists, the manager reads lines.
#pragma once

#include "common/handoff/MediaType.h"
#include "common/handoff/Selection.h"

#include <span>
#include <string>
#include <string_view>

namespace handoff {

inline constexpr char16_t kVideoListName[] = u"VideoList.txt";
inline constexpr char16_t kAudioListName[] = u"AudioList.txt";
inline constexpr char16_t kImageListName[] = u"ImageList.txt";

// The failure lines of ListFolder, one per side (the current directory is used instead).
inline constexpr char16_t kExtensionFolderFailure[] = u"Fail to Create Dir=%s";
inline constexpr char16_t kManagerFolderFailure[] = u"Fail to get Dir=%s";

// The Documents folder (created when missing) followed by "\Lumavert", or the current directory
// followed by it when there is no Documents folder (then `failureLine`, one of the two above,
// is logged). The folder is created; a failure to create it is ignored.
std::u16string ListFolder(std::u16string_view failureLine);

struct ListPaths {
    std::u16string video;
    std::u16string audio;
    std::u16string image;

    // Empty for MediaType::None.
    const std::u16string& For(MediaType type) const;
};

// The folder copied verbatim with "\VideoList.txt", "\AudioList.txt", "\ImageList.txt".
ListPaths BuildListPaths(std::u16string_view listFolder);

// The bytes of a list file holding `names`.
std::string ListImage(std::span<const std::u16string> names);

enum class ListsOutcome {
    Replaced,      // the new lists stand, the empty ones are gone
    OldListStands, // an old list could not be removed; no new list was written
    NotWritten,    // a new list could not be written; no list stands
};

// Step 2 of the hand-off: deletes the three lists, then writes and hides the non-empty ones. A
// delete that fails is retried briefly (a reader may hold the file for a moment). Either all
// new lists stand or none does, and never beside an old one; each failure logs why.
ListsOutcome ReplaceLists(const ListPaths& paths, const Selection& selection);

} // namespace handoff
