// The XDR composites of NFS version 3 on top of the generic codec: the fattr3 image, NFS times,
// sattr3 (decoded), wcc_data and post_op_attr.
#pragma once

#include <array>
#include <cstdint>

#include "server/rpc/XdrCodec.h"

namespace nfs {

// An NFS fattr3 in wire order (big-endian), sent as it is.
inline constexpr std::uint32_t kFattrSize = 84;
using Fattr3 = std::array<std::uint8_t, kFattrSize>;

// Offsets of the fields of an Fattr3 image.
namespace fattr {
inline constexpr int kType = 0, kMode = 4, kNlink = 8, kUid = 12, kGid = 16, kSize = 20, kUsed = 28,
                     kRdev = 36, kFsid = 44, kFileId = 52, kAtime = 60, kMtime = 68, kCtime = 76;
}

// NFS time (seconds, nanoseconds since 1970, UTC) of a Windows file time. Times before 1970
// give 0/0; times past 2106 give the largest time. Store with StoreNfsTime.
struct NfsTime {
    std::uint32_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

// Decoded NFS sattr3. A time flag set means "set that time": to the client's time given with it
// when the matching FromClient flag is set (SET_TO_CLIENT_TIME), else to the server's clock.
struct SetAttributes {
    bool setMode = false;
    std::uint32_t mode = 0;
    bool setUid = false;
    std::uint32_t uid = 0;
    bool setGid = false;
    std::uint32_t gid = 0;
    bool setSize = false;
    std::uint64_t size = 0;
    bool setAccessTime = false;
    bool setModifyTime = false;
    bool accessTimeFromClient = false;
    bool modifyTimeFromClient = false;
    NfsTime accessTime;
    NfsTime modifyTime;
};

bool ReadSetAttributes(rpc::XdrReader& reader, SetAttributes& attributes);
// NFS wcc_data: pre-op size, mtime, ctime from `before`, then the whole `after` image.
bool WriteWccData(rpc::XdrWriter& writer, const Fattr3& before, const Fattr3& after);
// post_op_attr: true and the image.
bool WritePostOpAttributes(rpc::XdrWriter& writer, const Fattr3& attributes);

NfsTime FileTimeToNfsTime(std::uint64_t fileTime);
// The Windows file time of an NFS time (nanoseconds below 1000000000), to 100 ns.
std::uint64_t NfsTimeToFileTime(NfsTime time);

inline constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

inline void StoreNfsTime(std::uint8_t* at, NfsTime time) {
    rpc::StoreBigEndian32(at, time.seconds);
    rpc::StoreBigEndian32(at + 4, time.nanoseconds);
}

} // namespace nfs
