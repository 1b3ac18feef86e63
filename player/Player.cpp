// Sockets, FIFO, signals and timers of kestro-player around its sessions and discovery answers.
#include "player/Player.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ifaddrs.h>
#include <map>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <thread>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/platform/CodePage.h"
#include "player/ControlCommand.h"
#include "player/ControlSession.h"
#include "player/DiscoveryCodec.h"
#include "player/Flood.h"
#include "player/JsonLog.h"
#include "player/NfsWorker.h"

namespace player {

namespace {

double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// Owns one descriptor.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }

    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

std::string AddressText(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string EndpointText(const sockaddr_in& address) {
    return AddressText(address.sin_addr) + ":" + std::to_string(ntohs(address.sin_port));
}

// How a datagram reached us, from its header's destination address.
std::string DestinationClass(const in_addr& destination) {
    if (destination.s_addr == INADDR_BROADCAST)
        return "limited_broadcast";
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return "other";
    std::string found = "other";
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        const auto* local = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (local->sin_addr.s_addr == destination.s_addr)
            found = "unicast";
        const auto* broadcast = reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr);
        if ((entry->ifa_flags & IFF_BROADCAST) != 0 && broadcast != nullptr &&
            broadcast->sin_addr.s_addr == destination.s_addr && found == "other")
            found = "directed_broadcast";
    }
    freeifaddrs(list);
    return found;
}

bool SetFlag(int fd, int level, int name) {
    const int one = 1;
    return setsockopt(fd, level, name, &one, sizeof one) == 0;
}

Fd BoundSocket(int type, const in_addr& address, std::uint16_t port, std::string& error) {
    Fd fd(socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) {
        error = std::strerror(errno);
        return Fd();
    }
    SetFlag(fd.Get(), SOL_SOCKET, SO_REUSEADDR);
    if (type == SOCK_DGRAM) {
        SetFlag(fd.Get(), SOL_SOCKET, SO_BROADCAST);
        SetFlag(fd.Get(), IPPROTO_IP, IP_PKTINFO);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    local.sin_port = htons(port);
    if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        error = "bind " + EndpointText(local) + ": " + std::strerror(errno);
        return Fd();
    }
    if (type == SOCK_STREAM && listen(fd.Get(), 8) != 0) {
        error = std::string("listen: ") + std::strerror(errno);
        return Fd();
    }
    return fd;
}

class Runtime;

// One accepted control connection: the session and the socket it writes to.
class Connection : public SessionPort {
  public:
    Connection(Runtime& runtime, Fd fd) : runtime_(runtime), fd_(std::move(fd)) {}

    double Now() override { return MonotonicSeconds(); }
    bool Write(ByteSpan bytes) override;
    void Close(bool reset) override;
    void StartNfs(const NfsJob& job) override;
    std::uint32_t Random() override;

    // Sends what an earlier write left over; false when the connection failed.
    bool Flush();
    int Fd() const { return fd_.Get(); }
    bool HasUnsent() const { return !unsent_.empty(); }

    std::unique_ptr<ControlSession> session;

  private:
    Runtime& runtime_;
    player::Fd fd_;
    Bytes unsent_;
};

struct PendingDatagram {
    double at = 0;
    int fd = -1;
    sockaddr_in to{};
    Bytes bytes;
    std::string variant;
    std::string source;
};

class Runtime {
  public:
    Runtime(PlayerConfig config, JsonLog& log)
        : config_(std::move(config)), log_(log), random_(config_.seed) {}
    ~Runtime() {
        for (std::thread* thread : {&flood_, &noise_})
            if (thread->joinable())
                thread->join();
    }
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    bool Start(std::string& error);
    int Loop();

    void StartNfs(const NfsJob& job) {
        (job.kind == NfsJob::Kind::Lists ? *listsWorker_ : *fileWorker_).Submit(job);
    }
    std::uint32_t Random() { return static_cast<std::uint32_t>(random_()); }

