// HandOffSelection: the lists, then the block around the synchronous notification.
#include "common/handoff/HandOffWriter.h"

#include "common/handoff/ListFiles.h"
#include "common/platform/FileSystem.h"
#include "common/platform/SharedMemory.h"
#include "common/text/DebugPrint.h"

#include <algorithm>

namespace handoff {

HandOffOutcome HandOffSelection(const Selection& selection, const HandOffNotify& notify,
                                const HandOffTargets& targets) {
    const std::u16string listFolder =
        targets.listFolder.empty() ? ListFolder(kExtensionFolderFailure) : targets.listFolder;
    text::DebugPrint(u"%s", listFolder);
    switch (ReplaceLists(BuildListPaths(listFolder), selection)) {
    case ListsOutcome::Replaced:
        break;
    case ListsOutcome::OldListStands:
        return HandOffOutcome::OldListStands;
    case ListsOutcome::NotWritten:
        return HandOffOutcome::ListsNotWritten;
    }

    text::DebugPrint(u"SendMap: m_wstrFilePath=%s \n", selection.folder);
    platform::SharedMemory block;
    bool alreadyExisted = false;
    if (!block.Create(targets.blockName, kHandOffBlockBytes, alreadyExisted)) {
        const std::uint32_t error = platform::LastFileError();
        text::DebugPrint(u"Error: hSendMap=0x%x", 0);
        text::DebugPrintSystemError(error);
        return HandOffOutcome::NoBlock;
    }
    const std::uint32_t createError = platform::LastFileError();
    text::DebugPrint(u"OK: hSendMap=0x%x", block.HandleValue());
    if (alreadyExisted)
        text::DebugPrint(u"OK: GetLastError() == ERROR_ALREADY_EXISTS ");
    text::DebugPrintSystemError(createError);

    if (!block.Map()) {
        const std::uint32_t error = platform::LastFileError();
        text::DebugPrint(u"Error: lpSendData=0x%x", 0);
        text::DebugPrintSystemError(error);
        return HandOffOutcome::NoView;
    }
    // An existing block of another writer may be smaller than ours: stay inside its view.
    const std::size_t units = std::min(kHandOffBlockUnits, block.ViewSize() / sizeof(char16_t));
    text::CopyCut(selection.folder, static_cast<char16_t*>(block.WritableView()), units);

    if (notify)
        notify();
    return HandOffOutcome::Notified;
}

} // namespace handoff
