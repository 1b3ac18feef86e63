// The list folder, from the platform's Documents folder.
#include "common/platform/ListFolder.h"

#include "common/platform/FileSystem.h"

namespace platform {

namespace {

bool IsFolder(const std::u16string& path) {
    std::uint32_t attributes = 0;
    return GetPathAttributes(path, attributes) && (attributes & kAttributeDirectory) != 0;
}

} // namespace

std::u16string ListFolder(ListFolderFallback fallback, bool* documentsMissing) {
    const std::u16string separator(1, NativeSeparator());
    std::u16string documents;
    const bool haveDocuments = DocumentsFolder(true, documents) && !documents.empty();
    if (documentsMissing != nullptr)
        *documentsMissing = !haveDocuments;
    if (fallback == ListFolderFallback::kCurrentDirectory) {
        if (!haveDocuments && !CurrentDirectory(documents))
            documents = u".";
        const std::u16string folder = documents + separator + u"Lumavert";
        if (!IsFolder(folder))
            MakeDirectory(folder);
        return folder + separator;
    }
    if (haveDocuments) {
        const std::u16string folder = documents + separator + u"Lumavert";
        if (IsFolder(folder) || MakeDirectory(folder) || IsFolder(folder))
            return folder + separator;
    }
    std::u16string executableFolder;
    if (ExecutableFolder(executableFolder))
        return executableFolder;
    return u"." + separator;
}

} // namespace platform
