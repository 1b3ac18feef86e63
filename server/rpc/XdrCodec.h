// XDR primitives over an XdrBuffer: bounds-checked reads of a request, limit-checked writes of
// a reply, and the small composites shared by the NFS procedures.
#pragma once

#include <array>
#include <cstdint>

#include "server/rpc/XdrBuffer.h"

namespace rpc {

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

class XdrReader {
  public:
    explicit XdrReader(XdrBuffer& buffer) : buffer_(buffer) {}

    bool ReadBytes(void* destination, std::uint32_t count);
    // Points at `count` bytes of the request without copying them; advances like ReadBytes.
    bool ReadInPlace(const std::uint8_t*& bytes, std::uint32_t count);
    bool ReadUInt32(std::uint32_t& value);
    bool ReadBool(bool& value);
    bool ReadUInt64(std::uint64_t& value);
    bool ReadSetAttributes(SetAttributes& attributes);

    std::uint32_t Remaining() const { return buffer_.length - buffer_.position; }

  private:
    XdrBuffer& buffer_;
};

class XdrWriter {
  public:
    explicit XdrWriter(XdrBuffer& buffer) : buffer_(buffer) {}

    bool WriteBytes(const void* source, std::uint32_t count);
    // Appends `count` bytes (plus XDR padding, zeroed) and returns where the caller may fill
    // them in, or nullptr when the reply would pass the limit.
    std::uint8_t* Reserve(std::uint32_t count);
    bool WriteUInt32(std::uint32_t value);
    bool WriteBool(bool value);
    bool WriteUInt64(std::uint64_t value);
    // NFS wcc_data: pre-op size, mtime, ctime from `before`, then the whole `after` image.
    bool WriteWccData(const Fattr3& before, const Fattr3& after);
    // post_op_attr: true and the image.
    bool WritePostOpAttributes(const Fattr3& attributes);

    // Drops what was written after `length` (used to shorten a reply that failed midway).
    void Truncate(std::uint32_t length) { buffer_.length = length; }
    std::uint32_t Length() const { return buffer_.length; }

  private:
    XdrBuffer& buffer_;
};

NfsTime FileTimeToNfsTime(std::uint64_t fileTime);
// The Windows file time of an NFS time (nanoseconds below 1000000000), to 100 ns.
std::uint64_t NfsTimeToFileTime(NfsTime time);

inline constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;

// Big-endian stores and loads for building images.
inline void StoreBigEndian32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}
inline void StoreBigEndian64(std::uint8_t* at, std::uint64_t value) {
    StoreBigEndian32(at, static_cast<std::uint32_t>(value >> 32));
    StoreBigEndian32(at + 4, static_cast<std::uint32_t>(value));
}
inline void StoreNfsTime(std::uint8_t* at, NfsTime time) {
    StoreBigEndian32(at, time.seconds);
    StoreBigEndian32(at + 4, time.nanoseconds);
}
inline std::uint32_t LoadBigEndian32(const std::uint8_t* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}
inline std::uint64_t LoadBigEndian64(const std::uint8_t* at) {
    return (std::uint64_t{LoadBigEndian32(at)} << 32) | LoadBigEndian32(at + 4);
}

} // namespace rpc