  private:
    void OnDatagram();
    void StartFlood(const sockaddr_in& to);
    void StartNoise(int fd, int session, std::uint32_t ms);
    void SendDatagram(const PendingDatagram& datagram);
    void OnAccept();
    void OnConnectionEvent(Connection& connection, short events);
    void OnNfsResults();
    void OnControlInput();
    void ApplyCommand(const std::string& line);
    void RemoveClosedConnections();
    double NextDeadline() const;
    void OnTime();
    void Summary(int status);

    PlayerConfig config_;
    JsonLog& log_;
    std::mt19937 random_;
    Fd udp_, listener_, control_, signals_, wake_;
    std::vector<Fd> sources_;
    std::vector<std::string> sourceNames_;
    std::unique_ptr<NfsWorker> listsWorker_, fileWorker_;
    std::map<int, std::unique_ptr<Connection>> connections_; // by session id
    std::vector<PendingDatagram> pending_;
    std::thread flood_, noise_;
    std::map<std::string, Bytes> macBySource_;
    std::optional<Bytes> lastMac_;
    std::string controlBuffer_;
    int nextSession_ = 1;
    int endedSessions_ = 0;
    int pcRequests_ = 0;
    int datagrams_ = 0;
    int filesRead_ = 0;
    bool quit_ = false;
};

bool Connection::Write(ByteSpan bytes) {
    if (fd_.Get() < 0)
        return false;
    unsent_.insert(unsent_.end(), bytes.begin(), bytes.end());
    return Flush();
}

bool Connection::Flush() {
    while (!unsent_.empty()) {
        const ssize_t n = ::send(fd_.Get(), unsent_.data(), unsent_.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n < 0)
            return false;
        unsent_.erase(unsent_.begin(), unsent_.begin() + n);
    }
    return true;
}

void Connection::Close(bool reset) {
    if (fd_.Get() < 0)
        return;
    if (reset) {
        const linger hard{1, 0};
        setsockopt(fd_.Get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else if (!unsent_.empty()) {
        // A clean close sends what is still queued first, for a second at most.
        const int flags = fcntl(fd_.Get(), F_GETFL);
        fcntl(fd_.Get(), F_SETFL, flags & ~O_NONBLOCK);
        const timeval limit{1, 0};
        setsockopt(fd_.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        Flush();
    }
    fd_.Reset();
}

void Connection::StartNfs(const NfsJob& job) {
    runtime_.StartNfs(job);
}

std::uint32_t Connection::Random() {
    return runtime_.Random();
}

bool Runtime::Start(std::string& error) {
    log_.SetLenient(config_.lenient);
    in_addr any{};
    any.s_addr = htonl(INADDR_ANY);
    if (config_.discovery.enabled) {
        udp_ = BoundSocket(SOCK_DGRAM, any, config_.port, error);
        if (udp_.Get() < 0)
            return false;
        for (const std::string& source : config_.discovery.sources) {
            in_addr address{};
            if (inet_pton(AF_INET, source.c_str(), &address) != 1) {
                error = "--answer-source " + source + " is no IPv4 address";
                return false;
            }
            Fd fd = BoundSocket(SOCK_DGRAM, address, 0, error);
            if (fd.Get() < 0)
                return false;
            sources_.push_back(std::move(fd));
            sourceNames_.push_back(source);
        }
    }
    listener_ = BoundSocket(SOCK_STREAM, any, config_.port, error);
    if (listener_.Get() < 0)
        return false;
    if (!config_.controlPath.empty()) {
        if (mkfifo(config_.controlPath.c_str(), 0600) != 0 && errno != EEXIST) {
            error = "mkfifo " + config_.controlPath + ": " + std::strerror(errno);
            return false;
        }
        // Open for writing too, so the FIFO never reads as ended between two writers.
        control_.Reset(::open(config_.controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (control_.Get() < 0) {
            error = "open " + config_.controlPath + ": " + std::strerror(errno);
            return false;
        }
    }
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    signals_.Reset(signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC));
    wake_.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (signals_.Get() < 0 || wake_.Get() < 0) {
        error = std::string("signalfd/eventfd: ") + std::strerror(errno);
        return false;
    }
    listsWorker_ = std::make_unique<NfsWorker>(wake_.Get());
    fileWorker_ = std::make_unique<NfsWorker>(wake_.Get());
    return true;
}

void Runtime::OnDatagram() {
    for (;;) {
        std::uint8_t buffer[2048];
        sockaddr_in from{};
        iovec vector{buffer, sizeof buffer};
        alignas(cmsghdr) char control[256];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = recvmsg(udp_.Get(), &message, MSG_TRUNC);
        if (size < 0)
            return;
        ++datagrams_;
        in_addr destination{};
        std::string interfaceName;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != IPPROTO_IP || header->cmsg_type != IP_PKTINFO)
                continue;
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            destination = info.ipi_addr;
            char name[IF_NAMESIZE] = {};
            if (if_indextoname(static_cast<unsigned>(info.ipi_ifindex), name) != nullptr)
                interfaceName = name;
        }
        const std::size_t kept =
            std::min<std::size_t>(static_cast<std::size_t>(size), sizeof buffer);
        const ByteSpan datagram(buffer, kept);
        const std::string source = EndpointText(from);
        const std::string destinationClass = DestinationClass(destination);
        log_.Write(JsonLine("udp_rx")
                       .Str("from", source)
                       .Str("to", AddressText(destination))
                       .Str("dest", destinationClass)
                       .Str("if", interfaceName)
                       .Int("size", size)
                       .Hex("hex", datagram));
        SearchRequest request;
        JsonLine extra("");
        extra.Str("from", source);
        for (const Departure& departure : CheckSearchRequest(datagram, request))
            log_.Report(departure, 0, extra);
        const std::optional<std::string>& expected = config_.discovery.expectedDestination;
        if (expected && *expected != destinationClass && *expected != AddressText(destination))
            log_.Report({"search.destination", "sent to " + AddressText(destination) + " (" +
                                                   destinationClass + "), expected " + *expected},
                        0, extra);
        if (!request.usable)
            continue;
        if (config_.session.expectedMac && request.mac != *config_.session.expectedMac)
            log_.Report({"search.mac", "MAC " + MacText(request.mac) + ", expected " +
                                           MacText(*config_.session.expectedMac)},
                        0, extra);
        char token[16];
        std::snprintf(token, sizeof token, "0x%08x", request.token);
        log_.Write(JsonLine("search_request")
                       .Str("from", source)
                       .Str("token", token)
                       .Str("mac", MacText(request.mac)));
        macBySource_[AddressText(from.sin_addr)] = request.mac;
        lastMac_ = request.mac;
        if (config_.discovery.floodCount > 0)
            StartFlood(from);
        const double at = MonotonicSeconds() + config_.discovery.delayMs / 1000.0;
        for (AnswerVariant variant : config_.discovery.answers) {
            const Bytes answer = BuildSearchAnswer(request, config_.discovery.fields, variant);
            pending_.push_back({at, udp_.Get(), from, answer, AnswerVariantName(variant), ""});
            for (std::size_t i = 0; i < sources_.size(); ++i)
                pending_.push_back({at, sources_[i].Get(), from, answer, AnswerVariantName(variant),
                                    sourceNames_[i]});
        }
    }
}

// From a thread of its own, so that answers and sessions go on during the flood.
void Runtime::StartFlood(const sockaddr_in& to) {
    FloodPlan plan;
    plan.to = to;
    plan.total = config_.discovery.floodCount;
    plan.kind = config_.discovery.floodKind;
    plan.seed = Random();
    config_.discovery.floodCount = 0;
    if (flood_.joinable())
        flood_.join();
    log_.Write(JsonLine("flood")
                   .Str("to", EndpointText(to))
                   .Str("kind", plan.kind)
                   .Int("count", plan.total));
    flood_ = std::thread([plan] { Flood(plan); });
}

// A thread writing to its own descriptor of the connection: the session's packets go on and
// may land amid the noise. The bytes are counted, not logged.
void Runtime::StartNoise(int fd, int session, std::uint32_t ms) {
    if (noise_.joinable())
        noise_.join();
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return;
    log_.Write(JsonLine("noise").Int("session", session).Int("ms", ms));
    noise_ = std::thread([own, ms, seed = Random()] {
        std::mt19937 random(seed);
        Bytes bytes(65536);
        for (std::uint8_t& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        const double end = MonotonicSeconds() + ms / 1000.0;
        while (MonotonicSeconds() < end) {
            if (::send(own, bytes.data(), bytes.size(), MSG_NOSIGNAL) >= 0)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                break;
            pollfd writable{own, POLLOUT, 0};
            poll(&writable, 1, 10);
        }
        ::close(own);
    });
}

void Runtime::SendDatagram(const PendingDatagram& datagram) {
    const ssize_t sent =
        sendto(datagram.fd, datagram.bytes.data(), datagram.bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(&datagram.to), sizeof datagram.to);
    JsonLine line("udp_tx");
    line.Str("to", EndpointText(datagram.to)).Str("answer", datagram.variant);
    if (!datagram.source.empty())
        line.Str("source", datagram.source);
    line.Int("size", static_cast<std::int64_t>(datagram.bytes.size())).Hex("hex", datagram.bytes);
    if (sent < 0)
        line.Str("error", std::strerror(errno));
    log_.Write(line);
}

void Runtime::OnAccept() {
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        Fd fd(accept4(listener_.Get(), reinterpret_cast<sockaddr*>(&peer), &length,
                      SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (fd.Get() < 0)
            return;
        SetFlag(fd.Get(), IPPROTO_TCP, TCP_NODELAY);
        sockaddr_in local{};
        socklen_t localLength = sizeof local;
        getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&local), &localLength);
        const int id = nextSession_++;
        const std::string peerAddress = AddressText(peer.sin_addr);
        std::optional<Bytes> mac = lastMac_;
        if (auto found = macBySource_.find(peerAddress); found != macBySource_.end())
            mac = found->second;
        log_.Write(JsonLine("tcp_accept")
                       .Int("session", id)
                       .Str("peer", EndpointText(peer))
                       .Str("local", EndpointText(local)));
        auto connection = std::make_unique<Connection>(*this, std::move(fd));
        connection->session = std::make_unique<ControlSession>(id, peerAddress, mac,
                                                               config_.session, log_, *connection);
        Connection& added = *connection;
        connections_[id] = std::move(connection);
        added.session->Start();
    }
}

void Runtime::OnConnectionEvent(Connection& connection, short events) {
    ControlSession& session = *connection.session;
    if ((events & POLLOUT) != 0 && !connection.Flush()) {
        session.OnClosed(true);
        return;
    }
    if ((events & (POLLIN | POLLHUP | POLLERR)) == 0)
        return;
    for (int reads = 0; reads < 64 && session.Open(); ++reads) {
        std::uint8_t buffer[65536];
        const ssize_t n = ::recv(connection.Fd(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            session.OnClosed(n < 0);
            return;
        }
        session.OnBytes(ByteSpan(buffer, static_cast<std::size_t>(n)));
    }
}

void Runtime::OnNfsResults() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_.Get(), &count, sizeof count);
    for (NfsWorker* worker : {listsWorker_.get(), fileWorker_.get()}) {
        for (const NfsResult& result : worker->Take()) {
            MediaLists lists;
            LogNfsResult(log_, result, lists);
            if (result.stage == NfsResult::Stage::FileDone && result.ok && !result.cancelled)
                ++filesRead_;
            if (auto found = connections_.find(result.session); found != connections_.end())
                found->second->session->OnNfs(result, lists);
        }
    }
}

void Runtime::OnControlInput() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(control_.Get(), buffer, sizeof buffer);
        if (n <= 0)
            break;
        controlBuffer_.append(buffer, static_cast<std::size_t>(n));
    }
    for (std::size_t newline = controlBuffer_.find('\n'); newline != std::string::npos;
         newline = controlBuffer_.find('\n')) {
        const std::string line = controlBuffer_.substr(0, newline);
        controlBuffer_.erase(0, newline + 1);
        if (!line.empty() && line.find_first_not_of(" \t\r") != std::string::npos)
            ApplyCommand(line);
    }
}

