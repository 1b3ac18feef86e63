// The running player: the poll loop over the discovery socket, the control listener and its
// connections, the NFS workers, the control FIFO and the stop signals.
#pragma once

#include "player/Config.h"

namespace player {

// Runs until the configured number of sessions has ended, "quit", SIGTERM or SIGINT.
// Returns the exit status: 1 after any departure, 2 when it could not start, else 0.
int RunPlayer(PlayerConfig config, const std::vector<std::string>& argv);

} // namespace player
