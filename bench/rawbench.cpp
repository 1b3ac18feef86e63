// rawbench: the benchmark's own NFS v3 client over raw ONC RPC (the test support's RPC client),
// for what libnfs cannot do: NFS over UDP as embedded players use it, and cold starts timed
// call by call from a new connection. Every run prints one line "<what> <units> <seconds> ...".
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/RpcClient.h"

namespace {

using rpctest::Bytes;
using rpctest::RpcReply;
using rpctest::XdrArgs;
using rpctest::XdrDecoder;

constexpr std::uint32_t kPortmapGetPort = 3;
constexpr std::uint32_t kMountMnt = 1;
constexpr std::uint32_t kNfsGetAttr = 1;
constexpr std::uint32_t kNfsLookup = 3;
constexpr std::uint32_t kNfsRead = 6;
constexpr std::uint32_t kFattrWords = 21; // fattr3: 84 bytes
constexpr int kUdpRetryMs = 1000;
constexpr int kUdpTries = 5;

long gResent = 0; // UDP calls sent again after a second without an answer

double Now() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

[[noreturn]] void Die(const char* what, const std::string& detail) {
    std::fprintf(stderr, "rawbench: %s: %s\n", what, detail.c_str());
    std::exit(1);
}

void SkipAttributes(XdrDecoder& in) { // post_op_attr
    if (in.GetBool())
        in.GetFixed(kFattrWords * 4);
}

// One UDP endpoint per service, one call in flight: a lost datagram is sent again after a
// second, and a late reply to an earlier try (another xid) is dropped.
class UdpCaller {
  public:
    explicit UdpCaller(std::uint16_t port) : endpoint_(port) {
        if (!endpoint_.Valid())
            Die("udp", "no socket");
    }
    RpcReply Call(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                  const XdrArgs& args) {
        rpctest::CallHeader header;
        header.program = program;
        header.version = version;
        header.procedure = procedure;
        for (int attempt = 0; attempt < kUdpTries; ++attempt) {
            if (attempt > 0)
                ++gResent;
            header.xid = ++xid_;
            if (!endpoint_.Send(rpctest::BuildCall(header, args)))
                Die("udp", "send failed");
            const double deadline = Now() + kUdpRetryMs / 1000.0;
            for (;;) {
                const int left = static_cast<int>((deadline - Now()) * 1000);
                RpcReply reply = endpoint_.ReceiveReply(left > 0 ? left : 0);
                if (reply.timedOut)
                    break;
                if (!reply.Received())
                    Die("udp", reply.Describe());
                if (reply.xid == header.xid)
                    return reply;
            }
        }
        Die("udp", "no reply after retries");
    }

  private:
    rpctest::UdpEndpoint endpoint_;
    std::uint32_t xid_ = 0x5000;
};

// The calls a player makes, over TCP (rpctest::RpcClient, a connection per port opened on first
// use) or UDP.
class Client {
  public:
    Client(rpctest::Transport transport, rpctest::ServerPorts ports) : tcp_(ports, transport) {
        if (transport == rpctest::Transport::Udp) {
            mountUdp_ = std::make_unique<UdpCaller>(ports.mount);
            nfsUdp_ = std::make_unique<UdpCaller>(ports.nfs);
        }
    }
    RpcReply Mount(std::uint32_t procedure, const XdrArgs& args) {
        if (mountUdp_)
            return mountUdp_->Call(rpctest::kMountProgram, rpctest::kMountVersion, procedure, args);
        return tcp_.MountCall(procedure, args);
    }
    RpcReply Nfs(std::uint32_t procedure, const XdrArgs& args) {
        if (nfsUdp_)
            return nfsUdp_->Call(rpctest::kNfsProgram, rpctest::kNfsVersion, procedure, args);
        return tcp_.NfsCall(procedure, args);
    }