void Runtime::ApplyCommand(const std::string& line) {
    ControlCommand command;
    std::string error;
    JsonLine entry("control");
    entry.Str("command", line);
    if (!ParseControlCommand(line, command, error)) {
        log_.Write(entry.Bool("ok", false).Str("error", error));
        return;
    }
    using Kind = ControlCommand::Kind;
    if (command.kind == Kind::Quit) {
        quit_ = true;
        log_.Write(entry.Bool("ok", true));
        return;
    }
    if (command.kind == Kind::Mark) {
        log_.Write(JsonLine("mark").Str("text", command.text));
        return;
    }
    if (command.kind == Kind::Option) {
        const bool ok = ParseOptions(command.words, config_, error, true);
        log_.SetLenient(config_.lenient);
        entry.Bool("ok", ok);
        if (!ok)
            entry.Str("error", error);
        log_.Write(entry);
        return;
    }
    ControlSession* session = nullptr;
    for (auto it = connections_.rbegin(); it != connections_.rend() && session == nullptr; ++it)
        if (it->second->session->Open())
            session = it->second->session.get();
    if (session == nullptr) {
        log_.Write(entry.Bool("ok", false).Str("error", "no open session"));
        return;
    }
    // Logged before it acts, so that the command comes before what it makes the player send.
    log_.Write(entry.Bool("ok", true).Int("session", session->Id()));
    const std::vector<std::uint32_t>& n = command.numbers;
    switch (command.kind) {
    case Kind::EndSession:
        session->EndSession();
        break;
    case Kind::PlayStatus:
        session->SendPlayerRequest(CTRL_REQ_PLAYSTATUS_PC, n[0], {});
        break;
    case Kind::AssignStatus: {
        Bytes payload;
        PutU32(payload, n[0]);
        PutU32(payload, n[1]);
        session->SendPlayerRequest(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, payload);
        break;
    }
    case Kind::AssignName: {
        Bytes payload;
        for (char16_t unit : platform::Utf8ToUtf16(command.text))
            PutU16(payload, unit);
        PutU16(payload, 0);
        session->SendPlayerRequest(CTRL_REQ_ASSIGNFILESTATUS_PC, 0, payload);
        break;
    }
    case Kind::GetNext:
        session->SendPlayerRequest(CTRL_REQ_GETNEXTFILE_PC, n.empty() ? 0 : n[0], {});
        break;
    case Kind::Request:
    case Kind::RequestNoWait:
        session->SendPlayerRequest(n[0], n[1], command.bytes, command.kind == Kind::Request);
        break;
    case Kind::Cut:
        session->SendCut(BuildPacket(n[1], n[2], command.bytes), n[0], 50);
        break;
    case Kind::Raw:
        session->SendRaw(command.bytes);
        break;
    case Kind::Random: {
        Bytes noise(n[0]);
        for (std::uint8_t& byte : noise)
            byte = static_cast<std::uint8_t>(random_());
        session->SendRaw(std::move(noise));
        break;
    }
    case Kind::Noise:
        StartNoise(connections_[session->Id()]->Fd(), session->Id(), n[0]);
        break;
    case Kind::Close:
    case Kind::Reset:
        session->CloseNow(command.kind == Kind::Reset);
        break;
    default:
        break;
    }
}

