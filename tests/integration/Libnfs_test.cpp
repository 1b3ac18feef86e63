// libnfs, a real NFS v3 client, against a daemon on free ports: raw MOUNT calls, then file work
// through its POSIX-like API, checked on disk after every step.
#ifdef LUMAVERT_HAVE_LIBNFS

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

// libnfs.h defines what the raw headers use, so it comes first.
#include <nfsc/libnfs.h>
#include <nfsc/libnfs-raw.h>
#include <nfsc/libnfs-raw-mount.h>

#include "tests/support/NfsDataTest.h"
#include "tests/support/TestDaemon.h"

namespace rpctest {
namespace {

namespace fs = std::filesystem;
using nfsdata::Pattern;
using nfsdata::ReadFile;
using nfsdata::Slice;

constexpr int kTimeoutMs = 10000;

// What one raw call reported to its callback.
struct RawResult {
    bool done = false;
    int status = -1;
    std::string error;
    std::uint32_t mountStatus = 0xFFFFFFFFu;
    Bytes handle;
    std::vector<int> flavors;
};

void OnConnected(rpc_context*, int status, void* data, void* privateData) {
    auto& result = *static_cast<RawResult*>(privateData);
    result.done = true;
    result.status = status;
    if (status != RPC_STATUS_SUCCESS && data != nullptr)
        result.error = static_cast<const char*>(data);
}

void OnMounted(rpc_context*, int status, void* data, void* privateData) {
    auto& result = *static_cast<RawResult*>(privateData);
    result.done = true;
    result.status = status;
    if (status != RPC_STATUS_SUCCESS) {
        if (data != nullptr)
            result.error = static_cast<const char*>(data);
        return;
    }
    const auto& reply = *static_cast<const mountres3*>(data);
    result.mountStatus = static_cast<std::uint32_t>(reply.fhs_status);
    if (reply.fhs_status != MNT3_OK)
        return;
    const mountres3_ok& ok = reply.mountres3_u.mountinfo;
    result.handle.assign(ok.fhandle.fhandle3_val,
                         ok.fhandle.fhandle3_val + ok.fhandle.fhandle3_len);
    result.flavors.assign(ok.auth_flavors.auth_flavors_val,
                          ok.auth_flavors.auth_flavors_val + ok.auth_flavors.auth_flavors_len);
}

// Services the context until the callback ran; false on a dead connection or time-out.
bool Wait(rpc_context* rpc, RawResult& result) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    while (!result.done) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        pollfd descriptor{rpc_get_fd(rpc), static_cast<short>(rpc_which_events(rpc)), 0};
        if (::poll(&descriptor, 1, 100) < 0 || rpc_service(rpc, descriptor.revents) < 0)
            return false;
    }
    return true;
}

struct RpcContextDeleter {
    void operator()(rpc_context* rpc) const { rpc_destroy_context(rpc); }
};
struct NfsContextDeleter {
    void operator()(nfs_context* nfs) const { nfs_destroy_context(nfs); }
};

class LibnfsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(daemon_.Ready()) << daemon_.ErrorText(); }

    // MNT of `path` through libnfs's raw MOUNT client, on its own connection.
    RawResult RawMnt(const char* path) {
        std::unique_ptr<rpc_context, RpcContextDeleter> rpc(rpc_init_context());
        RawResult connected;
        if (rpc == nullptr ||
            rpc_connect_port_async(rpc.get(), "127.0.0.1", daemon_.Ports().mount, MOUNT_PROGRAM,
                                   MOUNT_V3, OnConnected, &connected) != 0 ||
            !Wait(rpc.get(), connected) || connected.status != RPC_STATUS_SUCCESS) {
            connected.error = "connect: " + connected.error;
            return connected;
        }
        RawResult mounted;
        std::string argument(path);
        if (rpc_mount3_mnt_async(rpc.get(), OnMounted, argument.data(), &mounted) != 0 ||
            !Wait(rpc.get(), mounted))
            mounted.error = "MNT: " + std::string(rpc_get_error(rpc.get()));
        return mounted;
    }

    // An nfs_context with the export root mounted, ports given in the URL (no portmapper).
    std::unique_ptr<nfs_context, NfsContextDeleter> MountRoot() {
        std::unique_ptr<nfs_context, NfsContextDeleter> nfs(nfs_init_context());
        if (nfs == nullptr)
            return nullptr;
        nfs_set_timeout(nfs.get(), kTimeoutMs);
        const std::string url = "nfs://127.0.0.1/?auto-traverse-mounts=0&nfsport=" +
                                std::to_string(daemon_.Ports().nfs) +
                                "&mountport=" + std::to_string(daemon_.Ports().mount);
        nfs_url* parsed = nfs_parse_url_dir(nfs.get(), url.c_str());
        if (parsed == nullptr) {
            ADD_FAILURE() << "URL: " << nfs_get_error(nfs.get());
            return nullptr;
        }
        const int status = nfs_mount(nfs.get(), parsed->server, parsed->path);
        nfs_destroy_url(parsed);
        if (status != 0) {
            ADD_FAILURE() << "nfs_mount: " << nfs_get_error(nfs.get());
            return nullptr;
        }
        return nfs;
    }

    fs::path Disk(const char* relative) const { return daemon_.Root() / relative; }

    TestDaemon daemon_;
};

