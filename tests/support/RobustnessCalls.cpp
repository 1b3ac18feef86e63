// NFS calls and reply decoding for the robustness tests, disk helpers and the steady client.
#include "tests/support/RobustnessCalls.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace rpctest::robust {

namespace fs = std::filesystem;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Bytes Pattern(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

Bytes Slice(const Bytes& bytes, std::size_t offset, std::size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

bool WriteDisk(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Bytes ReadDisk(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Contains(const Bytes& haystack, std::string_view needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

std::uint32_t HandleOf(const Bytes& bytes) {
    if (bytes.size() != 4)
        return 0;
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

void SkipPostOpAttr(XdrDecoder& in) {
    if (in.GetBool())
        in.GetFixed(84);
}

void SkipWcc(XdrDecoder& in) {
    if (in.GetBool())
        in.GetFixed(24);
    SkipPostOpAttr(in);
}

std::uint32_t StatusOf(RpcReply& reply) {
    if (!reply.Succeeded())
        return kNoStatus;
    const std::uint32_t status = reply.body.GetUInt32();
    return reply.body.Ok() ? status : kNoStatus;
}

HandleResult Lookup(RpcClient& client, std::uint32_t directory, std::string_view name) {
    RpcReply reply = client.NfsCall(kLookup, XdrArgs().PutHandle(directory).PutString(name));
    HandleResult result;
    result.status = StatusOf(reply);
    result.error = reply.Describe();
    if (result.status == kOk)
        result.handle = HandleOf(reply.body.GetOpaque(64));
    return result;
}

HandleResult Create(RpcClient& client, std::uint32_t directory, std::string_view name) {
    XdrArgs args;
    args.PutHandle(directory).PutString(name).PutUInt32(0); // UNCHECKED
    args.PutBool(false).PutBool(false).PutBool(false).PutBool(false).PutUInt32(0).PutUInt32(0);
    RpcReply reply = client.NfsCall(kCreate, args);
    HandleResult result;
    result.status = StatusOf(reply);
    result.error = reply.Describe();
    if (result.status == kOk && reply.body.GetBool())
        result.handle = HandleOf(reply.body.GetOpaque(64));
    return result;
}

std::uint32_t MkDir(RpcClient& client, std::uint32_t directory, std::string_view name) {
    XdrArgs args;
    args.PutHandle(directory).PutString(name);
    args.PutBool(false).PutBool(false).PutBool(false).PutBool(false).PutUInt32(0).PutUInt32(0);
    RpcReply reply = client.NfsCall(kMkDir, args);
    return StatusOf(reply);
}

std::uint32_t DirOpStatus(RpcClient& client, std::uint32_t procedure, std::uint32_t directory,
                          std::string_view name) {
    RpcReply reply = client.NfsCall(procedure, XdrArgs().PutHandle(directory).PutString(name));
    return StatusOf(reply);
}

std::uint32_t Rename(RpcClient& client, std::uint32_t fromDirectory, std::string_view from,
                     std::uint32_t toDirectory, std::string_view to) {
    RpcReply reply = client.NfsCall(
        kRename,
        XdrArgs().PutHandle(fromDirectory).PutString(from).PutHandle(toDirectory).PutString(to));
    return StatusOf(reply);
}

ReadResult Read(RpcClient& client, std::uint32_t handle, std::uint64_t offset,
                std::uint32_t count) {
    RpcReply reply =
        client.NfsCall(kRead, XdrArgs().PutHandle(handle).PutUInt64(offset).PutUInt32(count));
    ReadResult result;
    result.status = StatusOf(reply);
    result.error = reply.Describe();
    if (result.status != kOk)
        return result;
    SkipPostOpAttr(reply.body);
    const std::uint32_t counted = reply.body.GetUInt32();
    result.eof = reply.body.GetBool();
    result.data = reply.body.GetOpaque();
    if (!reply.body.AtEnd() || counted != result.data.size()) {
        result.status = kNoStatus;
        result.error = "malformed READ reply";
    }
    return result;
}

WriteResult Write(RpcClient& client, std::uint32_t handle, std::uint64_t offset,
                  std::span<const std::uint8_t> data, std::uint32_t stable) {
    RpcReply reply = client.NfsCall(kWrite, XdrArgs()
                                                .PutHandle(handle)
                                                .PutUInt64(offset)
                                                .PutUInt32(static_cast<std::uint32_t>(data.size()))
                                                .PutUInt32(stable)
                                                .PutOpaque(data));
    WriteResult result;
    result.status = StatusOf(reply);
    result.error = reply.Describe();
    if (result.status != kOk)
        return result;
    SkipWcc(reply.body);
    result.count = reply.body.GetUInt32();
    result.committed = reply.body.GetUInt32();
    result.verifier = reply.body.GetUInt64();
    if (!reply.body.AtEnd())
        result.status = kNoStatus;
    return result;
}

CommitResult Commit(RpcClient& client, std::uint32_t handle) {
    RpcReply reply = client.NfsCall(kCommit, XdrArgs().PutHandle(handle).PutUInt64(0).PutUInt32(0));
    CommitResult result;
    result.status = StatusOf(reply);
    if (result.status != kOk)
        return result;
    SkipWcc(reply.body);
    result.verifier = reply.body.GetUInt64();
    return result;
}

Listing List(RpcClient& client, std::uint32_t directory, bool plus, std::uint32_t maxCount) {
    XdrArgs args;
    args.PutHandle(directory).PutUInt64(0).PutUInt64(0);
    if (plus)
        args.PutUInt32(maxCount);
    args.PutUInt32(maxCount);
    RpcReply reply = client.NfsCall(plus ? kReadDirPlus : kReadDir, args);
    Listing listing;
    listing.raw = reply.raw;
    listing.status = StatusOf(reply);
    listing.error = reply.Describe();
    if (listing.status != kOk)
        return listing;
    XdrDecoder& in = reply.body;
    SkipPostOpAttr(in);
    in.GetUInt64(); // cookie verifier
    while (in.GetBool()) {
        ListedEntry entry;
        entry.fileId = in.GetUInt64();
        entry.name = in.GetString(1024);
        in.GetUInt64(); // cookie
        if (plus) {
            entry.hasAttributes = in.GetBool();
            if (entry.hasAttributes)
                in.GetFixed(84);
            entry.hasHandle = in.GetBool();
            if (entry.hasHandle)
                in.GetOpaque(64);
        }
        listing.entries.push_back(std::move(entry));
    }
    listing.eof = in.GetBool();
    if (!in.AtEnd()) {
        listing.status = kNoStatus;
        listing.error = "malformed listing";
    }
    return listing;
}

CallHeader NfsHeader(std::uint32_t xid, std::uint32_t procedure) {
    CallHeader header;
    header.xid = xid;
    header.program = kNfsProgram;
    header.version = kNfsVersion;
    header.procedure = procedure;
    return header;
}

SteadyClient::SteadyClient(ServerPorts ports, std::string fileName, Bytes content)
    : ports_(ports), fileName_(std::move(fileName)), content_(std::move(content)) {
    thread_ = std::thread([this] { Body(); });
}

SteadyClient::~SteadyClient() {
    Stop();
}

void SteadyClient::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void SteadyClient::Body() {
    RpcClient client(ports_, Transport::Tcp);
    // Long enough to outlast one stalled record of another client.
    client.SetTimeoutMs(20000);
    const MountResult mounted = client.Mount("/");
    if (!mounted.Ok()) {
        failures_.push_back("MNT: " + mounted.reply.Describe());
        return;
    }
    const HandleResult file = Lookup(client, mounted.handle, fileName_);
    if (file.status != kOk) {
        failures_.push_back("LOOKUP: " + file.error);
        return;
    }
    for (std::uint64_t round = 0; !stop_; ++round) {
        const std::uint64_t offset = (round * 4096) % (content_.size() - 4096);
        const Clock::time_point start = Clock::now();
        const ReadResult read = Read(client, file.handle, offset, 4096);
        maxLatencyMs_ = std::max(maxLatencyMs_.load(), MsSince(start));
        ++calls_;
        if (read.status != kOk || read.data != Slice(content_, offset, 4096))
            failures_.push_back("READ at " + std::to_string(offset) + ": " + read.error);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace rpctest::robust