void Runtime::RemoveClosedConnections() {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->second->session->Open()) {
            ++it;
            continue;
        }
        pcRequests_ += it->second->session->RequestCount();
        it->second->Close(false);
        it = connections_.erase(it);
        ++endedSessions_;
    }
}

double Runtime::NextDeadline() const {
    double next = MonotonicSeconds() + 1.0;
    for (const PendingDatagram& datagram : pending_)
        next = std::min(next, datagram.at);
    for (const auto& [id, connection] : connections_)
        if (std::optional<double> at = connection->session->NextDeadline())
            next = std::min(next, *at);
    return next;
}

void Runtime::OnTime() {
    const double now = MonotonicSeconds();
    std::vector<PendingDatagram> due;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->at <= now) {
            due.push_back(std::move(*it));
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    for (const PendingDatagram& datagram : due)
        SendDatagram(datagram);
    for (auto& [id, connection] : connections_)
        connection->session->OnTime();
}

int Runtime::Loop() {
    double drainUntil = 0; // after the last session: time left for NFS reads to end
    while (!quit_) {
        RemoveClosedConnections();
        const bool done = config_.sessions > 0 && endedSessions_ >= config_.sessions;
        if (done) {
            if (drainUntil == 0)
                drainUntil = MonotonicSeconds() + 120;
            if ((listsWorker_->Idle() && fileWorker_->Idle()) || MonotonicSeconds() > drainUntil)
                break;
        }
        std::vector<pollfd> fds;
        std::vector<int> sessions; // session id per connection entry, after the fixed ones
        auto add = [&](int fd, short events) { fds.push_back({fd, events, 0}); };
        add(signals_.Get(), POLLIN);
        add(wake_.Get(), POLLIN);
        add(udp_.Get(), POLLIN);
        add(done ? -1 : listener_.Get(), POLLIN);
        add(control_.Get(), POLLIN);
        for (const auto& [id, connection] : connections_) {
            add(connection->Fd(),
                static_cast<short>(POLLIN | (connection->HasUnsent() ? POLLOUT : 0)));
            sessions.push_back(id);
        }
        const double wait = std::max(0.0, NextDeadline() - MonotonicSeconds());
        const int status = poll(fds.data(), fds.size(), static_cast<int>(wait * 1000) + 1);
        if (status < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0) {
            signalfd_siginfo info{};
            [[maybe_unused]] const ssize_t n = ::read(signals_.Get(), &info, sizeof info);
            log_.Write(JsonLine("signal").Int("signal", info.ssi_signo));
            break;
        }
        if (fds[1].revents != 0)
            OnNfsResults();
        if (fds[2].revents != 0)
            OnDatagram();
        if (fds[3].revents != 0)
            OnAccept();
        if (fds[4].revents != 0)
            OnControlInput();
        for (std::size_t i = 0; i < sessions.size(); ++i) {
            auto found = connections_.find(sessions[i]);
            if (found != connections_.end() && fds[5 + i].revents != 0 &&
                found->second->session->Open())
                OnConnectionEvent(*found->second, fds[5 + i].revents);
        }
        OnTime();
    }
    for (auto& [id, connection] : connections_)
        pcRequests_ += connection->session->RequestCount();
    listsWorker_->Cancel();
    fileWorker_->Cancel();
    const int exitStatus = log_.DepartureCount() > 0 ? 1 : 0;
    Summary(exitStatus);
    return exitStatus;
}

void Runtime::Summary(int status) {
    log_.Write(JsonLine("summary")
                   .Int("sessions", nextSession_ - 1)
                   .Int("ended_sessions", endedSessions_)
                   .Int("pc_requests", pcRequests_)
                   .Int("datagrams", datagrams_)
                   .Int("files_read", filesRead_)
                   .Int("departures", log_.DepartureCount())
                   .Int("exit", status));
}

} // namespace

int RunPlayer(PlayerConfig config, const std::vector<std::string>& argv) {
    std::signal(SIGPIPE, SIG_IGN);
    JsonLog log;
    if (!log.Open(config.logPath)) {
        std::fprintf(stderr, "kestro-player: cannot open the log %s: %s\n", config.logPath.c_str(),
                     std::strerror(errno));
        return 2;
    }
    const std::uint16_t port = config.port;
    Runtime runtime(std::move(config), log);
    std::string error;
    if (!runtime.Start(error)) {
        log.Write(JsonLine("error").Str("error", error));
        std::fprintf(stderr, "kestro-player: %s\n", error.c_str());
        return 2;
    }
    log.Write(JsonLine("start").Int("port", port).Int("pid", getpid()).Strings("argv", argv));
    return runtime.Loop();
}

} // namespace player
