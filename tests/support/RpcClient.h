// A small ONC RPC client for tests: builds calls, talks TCP records or UDP datagrams to
// 127.0.0.1 and parses replies. Every failure comes back as a result; nothing throws.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/Socket.h"

namespace rpctest {

using Bytes = std::vector<std::uint8_t>;

// Protocol numbers, written out here rather than taken from the server, so that a wrong
// constant in the server cannot hide on both sides of a test.
inline constexpr std::uint32_t kCall = 0;
inline constexpr std::uint32_t kReply = 1;
inline constexpr std::uint32_t kAccepted = 0;
inline constexpr std::uint32_t kDenied = 1;
// accept_stat
inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kProgUnavail = 1;
inline constexpr std::uint32_t kProgMismatch = 2;
inline constexpr std::uint32_t kProcUnavail = 3;
inline constexpr std::uint32_t kGarbageArgs = 4;
// reject_stat and auth_stat
inline constexpr std::uint32_t kRpcMismatch = 0;
inline constexpr std::uint32_t kAuthError = 1;
inline constexpr std::uint32_t kAuthTooWeak = 5;
// auth_flavor
inline constexpr std::uint32_t kAuthNone = 0;
inline constexpr std::uint32_t kAuthUnix = 1;

inline constexpr std::uint32_t kPortmapProgram = 100000;
inline constexpr std::uint32_t kPortmapVersion = 2;
inline constexpr std::uint32_t kMountProgram = 100005;
inline constexpr std::uint32_t kMountVersion = 3;
inline constexpr std::uint32_t kNfsProgram = 100003;
inline constexpr std::uint32_t kNfsVersion = 3;
inline constexpr std::uint32_t kIpProtoTcp = 6;
inline constexpr std::uint32_t kIpProtoUdp = 17;

inline constexpr int kDefaultTimeoutMs = 5000;

// XDR encoder for call arguments (and for whole hand-made messages).
class XdrArgs {
  public:
    XdrArgs& PutUInt32(std::uint32_t value);
    XdrArgs& PutUInt64(std::uint64_t value);
    XdrArgs& PutBool(bool value);
    // Variable-length opaque: length word, bytes, zero padding to four.
    XdrArgs& PutOpaque(std::span<const std::uint8_t> bytes);
    XdrArgs& PutOpaque(std::string_view bytes);
    // Fixed-length opaque: bytes and zero padding, no length word.
    XdrArgs& PutFixed(std::span<const std::uint8_t> bytes);
    XdrArgs& PutString(std::string_view text) { return PutOpaque(text); }
    // This server's nfs_fh3: length 4 and the handle identifier, big-endian.
    XdrArgs& PutHandle(std::uint32_t id);
    // Bytes as they are, without padding (for malformed input).
    XdrArgs& PutRaw(std::span<const std::uint8_t> bytes);

    const Bytes& Data() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }

  private:
    Bytes bytes_;
};

struct CallHeader {
    std::uint32_t xid = 1;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
    std::uint32_t messageType = kCall;
    std::uint32_t rpcVersion = 2;
    std::uint32_t credentialFlavor = kAuthNone;
    Bytes credentialBody;
    std::uint32_t verifierFlavor = kAuthNone;
    Bytes verifierBody;
};

// The call message (no record mark): header, credential, verifier, arguments.
Bytes BuildCall(const CallHeader& header, const XdrArgs& args = {});
// The body of an AUTH_UNIX credential.
Bytes AuthUnixBody(std::uint32_t stamp, std::string_view machine, std::uint32_t uid,
                   std::uint32_t gid, const std::vector<std::uint32_t>& groups = {});
// A record-marking word as four bytes.
Bytes RecordMark(std::uint32_t length, bool lastFragment = true);
// `body` framed as one last-fragment record.
Bytes Record(std::span<const std::uint8_t> body);
Bytes Concat(std::span<const std::uint8_t> first, std::span<const std::uint8_t> second);

// XDR decoder over a received body. A Get that runs out of bytes (or finds a bool that is
// neither 0 nor 1) returns zero/empty and clears Ok(), which stays cleared.
class XdrDecoder {
  public:
    XdrDecoder() = default;
    explicit XdrDecoder(Bytes bytes) : bytes_(std::move(bytes)) {}

    std::uint32_t GetUInt32();
    std::uint64_t GetUInt64();
    bool GetBool();
    // Variable-length opaque; lengths over maxLength fail.
    Bytes GetOpaque(std::uint32_t maxLength = 0xFFFFFFFFu);
    std::string GetString(std::uint32_t maxLength = 0xFFFFFFFFu);
    Bytes GetFixed(std::uint32_t count);

    bool Ok() const { return ok_; }
    std::size_t Remaining() const { return bytes_.size() - position_; }
    // All read, and every read succeeded.
    bool AtEnd() const { return ok_ && Remaining() == 0; }

  private:
    const std::uint8_t* Take(std::size_t count);
    Bytes bytes_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

// A parsed reply. When none arrived or it could not be parsed, `error` says why.
struct RpcReply {
    std::string error;
    bool timedOut = false; // nothing arrived in time
    bool closed = false;   // the server ended or reset the connection

