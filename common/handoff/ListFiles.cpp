// The list folder and paths, the list image, and the replacement of the lists on a hand-off.
#include "common/handoff/ListFiles.h"

#include "common/platform/Clock.h"
#include "common/platform/FileSystem.h"
#include "common/platform/ListFolder.h"
#include "common/text/DebugPrint.h"

namespace handoff {

namespace {

// Retries of a failed delete: about a quarter of a second in all, on Explorer's thread.
constexpr int kDeleteAttempts = 6;
constexpr std::uint32_t kDeleteRetryMs = 50;

void AppendUnit(std::string& bytes, char16_t unit) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
}

bool IsMissingError(std::uint32_t error) {
    return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
}

// Free only when nothing answers to the name: a file deleted while another program holds it
// open with delete sharing lingers, delete-pending, until that program closes it.
bool NameIsFree(const std::u16string& path, std::uint32_t& error) {
    std::uint32_t attributes = 0;
    if (platform::GetPathAttributes(path, attributes)) {
        error = platform::kErrorAlreadyExists;
        return false;
    }
    error = platform::LastFileError();
    return IsMissingError(error);
}

// True when no file stands at `path` any more.
bool RemoveOldList(const std::u16string& path) {
    for (int attempt = 1;; ++attempt) {
        std::uint32_t error = platform::kErrorSuccess;
        if (!platform::RemoveFile(path))
            error = platform::LastFileError();
        std::uint32_t standing = platform::kErrorSuccess;
        if (NameIsFree(path, standing))
            return true;
        if (attempt == kDeleteAttempts) {
            text::DebugPrint(u"Error: old list stays: %s \n", path);
            text::DebugPrintSystemError(error != platform::kErrorSuccess ? error : standing);
            return false;
        }
        platform::SleepMs(kDeleteRetryMs);
    }
}

// True when the whole list stands at `path`; otherwise nothing stands there and the reason is
// logged.
bool WriteList(const std::u16string& path, const std::vector<std::u16string>& names) {
    platform::OpenOptions options;
    options.access = platform::FileAccess::Write;
    options.share = platform::FileShare::ReadWrite;
    options.disposition = platform::FileDisposition::CreateNew;
    platform::File file = platform::File::Open(path, options);
    if (!file.IsOpen()) {
        const std::uint32_t error = platform::LastFileError();
        text::DebugPrint(u"Error: list not created: %s \n", path);
        text::DebugPrintSystemError(error);
        return false;
    }
    const std::string image = ListImage(names);
    // A short write is followed by one that says why (a full disk).
    std::size_t done = 0;
    std::uint32_t error = platform::kErrorSuccess;
    while (done < image.size()) {
        std::uint32_t written = 0;
        if (!file.Write(image.data() + done, static_cast<std::uint32_t>(image.size() - done),
                        written)) {
            error = platform::LastFileError();
            break;
        }
        if (written == 0) {
            error = platform::kErrorDiskFull;
            break;
        }
        done += written;
    }
    const bool whole = done == image.size();
    file.Close();
    // A cut list would hand the player part of the selection; leave none instead.
    if (!whole) {
        text::DebugPrint(u"Error: list not written: %s \n", path);
        text::DebugPrintSystemError(error);
        platform::RemoveFile(path);
        return false;
    }
    platform::SetPathAttributes(path, platform::kAttributeHidden);
    return true;
}

} // namespace

std::u16string ListFolder(std::u16string_view failureLine) {
    bool documentsMissing = false;
    std::u16string folder =
        platform::ListFolder(platform::ListFolderFallback::kCurrentDirectory, &documentsMissing);
    // The shell leaves nothing usable in its buffer: the line shows an empty folder.
    if (documentsMissing)
        text::DebugPrint(failureLine, std::u16string());
    // The platform's folder ends with a separator; the list paths add their own backslash.
    if (!folder.empty())
        folder.pop_back();
    return folder;
}

const std::u16string& ListPaths::For(MediaType type) const {
    switch (type) {
    case MediaType::Video:
        return video;
    case MediaType::Audio:
        return audio;
    case MediaType::Image:
        return image;
    case MediaType::None:
        break;
    }
    static const std::u16string kNone;
    return kNone;
}

ListPaths BuildListPaths(std::u16string_view listFolder) {
    const std::u16string folder(listFolder);
    return {folder + u"\\" + kVideoListName, folder + u"\\" + kAudioListName,
            folder + u"\\" + kImageListName};
}

std::string ListImage(std::span<const std::u16string> names) {
    std::string bytes = "\xFF\xFE";
    for (const std::u16string& name : names) {
        for (const char16_t unit : name)
            AppendUnit(bytes, unit);
        AppendUnit(bytes, u'\r');
        AppendUnit(bytes, u'\n');
    }
    return bytes;
}

ListsOutcome ReplaceLists(const ListPaths& paths, const Selection& selection) {
    constexpr MediaType kTypes[] = {MediaType::Video, MediaType::Audio, MediaType::Image};
    // Every old list goes before any new one is written: an old list that stays must not
    // stand beside new ones.
    for (const MediaType type : kTypes) {
        if (!RemoveOldList(paths.For(type)))
            return ListsOutcome::OldListStands;
    }
    for (std::size_t i = 0; i < std::size(kTypes); ++i) {
        const std::vector<std::u16string>& names = selection.NamesOf(kTypes[i]);
        if (names.empty() || WriteList(paths.For(kTypes[i]), names))
            continue;
        // Part of the selection would pass for all of it: the lists written so far go too.
        for (std::size_t j = 0; j < i; ++j)
            platform::RemoveFile(paths.For(kTypes[j]));
        return ListsOutcome::NotWritten;
    }
    return ListsOutcome::Replaced;
}

} // namespace handoff
