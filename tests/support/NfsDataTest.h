// Test helpers for the NFS data procedures (READ, WRITE, COMMIT, READDIR, READDIRPLUS): a
// running daemon with its export mounted over TCP, files made on disk, fattr3 decoding.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "tests/support/RpcClient.h"
#include "tests/support/TestDaemon.h"

namespace rpctest::nfsdata {

// Procedure numbers and statuses as NFS version 3 defines them.
inline constexpr std::uint32_t kProcGetAttr = 1;
inline constexpr std::uint32_t kProcLookup = 3;
inline constexpr std::uint32_t kProcRead = 6;
inline constexpr std::uint32_t kProcWrite = 7;
inline constexpr std::uint32_t kProcRemove = 12;
inline constexpr std::uint32_t kProcRename = 14;
inline constexpr std::uint32_t kProcReadDir = 16;
inline constexpr std::uint32_t kProcReadDirPlus = 17;
inline constexpr std::uint32_t kProcCommit = 21;

inline constexpr std::uint32_t kOk = 0;
inline constexpr std::uint32_t kErrNxio = 6;
inline constexpr std::uint32_t kErrAcces = 13;
inline constexpr std::uint32_t kErrNotDir = 20;
inline constexpr std::uint32_t kErrStale = 70;
inline constexpr std::uint32_t kErrBadHandle = 10001;
inline constexpr std::uint32_t kErrBadCookie = 10003;
inline constexpr std::uint32_t kErrServerFault = 10006;

inline constexpr std::uint32_t kUnstable = 0;
inline constexpr std::uint32_t kFileSync = 2;

inline constexpr std::uint32_t kTypeRegular = 1;
inline constexpr std::uint32_t kTypeDirectory = 2;

// What the tests look at in an fattr3.
struct Attributes {
    std::uint32_t type = 0;
    std::uint32_t mode = 0;
    std::uint64_t size = 0;
    std::uint64_t fileId = 0;
};

inline Attributes GetAttributes(XdrDecoder& in) {
    Attributes out;
    out.type = in.GetUInt32();
    out.mode = in.GetUInt32();
    in.GetFixed(12); // nlink, uid, gid
    out.size = in.GetUInt64();
    in.GetFixed(24); // used, rdev, fsid
    out.fileId = in.GetUInt64();
    in.GetFixed(24); // atime, mtime, ctime
    return out;
}

// Deterministic content whose bytes differ from their neighbours and from zero runs.
inline Bytes Pattern(std::size_t size, std::uint32_t seed = 1) {
    Bytes bytes(size);
    std::uint32_t state = seed * 2654435761u + 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

inline bool WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes Slice(const Bytes& bytes, std::size_t offset, std::size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

// A running daemon on a fresh export with "/" mounted by a TCP client.
class MountedExport : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(daemon_.Ready()) << daemon_.ErrorText();
        const MountResult mounted = client_.Mount("/");
        ASSERT_TRUE(mounted.Ok()) << mounted.reply;
        root_ = mounted.handle;
    }

    std::filesystem::path Path(std::string_view name) const {
        return daemon_.Root() / std::filesystem::path(std::u8string(name.begin(), name.end()));
    }

    // The handle of a folder of the export, through MNT (needs no LOOKUP).
    std::uint32_t MountFolder(std::string_view exportPath) {
        const MountResult mounted = client_.Mount(exportPath);
        EXPECT_TRUE(mounted.Ok()) << mounted.reply;
        return mounted.handle;
    }

    // LOOKUP of a name in a directory; 0 when it fails.
    std::uint32_t Lookup(std::uint32_t directory, std::string_view name) {
        RpcReply reply =
            client_.NfsCall(kProcLookup, XdrArgs().PutHandle(directory).PutString(name));
        if (!reply.Succeeded() || reply.body.GetUInt32() != kOk)
            return 0;
        const Bytes handle = reply.body.GetOpaque(64);
        if (!reply.body.Ok() || handle.size() != 4)
            return 0;
        return (std::uint32_t{handle[0]} << 24) | (std::uint32_t{handle[1]} << 16) |
               (std::uint32_t{handle[2]} << 8) | handle[3];
    }

    TestDaemon daemon_;
    RpcClient client_{daemon_.Client()};
    std::uint32_t root_ = 0;
};

} // namespace rpctest::nfsdata