TEST_F(LibnfsTest, RawMntAnswersFourByteHandlesAndNoEntForMissingFolders) {
    for (const char* path : {"/", "/lst"}) {
        SCOPED_TRACE(path);
        const RawResult result = RawMnt(path);
        ASSERT_EQ(result.status, RPC_STATUS_SUCCESS) << result.error;
        EXPECT_EQ(result.mountStatus, static_cast<std::uint32_t>(MNT3_OK));
        EXPECT_EQ(result.handle.size(), 4u);
        EXPECT_EQ(result.flavors, std::vector<int>{0});
    }
    const RawResult missing = RawMnt("/missing");
    ASSERT_EQ(missing.status, RPC_STATUS_SUCCESS) << missing.error;
    EXPECT_EQ(missing.mountStatus, static_cast<std::uint32_t>(MNT3ERR_NOENT));
    EXPECT_TRUE(missing.handle.empty());
}

TEST_F(LibnfsTest, FileWorkThroughTheClientLandsOnDisk) {
    auto owner = MountRoot();
    ASSERT_NE(owner, nullptr);
    nfs_context* nfs = owner.get();

    ASSERT_EQ(nfs_mkdir(nfs, "/dir"), 0) << nfs_get_error(nfs);
    EXPECT_TRUE(fs::is_directory(Disk("dir")));

    nfsfh* file = nullptr;
    ASSERT_EQ(nfs_creat(nfs, "/dir/file.bin", 0644, &file), 0) << nfs_get_error(nfs);
    ASSERT_TRUE(fs::is_regular_file(Disk("dir/file.bin")));
    EXPECT_EQ(fs::file_size(Disk("dir/file.bin")), 0u);

    // Unaligned writes: a hole, three bytes, another hole, then 100000 bytes at 4097.
    const Bytes three{'a', 'b', 'c'};
    ASSERT_EQ(nfs_pwrite(nfs, file, 1000, three.size(), three.data()), 3) << nfs_get_error(nfs);
    EXPECT_EQ(fs::file_size(Disk("dir/file.bin")), 1003u);
    const Bytes data = Pattern(100000, 7);
    ASSERT_EQ(nfs_pwrite(nfs, file, 4097, data.size(), data.data()), 100000) << nfs_get_error(nfs);
    Bytes expected(4097 + data.size(), 0);
    std::copy(three.begin(), three.end(), expected.begin() + 1000);
    std::copy(data.begin(), data.end(), expected.begin() + 4097);
    EXPECT_EQ(ReadFile(Disk("dir/file.bin")), expected);

    // libnfs writes UNSTABLE: what it wrote reads back through the server's open write file,
    // before any COMMIT.
    Bytes read(50000);
    ASSERT_EQ(nfs_pread(nfs, file, 4097 + 13, read.size(), read.data()), 50000)
        << nfs_get_error(nfs);
    EXPECT_EQ(read, Slice(expected, 4097 + 13, 50000));
    Bytes edge(5);
    ASSERT_EQ(nfs_pread(nfs, file, 999, edge.size(), edge.data()), 5) << nfs_get_error(nfs);
    EXPECT_EQ(edge, (Bytes{0, 'a', 'b', 'c', 0}));
    Bytes tail(100);
    ASSERT_EQ(nfs_pread(nfs, file, expected.size() - 10, tail.size(), tail.data()), 10)
        << nfs_get_error(nfs);
    tail.resize(10);
    EXPECT_EQ(tail, Slice(expected, expected.size() - 10, 10));

    // After COMMIT the file is read through the read slot, which then keeps it open.
    ASSERT_EQ(nfs_fsync(nfs, file), 0) << nfs_get_error(nfs);
    ASSERT_EQ(nfs_pread(nfs, file, 999, edge.size(), edge.data()), 5) << nfs_get_error(nfs);
    EXPECT_EQ(edge, (Bytes{0, 'a', 'b', 'c', 0}));
    ASSERT_EQ(nfs_close(nfs, file), 0) << nfs_get_error(nfs);

    // The server's read slot holds the file last read, yet the server's own SETATTR changes it.
    ASSERT_EQ(nfs_truncate(nfs, "/dir/file.bin", 5000), 0) << nfs_get_error(nfs);
    expected.resize(5000);
    EXPECT_EQ(ReadFile(Disk("dir/file.bin")), expected);

    struct nfs_stat_64 st {};
    ASSERT_EQ(nfs_stat64(nfs, "/dir/file.bin", &st), 0) << nfs_get_error(nfs);
    EXPECT_EQ(st.nfs_size, 5000u);
    EXPECT_TRUE(S_ISREG(st.nfs_mode));
    ASSERT_EQ(nfs_stat64(nfs, "/dir", &st), 0) << nfs_get_error(nfs);
    EXPECT_TRUE(S_ISDIR(st.nfs_mode));

    ASSERT_EQ(nfs_rename(nfs, "/dir/file.bin", "/dir/renamed.bin"), 0) << nfs_get_error(nfs);
    EXPECT_FALSE(fs::exists(Disk("dir/file.bin")));
    EXPECT_EQ(ReadFile(Disk("dir/renamed.bin")), expected);

    fs::create_directory(Disk("dir/made-on-disk"));
    nfsdir* directory = nullptr;
    ASSERT_EQ(nfs_opendir(nfs, "/dir", &directory), 0) << nfs_get_error(nfs);
    std::set<std::string> names;
    std::uint64_t renamedSize = 0;
    while (const nfsdirent* entry = nfs_readdir(nfs, directory)) {
        names.insert(entry->name);
        if (std::string(entry->name) == "renamed.bin")
            renamedSize = entry->size;
    }
    nfs_closedir(nfs, directory);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "made-on-disk", "renamed.bin"}));
    EXPECT_EQ(renamedSize, 5000u);

    ASSERT_EQ(nfs_unlink(nfs, "/dir/renamed.bin"), 0) << nfs_get_error(nfs);
    EXPECT_FALSE(fs::exists(Disk("dir/renamed.bin")));
    ASSERT_EQ(nfs_rmdir(nfs, "/dir/made-on-disk"), 0) << nfs_get_error(nfs);
    ASSERT_EQ(nfs_rmdir(nfs, "/dir"), 0) << nfs_get_error(nfs);
    EXPECT_FALSE(fs::exists(Disk("dir")));
    EXPECT_TRUE(fs::is_empty(daemon_.Root()));
}

