// Test-side ONC RPC: XDR encoding and decoding, TCP record marking, UDP datagrams, replies.
#include "tests/support/RpcClient.h"

#include <atomic>
#include <chrono>
#include <sstream>

namespace rpctest {
namespace {

std::size_t Pad4(std::size_t count) {
    return (4 - (count & 3)) & 3;
}

void AppendBigEndian32(Bytes& bytes, std::uint32_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value >> 24));
    bytes.push_back(static_cast<std::uint8_t>(value >> 16));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value));
}

std::uint32_t LoadBigEndian32(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// Milliseconds left of a time-out that started at startMs; 0 once it has passed.
int RemainingMs(int timeoutMs, std::uint64_t startMs) {
    const std::uint64_t elapsed = NowMs() - startMs;
    return elapsed >= static_cast<std::uint64_t>(timeoutMs) ? 0
                                                            : timeoutMs - static_cast<int>(elapsed);
}

bool IsConnectionLoss(int error) {
    constexpr int kWsaEConnAborted = 10053;
    constexpr int kWsaENotConn = 10057;
    constexpr int kWsaEShutdown = 10058;
    return error == platform::kWsaEConnReset || error == kWsaEConnAborted ||
           error == kWsaENotConn || error == kWsaEShutdown;
}

RpcReply FailedReply(ReceiveStatus status) {
    RpcReply reply;
    switch (status) {
    case ReceiveStatus::TimedOut:
        reply.timedOut = true;
        reply.error = "no reply in time";
        break;
    case ReceiveStatus::Closed:
        reply.closed = true;
        reply.error = "connection closed by the server";
        break;
    default:
        reply.error =
            "receive failed (socket error " + std::to_string(platform::LastSocketError()) + ")";
        break;
    }
    return reply;
}

std::atomic<std::uint32_t> gNextClientXid{0x10000};

} // namespace

platform::SocketAddress LoopbackAddress(std::uint16_t port) {
    return platform::SocketAddress{platform::HostToNetwork32(platform::kInaddrLoopbackHostOrder),
                                   port};
}

// XdrArgs

XdrArgs& XdrArgs::PutUInt32(std::uint32_t value) {
    AppendBigEndian32(bytes_, value);
    return *this;
}

XdrArgs& XdrArgs::PutUInt64(std::uint64_t value) {
    AppendBigEndian32(bytes_, static_cast<std::uint32_t>(value >> 32));
    AppendBigEndian32(bytes_, static_cast<std::uint32_t>(value));
    return *this;
}

XdrArgs& XdrArgs::PutBool(bool value) {
    return PutUInt32(value ? 1 : 0);
}

XdrArgs& XdrArgs::PutOpaque(std::span<const std::uint8_t> bytes) {
    PutUInt32(static_cast<std::uint32_t>(bytes.size()));
    return PutFixed(bytes);
}

