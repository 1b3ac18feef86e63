// "kestro-player flood": datagrams at a steady rate to one address, for hostile tests.
#pragma once

#include <string>
#include <vector>

namespace player {

// Arguments after "flood". Returns the exit status.
int RunFlood(const std::vector<std::string>& args);

} // namespace player
