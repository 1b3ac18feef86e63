// Control connections that the core has closed, ended gracefully by whichever front-end holds
// them: the sending side is shut after the last request, and what the peer still sends is read
// and dropped until it closes or the bound passes; only then is the socket closed. A socket
// closed with the peer's answer unread resets the connection, and the peer may lose the
// request sent just before (the disconnect at the end of a session).
#pragma once

#include <cstdint>
#include <vector>

#include "common/platform/Socket.h"

namespace manager {

class ClosingSockets {
  public:
    static constexpr int kBoundMs = 1000;

    // Takes `socket`, shuts its sending side and makes its reads return at once; it is closed
    // at `now` + kBoundMs at the latest.
    void Add(platform::Socket socket, std::uint32_t now);
    // Reads what has arrived on each socket; closes those the peer has closed, that failed or
    // whose bound has passed.
    void Serve(std::uint32_t now);
    // Waits for every socket until its peer closes or its bound passes (at the end of the
    // program: the caller's thread does nothing else meanwhile).
    void Finish();

    bool Empty() const { return entries_.empty(); }
    // The sockets being drained, for a wait on their readiness.
    std::vector<const platform::Socket*> Sockets() const;

  private:
    struct Entry {
        platform::Socket socket;
        std::uint32_t until = 0;
    };
    std::vector<Entry> entries_;
};

} // namespace manager
