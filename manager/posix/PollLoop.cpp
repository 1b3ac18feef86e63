// Readiness of the control socket as Winsock's asynchronous notifications.
#include "manager/posix/PollLoop.h"

#include <poll.h>

#include <algorithm>

#include "common/platform/Clock.h"

namespace manager {

namespace {

// The error a finished connect or a broken connection left, in Winsock numbering.
int PendingError(const platform::Socket& socket) {
    int error = 0;
    return socket.PendingError(error) ? error : platform::kWsaEConnReset;
}

} // namespace

void PollLoop::Watch(const platform::Socket& socket) {
    Forget(socket.Value());
    watched_.push_back(Watched{&socket, socket.Value(), true});
}

void PollLoop::Forget(SocketId socket) {
    std::erase_if(watched_, [&](const Watched& w) { return w.id == socket; });
}

void PollLoop::Post(std::function<void()> work) {
    posted_.push_back(std::move(work));
}

PollLoop::Watched* PollLoop::Find(SocketId id) {
    const auto found = std::find_if(watched_.begin(), watched_.end(),
                                    [&](const Watched& w) { return w.id == id; });
    return found == watched_.end() ? nullptr : &*found;
}

void PollLoop::Deliver(SocketId id, std::uint16_t event, int error) {
    if (events_ != nullptr)
        events_->OnSocketEvent(id, event, error);
}

bool PollLoop::RunOnce(int timeoutMs) {
    // Work posted now runs on the next turn, after what is already queued.
    if (!posted_.empty()) {
        std::deque<std::function<void()>> work;
        work.swap(posted_);
        for (auto& w : work)
            w();
        timeoutMs = 0;
    }
    std::vector<pollfd> entries;
    for (const Watched& w : watched_)
        entries.push_back(pollfd{static_cast<int>(w.id),
                                 static_cast<short>(w.connecting ? POLLOUT : POLLIN | POLLRDHUP),
                                 0});
    if (entries.empty() && posted_.empty()) {
        if (timeoutMs > 0)
            poll(nullptr, 0, timeoutMs);
        return false;
    }
    const int ready = poll(entries.data(), entries.size(), posted_.empty() ? timeoutMs : 0);
    if (ready <= 0)
        return !posted_.empty();
    for (const pollfd& entry : entries) {
        Watched* w = Find(entry.fd);
        if (entry.revents == 0 || w == nullptr)
            continue;
        if (w->connecting) {
            // Connected or refused, reported once; a refused socket reports nothing more,
            // as Winsock gives FD_CONNECT with the error and no FD_CLOSE.
            const int error = PendingError(*w->socket);
            if (error == 0)
                w->connecting = false;
            else
                Forget(entry.fd);
            Deliver(entry.fd, FD_CONNECT_EVENT, error);
            continue;
        }
        const bool hungUp = (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        // Whatever arrived before the end is read first, as FD_READ comes before FD_CLOSE.
        Deliver(entry.fd, FD_READ_EVENT, 0);
        // The read may have ended the connection and with it the socket.
        w = Find(entry.fd);
        if (!hungUp || w == nullptr)
            continue;
        const int error = (entry.revents & POLLERR) != 0 ? PendingError(*w->socket) : 0;
        Forget(entry.fd);
        Deliver(entry.fd, FD_CLOSE_EVENT, error);
    }
    return true;
}

void PollLoop::RunFor(int ms, const std::function<bool()>& done) {
    const std::uint32_t start = platform::TickCountMs();
    for (;;) {
        if (done && done())
            return;
        const std::uint32_t elapsed = platform::TickCountMs() - start;
        if (elapsed >= static_cast<std::uint32_t>(ms))
            return;
        // Short turns, so that `done` is looked at soon after each event.
        const int left = ms - static_cast<int>(elapsed);
        RunOnce(left < 20 ? left : 20);
    }
}

} // namespace manager
