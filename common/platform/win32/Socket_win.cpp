// Winsock implementation of platform::Socket.
#include "common/platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <climits>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

constexpr std::size_t kMaxSelectSockets = 64;
static_assert(FD_SETSIZE >= kMaxSelectSockets, "fd_set must hold every selectable socket");

// Kept apart from WSAGetLastError so that clean-up calls after a failure cannot overwrite it.
thread_local int gLastError = 0;

bool Fail() {
    gLastError = WSAGetLastError();
    return false;
}

bool FailWith(int wsaError) {
    gLastError = wsaError;
    return false;
}

SOCKET Raw(std::intptr_t handle) {
    return static_cast<SOCKET>(handle);
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

int ClampLength(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

bool GetIntOption(std::intptr_t handle, int level, int name, int& value) {
    int length = sizeof(value);
    if (getsockopt(Raw(handle), level, name, reinterpret_cast<char*>(&value), &length) != 0)
        return Fail();
    return true;
}

bool SetIntOption(std::intptr_t handle, int level, int name, int value) {
    if (setsockopt(Raw(handle), level, name, reinterpret_cast<const char*>(&value),
                   sizeof(value)) != 0)
        return Fail();
    return true;
}

timeval ToTimeval(int timeoutMs) {
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    return tv;
}

} // namespace

std::uint32_t HostToNetwork32(std::uint32_t value) {
    return htonl(value);
}
std::uint32_t NetworkToHost32(std::uint32_t value) {
    return ntohl(value);
}

bool StartSocketLibrary() {
    // Started once for the life of the process; WSACleanup is left to process exit.
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data{};
        const int status = WSAStartup(MAKEWORD(2, 2), &data);
        started = status == 0;
        if (!started)
            gLastError = status;
    });
    return started;
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
    // No SO_REUSEADDR here: on Windows it would let a second socket steal a bound port.
    const SOCKET raw =
        socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, tcp ? IPPROTO_TCP : IPPROTO_UDP);
    if (raw == INVALID_SOCKET) {
        Fail();
        return Socket();
    }
    // Child processes must not inherit the server's sockets.
    SetHandleInformation(reinterpret_cast<HANDLE>(raw), HANDLE_FLAG_INHERIT, 0);
    return Socket(static_cast<std::intptr_t>(raw));
}

bool Socket::IsValid() const {
    return Raw(handle_) != INVALID_SOCKET;
}

