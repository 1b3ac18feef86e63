// The POSIX front-end's message loop: turns the control socket's readiness into the events
// Winsock's WSAAsyncSelect gives (connected once, readable, closed) and runs posted work.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "common/platform/Socket.h"
#include "manager/core/ManagerPort.h"

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

    void Deliver(SocketId id, std::uint16_t event, int error);
    Watched* Find(SocketId id);

    IManagerEvents* events_ = nullptr;
    std::vector<Watched> watched_;
    std::deque<std::function<void()>> posted_;
};

} // namespace manager
