// Fuzz target: the hand-off block's reader over arbitrary block contents and sizes. Each input
// is the whole block: read as it lies in memory (an allocation of exactly its size, so that
// ASan sees a read past it), and through OpenHandOffBlock over a real shared block of that size
// and contents; both must give the same folder, up to its first zero unit, at most 259 units
// and inside the block. Then the input taken as a folder is written into a block as the
// extension writes it and read back: the reader gets a prefix of what was written.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

#include "common/handoff/HandOffReader.h"
#include "common/platform/SharedMemory.h"
#include "common/text/Format.h"
#include "fuzz/ManagerFuzz.h"

namespace {

std::u16string BlockName() {
    const std::string name = "lumavert-fuzz-block-" + std::to_string(::getpid());
    return std::u16string(name.begin(), name.end());
}

void CheckFolder(std::u16string_view folder, const char16_t* units, std::size_t bytes) {
    const std::size_t limit = std::min(handoff::kHandOffFolderUnits, bytes / 2);
    fuzzing::Check(folder.size() <= limit, "a folder longer than the block or its 259 units");
    fuzzing::Check(folder.data() == units, "a folder that does not start the block");
    fuzzing::Check(folder.find(u'\0') == std::u16string_view::npos, "a zero unit in the folder");
    fuzzing::Check(folder.size() == limit || units[folder.size()] == u'\0',
                   "a folder cut before its zero unit");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::CheckDebugLines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // In memory. operator new aligns for char16_t.
    const std::unique_ptr<std::uint8_t[]> view(new std::uint8_t[size == 0 ? 1 : size]);
    if (size > 0)
        std::memcpy(view.get(), data, size);
    const auto* units = reinterpret_cast<const char16_t*>(view.get());
    const std::u16string_view folder = handoff::FolderInView(units, size);
    CheckFolder(folder, units, size);

    // Through a shared block of the input's size (a block is never empty).
    static const std::u16string name = BlockName();
    if (size > 0 && size <= 65536) {
        platform::SharedMemory writer;
        bool existed = false;
        fuzzing::Check(writer.Create(name, static_cast<std::uint32_t>(size), existed) && !existed &&
                           writer.Map() && writer.ViewSize() >= size,
                       "the fuzz block cannot be made");
        std::memcpy(writer.WritableView(), data, size);
        handoff::HandOffBlock block;
        fuzzing::Check(handoff::OpenHandOffBlock(block, name) == 0, "the block does not open");
        const std::u16string_view mapped = block.Folder();
        fuzzing::Check(mapped == folder, "the mapped block reads another folder");
        handoff::CloseHandOffBlock(block);
        fuzzing::Check(!block.IsOpen() && block.Folder().empty(), "a closed block still reads");
    }

    // The input as a folder, written as the extension writes it, and read back.
    std::u16string written(size / 2, u'\0');
    if (!written.empty())
        std::memcpy(written.data(), data, written.size() * 2);
    char16_t image[handoff::kHandOffBlockUnits];
    std::fill(std::begin(image), std::end(image), u'\xAAAA');
    text::CopyCut(written, image, handoff::kHandOffBlockUnits);
    const std::u16string_view back = handoff::FolderInView(image, sizeof image);
    CheckFolder(back, image, sizeof image);
    fuzzing::Check(std::u16string_view(written).substr(0, back.size()) == back,
                   "the folder read back is not what was written");
    return 0;
}
