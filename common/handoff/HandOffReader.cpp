// OpenHandOffBlock and CloseHandOffBlock.
#include "common/handoff/HandOffReader.h"

#include "common/platform/FileSystem.h"
#include "common/text/DebugPrint.h"

#include <algorithm>

namespace handoff {

std::u16string_view FolderInView(const char16_t* units, std::size_t viewBytes) {
    const std::size_t limit = std::min(kHandOffFolderUnits, viewBytes / sizeof(char16_t));
    return std::u16string_view(units, std::find(units, units + limit, u'\0') - units);
}

std::u16string_view HandOffBlock::Folder() const {
    if (!memory_.IsMapped())
        return {};
    return FolderInView(static_cast<const char16_t*>(memory_.View()), memory_.ViewSize());
}

int OpenHandOffBlock(HandOffBlock& block, std::u16string_view blockName) {
    CloseHandOffBlock(block);
    if (!block.memory_.OpenReadOnly(blockName)) {
        const std::uint32_t error = platform::LastFileError();
        text::DebugPrint(u"Error: m_hReceiveMap=0x%x", 0);
        text::DebugPrintSystemError(error);
        return -1;
    }
    const std::uint32_t error = platform::LastFileError();
    text::DebugPrint(u"OK: m_hReceiveMap=0x%x", block.memory_.HandleValue());
    text::DebugPrintSystemError(error);
    if (!block.memory_.Map()) {
        block.memory_.Close();
        return -2;
    }
    return 0;
}

void CloseHandOffBlock(HandOffBlock& block) {
    block.memory_.Close();
}

} // namespace handoff
