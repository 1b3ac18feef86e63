// Lines of the test-control FIFO: what a scenario script can tell a running player to do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "player/Bytes.h"

namespace player {

struct ControlCommand {
    enum class Kind {
        EndSession,    // end-session
        PlayStatus,    // playstatus S
        AssignStatus,  // assignstatus INDEX TYPE
        AssignName,    // assignname NAME
        GetNext,       // getnext [SUB]
        Request,       // request CMD SUB [HEX]         (waits for earlier answers)
        RequestNoWait, // request-nowait CMD SUB [HEX]  (sent at once)
        Cut,           // cut AT CMD SUB [HEX]          (a packet in two writes, 50 ms apart)
        Raw,           // raw HEX
        Random,        // random N
        Noise,         // noise MS: random bytes as fast as the connection takes them, for MS
        Close,         // close
        Reset,         // reset
        Option,        // option --OPTION [VALUE]...
        Mark,          // mark TEXT
        Quit,          // quit
    };
    Kind kind = Kind::Mark;
    std::vector<std::uint32_t> numbers;
    Bytes bytes;
    std::string text;
    std::vector<std::string> words;
};

bool ParseControlCommand(std::string_view line, ControlCommand& command, std::string& error);

} // namespace player
