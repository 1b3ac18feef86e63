// The two lines of the status popup and whether it offers "Stop Streaming".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace manager {

struct StatusValues {
    bool connected = false; // session connected and a control connection exists
    bool playing = false;
    std::u16string deviceName;
    std::u16string addressText;
    std::uint32_t fileIndex = 0;
    std::uint32_t mediaType = 0;
};

struct StatusTexts {
    std::u16string device;
    std::u16string status;
    bool showStop = false;
};

// The name on line `fileIndex` of the list file of `mediaType` (1 video, 2 audio, 3 image),
// nothing for a missing file or line or another media type.
using ListLineReader =
    std::function<std::optional<std::u16string>(std::uint32_t fileIndex, std::uint32_t mediaType)>;

StatusTexts MakeStatusTexts(const StatusValues& values, const ListLineReader& readListLine);

} // namespace manager
