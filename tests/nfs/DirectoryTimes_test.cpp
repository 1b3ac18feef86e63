// A directory's atime and mtime are the newest last-write time among its search records, and
// stay so however often they are asked for: every change below the directory shows at once
// (the server may keep the value between changes, never past one).
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "common/platform/Clock.h"
#include "common/platform/FileSystem.h"
#include "tests/support/NfsDataTest.h"

namespace rpctest::nfsdata {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kProcGetAttr = 1;
constexpr std::int64_t kYear = 365 * 24 * 3600;

class DirectoryTimesTest : public MountedExport {
  protected:
    void SetUp() override {
        MountedExport::SetUp();
        folder_ = daemon_.Root() / "folder";
        fs::create_directories(folder_ / "sub");
        std::ofstream(folder_ / "clip.mkv") << "clip";
        // Everything the folder's search reports ("." and ".." included) is made old.
        for (const fs::path& path :
             {folder_ / "clip.mkv", folder_ / "sub", folder_, daemon_.Root()})
            MakeOld(path);
        handle_ = MountFolder("/folder");
    }

    // Through the platform layer: MinGW's std::filesystem cannot set a folder's times.
    static void MakeOld(const fs::path& path) {
        platform::OpenOptions options;
        options.access = platform::FileAccess::Attributes;
        options.directory = true;
        platform::File file = platform::File::Open(path.u16string(), options);
        ASSERT_TRUE(file.IsOpen()) << platform::LastFileError();
        const std::uint64_t old = platform::SystemTimeAsFileTime() - 10 * kYear * 10000000ull;
        ASSERT_TRUE(file.SetTimes(nullptr, nullptr, &old)) << platform::LastFileError();
    }

    // The directory's mtime (seconds) by GETATTR; atime must be the same.
    std::int64_t MTime() {
        RpcReply reply = client_.NfsCall(kProcGetAttr, XdrArgs().PutHandle(handle_));
        EXPECT_TRUE(reply.Succeeded()) << reply;
        EXPECT_EQ(reply.body.GetUInt32(), kOk);
        reply.body.GetFixed(60);
        const std::uint32_t atime = reply.body.GetUInt32();
        reply.body.GetFixed(4);
        const std::uint32_t mtime = reply.body.GetUInt32();
        EXPECT_EQ(atime, mtime);
        EXPECT_TRUE(reply.body.Ok());
        return mtime;
    }

    // The directory's ctime by GETATTR, seconds and nanoseconds as one number.
    std::uint64_t CTime() {
        RpcReply reply = client_.NfsCall(kProcGetAttr, XdrArgs().PutHandle(handle_));
        EXPECT_EQ(reply.body.GetUInt32(), kOk);
        reply.body.GetFixed(76);
        const std::uint64_t seconds = reply.body.GetUInt32();
        const std::uint64_t nanoseconds = reply.body.GetUInt32();
        EXPECT_TRUE(reply.body.Ok());
        return seconds * 1000000000u + nanoseconds;
    }

    bool IsOld(std::int64_t seconds) const { return seconds < now_ - 5 * kYear; }
    bool IsFresh(std::int64_t seconds) const { return seconds > now_ - 3600; }

    fs::path folder_;
    std::uint32_t handle_ = 0;
    std::int64_t now_ = static_cast<std::int64_t>(std::time(nullptr));
};

TEST_F(DirectoryTimesTest, EveryChangeBelowTheDirectoryShowsAtOnce) {
    ASSERT_NE(handle_, 0u);
    ASSERT_TRUE(IsOld(MTime()));
    ASSERT_TRUE(IsOld(MTime())) << "asking twice changes nothing";

    std::ofstream(folder_ / "clip.mkv", std::ios::app) << "more"; // a file's content
    EXPECT_TRUE(IsFresh(MTime()));
    MakeOld(folder_ / "clip.mkv"); // and the newest time can go back as well
    EXPECT_TRUE(IsOld(MTime()));

    std::ofstream(folder_ / "sub" / "inner.mkv") << "i"; // a sub-folder's own time
    EXPECT_TRUE(IsFresh(MTime()));
    MakeOld(folder_ / "sub");
    EXPECT_TRUE(IsOld(MTime()));

    std::ofstream(daemon_.Root() / "beside.mkv") << "b"; // the parent's time, as ".."
    EXPECT_TRUE(IsFresh(MTime()));
    MakeOld(daemon_.Root());
    EXPECT_TRUE(IsOld(MTime()));

    std::ofstream(folder_ / "new.mkv") << "n"; // a new entry (and "." with it)
    EXPECT_TRUE(IsFresh(MTime()));
    fs::remove(folder_ / "new.mkv");
    MakeOld(folder_);
    EXPECT_TRUE(IsOld(MTime()));
}

TEST_F(DirectoryTimesTest, AReplacedDirectoryIsSearchedAfresh) {
    ASSERT_TRUE(IsOld(MTime()));
    // Another folder takes the path; its fresh entry must show, not the old folder's times.
    fs::rename(folder_, daemon_.Root() / "moved");
    fs::create_directories(folder_);
    std::ofstream(folder_ / "fresh.mkv") << "f";
    EXPECT_TRUE(IsFresh(MTime()));
}

// The Linux client keeps a folder's cached listing while its ctime stays: a name deleted on the
// PC must move the folder's ctime (its creation time stays).
TEST_F(DirectoryTimesTest, CtimeMovesWhenANameGoes) {
    ASSERT_NE(handle_, 0u);
    const std::uint64_t before = CTime();
    EXPECT_EQ(CTime(), before) << "asking twice changes nothing";
    fs::remove(folder_ / "clip.mkv");
    EXPECT_GT(CTime(), before);
}

} // namespace
} // namespace rpctest::nfsdata
