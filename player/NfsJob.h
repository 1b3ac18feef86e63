// Work the session hands to the NFS reader, and what comes back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/Bytes.h"

namespace player {

struct NfsJob {
    enum class Kind { Lists, File };
    Kind kind = Kind::Lists;
    int session = 0;
    std::string server;
    std::string fileName; // UTF-8, below the export root
};

struct ListFileData {
    std::string name; // "VideoList.txt", ...
    bool present = false;
    Bytes bytes;
};

struct NfsResult {
    enum class Stage { Lists, FirstData, FileDone };
    Stage stage = Stage::Lists;
    int session = 0;
    bool ok = false;
    bool cancelled = false;
    std::string error;
    std::string server;
    std::vector<ListFileData> lists; // video, audio, image
    std::string fileName;
    std::uint64_t size = 0;
    std::string sha256;
    double seconds = 0;
};

} // namespace player
