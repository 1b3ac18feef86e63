// Fuzz target: ReadListLine's reads over arbitrary list-file contents and indexes, in memory.
// Input: a 16-bit signed index, a capacity byte (255 stands for 260, the callers' buffer), a
// byte that sets how many bytes each read of the file gives, then the file's contents. The
// line must fit the capacity, hold an LF at most as its last unit, stay untouched for an index
// below 1, and be the same however the file's reads are cut.
#include <algorithm>
#include <cstring>
#include <string>

#include "common/handoff/HandOffReader.h"
#include "fuzz/ManagerFuzz.h"

namespace {

class MemorySource : public handoff::ListSource {
  public:
    MemorySource(std::span<const std::uint8_t> bytes, std::size_t chunk)
        : bytes_(bytes), chunk_(chunk) {}

    bool Read(void* buffer, std::uint32_t count, std::uint32_t& read) override {
        const std::size_t n = std::min({static_cast<std::size_t>(count), chunk_, bytes_.size()});
        if (n > 0)
            std::memcpy(buffer, bytes_.data(), n);
        bytes_ = bytes_.subspan(n);
        read = static_cast<std::uint32_t>(n);
        return true;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t chunk_;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::CheckDebugLines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::InputReader in(data, size);
    const auto index = static_cast<std::int16_t>(in.U16());
    const std::uint8_t capacityByte = in.U8();
    const std::size_t capacity = capacityByte == 255 ? 260 : capacityByte;
    const std::size_t chunk = 1 + static_cast<std::size_t>(in.U8()) * 17;
    // A copy of exactly the file's size, so that ASan sees a read past its end.
    const std::span<const std::uint8_t> rest = in.Take(in.Left());
    const std::vector<std::uint8_t> file(rest.begin(), rest.end());

    const std::u16string untouched = u"untouched";
    std::u16string cut = untouched;
    MemorySource cutSource(file, chunk);
    handoff::ReadListLineFrom(cutSource, index, cut, capacity);
    std::u16string whole = untouched;
    MemorySource wholeSource(file, SIZE_MAX);
    handoff::ReadListLineFrom(wholeSource, index, whole, capacity);

    fuzzing::Check(cut == whole, "the line depends on how the file's reads are cut");
    if (index < 1 || capacity < 2) {
        fuzzing::Check(cut == untouched, "a line read for an index below 1 or no room");
        return 0;
    }
    if (cut == untouched)
        return 0; // an empty file: nothing was read
    fuzzing::Check(!cut.empty() && cut.size() <= capacity - 1, "a line larger than its buffer");
    const std::size_t feed = cut.find(u'\n');
    fuzzing::Check(feed == std::u16string::npos || feed + 1 == cut.size(),
                   "a line feed inside the line");
    return 0;
}
