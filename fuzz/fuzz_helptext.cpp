// Fuzz target: the help window's text assembled from arbitrary help-file bytes. The text must
// fit its buffer of twice the file's size with the terminator, and an empty file gives none.
#include <string_view>
#include <vector>

#include "fuzz/ManagerFuzz.h"
#include "manager/core/HelpText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the file's size, so that ASan sees a read past its end.
    const std::vector<char> file(data, data + size);
    const std::u16string text =
        manager::AssembleHelpText(std::string_view(file.data(), file.size()));
    if (size == 0)
        fuzzing::Check(text.empty(), "text from an empty file");
    else
        fuzzing::Check(text.size() <= 2 * size - 1, "a text larger than its buffer");
    return 0;
}
