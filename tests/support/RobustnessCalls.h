// NFS calls and reply decoding for the robustness tests (READ, WRITE, COMMIT, LOOKUP, CREATE,
// listings and the namespace calls), disk helpers, and a steady client that keeps reading while
// a test misbehaves around it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/RpcClient.h"

namespace rpctest::robust {

// NFS version 3 and MOUNT numbers, written out as the protocols define them.
inline constexpr std::uint32_t kNull = 0, kLookup = 3, kRead = 6, kWrite = 7, kCreate = 8,
                               kMkDir = 9, kRemove = 12, kRmDir = 13, kRename = 14, kReadDir = 16,
                               kReadDirPlus = 17, kCommit = 21;
inline constexpr std::uint32_t kOk = 0, kNoEnt = 2, kAcces = 13, kNoSpc = 28, kStale = 70;
inline constexpr std::uint32_t kUnstable = 0, kFileSync = 2;
inline constexpr std::uint32_t kMntAcces = 13;
// No status: no reply came, or the call was not accepted with SUCCESS.
inline constexpr std::uint32_t kNoStatus = 0xFFFFFFFFu;

using Clock = std::chrono::steady_clock;
long long MsSince(Clock::time_point start);

// Deterministic content that differs from its neighbours and from zero runs.
Bytes Pattern(std::size_t size, std::uint32_t seed);
Bytes Slice(const Bytes& bytes, std::size_t offset, std::size_t count);
bool WriteDisk(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadDisk(const std::filesystem::path& path);
bool Contains(const Bytes& haystack, std::string_view needle);

CallHeader NfsHeader(std::uint32_t xid, std::uint32_t procedure);

// The four handle bytes, big-endian; 0 unless there are exactly four.
std::uint32_t HandleOf(const Bytes& bytes);
void SkipPostOpAttr(XdrDecoder& in);
void SkipWcc(XdrDecoder& in);
// The nfsstat3 that starts the results; kNoStatus when there is none.
std::uint32_t StatusOf(RpcReply& reply);

struct HandleResult {
    std::uint32_t status = kNoStatus;
    std::uint32_t handle = 0;
    std::string error; // the reply, described
};
HandleResult Lookup(RpcClient& client, std::uint32_t directory, std::string_view name);
// CREATE UNCHECKED with no attributes.
HandleResult Create(RpcClient& client, std::uint32_t directory, std::string_view name);
std::uint32_t MkDir(RpcClient& client, std::uint32_t directory, std::string_view name);
// A call whose arguments are diropargs3 (REMOVE, RMDIR, LOOKUP); its status.
std::uint32_t DirOpStatus(RpcClient& client, std::uint32_t procedure, std::uint32_t directory,
                          std::string_view name);
std::uint32_t Rename(RpcClient& client, std::uint32_t fromDirectory, std::string_view from,
                     std::uint32_t toDirectory, std::string_view to);

struct ReadResult {
    std::uint32_t status = kNoStatus;
    Bytes data;
    bool eof = false;
    std::string error;
};
ReadResult Read(RpcClient& client, std::uint32_t handle, std::uint64_t offset, std::uint32_t count);

struct WriteResult {
    std::uint32_t status = kNoStatus;
    std::uint32_t count = 0;
    std::uint32_t committed = 0;
    std::uint64_t verifier = 0;
    std::string error;
};
WriteResult Write(RpcClient& client, std::uint32_t handle, std::uint64_t offset,
                  std::span<const std::uint8_t> data, std::uint32_t stable);

struct CommitResult {
    std::uint32_t status = kNoStatus;
    std::uint64_t verifier = 0;
};
CommitResult Commit(RpcClient& client, std::uint32_t handle);

struct ListedEntry {
    std::string name;
    std::uint64_t fileId = 0;
    bool hasAttributes = false;
    bool hasHandle = false;
};

struct Listing {
    std::uint32_t status = kNoStatus;
    std::vector<ListedEntry> entries;
    bool eof = false;
    Bytes raw; // the whole reply message
    std::string error;
};
// One READDIR or READDIRPLUS from cookie 0 (dircount and maxcount both `maxCount`).
Listing List(RpcClient& client, std::uint32_t directory, bool plus, std::uint32_t maxCount);

// Mounts "/" over TCP, looks up `fileName` in the export root and reads it in 4 KiB pieces
// until stopped, comparing every piece with `content`. Failures are kept, never thrown.
class SteadyClient {
  public:
    SteadyClient(ServerPorts ports, std::string fileName, Bytes content);
    ~SteadyClient();
    SteadyClient(const SteadyClient&) = delete;
    SteadyClient& operator=(const SteadyClient&) = delete;

    void Stop();
    int Calls() const { return calls_; }
    long long MaxLatencyMs() const { return maxLatencyMs_; }
    // After Stop().
    const std::vector<std::string>& Failures() const { return failures_; }

  private:
    void Body();

    ServerPorts ports_;
    std::string fileName_;
    Bytes content_;
    std::atomic<bool> stop_{false};
    std::atomic<int> calls_{0};
    std::atomic<long long> maxLatencyMs_{0};
    std::vector<std::string> failures_;
    std::thread thread_;
};

} // namespace rpctest::robust
