// "kestro-player flood": datagrams at a steady rate to one address, for hostile tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <vector>

namespace player {

// One flood: `total` datagrams of `kind` ("search", "answer", "random", or "mixed": the three
// in turn) at `rate` per second to `to`.
struct FloodPlan {
    sockaddr_in to{};
    double rate = 1000;
    long total = 1000;
    std::string kind = "search";
    std::size_t size = 64; // of the random datagrams
    std::uint32_t seed = 1;
};

struct FloodResult {
    long sent = 0;
    long failed = 0;
    double seconds = 0;
};

inline bool IsFloodKind(const std::string& kind) {
    return kind == "search" || kind == "answer" || kind == "random" || kind == "mixed";
}

// Sends the plan from a socket of its own; blocks until the last datagram is sent.
FloodResult Flood(const FloodPlan& plan);

// Arguments after "flood". Returns the exit status.
int RunFlood(const std::vector<std::string>& args);

} // namespace player