// libnfs splits a long read into READs of 1 MiB and fails the whole read when one of them fails:
// READs at or past the end must answer no data and eof, not an error.
TEST_F(LibnfsTest, ReadsAtAndAcrossTheEndAnswerWhatTheFileHolds) {
    const Bytes content = Pattern(1536 * 1024 + 7, 3);
    ASSERT_TRUE(nfsdata::WriteFile(Disk("clip.mkv"), content));
    auto owner = MountRoot();
    ASSERT_NE(owner, nullptr);
    nfs_context* nfs = owner.get();
    nfsfh* file = nullptr;
    ASSERT_EQ(nfs_open(nfs, "/clip.mkv", O_RDONLY, &file), 0) << nfs_get_error(nfs);

    Bytes whole(3 * 1024 * 1024);
    const int got = nfs_pread(nfs, file, 0, whole.size(), whole.data());
    ASSERT_EQ(got, static_cast<int>(content.size())) << nfs_get_error(nfs);
    whole.resize(content.size());
    EXPECT_TRUE(whole == content);
    Bytes tail(2 * 1024 * 1024);
    ASSERT_EQ(nfs_pread(nfs, file, 1024 * 1024, tail.size(), tail.data()),
              static_cast<int>(content.size() - 1024 * 1024))
        << nfs_get_error(nfs);
    for (const std::uint64_t offset : {std::uint64_t{content.size()}, std::uint64_t{1} << 32})
        EXPECT_EQ(nfs_pread(nfs, file, offset, tail.size(), tail.data()), 0)
            << offset << ": " << nfs_get_error(nfs);
    ASSERT_EQ(nfs_close(nfs, file), 0);
}