XdrArgs& XdrArgs::PutOpaque(std::string_view bytes) {
    return PutOpaque(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

XdrArgs& XdrArgs::PutFixed(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    bytes_.insert(bytes_.end(), Pad4(bytes.size()), 0);
    return *this;
}

XdrArgs& XdrArgs::PutHandle(std::uint32_t id) {
    return PutUInt32(4).PutUInt32(id);
}

XdrArgs& XdrArgs::PutRaw(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

// Messages

Bytes BuildCall(const CallHeader& header, const XdrArgs& args) {
    XdrArgs call;
    call.PutUInt32(header.xid)
        .PutUInt32(header.messageType)
        .PutUInt32(header.rpcVersion)
        .PutUInt32(header.program)
        .PutUInt32(header.version)
        .PutUInt32(header.procedure)
        .PutUInt32(header.credentialFlavor)
        .PutOpaque(header.credentialBody)
        .PutUInt32(header.verifierFlavor)
        .PutOpaque(header.verifierBody)
        .PutRaw(args.Data());
    return call.Data();
}

Bytes AuthUnixBody(std::uint32_t stamp, std::string_view machine, std::uint32_t uid,
                   std::uint32_t gid, const std::vector<std::uint32_t>& groups) {
    XdrArgs body;
    body.PutUInt32(stamp).PutString(machine).PutUInt32(uid).PutUInt32(gid);
    body.PutUInt32(static_cast<std::uint32_t>(groups.size()));
    for (std::uint32_t group : groups)
        body.PutUInt32(group);
    return body.Data();
}

Bytes RecordMark(std::uint32_t length, bool lastFragment) {
    Bytes mark;
    AppendBigEndian32(mark, (length & 0x7fffffffu) | (lastFragment ? 0x80000000u : 0));
    return mark;
}

Bytes Record(std::span<const std::uint8_t> body) {
    return Concat(RecordMark(static_cast<std::uint32_t>(body.size())), body);
}

Bytes Concat(std::span<const std::uint8_t> first, std::span<const std::uint8_t> second) {
    Bytes joined(first.begin(), first.end());
    joined.insert(joined.end(), second.begin(), second.end());
    return joined;
}

// XdrDecoder

const std::uint8_t* XdrDecoder::Take(std::size_t count) {
    if (!ok_ || Remaining() < count) {
        ok_ = false;
        return nullptr;
    }
    const std::uint8_t* at = bytes_.data() + position_;
    position_ += count;
    return at;
}

std::uint32_t XdrDecoder::GetUInt32() {
    const std::uint8_t* at = Take(4);
    return at == nullptr ? 0 : LoadBigEndian32(at);
}

std::uint64_t XdrDecoder::GetUInt64() {
    const std::uint8_t* at = Take(8);
    return at == nullptr ? 0 : (std::uint64_t{LoadBigEndian32(at)} << 32) | LoadBigEndian32(at + 4);
}

bool XdrDecoder::GetBool() {
    const std::uint32_t word = GetUInt32();
    if (word > 1)
        ok_ = false;
    return ok_ && word == 1;
}

Bytes XdrDecoder::GetOpaque(std::uint32_t maxLength) {
    const std::uint32_t length = GetUInt32();
    if (!ok_ || length > maxLength) {
        ok_ = false;
        return {};
    }
    return GetFixed(length);
}

std::string XdrDecoder::GetString(std::uint32_t maxLength) {
    const Bytes bytes = GetOpaque(maxLength);
    return std::string(bytes.begin(), bytes.end());
}

Bytes XdrDecoder::GetFixed(std::uint32_t count) {
    // Padding is part of the item: a message that ends inside it is malformed.
    const std::uint8_t* at = Take(std::size_t{count} + Pad4(count));
    if (at == nullptr)
        return {};
    return Bytes(at, at + count);
}

// Replies

RpcReply ParseReply(Bytes message) {
    RpcReply reply;
    reply.raw = message;
    XdrDecoder in(std::move(message));
    reply.xid = in.GetUInt32();
    reply.messageType = in.GetUInt32();
    reply.replyStatus = in.GetUInt32();
    if (!in.Ok() || reply.messageType != kReply) {
        reply.error = "not a reply message";
        return reply;
    }
    if (reply.replyStatus == kAccepted) {
        reply.verifierFlavor = in.GetUInt32();
        reply.verifierBody = in.GetOpaque(400);
        reply.acceptStatus = in.GetUInt32();
        if (reply.acceptStatus == kProgMismatch) {
            reply.mismatchLow = in.GetUInt32();
            reply.mismatchHigh = in.GetUInt32();
        }
    } else if (reply.replyStatus == kDenied) {
        reply.rejectStatus = in.GetUInt32();
        if (reply.rejectStatus == kRpcMismatch) {
            reply.mismatchLow = in.GetUInt32();
            reply.mismatchHigh = in.GetUInt32();
        } else if (reply.rejectStatus == kAuthError) {
            reply.authStatus = in.GetUInt32();
        } else {
            reply.error = "unknown reject status";
            return reply;
        }
    } else {
        reply.error = "unknown reply status";
        return reply;
    }
    if (!in.Ok()) {
        reply.error = "reply header truncated";
        return reply;
    }
    reply.body = std::move(in);
    return reply;
}

std::string RpcReply::Describe() const {
    std::ostringstream out;
    if (!error.empty()) {
        out << "no reply: " << error << " (" << raw.size() << " bytes)";
        return out.str();
    }
    out << "xid " << xid;
    if (replyStatus == kAccepted) {
        out << " accepted, accept_stat " << acceptStatus;
        if (acceptStatus == kProgMismatch)
            out << " (" << mismatchLow << ".." << mismatchHigh << ")";
        out << ", " << body.Remaining() << " result bytes";
    } else {
        out << " denied, reject_stat " << rejectStatus;
        if (rejectStatus == kRpcMismatch)
            out << " (" << mismatchLow << ".." << mismatchHigh << ")";
        else
            out << ", auth_stat " << authStatus;
    }
    return out.str();
}

std::ostream& operator<<(std::ostream& out, const RpcReply& reply) {
    return out << reply.Describe();
}

// TcpConnection

TcpConnection::TcpConnection(std::uint16_t port)
    : socket_(platform::Socket::Create(platform::SocketKind::Tcp)) {
    connected_ = socket_.IsValid() && socket_.Connect(LoopbackAddress(port));
}

TcpConnection::TcpConnection(platform::Socket connected)
    : socket_(std::move(connected)), connected_(socket_.IsValid()) {}

bool TcpConnection::SendRaw(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::size_t sent = 0;
        if (!socket_.Send(bytes.data() + done, bytes.size() - done, sent) || sent == 0)
            return false;
        done += sent;
    }
    return true;
}

ReceiveStatus TcpConnection::ReceiveExact(std::uint8_t* into, std::size_t count, int timeoutMs,
                                          std::uint64_t startMs) {
    std::size_t have = 0;
    while (have < count) {
        const int left = RemainingMs(timeoutMs, startMs);
        if (left == 0 || !socket_.WaitReadable(left)) {
            if (left == 0 || platform::LastSocketError() == platform::kWsaETimedOut)
                return ReceiveStatus::TimedOut;
            return ReceiveStatus::Error;
        }
        std::size_t received = 0;
        if (!socket_.Receive(into + have, count - have, received)) {
            return IsConnectionLoss(platform::LastSocketError()) ? ReceiveStatus::Closed
                                                                 : ReceiveStatus::Error;
        }
        if (received == 0)
            return ReceiveStatus::Closed;
        have += received;
    }
    return ReceiveStatus::Ok;
}

ReceiveStatus TcpConnection::ReceiveRecord(Bytes& body, int timeoutMs) {
    body.clear();
    const std::uint64_t startMs = NowMs();
    for (;;) {
        std::uint8_t mark[4];
        ReceiveStatus status = ReceiveExact(mark, 4, timeoutMs, startMs);
        if (status != ReceiveStatus::Ok)
            return status;
        const std::uint32_t word = LoadBigEndian32(mark);
        const std::size_t length = word & 0x7fffffffu;
        const std::size_t offset = body.size();
        body.resize(offset + length);
        status = ReceiveExact(body.data() + offset, length, timeoutMs, startMs);
        if (status != ReceiveStatus::Ok)
            return status;
        if ((word & 0x80000000u) != 0)
            return ReceiveStatus::Ok;
    }
}

bool TcpConnection::WaitForClose(int timeoutMs) {
    const std::uint64_t startMs = NowMs();
    std::uint8_t scratch[4096];
    for (;;) {
        const int left = RemainingMs(timeoutMs, startMs);
        if (left == 0 || !socket_.WaitReadable(left))
            return false;
        std::size_t received = 0;
        if (!socket_.Receive(scratch, sizeof scratch, received))
            return IsConnectionLoss(platform::LastSocketError());
        if (received == 0)
            return true;
    }
}

RpcReply TcpConnection::Call(const CallHeader& header, const XdrArgs& args, int timeoutMs) {
    if (!connected_) {
        RpcReply reply;
        reply.error = "not connected";
        return reply;
    }
    if (!SendRecord(BuildCall(header, args))) {
        RpcReply reply;
        reply.closed = true;
        reply.error =
            "send failed (socket error " + std::to_string(platform::LastSocketError()) + ")";
        return reply;
    }
    return ReceiveReply(timeoutMs);
}

RpcReply TcpConnection::ReceiveReply(int timeoutMs) {
    Bytes body;
    const ReceiveStatus status = ReceiveRecord(body, timeoutMs);
    if (status != ReceiveStatus::Ok)
        return FailedReply(status);
    return ParseReply(std::move(body));
}

// UdpEndpoint

UdpEndpoint::UdpEndpoint(std::uint16_t port)
    : socket_(platform::Socket::Create(platform::SocketKind::Udp)), port_(port) {
    if (socket_.IsValid() && !socket_.Bind(LoopbackAddress(0)))
        socket_.Close();
}

bool UdpEndpoint::Send(std::span<const std::uint8_t> datagram) {
    std::size_t sent = 0;
    return socket_.SendTo(datagram.data(), datagram.size(), LoopbackAddress(port_), sent) &&
           sent == datagram.size();
}

ReceiveStatus UdpEndpoint::Receive(Bytes& datagram, int timeoutMs) {
    datagram.assign(65536, 0);
    if (!socket_.WaitReadable(timeoutMs)) {
        datagram.clear();
        return platform::LastSocketError() == platform::kWsaETimedOut ? ReceiveStatus::TimedOut
                                                                      : ReceiveStatus::Error;
    }
    std::size_t received = 0;
    platform::SocketAddress from;
    if (!socket_.ReceiveFrom(datagram.data(), datagram.size(), received, from)) {
        datagram.clear();
        return ReceiveStatus::Error;
    }
    datagram.resize(received);
    return ReceiveStatus::Ok;
}

RpcReply UdpEndpoint::Call(const CallHeader& header, const XdrArgs& args, int timeoutMs) {
    if (!Send(BuildCall(header, args))) {
        RpcReply reply;
        reply.error =
            "send failed (socket error " + std::to_string(platform::LastSocketError()) + ")";
        return reply;
    }
    return ReceiveReply(timeoutMs);
}

RpcReply UdpEndpoint::ReceiveReply(int timeoutMs) {
    Bytes datagram;
    const ReceiveStatus status = Receive(datagram, timeoutMs);
    if (status != ReceiveStatus::Ok)
        return FailedReply(status);
    return ParseReply(std::move(datagram));
}

// RpcClient

RpcClient::RpcClient(ServerPorts ports, Transport transport)
    : ports_(ports), transport_(transport), xid_(gNextClientXid.fetch_add(0x10000)) {}

RpcClient::~RpcClient() = default;
RpcClient::RpcClient(RpcClient&&) noexcept = default;
RpcClient& RpcClient::operator=(RpcClient&&) noexcept = default;

RpcReply RpcClient::Call(std::uint16_t port, CallHeader header, const XdrArgs& args) {
    header.xid = ++xid_;
    if (transport_ == Transport::Udp) {
        std::unique_ptr<UdpEndpoint>& endpoint = udp_[port];
        if (!endpoint)
            endpoint = std::make_unique<UdpEndpoint>(port);
        return endpoint->Call(header, args, timeoutMs_);
    }
    std::unique_ptr<TcpConnection>& connection = tcp_[port];
    if (!connection || !connection->Connected())
        connection = std::make_unique<TcpConnection>(port);
    RpcReply reply = connection->Call(header, args, timeoutMs_);
    // A connection the server gave up on, or one left with a late reply, is not reused.
    if (!reply.Received())
        connection.reset();
    return reply;
}

RpcReply RpcClient::Call(std::uint16_t port, std::uint32_t program, std::uint32_t version,
                         std::uint32_t procedure, const XdrArgs& args) {
    CallHeader header;
    header.program = program;
    header.version = version;
    header.procedure = procedure;
    return Call(port, std::move(header), args);
}

RpcReply RpcClient::PortmapCall(std::uint32_t procedure, const XdrArgs& args) {
    return Call(ports_.portmap, kPortmapProgram, kPortmapVersion, procedure, args);
}

RpcReply RpcClient::MountCall(std::uint32_t procedure, const XdrArgs& args) {
    return Call(ports_.mount, kMountProgram, kMountVersion, procedure, args);
}

RpcReply RpcClient::NfsCall(std::uint32_t procedure, const XdrArgs& args) {
    return Call(ports_.nfs, kNfsProgram, kNfsVersion, procedure, args);
}

MountResult RpcClient::Mount(std::string_view path) {
    constexpr std::uint32_t kMountProcMnt = 1;
    MountResult result;
    result.reply = MountCall(kMountProcMnt, XdrArgs().PutString(path));
    if (!result.reply.Succeeded())
        return result;
    XdrDecoder& in = result.reply.body;
    result.status = in.GetUInt32();
    if (result.status != 0 || !in.Ok())
        return result;
    result.handleBytes = in.GetOpaque(64);
    if (result.handleBytes.size() == 4)
        result.handle = LoadBigEndian32(result.handleBytes.data());
    const std::uint32_t flavorCount = in.GetUInt32();
    for (std::uint32_t i = 0; i < flavorCount && in.Ok(); ++i)
        result.authFlavors.push_back(in.GetUInt32());
    if (!in.Ok())
        result.handleBytes.clear(); // malformed: Ok() reports false
    return result;
}

} // namespace rpctest
