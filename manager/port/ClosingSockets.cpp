// Graceful ends of closed control connections.
#include "manager/port/ClosingSockets.h"

#include <algorithm>
#include <memory>
#include <span>

#include "common/platform/Clock.h"

namespace manager {

namespace {

// Reads and drops what has arrived; true when the connection is over (the peer's end or an
// error).
bool DrainEnded(platform::Socket& socket) {
    char buffer[4096];
    for (;;) {
        std::size_t received = 0;
        bool wouldBlock = false;
        if (!socket.TryReceive(buffer, sizeof buffer, received, wouldBlock))
            return true;
        if (wouldBlock)
            return false;
        if (received == 0)
            return true;
    }
}

bool Passed(std::uint32_t until, std::uint32_t now) {
    return static_cast<std::int32_t>(until - now) <= 0;
}

} // namespace

void ClosingSockets::Add(platform::Socket socket, std::uint32_t now) {
    if (!socket.IsValid())
        return;
    socket.SetNonBlocking(true);
    socket.ShutdownSend();
    entries_.push_back(Entry{std::move(socket), now + static_cast<std::uint32_t>(kBoundMs)});
}

void ClosingSockets::Serve(std::uint32_t now) {
    std::erase_if(entries_, [&](Entry& e) { return DrainEnded(e.socket) || Passed(e.until, now); });
}

void ClosingSockets::Finish() {
    while (!entries_.empty()) {
        const std::uint32_t now = platform::TickCountMs();
        Serve(now);
        if (entries_.empty())
            return;
        std::uint32_t wait = static_cast<std::uint32_t>(kBoundMs);
        for (const Entry& e : entries_)
            wait = std::min(wait, Passed(e.until, now) ? 0 : e.until - now);
        const std::vector<const platform::Socket*> sockets = Sockets();
        const std::unique_ptr<bool[]> ready(new bool[sockets.size()]());
        if (platform::SelectReadable(sockets, static_cast<int>(wait),
                                     std::span<bool>(ready.get(), sockets.size())) < 0)
            platform::SleepMs(20); // too many to wait on at once: look again shortly
    }
}

std::vector<const platform::Socket*> ClosingSockets::Sockets() const {
    std::vector<const platform::Socket*> sockets;
    for (const Entry& e : entries_)
        sockets.push_back(&e.socket);
    return sockets;
}

} // namespace manager