    Bytes Mnt(std::string_view path) {
        return HandleOf(Mount(kMountMnt, XdrArgs().PutString(path)), "mnt", path);
    }
    Bytes Lookup(const Bytes& folder, std::string_view name) {
        return HandleOf(Nfs(kNfsLookup, XdrArgs().PutOpaque(folder).PutString(name)), "lookup",
                        name);
    }
    // Handle of a path below the export, one LOOKUP per element.
    Bytes Walk(std::string_view exportPath, std::string_view path) {
        Bytes handle = Mnt(exportPath);
        while (!path.empty()) {
            const std::size_t slash = path.find('/');
            const std::string_view name = path.substr(0, slash);
            if (!name.empty())
                handle = Lookup(handle, name);
            path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        }
        return handle;
    }
    std::uint64_t Size(const Bytes& file) {
        RpcReply reply = Nfs(kNfsGetAttr, XdrArgs().PutOpaque(file));
        if (!reply.Succeeded() || reply.body.GetUInt32() != 0)
            Die("getattr", "failed");
        XdrDecoder& in = reply.body;
        in.GetFixed(5 * 4); // type, mode, nlink, uid, gid
        const std::uint64_t size = in.GetUInt64();
        if (!in.Ok())
            Die("getattr", "malformed reply");
        return size;
    }
    // READ of count bytes at offset; the bytes that came back.
    std::uint32_t Read(const Bytes& file, std::uint64_t offset, std::uint32_t count) {
        RpcReply reply =
            Nfs(kNfsRead, XdrArgs().PutOpaque(file).PutUInt64(offset).PutUInt32(count));
        if (!reply.Succeeded() || reply.body.GetUInt32() != 0)
            Die("read", "failed at " + std::to_string(offset));
        XdrDecoder& in = reply.body;
        SkipAttributes(in);
        const std::uint32_t got = in.GetUInt32();
        in.GetBool(); // eof
        const Bytes data = in.GetOpaque(count);
        if (!in.Ok() || data.size() != got)
            Die("read", "malformed reply");
        return got;
    }

  private:
    // The handle that starts a MNT or LOOKUP result (status 0, then the handle).
    static Bytes HandleOf(RpcReply reply, const char* what, std::string_view name) {
        if (!reply.Succeeded() || reply.body.GetUInt32() != 0)
            Die(what, std::string(name));
        Bytes handle = reply.body.GetOpaque(64);
        if (!reply.body.Ok())
            Die(what, "malformed reply");
        return handle;
    }

    rpctest::RpcClient tcp_;
    std::unique_ptr<UdpCaller> mountUdp_, nfsUdp_;
};

// Portmapper GETPORT of MOUNT and NFS v3 for the transport, over that transport.
rpctest::ServerPorts Ports(rpctest::Transport transport) {
    rpctest::RpcClient portmap(rpctest::ServerPorts{}, transport);
    const std::uint32_t protocol =
        transport == rpctest::Transport::Udp ? rpctest::kIpProtoUdp : rpctest::kIpProtoTcp;
    auto getPort = [&](std::uint32_t program, std::uint32_t version) {
        RpcReply reply = portmap.PortmapCall(
            kPortmapGetPort,
            XdrArgs().PutUInt32(program).PutUInt32(version).PutUInt32(protocol).PutUInt32(0));
        const std::uint32_t port = reply.Succeeded() ? reply.body.GetUInt32() : 0;
        if (port == 0 || port > 65535)
            Die("getport", reply.Received() ? "not registered" : reply.Describe());
        return static_cast<std::uint16_t>(port);
    };
    rpctest::ServerPorts ports;
    ports.mount = getPort(rpctest::kMountProgram, rpctest::kMountVersion);
    ports.nfs = getPort(rpctest::kNfsProgram, rpctest::kNfsVersion);
    return ports;
}

rpctest::Transport ParseTransport(std::string_view name) {
    if (name == "udp")
        return rpctest::Transport::Udp;
    if (name != "tcp")
        Die("transport", std::string(name));
    return rpctest::Transport::Tcp;
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const std::size_t at = static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5);
    return values[at];
}

