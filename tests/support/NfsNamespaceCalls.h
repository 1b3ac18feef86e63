// NFS version 3 calls and reply decoding for the lookup and namespace tests: a mounted session
// on a test daemon, attribute and wcc decoding, and small disk helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "tests/support/RpcClient.h"
#include "tests/support/TestDaemon.h"

namespace rpctest::nfs3 {

// Procedure numbers and statuses, written out here rather than taken from the server.
inline constexpr std::uint32_t kNull = 0, kGetAttr = 1, kSetAttr = 2, kLookup = 3, kAccess = 4,
                               kReadLink = 5, kCreate = 8, kMkDir = 9, kSymLink = 10, kMkNod = 11,
                               kRemove = 12, kRmDir = 13, kRename = 14, kLink = 15, kFsStat = 18,
                               kFsInfo = 19, kPathConf = 20;

inline constexpr std::uint32_t kOk = 0, kNoEnt = 2, kAcces = 13, kExist = 17, kNotDir = 20,
                               kInval = 22, kNameTooLong = 63, kNotEmpty = 66, kStale = 70,
                               kBadHandle = 10001, kNotSupp = 10004, kServerFault = 10006;

inline constexpr std::uint32_t kRegular = 1, kDirectory = 2;

struct NfsTimeValue {
    std::uint32_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

struct Fattr {
    std::uint32_t type = 0, mode = 0, nlink = 0, uid = 0, gid = 0;
    std::uint64_t size = 0, used = 0, rdev = 0, fsid = 0, fileid = 0;
    NfsTimeValue atime, mtime, ctime;
};

Fattr GetFattr(XdrDecoder& in);
// post_op_attr: the attributes when the marker is true.
std::optional<Fattr> GetPostOpAttr(XdrDecoder& in);

struct Wcc {
    bool hasBefore = false;
    std::uint64_t beforeSize = 0;
    NfsTimeValue beforeMtime, beforeCtime;
    std::optional<Fattr> after;
};
Wcc GetWcc(XdrDecoder& in);

// sattr3 with nothing to set, or with a few fields.
struct SetAttr {
    std::optional<std::uint32_t> mode{}, uid{}, gid{};
    std::optional<std::uint64_t> size{};
    std::uint32_t atimeHow = 0, mtimeHow = 0; // 0 don't change, 1 server time, 2 client time
    NfsTimeValue atime{}, mtime{};            // sent for client time
};
XdrArgs& PutSetAttr(XdrArgs& args, const SetAttr& attributes);

// diropargs3: directory handle and name.
XdrArgs DirOp(std::uint32_t directory, std::string_view name);

struct LookupResult {
    RpcReply reply;
    std::uint32_t status = 0xFFFFFFFFu;
    std::uint32_t handle = 0;
    Fattr attributes;
};

struct AttrResult {
    RpcReply reply;
    std::uint32_t status = 0xFFFFFFFFu;
    Fattr attributes;
};

// A started daemon on a fresh export, a TCP client that mounted "/", and its root handle.
class NfsSession {
  public:
    explicit NfsSession(const TestDaemonOptions& options = {});
    ~NfsSession();
    NfsSession(const NfsSession&) = delete;
    NfsSession& operator=(const NfsSession&) = delete;

    bool Ready() const { return ready_; }
    std::uint32_t Root() const { return root_; }
    TestDaemon& Server() { return server_; }
    RpcClient& Client() { return client_; }
    // A path below the export root; `relative` is UTF-8 with "/" separators.
    std::filesystem::path Disk(std::string_view relative) const;
    // Length in UTF-16 units of the server's own path for a directory handle (doubled
    // separators included), as the path-length limit counts it.
    std::size_t ServerPathLength(std::uint32_t directory);

    RpcReply Call(std::uint32_t procedure, const XdrArgs& args) {
        return client_.NfsCall(procedure, args);
    }
    LookupResult Lookup(std::uint32_t directory, std::string_view name);
    // The status of the call; the reply body is left after the status.
    std::uint32_t Status(RpcReply& reply);
    AttrResult GetAttr(std::uint32_t handle);

  private:
    TestDaemon server_;
    RpcClient client_;
    std::uint32_t root_ = 0;
    bool ready_ = false;
};

// UTF-8 text as a path.
std::filesystem::path Utf8Path(std::string_view text);
bool WriteFile(const std::filesystem::path& path, std::string_view content);
std::string ReadFile(const std::filesystem::path& path);
void SetReadOnly(const std::filesystem::path& path, bool readOnly);
bool IsReadOnly(const std::filesystem::path& path);
// Seconds since 1970 of a file time, and the other way round.
std::int64_t UnixSeconds(std::filesystem::file_time_type time);
std::filesystem::file_time_type FileTimeOf(std::int64_t unixSeconds);
std::int64_t UnixNow();

} // namespace rpctest::nfs3
