// Readiness of the control socket as Winsock's asynchronous notifications.
#include "manager/posix/PollLoop.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "common/platform/Clock.h"

namespace manager {

namespace {

// The error a finished connect left, in Winsock numbering (ECONNREFUSED is 10061).
int ConnectError(int fd) {
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return 10022;
    switch (error) {
    case 0:
        return 0;
    case ECONNREFUSED:
        return platform::kWsaEConnRefused;
    case ETIMEDOUT:
        return platform::kWsaETimedOut;
    case ECONNRESET:
        return platform::kWsaEConnReset;
    case ENETUNREACH:
        return 10051;
    case EHOSTUNREACH:
        return 10065;
    default:
        return 10022;
    }
}

} // namespace

void PollLoop::Watch(const platform::Socket& socket) {
    Forget(socket.Value());
    watched_.push_back(Watched{socket.Value(), true});
}

void PollLoop::Forget(SocketId socket) {
    std::erase_if(watched_, [&](const Watched& w) { return w.id == socket; });
}

void PollLoop::Post(std::function<void()> work) {
    posted_.push_back(std::move(work));
}

bool PollLoop::IsWatched(SocketId id) const {
    return std::any_of(watched_.begin(), watched_.end(),
                       [&](const Watched& w) { return w.id == id; });
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
        if (entry.revents == 0 || !IsWatched(entry.fd))
            continue;
        auto w = std::find_if(watched_.begin(), watched_.end(),
                              [&](const Watched& x) { return x.id == entry.fd; });
        if (w->connecting) {
            // Connected or refused, reported once; a refused socket reports nothing more,
            // as Winsock gives FD_CONNECT with the error and no FD_CLOSE.
            const int error = ConnectError(entry.fd);
            if (error == 0)
                w->connecting = false;
            else
                watched_.erase(w);
            Deliver(entry.fd, FD_CONNECT_EVENT, error);
            continue;
        }
        const bool hungUp = (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        // Whatever arrived before the end is read first, as FD_READ comes before FD_CLOSE.
        Deliver(entry.fd, FD_READ_EVENT, 0);
        if (!hungUp || !IsWatched(entry.fd))
            continue;
        const int error = (entry.revents & POLLERR) != 0 ? ConnectError(entry.fd) : 0;
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
