// The seed corpus and dictionaries of the manager's and the hand-off's fuzz targets.
#pragma once

#include <filesystem>

namespace fuzzing {

// Writes corpus/fuzz_<target>/ and fuzz_<target>.dict under `out`; false when a file could not
// be written.
bool WriteManagerSeeds(const std::filesystem::path& out);

} // namespace fuzzing
