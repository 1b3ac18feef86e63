// The per-user list folder: Documents + "Lumavert", where the extension writes the list files,
// the manager reads them and the server exports them under "/lst".
#pragma once

#include <string>

namespace platform {

enum class ListFolderFallback {
    // The manager and the extension: the current directory stands in for a missing Documents
    // folder, and a folder that cannot be made is still the answer.
    kCurrentDirectory,
    // The server: without Documents, or when the folder neither exists nor can be made, the
    // folder of its executable.
    kExecutableFolder,
};

// The list folder with a trailing separator, made when missing. `documentsMissing`, when given,
// tells whether the shell gave no Documents folder (each program logs that with a line of its own).
std::u16string ListFolder(ListFolderFallback fallback, bool* documentsMissing = nullptr);

} // namespace platform
