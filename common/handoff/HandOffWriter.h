// The extension's side of the hand-off: lists, shared block, notification, release.
#pragma once

#include "common/handoff/HandOffNames.h"
#include "common/handoff/Selection.h"

#include <functional>
#include <string>

namespace handoff {

// Sends the notification and returns once every receiver has handled it (the extension
// broadcasts the registered message; tests read the block inside it).
using HandOffNotify = std::function<void()>;

enum class HandOffOutcome {
    Notified,        // the block was filled and the notification sent
    OldListStands,   // an old list could not be removed: no block, no notification
    ListsNotWritten, // a new list could not be written (full disk, no folder): none stands,
                     // no block, no notification
    NoBlock,         // the block could not be created
    NoView,          // the block could not be mapped
};

// Where a hand-off goes. The extension keeps the defaults; tests pass folders and names of their
// own, so that parallel runs and the user's own lists stay apart.
struct HandOffTargets {
    std::u16string listFolder; // empty: ListFolder(kExtensionFolderFailure)
    std::u16string blockName = kHandOffBlockName;
};

// Writes the three lists, puts the selection folder into the block, calls `notify` while the
// block exists, then releases it. Every step logs its debug lines.
HandOffOutcome HandOffSelection(const Selection& selection, const HandOffNotify& notify,
                                const HandOffTargets& targets = {});

} // namespace handoff