TEST_F(LibnfsTest, ErrorsReachTheClientAsErrnoValues) {
    auto owner = MountRoot();
    ASSERT_NE(owner, nullptr);
    nfs_context* nfs = owner.get();
    ASSERT_EQ(nfs_mkdir(nfs, "/full"), 0) << nfs_get_error(nfs);
    nfsfh* file = nullptr;
    ASSERT_EQ(nfs_creat(nfs, "/full/x", 0644, &file), 0) << nfs_get_error(nfs);
    ASSERT_EQ(nfs_close(nfs, file), 0);

    struct nfs_stat_64 st {};
    EXPECT_EQ(nfs_stat64(nfs, "/missing", &st), -ENOENT);
    EXPECT_EQ(nfs_rmdir(nfs, "/full"), -ENOTEMPTY);
    EXPECT_EQ(nfs_mkdir(nfs, "/full"), -EEXIST);
    EXPECT_TRUE(fs::exists(Disk("full/x")));
}

// A player seeks near the end and reads blocks that run past it: a read at or after the end is
// an empty read (end of file), one across it gets the bytes up to it, also when libnfs splits a
// read of more than 1 MiB into several calls.
TEST_F(LibnfsTest, ReadsAtAndAcrossTheEndOfAFileAnswerTheBytesUpToIt) {
    auto owner = MountRoot();
    ASSERT_NE(owner, nullptr);
    nfs_context* nfs = owner.get();
    constexpr std::size_t kMiB = 1048576;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, kMiB, kMiB + 1, 3 * kMiB + 17}) {
        SCOPED_TRACE(size);
        const std::string name = "/size-" + std::to_string(size);
        const Bytes content = Pattern(size, static_cast<std::uint32_t>(size));
        ASSERT_TRUE(nfsdata::WriteFile(Disk(name.c_str() + 1), content));
        nfsfh* file = nullptr;
        ASSERT_EQ(nfs_open(nfs, name.c_str(), O_RDONLY, &file), 0) << nfs_get_error(nfs);
        Bytes buffer(2 * kMiB + 4096);
        EXPECT_EQ(nfs_pread(nfs, file, size, 4096, buffer.data()), 0) << nfs_get_error(nfs);
        EXPECT_EQ(nfs_pread(nfs, file, size + 100, 4096, buffer.data()), 0) << nfs_get_error(nfs);
        for (std::size_t back : {std::size_t{1}, std::size_t{4096}, kMiB}) {
            if (back > size)
                continue;
            EXPECT_EQ(nfs_pread(nfs, file, size - back, buffer.size(), buffer.data()),
                      static_cast<int>(back))
                << "from " << back << " before the end: " << nfs_get_error(nfs);
            EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + static_cast<long>(back),
                                   content.end() - static_cast<long>(back)));
        }
        // A reader that goes on in 1 MiB blocks until an empty read.
        Bytes whole;
        for (int round = 0; round < 8; ++round) {
            const int got = nfs_read(nfs, file, kMiB, buffer.data());
            EXPECT_GE(got, 0) << "at " << whole.size() << ": " << nfs_get_error(nfs);
            if (got <= 0)
                break;
            whole.insert(whole.end(), buffer.begin(), buffer.begin() + got);
        }
        EXPECT_EQ(whole, content);
        nfs_close(nfs, file);
    }
}

} // namespace
} // namespace rpctest

#endif // LUMAVERT_HAVE_LIBNFS
