// The selection folder and name rules, and the walk over the selected paths.
#include "common/handoff/Selection.h"

#include "common/platform/FileSystem.h"
#include "common/text/DebugPrint.h"

namespace handoff {

std::u16string_view SelectionFolder(std::u16string_view itemPath) {
    const std::size_t n = itemPath.size();
    // From index n-2 down to 1: a trailing backslash (D:\) and one at index 0 do not count.
    for (std::size_t k = n >= 2 ? n - 2 : 0; k >= 1; --k) {
        if (itemPath[k] == u'\\')
            return itemPath.substr(0, k);
    }
    return itemPath;
}

std::u16string_view FileNameOf(std::u16string_view path) {
    const std::size_t slash = path.rfind(u'\\');
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

void Selection::Clear() {
    fileCount = videoCount = audioCount = imageCount = 0;
    videoNames.clear();
    audioNames.clear();
    imageNames.clear();
    folder.clear();
}

const std::vector<std::u16string>& Selection::NamesOf(MediaType type) const {
    switch (type) {
    case MediaType::Video:
        return videoNames;
    case MediaType::Audio:
        return audioNames;
    case MediaType::Image:
        return imageNames;
    case MediaType::None:
        break;
    }
    static const std::vector<std::u16string> kNone;
    return kNone;
}

namespace {

void AddMediaFile(Selection& selection, MediaType type, std::u16string_view path) {
    std::int32_t* count = nullptr;
    std::vector<std::u16string>* names = nullptr;
    switch (type) {
    case MediaType::Video:
        count = &selection.videoCount;
        names = &selection.videoNames;
        break;
    case MediaType::Audio:
        count = &selection.audioCount;
        names = &selection.audioNames;
        break;
    case MediaType::Image:
        count = &selection.imageCount;
        names = &selection.imageNames;
        break;
    case MediaType::None:
        return;
    }
    names->emplace_back(FileNameOf(path));
    ++*count;
    ++selection.fileCount;
}

} // namespace

void CollectSelection(std::span<const std::u16string> paths, Selection& out) {
    out.Clear();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::u16string& path = paths[i];
        if (path.size() >= kPathUnits) {
            text::DebugPrint(u"CContextMenu:: Path of %d units skipped \n",
                             static_cast<std::int32_t>(path.size()));
            if (i == 0)
                break;
            continue;
        }
        if (i == 0)
            out.folder = SelectionFolder(path);
        std::uint32_t attributes = 0;
        if (!platform::GetPathAttributes(path, attributes)) {
            text::DebugPrint(u"CContextMenu:: GetFileAttributes Error \n");
            continue;
        }
        if ((attributes & platform::kAttributeDirectory) != 0)
            continue;
        AddMediaFile(out, ClassifyMediaFile(path), path);
    }
    if (!paths.empty()) {
        text::DebugPrint(u"CContextMenu::Initialize: m_nFileCount=%d (V%d A%d I%d)\n",
                         out.fileCount, out.videoCount, out.audioCount, out.imageCount);
    }
}

} // namespace handoff
