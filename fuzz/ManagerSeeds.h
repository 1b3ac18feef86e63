// The seed corpus and dictionaries of the manager's and the hand-off's fuzz targets.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzzing {

// Writes corpus/fuzz_<target>/ and fuzz_<target>.dict under `out`; false when a file could not
// be written.
bool WriteManagerSeeds(const std::filesystem::path& out);

// `bytes` as a dictionary word: in quotes, every byte escaped.
std::string DictionaryWord(const std::vector<std::uint8_t>& bytes);

} // namespace fuzzing
