// The POSIX front-end's message loop: turns the control socket's readiness into the events
// Winsock's WSAAsyncSelect gives (connected once, readable, closed), runs posted work, ticks the
// main dialog's timers and calls readers of other descriptors (terminal, signals, the server).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

struct pollfd;

#include "common/platform/Socket.h"
#include "manager/core/ManagerPort.h"
#include "manager/port/ClosingSockets.h"

namespace manager {

class PollLoop {
  public:
    void Attach(IManagerEvents& events) { events_ = &events; }

    // Watches a non-blocking socket whose connect has been started; it must stay alive until
    // Forget.
    void Watch(const platform::Socket& socket);
    void Forget(SocketId socket);
    // Runs `work` on a later turn of the loop, as a posted window message would.
    void Post(std::function<void()> work);
    bool HasPosted() const { return !posted_.empty(); }

    // Starts or restarts timer `timer`: OnTimer(timer) every `periodMs`. Like window timers,
    // ticks that fall due while the loop is busy come as one.
    void StartTimer(int timer, std::uint32_t periodMs);
    void StopTimer(int timer);
    bool TimerRunning(int timer) const;

    // Calls `onReadable` whenever `fd` can be read, until RemoveReader.
    void AddReader(int fd, std::function<void()> onReadable);
    void RemoveReader(int fd);

    // Takes over a TCP socket the core has closed and ends its connection gracefully
    // (ClosingSockets) on the following turns.
    void Linger(platform::Socket socket);
    bool HasLingering() const { return !closing_.Empty(); }

    // One turn: posted work first, then waits up to `timeoutMs` for the sockets and delivers
    // what they report. False when there was nothing to wait for or deliver.
    bool RunOnce(int timeoutMs);
    // Turns until `done` holds or `ms` have passed.
    void RunFor(int ms, const std::function<bool()>& done = {});

  private:
    struct Watched {
        const platform::Socket* socket = nullptr;
        SocketId id = -1;
        bool connecting = true;
    };

    struct Timer {
        int id = 0;
        std::uint32_t periodMs = 0;
        std::uint32_t due = 0;
    };
    struct Reader {
        int fd = -1;
        std::function<void()> onReadable;
    };

    void Deliver(SocketId id, std::uint16_t event, int error);
    void HandleSocket(const pollfd& entry);
    Watched* Find(SocketId id);
    // Milliseconds until the next timer is due (-1: none), at most `limit` when limit >= 0.
    int TimeToNextTimer(int limit) const;
    void FireDueTimers();

    IManagerEvents* events_ = nullptr;
    std::vector<Watched> watched_;
    std::deque<std::function<void()>> posted_;
    std::vector<Timer> timers_;
    std::vector<Reader> readers_;
    ClosingSockets closing_;
};

} // namespace manager
