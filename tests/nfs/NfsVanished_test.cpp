// Objects deleted behind the server's back: every procedure answers NFS3ERR_STALE for the handle
// of a vanished object and drops its entry, with whatever was found through it, so that clients
// let go of it instead of reporting an I/O error for each.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/NfsNamespaceCalls.h"

namespace rpctest::nfs3 {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kRead = 6, kWrite = 7, kReadDir = 16, kReadDirPlus = 17, kCommit = 21;

struct Use {
    const char* what;
    std::uint32_t procedure;
    std::function<XdrArgs(std::uint32_t handle, std::uint32_t root)> args;
};

XdrArgs NoAttributes(XdrArgs args) {
    return PutSetAttr(args, {});
}

// Uses of a file handle.
const std::vector<Use>& FileUses() {
    static const std::vector<Use> uses = {
        {"GETATTR", kGetAttr,
         [](std::uint32_t h, std::uint32_t) { return XdrArgs().PutHandle(h); }},
        {"SETATTR", kSetAttr,
         [](std::uint32_t h, std::uint32_t) {
             XdrArgs args;
             return PutSetAttr(args.PutHandle(h), SetAttr{.size = 1}).PutBool(false);
         }},
        {"ACCESS", kAccess,
         [](std::uint32_t h, std::uint32_t) { return XdrArgs().PutHandle(h).PutUInt32(0x3F); }},
        {"READ", kRead,
         [](std::uint32_t h, std::uint32_t) {
             return XdrArgs().PutHandle(h).PutUInt64(0).PutUInt32(10);
         }},
        {"WRITE", kWrite,
         [](std::uint32_t h, std::uint32_t) {
             return XdrArgs().PutHandle(h).PutUInt64(0).PutUInt32(1).PutUInt32(2).PutString("x");
         }},
        {"COMMIT", kCommit,
         [](std::uint32_t h, std::uint32_t) {
             return XdrArgs().PutHandle(h).PutUInt64(0).PutUInt32(0);
         }},
        {"FSSTAT", kFsStat, [](std::uint32_t h, std::uint32_t) { return XdrArgs().PutHandle(h); }},
        {"FSINFO", kFsInfo, [](std::uint32_t h, std::uint32_t) { return XdrArgs().PutHandle(h); }},
        {"PATHCONF", kPathConf,
         [](std::uint32_t h, std::uint32_t) { return XdrArgs().PutHandle(h); }},
    };
    return uses;
}

// Uses of a directory handle.
const std::vector<Use>& DirectoryUses() {
    static const std::vector<Use> uses = {
        {"GETATTR", kGetAttr,
         [](std::uint32_t h, std::uint32_t) { return XdrArgs().PutHandle(h); }},
        {"LOOKUP", kLookup, [](std::uint32_t h, std::uint32_t) { return DirOp(h, "inner.txt"); }},
        {"CREATE", kCreate,
         [](std::uint32_t h, std::uint32_t) { return NoAttributes(DirOp(h, "new").PutUInt32(0)); }},
        {"MKDIR", kMkDir,
         [](std::uint32_t h, std::uint32_t) { return NoAttributes(DirOp(h, "new")); }},
        {"REMOVE", kRemove, [](std::uint32_t h, std::uint32_t) { return DirOp(h, "inner.txt"); }},
        {"RMDIR", kRmDir, [](std::uint32_t h, std::uint32_t) { return DirOp(h, "x"); }},
        {"RENAME from", kRename,
         [](std::uint32_t h, std::uint32_t root) {
             return DirOp(h, "inner.txt").PutHandle(root).PutString("moved");
         }},
        {"RENAME to", kRename,
         [](std::uint32_t h, std::uint32_t root) {
             return DirOp(root, "keep.txt").PutHandle(h).PutString("moved");
         }},
        {"READDIR", kReadDir,
         [](std::uint32_t h, std::uint32_t) {
             return XdrArgs().PutHandle(h).PutUInt64(0).PutUInt64(0).PutUInt32(8192);
         }},
        {"READDIRPLUS", kReadDirPlus,
         [](std::uint32_t h, std::uint32_t) {
             return XdrArgs().PutHandle(h).PutUInt64(0).PutUInt64(0).PutUInt32(8192).PutUInt32(
                 8192);
         }},
        {"FSSTAT", kFsStat, [](std::uint32_t h, std::uint32_t) { return XdrArgs().PutHandle(h); }},
    };
    return uses;
}

class NfsVanishedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session_.Ready());
        ASSERT_TRUE(WriteFile(session_.Disk("keep.txt"), "kept"));
    }
    std::uint32_t StatusOf(std::uint32_t procedure, const XdrArgs& args) {
        RpcReply reply = session_.Call(procedure, args);
        return session_.Status(reply);
    }
    std::uint32_t HandleOf(std::uint32_t directory, std::string_view name) {
        const LookupResult found = session_.Lookup(directory, name);
        EXPECT_EQ(found.status, kOk) << name;
        return found.handle;
    }

    NfsSession session_;
};

