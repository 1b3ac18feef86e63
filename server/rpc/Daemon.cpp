// TDaemon set-up, main loop, call framing, reply header and dispatch.
#include "server/rpc/Daemon.h"

#include <array>
#include <random>
#include <span>

#include "server/nfs/NfsConstants.h"
#include "server/rpc/RpcConstants.h"

namespace server {

using platform::Socket;
using platform::SocketAddress;
using platform::SocketKind;

namespace {

// The select set holds at most this many sockets; later connections wait their turn.
constexpr std::size_t kMaxSelectSockets = 64;
// The first slots of the select set: the three listeners, then the three datagram sockets.
constexpr std::size_t kFixedSockets = 6;
constexpr int kSelectTimeoutMs = 1001;
// The wait while more connections are open than the select set holds.
constexpr int kCrowdedSelectTimeoutMs = 20;
constexpr int kProbeTimeoutMs = 5005;
// Connections the system holds until the loop accepts them. With a backlog of 0 Linux queues a
// single one; the next clients that connect at the same moment wait for the kernel's handshake
// retransmissions (1, 2, 4, 8 ... seconds), so a burst of clients would stall for many seconds.
constexpr int kListenBacklog = 16;
constexpr std::uint32_t kPortmapDumpProcedure = 4;
// Bytes a client must take during one send time-out for its reply to go on (see SendReply).
constexpr std::size_t kMinimumSendProgress = 64 * 1024;
// Larger socket buffers let a whole 1 MiB transfer move without waiting on the window.
constexpr int kSocketBufferSize = 4 * 1024 * 1024;

// Seeds take the platform's clock whatever clock the daemon runs on: a fake one is no entropy.
std::uint32_t RandomSeed() {
    std::random_device device;
    std::uint32_t seed = device();
    seed ^= PlatformClock().TickCountMs();
    seed ^= static_cast<std::uint32_t>(PlatformClock().SystemTimeAsFileTime() >> 8);
    return seed;
}

// Port 0 asks for any free port (tests); the service then answers on the port it got.
void AdoptBoundPort(const Socket& socket, std::uint16_t& port) {
    SocketAddress local;
    if (port == 0 && socket.LocalAddress(local))
        port = local.port;
}

// Takes what has arrived and waits only when nothing has (the loop's select has just seen the
// connection readable, and a call's bytes mostly arrive together): one receive per part. False
// once `timeoutMs` have passed since `startMs` without all of it.
bool ReceiveExact(Socket& socket, std::uint8_t* into, std::size_t count, const TClock& clock,
                  std::uint32_t startMs, int timeoutMs) {
    std::size_t have = 0;
    while (have < count) {
        std::size_t received = 0;
        bool wouldBlock = false;
        if (!socket.TryReceive(into + have, count - have, received, wouldBlock))
            return false;
        if (!wouldBlock) {
            if (received == 0)
                return false; // end of stream
            have += received;
            continue;
        }
        const std::uint32_t elapsed = clock.TickCountMs() - startMs;
        if (elapsed >= static_cast<std::uint32_t>(timeoutMs))
            return false;
        // A wait that ends without data ends the record only once the clock says its time has
        // passed (checked above): a fake clock's time moves apart from the system's.
        socket.WaitReadable(clock.WaitSliceMs(timeoutMs - static_cast<int>(elapsed)));
    }
    return true;
}

} // namespace

struct TDaemon::Connection {
    Socket socket;
    std::uint16_t localPort = 0;
    SocketAddress peer;
};

// What the loop keeps from one round to the next.
struct TDaemon::LoopState {
    std::array<Socket*, 3> listeners{};
    std::array<Socket*, 3> datagrams{};
    std::vector<Connection> connections;
    // The select set: listeners, datagram sockets, then the connections that fit this round.
    std::vector<const Socket*> sockets;
    std::vector<std::size_t> slotConnection; // connection index of each connection slot
    std::unique_ptr<bool[]> ready{new bool[kMaxSelectSockets]()};
    std::size_t rotation = 0; // where the next round's window of connections starts
};

// Receives one single-fragment record into the request buffer, starting `shift` bytes into it
// (where the read cursor is left). False for end of stream, errors, a record not complete
// within the record time-out, a record without the last-fragment bit and one over the message
// limit.
bool TDaemon::ReceiveRecord(Socket& socket, std::uint32_t shift) {
    request_.Reset();
    const std::uint32_t startMs = clock_->TickCountMs();
    const int timeoutMs = times_.recordReceiveMs;
    std::uint8_t mark[4];
    if (!ReceiveExact(socket, mark, 4, *clock_, startMs, timeoutMs))
        return false;
    const std::uint32_t word = rpc::LoadBigEndian32(mark);
    const std::uint32_t size = word & rpc::kRecordLengthMask;
    if ((word & rpc::kRecordLastFragment) == 0 || std::uint64_t{size} + 4 > rpc::kMessageLimit)
        return false;
    if (request_.capacity - shift < size && !rpc::SetCapacity(request_, shift + size, 1))
        return false;
    if (!ReceiveExact(socket, request_.data + shift, size, *clock_, startMs, timeoutMs))
        return false;
    request_.position = shift;
    request_.length = shift + size;
    return true;
}

TDaemon::TDaemon(std::u16string_view root, std::uint32_t codePage, std::u16string_view listFolder,
                 ServicePorts ports, std::uint32_t idSeed, PortmapperTaken whenTaken)
    : codePage_(codePage), ports_(ports), whenTaken_(whenTaken) {
    const std::uint32_t seed = idSeed != 0 ? idSeed : RandomSeed();
    handles_ = std::make_unique<TObjectHandles>(root, listFolder, seed);
    readDirs_ = std::make_unique<TReadDirHandles>(seed * 2654435761u);
    if (!handles_->ErrorText().empty()) {
        errorText_ = handles_->ErrorText();
        return;
    }
    SetUpSockets();
    if (!errorText_.empty())
        return;
    // The request buffer has a page to spare for placing WRITE data on a page boundary.
    if (!rpc::SetCapacity(request_, rpc::kMessageLimit + kPageSize, 1) ||
        !rpc::SetCapacity(reply_, rpc::kMessageLimit, 1))
        errorText_ = "Out of memory";
}

TDaemon::~TDaemon() {
    Stop();
    if (registered_)
        UnregisterFromPortmapper();
    ReleaseReadSlot();
    for (Socket* socket :
         {&portmapTcp_, &portmapUdp_, &mountTcp_, &mountUdp_, &nfsTcp_, &nfsUdp_}) {
        if (socket->IsValid())
            socket->ShutdownBoth();
        socket->Close();
    }
}

void TDaemon::SetUpSockets() {
    const std::string portmapPort = std::to_string(ports_.portmap);

    // Portmapper TCP: a failed bind or listen only means that port 111 is not ours.
    portmapTcp_ = Socket::Create(SocketKind::Tcp);
    if (!portmapTcp_.IsValid()) {
        errorText_ = "Can't create TPC socket";
        return;
    }
    if (!portmapTcp_.Bind({platform::kInaddrAny, ports_.portmap})) {
        conflict_ = {ports_.portmap, true, platform::LastSocketError()};
        portmapTcp_.Close();
    } else if (!portmapTcp_.Listen(kListenBacklog)) {
        conflict_ = {ports_.portmap, true, platform::LastSocketError()};
        portmapTcp_.ShutdownBoth();
        portmapTcp_.Close();
    } else {
        AdoptBoundPort(portmapTcp_, ports_.portmap);
    }

    if (!portmapTcp_.IsValid()) {
        PortmapperProbe probe;
        if (!ProbePortmapper(probe))
            return;
        if (whenTaken_ == PortmapperTaken::Register && probe.answered) {
            SetUpWithSystemPortmapper(probe);
            return;
        }
        if (probe.nfs.port != 0)
            errorText_ = "A NFS server is still running on this machine";
        else if (probe.mount.port != 0)
            errorText_ = "A Mount service is still running on this machine";
        else
            errorText_ = "A Portmapper is still running on local TCP port " + portmapPort;
        return;
    }

    portmapUdp_ = Socket::Create(SocketKind::Udp);
    if (!portmapUdp_.IsValid()) {
        errorText_ = "Can't create UDP socket";
        return;
    }
    if (!portmapUdp_.Bind({platform::kInaddrAny, ports_.portmap})) {
        conflict_ = {ports_.portmap, false, platform::LastSocketError()};
        errorText_ = "Can't bind socket to local UDP port " + portmapPort;
        return;
    }
    portmapUdp_.SetReceiveBufferSize(kSocketBufferSize);
    portmapUdp_.SetSendBufferSize(kSocketBufferSize);
    if (SetUpService(mountTcp_, mountUdp_, ports_.mount) &&
        SetUpService(nfsTcp_, nfsUdp_, ports_.nfs))
        conflict_ = {};
}

bool TDaemon::SetUpService(Socket& tcp, Socket& udp, std::uint16_t& port) {
    const std::string portText = std::to_string(port);
    tcp = Socket::Create(SocketKind::Tcp);
    if (!tcp.IsValid()) {
        errorText_ = "Can't create TCP socket";
        return false;
    }
    if (!tcp.Bind({platform::kInaddrAny, port})) {
        conflict_ = {port, true, platform::LastSocketError()};
        errorText_ = "Can't bind socket to local TCP port " + portText;
        return false;
    }
    if (!tcp.Listen(kListenBacklog)) {
        conflict_ = {port, true, platform::LastSocketError()};
        errorText_ = "Can't listen on local TCP port " + portText;
        return false;
    }
    AdoptBoundPort(tcp, port);
    udp = Socket::Create(SocketKind::Udp);
    if (!udp.IsValid()) {
        errorText_ = "Can't create UDP socket";
        return false;
    }
    if (!udp.Bind({platform::kInaddrAny, port})) {
        conflict_ = {port, false, platform::LastSocketError()};
        errorText_ = "Can't bind socket to local UDP port " + portText;
        return false;
    }
    udp.SetReceiveBufferSize(kSocketBufferSize);
    udp.SetSendBufferSize(kSocketBufferSize);
    return true;
}

SocketAddress TDaemon::LocalPortmapper() const {
    return {platform::HostToNetwork32(platform::kInaddrLoopbackHostOrder), ports_.portmap};
}

// Asks whatever holds the portmapper port for its DUMP: to choose the error message, or to
// learn that a portmapper is there to register with. False when the probe itself failed (the
// error text is then set).
bool TDaemon::ProbePortmapper(PortmapperProbe& probe) {
    const std::string portText = std::to_string(ports_.portmap);
    Socket socket = Socket::Create(SocketKind::Tcp);
    if (!socket.IsValid()) {
        errorText_ = "Can't create TCP socket";
        return false;
    }
    if (!socket.Connect(LocalPortmapper())) {
        errorText_ = "Can't connect to local TCP port " + portText;
        return false;
    }
    std::mt19937 random(RandomSeed());
    const LocalCall call =
        CallLocalPortmapper(socket, random() % 2147483647u, kPortmapDumpProcedure, {});
    if (call == LocalCall::SendFailed) {
        errorText_ = "Unknown usage of local TCP port " + portText;
        return false;
    }
    probe.answered = call == LocalCall::Answered;
    bool more = false;
    while (probe.answered && reader_.ReadBool(more) && more) {
        std::uint32_t program = 0, version = 0, protocol = 0, port = 0;
        if (!reader_.ReadUInt32(program) || !reader_.ReadUInt32(version) ||
            !reader_.ReadUInt32(protocol) || !reader_.ReadUInt32(port))
            break;
        const bool udp = protocol == rpc::kProtocolUdp;
        if (program == rpc::kPortmapProgram && version == 2 && udp)
            probe.portmapUdp = true;
        PortConflict* const registered = program == rpc::kMountProgram && version == 3
                                             ? &probe.mount
                                         : program == rpc::kNfsProgram && version == 3 ? &probe.nfs
                                                                                       : nullptr;
        if (registered != nullptr && registered->port == 0)
            *registered = {static_cast<std::uint16_t>(port), !udp, 0};
    }
    request_.Reset();
    socket.ShutdownBoth();
    return true;
}

TDaemon::LocalCall TDaemon::CallLocalPortmapper(Socket& socket, std::uint32_t xid,
                                                std::uint32_t procedure,
                                                std::initializer_list<std::uint32_t> arguments) {
    // SendReply frames and sends the reply buffer, so the call is built there (the first word
    // is the record mark slot). Credential and verifier: AUTH_NONE, empty.
    reply_.Reset();
    rpc::XdrWriter& out = writer_;
    bool built = out.WriteUInt32(0) && out.WriteUInt32(xid) && out.WriteUInt32(rpc::kMsgCall) &&
                 out.WriteUInt32(rpc::kRpcVersion) && out.WriteUInt32(rpc::kPortmapProgram) &&
                 out.WriteUInt32(rpc::kPortmapVersion) && out.WriteUInt32(procedure) &&
                 out.WriteUInt64(0) && out.WriteUInt64(0);
    for (std::uint32_t argument : arguments)
        built = built && out.WriteUInt32(argument);
    if (!built || !SendReply(socket, true, LocalPortmapper()))
        return LocalCall::SendFailed;
    if (!socket.WaitReadable(kProbeTimeoutMs) || !ReceiveRecord(socket))
        return LocalCall::NoAnswer;
    std::uint32_t replyXid = 0, type = 0, status = 0, acceptStatus = 0;
    std::uint64_t verifier = 0; // flavor and an empty body
    const bool answered = reader_.ReadUInt32(replyXid) && replyXid == xid &&
                          reader_.ReadUInt32(type) && type == rpc::kMsgReply &&
                          reader_.ReadUInt32(status) && status == rpc::kMsgAccepted &&
                          reader_.ReadUInt64(verifier) && reader_.ReadUInt32(acceptStatus) &&
                          acceptStatus == rpc::kSuccess;
    return answered ? LocalCall::Answered : LocalCall::NoAnswer;
}

void TDaemon::AddAllowedHost(std::string_view host) {
    if (host.empty())
        return;
    const std::string text(host);
    std::uint32_t address = platform::kInaddrNone;
    if (!platform::ParseDottedAddress(text.c_str(), address) &&
        !platform::ResolveHostName(text.c_str(), address))
        address = platform::kInaddrNone;
    allowed_.Add(address);
    exportGroups_.push_back(text);
}

void TDaemon::SetClock(const TClock& clock, const DaemonTimes& times) {
    clock_ = &clock;
    times_ = times;
}

bool TDaemon::IsHostAllowed(std::uint32_t address) const {
    if (address == platform::kInaddrNone)
        return false;
    return allowed_.Count() == 0 || allowed_.Contains(address);
}

bool TDaemon::HasMountedClient(std::uint32_t address) const {
    return address != platform::kInaddrNone && mounts_.HasClient(address);
}

bool TDaemon::Start() {
    if (!errorText_.empty() || thread_.joinable())
        return false;
    terminated_ = false;
    thread_ = std::thread(&TDaemon::Execute, this);
    return true;
}

void TDaemon::Stop() {
    terminated_ = true;
    if (thread_.joinable())
        thread_.join();
}

void TDaemon::Execute() {
    LoopState loop;
    loop.listeners = {&portmapTcp_, &mountTcp_, &nfsTcp_};
    loop.datagrams = {&portmapUdp_, &mountUdp_, &nfsUdp_};
    lastSweepMs_ = clock_->TickCountMs();
    while (!terminated_) {
        const int timeoutMs = FillSelectSet(loop);
        const int count = platform::SelectReadable(
            loop.sockets, timeoutMs, std::span<bool>(loop.ready.get(), loop.sockets.size()));
        if (count <= 0) {
            IdleSweep();
            continue;
        }
        AcceptConnections(loop);
        ServeDatagrams(loop);
        ServeConnections(loop);
    }
    for (Connection& connection : loop.connections)
        connection.socket.ShutdownBoth();
}

int TDaemon::FillSelectSet(LoopState& loop) {
    loop.sockets.clear();
    for (Socket* socket : loop.listeners)
        loop.sockets.push_back(socket);
    for (Socket* socket : loop.datagrams)
        loop.sockets.push_back(socket);
    // Connections beyond the select limit take turns: each window starts where the last one
    // ended, and while they do not all fit the wait is short, so that every connection is
    // looked at within moments however many others sit idle.
    std::vector<Connection>& connections = loop.connections;
    const std::size_t room = kMaxSelectSockets - kFixedSockets;
    const std::size_t taken = connections.size() < room ? connections.size() : room;
    if (!connections.empty())
        loop.rotation %= connections.size();
    loop.slotConnection.clear();
    for (std::size_t i = 0; i < taken; ++i) {
        const std::size_t index = (loop.rotation + i) % connections.size();
        loop.slotConnection.push_back(index);
        loop.sockets.push_back(&connections[index].socket);
    }
    loop.rotation += taken;
    return connections.size() > room ? kCrowdedSelectTimeoutMs : kSelectTimeoutMs;
}

void TDaemon::AcceptConnections(LoopState& loop) {
    for (std::size_t i = 0; i < 3; ++i) {
        if (!loop.ready[i] || !loop.listeners[i]->IsValid())
            continue;
        Connection connection;
        connection.socket = loop.listeners[i]->Accept(&connection.peer);
        if (!connection.socket.IsValid())
            continue;
        SocketAddress local;
        if (!connection.socket.LocalAddress(local))
            continue;
        connection.localPort = local.port;
        connection.socket.SetReceiveBufferSize(kSocketBufferSize);
        connection.socket.SetSendBufferSize(kSocketBufferSize);
        connection.socket.SetSendTimeout(times_.replySendMs);
        // A reply is sent whole in one call, so nothing is gained by holding its tail.
        connection.socket.SetNoDelay();
        loop.connections.push_back(std::move(connection));
    }
}

void TDaemon::ServeDatagrams(const LoopState& loop) {
    for (std::size_t i = 0; i < 3 && !terminated_; ++i) {
        if (loop.ready[3 + i])
            ServeDatagram(*loop.datagrams[i]);
    }
}

void TDaemon::ServeConnections(LoopState& loop) {
    // The connections to close are collected by their socket value and closed after the round,
    // as the slots refer to connections by index.
    std::vector<std::intptr_t> closing;
    for (std::size_t i = kFixedSockets; i < loop.sockets.size() && !terminated_; ++i) {
        if (!loop.ready[i])
            continue;
        Connection& connection = loop.connections[loop.slotConnection[i - kFixedSockets]];
        if (!ServeConnection(connection))
            closing.push_back(connection.socket.Value());
    }
    std::vector<Connection>& connections = loop.connections;
    for (std::intptr_t value : closing) {
        for (auto it = connections.begin(); it != connections.end(); ++it) {
            if (it->socket.Value() == value) {
                it->socket.ShutdownBoth();
                connections.erase(it);
                break;
            }
        }
    }
}

bool TDaemon::ServeConnection(Connection& connection) {
    if (!ReceiveRecord(connection.socket, writeDataShift_))
        return false;
    reply_.Reset(4);
    currentSocket_ = &connection.socket;
    bool close = false;
    const bool sendIt = ProcessCall(connection.localPort, true, connection.peer, close);
    currentSocket_ = nullptr;
    if (sendIt && !SendReply(connection.socket, true, connection.peer))
        return false;
    return !close;
}

void TDaemon::ServeDatagram(Socket& socket) {
    SocketAddress local;
    if (!socket.LocalAddress(local))
        return;
    request_.Reset();
    std::size_t received = 0;
    SocketAddress peer;
    if (!socket.ReceiveFrom(request_.data, request_.capacity, received, peer))
        return;
    request_.length = static_cast<std::uint32_t>(received);
    reply_.Reset();
    bool close = false;
    currentSocket_ = &socket;
    if (ProcessCall(local.port, false, peer, close))
        SendReply(socket, false, peer);
    currentSocket_ = nullptr;
}

bool TDaemon::SendReply(Socket& socket, bool tcp, const SocketAddress& peer) {
    if (reply_.length < reply_.position)
        return false;
    if (tcp) {
        if (reply_.length - reply_.position < 4)
            return false;
        const std::uint32_t size = reply_.length - reply_.position - 4;
        rpc::StoreBigEndian32(reply_.data + reply_.position,
                              (size & rpc::kRecordLengthMask) | rpc::kRecordLastFragment);
    }
    const std::uint8_t* data = reply_.data + reply_.position;
    const std::size_t size = reply_.length - reply_.position;
    if (!tcp) {
        std::size_t sent = 0;
        return socket.SendTo(data, size, peer, sent) && sent == size;
    }
    // A record goes out whole or the connection is given up: never half a record. A send that
    // comes back short has waited out the connection's send time-out; if the client took less
    // than a trickle in that time it has stopped reading (a receiver that does not read still
    // takes a few kilobytes now and then as its buffers are compacted), so it is given up.
    std::size_t done = 0;
    while (done < size) {
        const std::size_t wanted = size - done;
        std::size_t sent = 0;
        if (!socket.Send(data + done, wanted, sent) || sent == 0)
            return false;
        done += sent;
        if (sent < wanted && sent < kMinimumSendProgress)
            return false;
    }
    return true;
}

void TDaemon::IdleSweep() {
    const std::uint32_t now = clock_->TickCountMs();
    if (now - lastSweepMs_ <= times_.idleFileMs)
        return;
    handles_->CloseIdleFiles(now, times_.idleFileMs);
    lastSweepMs_ = now;
}

bool TDaemon::ProcessCall(std::uint16_t localPort, bool tcp, const SocketAddress& peer,
                          bool& closeConnection) {
    closeConnection = false;
    currentProtocol_ = tcp ? rpc::kProtocolTcp : rpc::kProtocolUdp;
    replyLimit_ = tcp ? rpc::kMessageLimit : rpc::kDatagramLimit;
    peer_ = peer;
    reply_.Reset(tcp ? 4 : 0);
    // The call starts where the receive left the read cursor (0 but for a shifted TCP record).
    recordStart_ = request_.position;

    std::uint32_t xid = 0;
    if (!reader_.ReadUInt32(xid)) {
        closeConnection = tcp;
        return false;
    }
    std::uint32_t type = 0, rpcVersion = 0, program = 0, version = 0, procedure = 0;
    std::uint32_t flavor = 0, bodyLength = 0;
    const std::uint8_t* body = nullptr;
    if (!reader_.ReadUInt32(type) || !reader_.ReadUInt32(rpcVersion) ||
        !reader_.ReadUInt32(program) || !reader_.ReadUInt32(version) ||
        !reader_.ReadUInt32(procedure))
        return false;
    // Credential and verifier: any flavor is accepted, the bodies are skipped.
    for (int i = 0; i < 2; ++i) {
        if (!reader_.ReadUInt32(flavor) || !reader_.ReadUInt32(bodyLength) ||
            !reader_.ReadInPlace(body, bodyLength))
            return false;
    }
    // A reply is never answered: two servers could otherwise bounce denials forever.
    if (type != rpc::kMsgCall)
        return false;

    if (!writer_.WriteUInt32(xid) || !writer_.WriteUInt32(rpc::kMsgReply))
        return false;
    if (rpcVersion != rpc::kRpcVersion) {
        return writer_.WriteUInt32(rpc::kMsgDenied) && writer_.WriteUInt32(rpc::kRpcMismatch) &&
               writer_.WriteUInt32(2) && writer_.WriteUInt32(2);
    }
    const bool gatedByHostList = localPort == ports_.portmap || localPort == ports_.mount;
    const bool denied = gatedByHostList
                            ? !IsHostAllowed(peer.address)
                            : localPort == ports_.nfs && !HasMountedClient(peer.address);
    if (denied) {
        return writer_.WriteUInt32(rpc::kMsgDenied) && writer_.WriteUInt32(rpc::kAuthError) &&
               writer_.WriteUInt32(rpc::kAuthTooWeak);
    }
    if (localPort != ports_.portmap && localPort != ports_.mount && localPort != ports_.nfs)
        return false;
    if (!writer_.WriteUInt32(rpc::kMsgAccepted) || !writer_.WriteUInt32(rpc::kAuthNone) ||
        !writer_.WriteUInt32(0))
        return false;
    return Dispatch(localPort, program, version, procedure);
}

bool TDaemon::Dispatch(std::uint16_t localPort, std::uint32_t program, std::uint32_t version,
                       std::uint32_t procedure) {
    static constexpr ProcedureEntry kPortmap[] = {
        {0, &TDaemon::PortmapNull},
        {3, &TDaemon::PortmapGetPort},
        {4, &TDaemon::PortmapDump},
        {6, &TDaemon::PortmapGetTime},
    };
    static constexpr ProcedureEntry kMount[] = {
        {0, &TDaemon::MountNull}, {1, &TDaemon::MountMnt},     {2, &TDaemon::MountDump},
        {3, &TDaemon::MountUmnt}, {4, &TDaemon::MountUmntAll}, {5, &TDaemon::MountExport},
    };
    static constexpr ProcedureEntry kNfs[] = {
        {0, &TDaemon::NfsNull},     {1, &TDaemon::NfsGetAttr},      {2, &TDaemon::NfsSetAttr},
        {3, &TDaemon::NfsLookup},   {4, &TDaemon::NfsAccess},       {6, &TDaemon::NfsRead},
        {7, &TDaemon::NfsWrite},    {8, &TDaemon::NfsCreate},       {9, &TDaemon::NfsMkDir},
        {12, &TDaemon::NfsRemove},  {13, &TDaemon::NfsRmDir},       {14, &TDaemon::NfsRename},
        {16, &TDaemon::NfsReadDir}, {17, &TDaemon::NfsReadDirPlus}, {18, &TDaemon::NfsFsStat},
        {19, &TDaemon::NfsFsInfo},  {20, &TDaemon::NfsPathConf},    {21, &TDaemon::NfsCommit},
    };
    struct Service {
        std::uint16_t port;
        std::uint32_t program;
        std::uint32_t version;
        std::span<const ProcedureEntry> table;
    };
    const Service services[] = {
        {ports_.portmap, rpc::kPortmapProgram, rpc::kPortmapVersion, kPortmap},
        {ports_.mount, rpc::kMountProgram, rpc::kMountVersion, kMount},
        {ports_.nfs, rpc::kNfsProgram, rpc::kNfsVersion, kNfs},
    };
    for (const Service& service : services) {
        if (service.port != localPort)
            continue;
        if (program != service.program)
            return writer_.WriteUInt32(rpc::kProgUnavail);
        if (version != service.version) {
            return writer_.WriteUInt32(rpc::kProgMismatch) &&
                   writer_.WriteUInt32(service.version) && writer_.WriteUInt32(service.version);
        }
        for (const ProcedureEntry& entry : service.table) {
            if (entry.number == procedure)
                return (this->*entry.handler)();
        }
        return writer_.WriteUInt32(rpc::kProcUnavail);
    }
    return false;
}

} // namespace server
