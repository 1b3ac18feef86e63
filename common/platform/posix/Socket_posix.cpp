// BSD socket implementation of platform::Socket; errno is reported in Winsock numbering.
#include "common/platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <mutex>

namespace platform {

namespace {

// Winsock's select() takes at most FD_SETSIZE (64) sockets; keep the same limit here.
constexpr std::size_t kMaxSelectSockets = 64;

thread_local int gLastError = 0;

int WinsockErrorFromErrno(int error) {
    switch (error) {
    case EINTR:
        return kWsaEIntr;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return kWsaEWouldBlock;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case EBADF:
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return kWsaEMsgSize;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case EOPNOTSUPP:
        return 10045;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return kWsaEAddrInUse;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return kWsaEConnReset;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case EPIPE:
    case ESHUTDOWN:
        return 10058;
    case ETIMEDOUT:
        return kWsaETimedOut;
    case ECONNREFUSED:
        return kWsaEConnRefused;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    default:
        return 10022;
    }
}

// Records errno of the call that just failed; always returns false for `return Fail();`.
bool Fail() {
    gLastError = WinsockErrorFromErrno(errno);
    return false;
}

bool FailWith(int wsaError) {
    gLastError = wsaError;
    return false;
}

sockaddr_in ToSockaddr(const SocketAddress& address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address.address;
    sa.sin_port = htons(address.port);
    return sa;
}

SocketAddress FromSockaddr(const sockaddr_in& sa) {
    return SocketAddress{sa.sin_addr.s_addr, ntohs(sa.sin_port)};
}

// Socket calls take int-sized lengths on Winsock; clamp so both sides behave alike.
std::size_t ClampLength(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? static_cast<std::size_t>(INT_MAX) : size;
}

bool GetIntOption(std::intptr_t fd, int level, int name, int& value) {
    socklen_t length = sizeof(value);
    if (getsockopt(static_cast<int>(fd), level, name, &value, &length) != 0)
        return Fail();
    return true;
}

bool SetIntOption(std::intptr_t fd, int level, int name, int value) {
    if (setsockopt(static_cast<int>(fd), level, name, &value, sizeof(value)) != 0)
        return Fail();
    return true;
}

} // namespace

std::uint32_t HostToNetwork32(std::uint32_t value) {
    return htonl(value);
}
std::uint32_t NetworkToHost32(std::uint32_t value) {
    return ntohl(value);
}

bool StartSocketLibrary() {
    // A peer that resets a connection must give EPIPE on send, not end the process. Sends also
    // pass MSG_NOSIGNAL; this covers writes made by any other code path.
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
    return true;
}

int LastSocketError() {
    return gLastError;
}

Socket::~Socket() {
    Close();
}

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_) {
    other.handle_ = -1;
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

Socket Socket::Create(SocketKind kind) {
    const bool tcp = kind == SocketKind::Tcp;
    const int fd = socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC,
                          tcp ? IPPROTO_TCP : IPPROTO_UDP);
    if (fd < 0) {
        Fail();
        return Socket();
    }
    // Lets a restarted server rebind while old connections sit in TIME_WAIT. Linux still refuses
    // to bind a port another socket is listening on, which matches Winsock without the option.
    if (tcp) {
        const int one = 1;
        if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0) {
            Fail();
            close(fd);
            return Socket();
        }
    }
    return Socket(fd);
}

bool Socket::IsValid() const {
    return handle_ >= 0;
}

