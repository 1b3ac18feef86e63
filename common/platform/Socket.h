// IPv4 sockets over Winsock and BSD sockets; errors are Winsock error numbers on both sides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

// Winsock error numbers used by the callers.
inline constexpr int kWsaEIntr = 10004;
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEMsgSize = 10040;
inline constexpr int kWsaEAddrInUse = 10048;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaETimedOut = 10060;
inline constexpr int kWsaEConnRefused = 10061;

inline constexpr std::uint32_t kInaddrAny = 0;
inline constexpr std::uint32_t kInaddrLoopbackHostOrder = 0x7F000001;
inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFF;

// An IPv4 endpoint. `address` is in network byte order (as in sockaddr_in), `port` in host order.
struct SocketAddress {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

std::uint32_t HostToNetwork32(std::uint32_t value);
std::uint32_t NetworkToHost32(std::uint32_t value);

// Starts Winsock (version 1.1 is enough for the server); a no-op on POSIX.
bool StartSocketLibrary();

// Error number of the last failed socket call of this thread, in Winsock numbering.
int LastSocketError();

enum class SocketKind { Tcp, Udp };

// Move-only owner of one socket; closes it on destruction.
class Socket {
  public:
    Socket() = default;
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    static Socket Create(SocketKind kind);

    bool IsValid() const;
    // Opaque value, unique among open sockets of the process.
    std::intptr_t Value() const { return handle_; }

    bool Bind(const SocketAddress& local);
    bool Listen(int backlog);
    Socket Accept(SocketAddress* peer);
    bool Connect(const SocketAddress& remote);

    // received/sent hold the byte count on success; received 0 means end of stream.
    bool Receive(void* buffer, std::size_t size, std::size_t& received);
    // Takes what has already arrived without waiting: `wouldBlock` is set (and true returned)
    // when nothing has.
    bool TryReceive(void* buffer, std::size_t size, std::size_t& received, bool& wouldBlock);
    bool Send(const void* data, std::size_t size, std::size_t& sent);
    bool ReceiveFrom(void* buffer, std::size_t size, std::size_t& received, SocketAddress& from);
    bool SendTo(const void* data, std::size_t size, const SocketAddress& to, std::size_t& sent);

    bool LocalAddress(SocketAddress& out) const;
    bool PeerAddress(SocketAddress& out) const;

    bool GetReceiveBufferSize(int& size) const;
    bool SetReceiveBufferSize(int size);
    bool GetSendBufferSize(int& size) const;
    bool SetSendBufferSize(int size);
    bool SetBroadcast(bool enable);
    // A blocking send that moves no data for this long fails (the socket is then best closed:
    // Winsock leaves it in an undefined state).
    bool SetSendTimeout(int timeoutMs);
    // Sends a short segment at once instead of holding it until earlier data is acknowledged
    // (TCP_NODELAY): the tail of a reply otherwise waits for the peer's delayed acknowledgement.
    bool SetNoDelay();

    // Waits until the socket is readable; false on time-out or error.
    bool WaitReadable(int timeoutMs) const;

    // Calls on this socket no longer wait (Winsock's WSAAsyncSelect does this by itself).
    bool SetNonBlocking(bool on);
    // Connects a non-blocking socket: true when connected at once, otherwise false with
    // LastSocketError() kWsaEWouldBlock while the connect goes on in the background (the
    // POSIX EINPROGRESS is reported as Winsock reports it) or the error that ended it.
    bool StartConnect(const SocketAddress& remote);
    // The error that ended a background connect (SO_ERROR), 0 when it succeeded.
    bool PendingError(int& error) const;

    // SO_KEEPALIVE. The value is zeroed before the read: some stacks write only its first byte.
    bool GetKeepAlive(std::int32_t& value) const;
    bool SetKeepAlive(bool on);
    // Turns keep-alive on with the idle time before the first probe and the time between
    // probes (SIO_KEEPALIVE_VALS; on POSIX TCP_KEEPIDLE and TCP_KEEPINTVL, whole seconds
    // rounded up).
    bool SetKeepAliveTimes(std::uint32_t timeMs, std::uint32_t intervalMs);

    void ShutdownBoth();
    // Sends the end of the stream after what is queued; the socket can still read.
    void ShutdownSend();
    void Close();

  private:
    explicit Socket(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = -1;
};

// Waits up to timeoutMs for any of `sockets` to become readable. `ready[i]` tells which did.
// Returns the number of ready sockets, 0 on time-out, -1 on error.
int SelectReadable(std::span<const Socket* const> sockets, int timeoutMs, std::span<bool> ready);

// Resolves a host name to its first IPv4 address (network order); false when it cannot.
bool ResolveHostName(const char* name, std::uint32_t& address);
// Parses a dotted IPv4 address (network order); false when the text is not one.
bool ParseDottedAddress(const char* text, std::uint32_t& address);

} // namespace platform
