// Shared by the fuzz targets of the manager and the hand-off: the input read as fields, the
// check that ends the run on a broken promise, and the invariants of the target table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "manager/core/TargetTable.h"

namespace fuzzing {

// Fields taken from the front of the input; past its end every field reads 0 and Take gives
// what is left.
class InputReader {
  public:
    InputReader(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    bool Empty() const { return bytes_.empty(); }
    std::size_t Left() const { return bytes_.size(); }
    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    std::span<const std::uint8_t> Take(std::size_t count);

  private:
    std::span<const std::uint8_t> bytes_;
};

// Ends the process with the message; libFuzzer saves the input as a crash.
[[noreturn]] void Fail(const std::string& what);

inline void Check(bool holds, const char* what) {
    if (!holds)
        Fail(what);
}

// A text that fits a buffer of `units` with its terminator and holds no zero unit.
void CheckText(std::u16string_view text, std::size_t units, const char* what);

// Counts within 0..128 and agreeing with the slots in use, names within their buffers, one
// record per address.
void CheckTable(const manager::TargetTable& table);

// Makes debug lines (the hand-off's) go to a sink that checks their length, not to stderr.
void CheckDebugLines();

} // namespace fuzzing
