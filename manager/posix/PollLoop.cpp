// Readiness of the control socket as Winsock's asynchronous notifications.
#include "manager/posix/PollLoop.h"

#include <poll.h>
#include <sys/socket.h>

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

void PollLoop::StartTimer(int timer, std::uint32_t periodMs) {
    StopTimer(timer);
    timers_.push_back(Timer{timer, periodMs, platform::TickCountMs() + periodMs});
}

void PollLoop::StopTimer(int timer) {
    std::erase_if(timers_, [&](const Timer& t) { return t.id == timer; });
}

bool PollLoop::TimerRunning(int timer) const {
    return std::any_of(timers_.begin(), timers_.end(),
                       [&](const Timer& t) { return t.id == timer; });
}

void PollLoop::AddReader(int fd, std::function<void()> onReadable) {
    RemoveReader(fd);
    readers_.push_back(Reader{fd, std::move(onReadable)});
}

void PollLoop::RemoveReader(int fd) {
    std::erase_if(readers_, [&](const Reader& r) { return r.fd == fd; });
}

void PollLoop::Linger(platform::Socket socket) {
    closing_.Add(std::move(socket), platform::TickCountMs());
}

int PollLoop::TimeToNextTimer(int limit) const {
    const std::uint32_t now = platform::TickCountMs();
    int wait = limit;
    for (const Timer& t : timers_) {
        const std::int32_t left = static_cast<std::int32_t>(t.due - now);
        const int ms = left < 0 ? 0 : left;
        if (wait < 0 || ms < wait)
            wait = ms;
    }
    return wait;
}

void PollLoop::FireDueTimers() {
    const std::uint32_t now = platform::TickCountMs();
    std::vector<int> due;
    for (Timer& t : timers_) {
        if (static_cast<std::int32_t>(t.due - now) > 0)
            continue;
        due.push_back(t.id);
        // Missed periods are not caught up, as WM_TIMER never queues twice.
        t.due = now + t.periodMs;
    }
    // A tick may stop or start timers, so each is looked up again before it is delivered.
    for (int id : due) {
        if (TimerRunning(id) && events_ != nullptr)
            events_->OnTimer(id);
    }
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
    const std::size_t socketCount = entries.size();
    for (const Reader& r : readers_)
        entries.push_back(pollfd{r.fd, POLLIN, 0});
    const std::size_t readerEnd = entries.size();
    for (const platform::Socket* s : closing_.Sockets())
        entries.push_back(pollfd{static_cast<int>(s->Value()), POLLIN, 0});
    int wait = posted_.empty() ? TimeToNextTimer(timeoutMs) : 0;
    if (!closing_.Empty() && (wait < 0 || wait > 20))
        wait = 20; // their bounds are checked on each turn
    if (entries.empty()) {
        if (wait > 0)
            poll(nullptr, 0, wait);
        const bool timers = !timers_.empty();
        FireDueTimers();
        return timers || !posted_.empty();
    }
    const int ready = poll(entries.data(), entries.size(), wait);
    if (ready > 0) {
        for (std::size_t i = 0; i < socketCount; ++i)
            HandleSocket(entries[i]);
        for (std::size_t i = socketCount; i < readerEnd; ++i) {
            if (entries[i].revents == 0)
                continue;
            // A reader may remove itself or others.
            const auto found = std::find_if(readers_.begin(), readers_.end(),
                                            [&](const Reader& r) { return r.fd == entries[i].fd; });
            if (found != readers_.end()) {
                const std::function<void()> call = found->onReadable;
                call();
            }
        }
    }
    if (!closing_.Empty())
        closing_.Serve(platform::TickCountMs());
    FireDueTimers();
    return ready > 0 || !timers_.empty() || !posted_.empty();
}

void PollLoop::HandleSocket(const pollfd& entry) {
    Watched* w = Find(entry.fd);
    if (entry.revents == 0 || w == nullptr)
        return;
    if (w->connecting) {
        // Connected or refused, reported once; a refused socket reports nothing more,
        // as Winsock gives FD_CONNECT with the error and no FD_CLOSE.
        const int error = PendingError(*w->socket);
        if (error == 0)
            w->connecting = false;
        else
            Forget(entry.fd);
        Deliver(entry.fd, FD_CONNECT_EVENT, error);
        return;
    }
    const bool hungUp = (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    // Whatever arrived before the end is read first, as FD_READ comes before FD_CLOSE.
    Deliver(entry.fd, FD_READ_EVENT, 0);
    // The read may have ended the connection and with it the socket.
    w = Find(entry.fd);
    if (!hungUp || w == nullptr)
        return;
    const int error = (entry.revents & POLLERR) != 0 ? PendingError(*w->socket) : 0;
    Forget(entry.fd);
    Deliver(entry.fd, FD_CLOSE_EVENT, error);
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