bool Socket::Bind(const SocketAddress& local) {
    const sockaddr_in sa = ToSockaddr(local);
    if (bind(Raw(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0)
        return Fail();
    return true;
}

bool Socket::Listen(int backlog) {
    if (listen(Raw(handle_), backlog) != 0)
        return Fail();
    return true;
}

Socket Socket::Accept(SocketAddress* peer) {
    sockaddr_in sa{};
    int length = sizeof(sa);
    const SOCKET raw = accept(Raw(handle_), reinterpret_cast<sockaddr*>(&sa), &length);
    if (raw == INVALID_SOCKET) {
        Fail();
        return Socket();
    }
    if (peer != nullptr)
        *peer = FromSockaddr(sa);
    return Socket(static_cast<std::intptr_t>(raw));
}

bool Socket::Connect(const SocketAddress& remote) {
    const sockaddr_in sa = ToSockaddr(remote);
    if (connect(Raw(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0)
        return Fail();
    return true;
}

bool Socket::Receive(void* buffer, std::size_t size, std::size_t& received) {
    received = 0;
    const int result = recv(Raw(handle_), static_cast<char*>(buffer), ClampLength(size), 0);
    if (result == SOCKET_ERROR)
        return Fail();
    received = static_cast<std::size_t>(result);
    return true;
}

// Winsock has no per-call non-blocking receive: a zero-time select tells whether recv would
// wait (end of stream and errors count as readable, so recv reports them).
bool Socket::TryReceive(void* buffer, std::size_t size, std::size_t& received, bool& wouldBlock) {
    received = 0;
    wouldBlock = false;
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(Raw(handle_), &readSet);
    timeval zero{};
    const int ready = select(0, &readSet, nullptr, nullptr, &zero);
    if (ready == SOCKET_ERROR)
        return Fail();
    if (ready == 0) {
        wouldBlock = true;
        return true;
    }
    return Receive(buffer, size, received);
}

bool Socket::Send(const void* data, std::size_t size, std::size_t& sent) {
    sent = 0;
    const int result = send(Raw(handle_), static_cast<const char*>(data), ClampLength(size), 0);
    if (result == SOCKET_ERROR)
        return Fail();
    sent = static_cast<std::size_t>(result);
    return true;
}

bool Socket::ReceiveFrom(void* buffer, std::size_t size, std::size_t& received,
                         SocketAddress& from) {
    received = 0;
    sockaddr_in sa{};
    int length = sizeof(sa);
    const int result = recvfrom(Raw(handle_), static_cast<char*>(buffer), ClampLength(size), 0,
                                reinterpret_cast<sockaddr*>(&sa), &length);
    if (result == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        // An oversized datagram is consumed and the buffer filled; the sender is still known.
        if (error == WSAEMSGSIZE) {
            from = FromSockaddr(sa);
            received = size;
        }
        return FailWith(error);
    }
    from = FromSockaddr(sa);
    received = static_cast<std::size_t>(result);
    return true;
}

bool Socket::SendTo(const void* data, std::size_t size, const SocketAddress& to,
                    std::size_t& sent) {
    sent = 0;
    const sockaddr_in sa = ToSockaddr(to);
    const int result = sendto(Raw(handle_), static_cast<const char*>(data), ClampLength(size), 0,
                              reinterpret_cast<const sockaddr*>(&sa), sizeof(sa));
    if (result == SOCKET_ERROR)
        return Fail();
    sent = static_cast<std::size_t>(result);
    return true;
}

bool Socket::LocalAddress(SocketAddress& out) const {
    sockaddr_in sa{};
    int length = sizeof(sa);
    if (getsockname(Raw(handle_), reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        return Fail();
    out = FromSockaddr(sa);
    return true;
}

bool Socket::PeerAddress(SocketAddress& out) const {
    sockaddr_in sa{};
    int length = sizeof(sa);
    if (getpeername(Raw(handle_), reinterpret_cast<sockaddr*>(&sa), &length) != 0)
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
    // SO_BROADCAST takes a BOOL, which is an int.
    return SetIntOption(handle_, SOL_SOCKET, SO_BROADCAST, enable ? 1 : 0);
}

bool Socket::SetSendTimeout(int timeoutMs) {
    // Winsock takes the time-out as a DWORD of milliseconds (POSIX takes a timeval).
    const DWORD value = static_cast<DWORD>(timeoutMs);
    if (setsockopt(Raw(handle_), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value),
                   sizeof(value)) != 0)
        return Fail();
    return true;
}

bool Socket::SetNoDelay() {
    const BOOL on = TRUE;
    if (setsockopt(Raw(handle_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                   sizeof(on)) != 0)
        return Fail();
    return true;
}

bool Socket::WaitReadable(int timeoutMs) const {
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(Raw(handle_), &readSet);
    timeval tv = ToTimeval(timeoutMs);
    const int result = select(0, &readSet, nullptr, nullptr, timeoutMs < 0 ? nullptr : &tv);
    if (result == SOCKET_ERROR)
        return Fail();
    if (result == 0)
        return FailWith(WSAETIMEDOUT);
    return true;
}

bool Socket::SetNonBlocking(bool on) {
    u_long mode = on ? 1 : 0;
    if (ioctlsocket(Raw(handle_), FIONBIO, &mode) != 0)
        return Fail();
    return true;
}

bool Socket::StartConnect(const SocketAddress& remote) {
    return Connect(remote);
}

bool Socket::PendingError(int& error) const {
    return GetIntOption(handle_, SOL_SOCKET, SO_ERROR, error);
}

bool Socket::GetKeepAlive(std::int32_t& value) const {
    // Wine writes one byte of the BOOL; the rest must not be whatever the stack held.
    BOOL raw = 0;
    int length = sizeof(raw);
    if (getsockopt(Raw(handle_), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char*>(&raw),
                   &length) != 0)
        return Fail();
    value = raw;
    return true;
}

bool Socket::SetKeepAlive(bool on) {
    const BOOL value = on ? TRUE : FALSE;
    if (setsockopt(Raw(handle_), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&value),
                   sizeof(value)) != 0)
        return Fail();
    return true;
}

bool Socket::SetKeepAliveTimes(std::uint32_t timeMs, std::uint32_t intervalMs) {
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = timeMs;
    values.keepaliveinterval = intervalMs;
    DWORD returned = 0;
    if (WSAIoctl(Raw(handle_), SIO_KEEPALIVE_VALS, &values, sizeof(values), nullptr, 0, &returned,
                 nullptr, nullptr) != 0)
        return Fail();
    return true;
}

void Socket::ShutdownBoth() {
    if (IsValid())
        shutdown(Raw(handle_), SD_BOTH);
}

void Socket::ShutdownSend() {
    if (IsValid())
        shutdown(Raw(handle_), SD_SEND);
}

void Socket::Close() {
    if (!IsValid())
        return;
    closesocket(Raw(handle_));
    handle_ = -1;
}

int SelectReadable(std::span<const Socket* const> sockets, int timeoutMs, std::span<bool> ready) {
    if (sockets.size() > kMaxSelectSockets || ready.size() < sockets.size()) {
        FailWith(WSAEINVAL);
        return -1;
    }
    fd_set readSet;
    FD_ZERO(&readSet);
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        ready[i] = false;
        if (sockets[i] != nullptr && sockets[i]->IsValid())
            FD_SET(Raw(sockets[i]->Value()), &readSet);
    }
    // Winsock's select() rejects an empty set; waiting on nothing is just a sleep.
    if (readSet.fd_count == 0) {
        Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return 0;
    }
    timeval tv = ToTimeval(timeoutMs);
    const int result = select(0, &readSet, nullptr, nullptr, timeoutMs < 0 ? nullptr : &tv);
    if (result == SOCKET_ERROR) {
        Fail();
        return -1;
    }
    int readyCount = 0;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        if (sockets[i] != nullptr && sockets[i]->IsValid() &&
            FD_ISSET(Raw(sockets[i]->Value()), &readSet)) {
            ready[i] = true;
            ++readyCount;
        }
    }
    return readyCount;
}

bool ResolveHostName(const char* name, std::uint32_t& address) {
    if (name == nullptr || *name == '\0')
        return FailWith(WSAEINVAL);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    const int status = getaddrinfo(name, nullptr, &hints, &list);
    if (status != 0 || list == nullptr) {
        gLastError = status != 0 ? status : WSAHOST_NOT_FOUND;
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
        return FailWith(WSAHOST_NOT_FOUND);
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