bool Socket::Bind(const SocketAddress& local) {
    const sockaddr_in sa = ToSockaddr(local);
    if (bind(static_cast<int>(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0)
        return Fail();
    return true;
}

bool Socket::Listen(int backlog) {
    if (listen(static_cast<int>(handle_), backlog) != 0)
        return Fail();
    return true;
}

Socket Socket::Accept(SocketAddress* peer) {
    sockaddr_in sa{};
    socklen_t length = sizeof(sa);
    int fd;
    do {
        fd = accept4(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&sa), &length,
                     SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Fail();
        return Socket();
    }
    if (peer != nullptr)
        *peer = FromSockaddr(sa);
    return Socket(fd);
}

bool Socket::Connect(const SocketAddress& remote) {
    const sockaddr_in sa = ToSockaddr(remote);
    if (connect(static_cast<int>(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0)
        return Fail();
    return true;
}

bool Socket::Receive(void* buffer, std::size_t size, std::size_t& received) {
    received = 0;
    ssize_t result;
    do {
        result = recv(static_cast<int>(handle_), buffer, ClampLength(size), 0);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        return Fail();
    received = static_cast<std::size_t>(result);
    return true;
}

bool Socket::TryReceive(void* buffer, std::size_t size, std::size_t& received, bool& wouldBlock) {
    received = 0;
    wouldBlock = false;
    ssize_t result;
    do {
        result = recv(static_cast<int>(handle_), buffer, ClampLength(size), MSG_DONTWAIT);
    } while (result < 0 && errno == EINTR);
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        wouldBlock = true;
        return true;
    }
    if (result < 0)
        return Fail();
    received = static_cast<std::size_t>(result);
    return true;
}

bool Socket::Send(const void* data, std::size_t size, std::size_t& sent) {
    sent = 0;
    ssize_t result;
    do {
        result = send(static_cast<int>(handle_), data, ClampLength(size), MSG_NOSIGNAL);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        return Fail();
    sent = static_cast<std::size_t>(result);
    return true;
}

bool Socket::ReceiveFrom(void* buffer, std::size_t size, std::size_t& received,
                         SocketAddress& from) {
    received = 0;
    sockaddr_in sa{};
    iovec vector{buffer, ClampLength(size)};
    msghdr message{};
    message.msg_name = &sa;
    message.msg_namelen = sizeof(sa);
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    ssize_t result;
    do {
        result = recvmsg(static_cast<int>(handle_), &message, 0);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        return Fail();
    from = FromSockaddr(sa);
    received = static_cast<std::size_t>(result);
    // Winsock consumes an oversized datagram, fills the buffer and fails with WSAEMSGSIZE;
    // recvmsg has done the same first two, so only the error remains to be reported.
    if ((message.msg_flags & MSG_TRUNC) != 0)
        return FailWith(kWsaEMsgSize);
    return true;
}

bool Socket::SendTo(const void* data, std::size_t size, const SocketAddress& to,
                    std::size_t& sent) {
    sent = 0;
    const sockaddr_in sa = ToSockaddr(to);
    ssize_t result;
    do {
        result = sendto(static_cast<int>(handle_), data, ClampLength(size), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&sa), sizeof(sa));
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        return Fail();
    sent = static_cast<std::size_t>(result);
    return true;
}

bool Socket::LocalAddress(SocketAddress& out) const {
    sockaddr_in sa{};
    socklen_t length = sizeof(sa);
    if (getsockname(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        return Fail();
    out = FromSockaddr(sa);
    return true;
}

bool Socket::PeerAddress(SocketAddress& out) const {
    sockaddr_in sa{};
    socklen_t length = sizeof(sa);
    if (getpeername(static_cast<int>(handle_), reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        return Fail();
    out = FromSockaddr(sa);
    return true;
}

bool Socket::GetReceiveBufferSize(int& size) const {
    return GetIntOption(handle_, SOL_SOCKET, SO_RCVBUF, size);
}

bool Socket::SetReceiveBufferSize(int size) {
    return SetIntOption(handle_, SOL_SOCKET, SO_RCVBUF, size);
}

bool Socket::GetSendBufferSize(int& size) const {
    return GetIntOption(handle_, SOL_SOCKET, SO_SNDBUF, size);
}

bool Socket::SetSendBufferSize(int size) {
    return SetIntOption(handle_, SOL_SOCKET, SO_SNDBUF, size);
}

bool Socket::SetBroadcast(bool enable) {
    return SetIntOption(handle_, SOL_SOCKET, SO_BROADCAST, enable ? 1 : 0);
}

bool Socket::SetSendTimeout(int timeoutMs) {
    timeval value{};
    value.tv_sec = timeoutMs / 1000;
    value.tv_usec = (timeoutMs % 1000) * 1000;
    if (setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_SNDTIMEO, &value, sizeof(value)) != 0)
        return Fail();
    return true;
}

bool Socket::SetNoDelay() {
    const int on = 1;
    if (setsockopt(static_cast<int>(handle_), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) != 0)
        return Fail();
    return true;
}

bool Socket::WaitReadable(int timeoutMs) const {
    pollfd entry{static_cast<int>(handle_), POLLIN, 0};
    const int result = poll(&entry, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (result < 0)
        return Fail();
    if (result == 0)
        return FailWith(kWsaETimedOut);
    if ((entry.revents & POLLNVAL) != 0)
        return FailWith(10038);
    return true;
}

bool Socket::SetNonBlocking(bool on) {
    const int fd = static_cast<int>(handle_);
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return Fail();
    if (fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) != 0)
        return Fail();
    return true;
}

bool Socket::StartConnect(const SocketAddress& remote) {
    const sockaddr_in sa = ToSockaddr(remote);
    if (connect(static_cast<int>(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0)
        return true;
    // Winsock reports a connect going on as WSAEWOULDBLOCK, not as WSAEINPROGRESS.
    if (errno == EINPROGRESS || errno == EINTR)
        return FailWith(kWsaEWouldBlock);
    return Fail();
}

bool Socket::PendingError(int& error) const {
    int value = 0;
    if (!GetIntOption(handle_, SOL_SOCKET, SO_ERROR, value))
        return false;
    error = value == 0 ? 0 : WinsockErrorFromErrno(value);
    return true;
}

bool Socket::GetKeepAlive(std::int32_t& value) const {
    int raw = 0;
    socklen_t length = sizeof(raw);
    if (getsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_KEEPALIVE, &raw, &length) != 0)
        return Fail();
    value = raw;
    return true;
}

bool Socket::SetKeepAlive(bool on) {
    return SetIntOption(handle_, SOL_SOCKET, SO_KEEPALIVE, on ? 1 : 0);
}

bool Socket::SetKeepAliveTimes(std::uint32_t timeMs, std::uint32_t intervalMs) {
    // The kernel counts whole seconds; a part of one rounds up so that no probe comes early.
    const auto seconds = [](std::uint32_t ms) {
        const std::uint32_t s = ms / 1000 + (ms % 1000 != 0 ? 1 : 0);
        return static_cast<int>(s == 0 ? 1 : s > 32767 ? 32767 : s);
    };
    return SetKeepAlive(true) &&
           SetIntOption(handle_, IPPROTO_TCP, TCP_KEEPIDLE, seconds(timeMs)) &&
           SetIntOption(handle_, IPPROTO_TCP, TCP_KEEPINTVL, seconds(intervalMs));
}

void Socket::ShutdownBoth() {
    if (IsValid())
        shutdown(static_cast<int>(handle_), SHUT_RDWR);
}

void Socket::ShutdownSend() {
    if (IsValid())
        shutdown(static_cast<int>(handle_), SHUT_WR);
}

void Socket::Close() {
    if (!IsValid())
        return;
    close(static_cast<int>(handle_));
    handle_ = -1;
}

int SelectReadable(std::span<const Socket* const> sockets, int timeoutMs, std::span<bool> ready) {
    if (sockets.size() > kMaxSelectSockets || ready.size() < sockets.size()) {
        FailWith(10022);
        return -1;
    }
    // poll() rather than select(): descriptors above FD_SETSIZE are fine with it.
    std::array<pollfd, kMaxSelectSockets> entries{};
    std::array<std::size_t, kMaxSelectSockets> owner{};
    nfds_t count = 0;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        ready[i] = false;
        if (sockets[i] == nullptr || !sockets[i]->IsValid())
            continue;
        entries[count] = pollfd{static_cast<int>(sockets[i]->Value()), POLLIN, 0};
        owner[count] = i;
        ++count;
    }
    const int result = poll(entries.data(), count, timeoutMs < 0 ? -1 : timeoutMs);
    if (result < 0) {
        // A signal (SIGHUP asks for a reload) ends the wait early: report it as a time-out so the
        // caller's loop looks at its flags; the error is still recorded.
        if (errno == EINTR) {
            FailWith(kWsaEIntr);
            return 0;
        }
        Fail();
        return -1;
    }
    int readyCount = 0;
    for (nfds_t k = 0; k < count; ++k) {
        if (entries[k].revents == 0)
            continue;
        if ((entries[k].revents & POLLNVAL) != 0) {
            // Winsock's select() fails as a whole on a handle that is not a socket.
            for (std::size_t i = 0; i < sockets.size(); ++i)
                ready[i] = false;
            FailWith(10038);
            return -1;
        }
        // Like select(): a pending error or hang-up counts as readable; the read reports it.
        ready[owner[k]] = true;
        ++readyCount;
    }
    return readyCount;
}

bool ResolveHostName(const char* name, std::uint32_t& address) {
    if (name == nullptr || *name == '\0')
        return FailWith(10022);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    const int status = getaddrinfo(name, nullptr, &hints, &list);
    if (status != 0 || list == nullptr) {
        // WSAHOST_NOT_FOUND, or WSATRY_AGAIN when the resolver could not be asked.
        gLastError = status == EAI_AGAIN ? 11002 : 11001;
        if (list != nullptr)
            freeaddrinfo(list);
        return false;
    }
    bool found = false;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr)
            continue;
        sockaddr_in sa{};
        std::memcpy(&sa, entry->ai_addr, sizeof(sa));
        address = sa.sin_addr.s_addr;
        found = true;
        break;
    }
    freeaddrinfo(list);
    if (!found)
        return FailWith(11001);
    return true;
}

bool ParseDottedAddress(const char* text, std::uint32_t& address) {
    if (text == nullptr)
        return false;
    in_addr parsed{};
    if (inet_pton(AF_INET, text, &parsed) != 1)
        return false;
    address = parsed.s_addr;
    return true;
}

} // namespace platform