// `calls` READs of `size` bytes at random multiples of `size`, one in flight. Prints
// "seek CALLS SECONDS P50_SECONDS P99_SECONDS".
int Seek(rpctest::Transport transport, const char* exportPath, const char* path, std::uint32_t size,
         long calls) {
    Client client(transport, Ports(transport));
    const Bytes file = client.Walk(exportPath, path);
    const std::uint64_t blocks = client.Size(file) / size;
    if (blocks == 0)
        Die("seek", "file smaller than one READ");
    std::mt19937_64 random(11);
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(calls));
    const double start = Now();
    for (long call = 0; call < calls; ++call) {
        const double before = Now();
        client.Read(file, random() % blocks * size, size);
        latencies.push_back(Now() - before);
    }
    const double seconds = Now() - start;
    std::printf("seek %ld %.6f %.9f %.9f\n", calls, seconds, Percentile(latencies, 0.5),
                Percentile(latencies, 0.99));
    return 0;
}

// The first `bytes` of the file in READs of `size`, in order. Prints "sequential BYTES SECONDS".
int Sequential(rpctest::Transport transport, const char* exportPath, const char* path,
               std::uint32_t size, std::uint64_t bytes) {
    Client client(transport, Ports(transport));
    const Bytes file = client.Walk(exportPath, path);
    bytes = std::min(bytes, client.Size(file));
    std::uint64_t offset = 0;
    const double start = Now();
    while (offset < bytes) {
        const std::uint32_t got = client.Read(file, offset, size);
        if (got == 0)
            Die("sequential", "short file");
        offset += got;
    }
    std::printf("sequential %llu %.6f\n", static_cast<unsigned long long>(offset), Now() - start);
    return 0;
}

// `runs` times, from nothing to the first 64 KiB: GETPORT, MNT, a LOOKUP per path element,
// GETATTR, READ, each time over new TCP connections. Prints "cold 65536 SECONDS" per run.
int Cold(const char* exportPath, const char* path, int runs) {
    constexpr std::uint32_t kFirst = 65536;
    for (int run = 0; run < runs; ++run) {
        const double start = Now();
        Client client(rpctest::Transport::Tcp, Ports(rpctest::Transport::Tcp));
        const Bytes file = client.Walk(exportPath, path);
        client.Size(file);
        const std::uint32_t got = client.Read(file, 0, kFirst);
        const double seconds = Now() - start;
        if (got != kFirst)
            Die("cold", "short READ");
        std::printf("cold %u %.6f\n", got, seconds);
        std::fflush(stdout);
    }
    return 0;
}

int Usage() {
    std::fputs("usage: rawbench seek tcp|udp EXPORT PATH SIZE CALLS\n"
               "       rawbench sequential tcp|udp EXPORT PATH SIZE BYTES\n"
               "       rawbench cold EXPORT PATH RUNS\n"
               "  (server at 127.0.0.1, portmapper on 111; PATH is below the export)\n",
               stderr);
    return 2;
}

int Run(const std::string& command, int argc, char** argv) {
    if (command == "seek" && argc == 7)
        return Seek(ParseTransport(argv[2]), argv[3], argv[4],
                    static_cast<std::uint32_t>(std::atol(argv[5])), std::atol(argv[6]));
    if (command == "sequential" && argc == 7)
        return Sequential(ParseTransport(argv[2]), argv[3], argv[4],
                          static_cast<std::uint32_t>(std::atol(argv[5])),
                          std::strtoull(argv[6], nullptr, 10));
    if (command == "cold" && argc == 5)
        return Cold(argv[2], argv[3], std::atoi(argv[4]));
    return Usage();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    const std::string command = argv[1];
    const int status = Run(command, argc, argv);
    if (gResent > 0) // a lost datagram costs a second: say so beside the figure
        std::fprintf(stderr, "rawbench: %ld UDP calls sent again\n", gResent);
    return status;
}