TEST_F(NfsVanishedTest, EveryUseOfAVanishedFileIsStale) {
    const std::uint32_t root = session_.Root();
    for (const Use& use : FileUses()) {
        SCOPED_TRACE(use.what);
        ASSERT_TRUE(WriteFile(session_.Disk("gone.txt"), "soon gone"));
        const std::uint32_t handle = HandleOf(root, "gone.txt");
        fs::remove(session_.Disk("gone.txt"));
        EXPECT_EQ(StatusOf(use.procedure, use.args(handle, root)), kStale);
        EXPECT_FALSE(fs::exists(session_.Disk("gone.txt"))) << "nothing made anew";
        // The entry is gone: made again, the name gets a new handle and the old stays stale.
        ASSERT_TRUE(WriteFile(session_.Disk("gone.txt"), "back"));
        const std::uint32_t again = HandleOf(root, "gone.txt");
        EXPECT_NE(again, handle);
        EXPECT_EQ(session_.GetAttr(handle).status, kStale);
        fs::remove(session_.Disk("gone.txt"));
        EXPECT_EQ(session_.Lookup(root, "gone.txt").status, kNoEnt);
    }
}

TEST_F(NfsVanishedTest, EveryUseOfAVanishedFolderIsStaleAndDropsWhatWasFoundThroughIt) {
    const std::uint32_t root = session_.Root();
    for (const Use& use : DirectoryUses()) {
        SCOPED_TRACE(use.what);
        fs::create_directories(session_.Disk("dir/x"));
        ASSERT_TRUE(WriteFile(session_.Disk("dir/inner.txt"), "inside"));
        const std::uint32_t dir = HandleOf(root, "dir");
        const std::uint32_t inner = HandleOf(dir, "inner.txt");
        fs::remove_all(session_.Disk("dir"));

        EXPECT_EQ(StatusOf(use.procedure, use.args(dir, root)), kStale);
        EXPECT_EQ(session_.GetAttr(inner).status, kStale);
        EXPECT_EQ(ReadFile(session_.Disk("keep.txt")), "kept");
        EXPECT_FALSE(fs::exists(session_.Disk("dir")));
    }
}

// What clients see of a file deleted on the PC: a listing no longer shows it, its handle is
// stale, and a folder listed afterwards reports no error for it.
TEST_F(NfsVanishedTest, ListingsAfterADeleteOnDiskAreClean) {
    const std::uint32_t root = session_.Root();
    ASSERT_TRUE(WriteFile(session_.Disk("a.mkv"), "a"));
    const std::uint32_t a = HandleOf(root, "a.mkv");
    fs::remove(session_.Disk("a.mkv"));
    RpcReply plus = session_.Call(
        kReadDirPlus,
        XdrArgs().PutHandle(root).PutUInt64(0).PutUInt64(0).PutUInt32(8192).PutUInt32(8192));
    EXPECT_EQ(session_.Status(plus), kOk);
    EXPECT_EQ(session_.GetAttr(a).status, kStale);
    EXPECT_EQ(session_.GetAttr(root).status, kOk);
}

} // namespace
} // namespace rpctest::nfs3