    Bytes raw; // the whole message, record mark removed
    std::uint32_t xid = 0;
    std::uint32_t messageType = 0;
    std::uint32_t replyStatus = 0; // kAccepted or kDenied
    // Accepted replies.
    std::uint32_t verifierFlavor = 0;
    Bytes verifierBody;
    std::uint32_t acceptStatus = 0;
    // Denied replies.
    std::uint32_t rejectStatus = 0; // kRpcMismatch or kAuthError
    std::uint32_t authStatus = 0;
    // PROG_MISMATCH (accepted) and RPC_MISMATCH (denied).
    std::uint32_t mismatchLow = 0;
    std::uint32_t mismatchHigh = 0;
    // The results that follow the accept status.
    XdrDecoder body;

    bool Received() const { return error.empty(); }
    bool Accepted() const { return Received() && replyStatus == kAccepted; }
    bool Succeeded() const { return Accepted() && acceptStatus == kSuccess; }
    bool DeniedWithAuth(std::uint32_t stat) const {
        return Received() && replyStatus == kDenied && rejectStatus == kAuthError &&
               authStatus == stat;
    }
    // One line for failure messages.
    std::string Describe() const;
};

std::ostream& operator<<(std::ostream& out, const RpcReply& reply);

// Parses a reply message (without its record mark).
RpcReply ParseReply(Bytes message);

enum class ReceiveStatus { Ok, TimedOut, Closed, Error };

// A TCP connection to 127.0.0.1:port.
class TcpConnection {
  public:
    explicit TcpConnection(std::uint16_t port);
    // Takes over a connected socket (the accepting side of a fake server).
    explicit TcpConnection(platform::Socket connected);
    bool Connected() const { return connected_; }

    bool SendRaw(std::span<const std::uint8_t> bytes);
    bool SendRecord(std::span<const std::uint8_t> body) { return SendRaw(Record(body)); }
    // One record (fragments joined) within timeoutMs.
    ReceiveStatus ReceiveRecord(Bytes& body, int timeoutMs);
    // True when the server ends or resets the connection within timeoutMs; anything that
    // arrives first is discarded.
    bool WaitForClose(int timeoutMs);
    // Sends the call as one record and parses the next record as its reply.
    RpcReply Call(const CallHeader& header, const XdrArgs& args = {},
                  int timeoutMs = kDefaultTimeoutMs);
    RpcReply ReceiveReply(int timeoutMs = kDefaultTimeoutMs);

    platform::Socket& Socket() { return socket_; }

  private:
    ReceiveStatus ReceiveExact(std::uint8_t* into, std::size_t count, int timeoutMs,
                               std::uint64_t startMs);
    platform::Socket socket_;
    bool connected_ = false;
};

// A UDP socket that talks to 127.0.0.1:port.
class UdpEndpoint {
  public:
    explicit UdpEndpoint(std::uint16_t port);
    bool Valid() const { return socket_.IsValid(); }

    bool Send(std::span<const std::uint8_t> datagram);
    ReceiveStatus Receive(Bytes& datagram, int timeoutMs);
    // Sends the call and parses the first datagram that comes back.
    RpcReply Call(const CallHeader& header, const XdrArgs& args = {},
                  int timeoutMs = kDefaultTimeoutMs);
    RpcReply ReceiveReply(int timeoutMs = kDefaultTimeoutMs);

  private:
    platform::Socket socket_;
    std::uint16_t port_;
};

struct ServerPorts {
    std::uint16_t portmap = 111;
    std::uint16_t mount = 635;
    std::uint16_t nfs = 2049;
};

enum class Transport { Tcp, Udp };

struct MountResult {
    RpcReply reply;
    std::uint32_t status = 0xFFFFFFFFu; // mountstat3 when the call succeeded
    Bytes handleBytes;
    std::uint32_t handle = 0; // the four handle bytes, big-endian
    std::vector<std::uint32_t> authFlavors;
    bool Ok() const { return reply.Succeeded() && status == 0 && handleBytes.size() == 4; }
};

// Calls to the three services of one server over one transport. TCP connections are opened
// per port on first use and opened again after the server closed one.
class RpcClient {
  public:
    explicit RpcClient(ServerPorts ports, Transport transport = Transport::Tcp);
    ~RpcClient();
    RpcClient(RpcClient&&) noexcept;
    RpcClient& operator=(RpcClient&&) noexcept;
    RpcClient(const RpcClient&) = delete;
    RpcClient& operator=(const RpcClient&) = delete;

    // A call with the next xid (header.xid is replaced).
    RpcReply Call(std::uint16_t port, CallHeader header, const XdrArgs& args = {});
    RpcReply Call(std::uint16_t port, std::uint32_t program, std::uint32_t version,
                  std::uint32_t procedure, const XdrArgs& args = {});
    RpcReply PortmapCall(std::uint32_t procedure, const XdrArgs& args = {});
    RpcReply MountCall(std::uint32_t procedure, const XdrArgs& args = {});
    RpcReply NfsCall(std::uint32_t procedure, const XdrArgs& args = {});
    // MOUNT MNT of `path`.
    MountResult Mount(std::string_view path);

    std::uint32_t LastXid() const { return xid_; }
    void SetTimeoutMs(int timeoutMs) { timeoutMs_ = timeoutMs; }
    const ServerPorts& Ports() const { return ports_; }
    Transport GetTransport() const { return transport_; }

  private:
    ServerPorts ports_;
    Transport transport_;
    int timeoutMs_ = kDefaultTimeoutMs;
    std::uint32_t xid_;
    std::map<std::uint16_t, std::unique_ptr<TcpConnection>> tcp_;
    std::map<std::uint16_t, std::unique_ptr<UdpEndpoint>> udp_;
};

platform::SocketAddress LoopbackAddress(std::uint16_t port);

} // namespace rpctest
