// A departure of the PC from the protocol's rules, as the player's checks report it.
#pragma once

#include <string>
#include <vector>

namespace player {

struct Departure {
    std::string rule;   // short dotted name such as "connect.mac"
    std::string reason; // one sentence for a human
};

using Departures = std::vector<Departure>;

} // namespace player
