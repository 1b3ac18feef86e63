// Who holds a local port, for the messages of a failed start. Best effort, from /proc.
#pragma once

#include <cstdint>
#include <string>

namespace posixui {

// "NAME (pid N)"; "the kernel" for a socket of no process (the kernel's own NFS server);
// "a program of user NAME" when this user may not look at the holder's files; "" when nothing
// on this network namespace has the port.
std::string DescribePortHolder(std::uint16_t port, bool tcp);

} // namespace posixui
