// READ, WRITE and COMMIT against a running daemon over loopback TCP.
#include <gtest/gtest.h>

#include "common/platform/FileSystem.h"
#include "tests/support/NfsDataTest.h"

namespace rpctest::nfsdata {
namespace {

constexpr std::uint32_t kReadMax = 10485760;
constexpr std::uint32_t kWriteMax = 10481664;

struct ReadResult {
    RpcReply reply;
    std::uint32_t status = 0xFFFFFFFFu;
    bool hasAttributes = false;
    Attributes attributes;
    std::uint32_t count = 0;
    bool eof = false;
    Bytes data;
};

struct WriteResult {
    RpcReply reply;
    std::uint32_t status = 0xFFFFFFFFu;
    std::uint64_t sizeBefore = 0;
    Attributes after;
    std::uint32_t count = 0;
    std::uint32_t committed = 0;
    std::uint64_t verifier = 0;
};

// Reads the wcc_data of a successful WRITE or COMMIT.
void GetWcc(XdrDecoder& in, std::uint64_t& sizeBefore, Attributes& after) {
    EXPECT_TRUE(in.GetBool()) << "pre-op attributes";
    sizeBefore = in.GetUInt64();
    in.GetFixed(16); // mtime, ctime
    EXPECT_TRUE(in.GetBool()) << "post-op attributes";
    after = GetAttributes(in);
}

// Failure bodies of WRITE and COMMIT: no pre-op and no post-op attributes.
void ExpectNoWcc(XdrDecoder& in) {
    EXPECT_FALSE(in.GetBool());
    EXPECT_FALSE(in.GetBool());
    EXPECT_TRUE(in.AtEnd());
}

class NfsReadWrite : public MountedExport {
  protected:
    ReadResult Read(std::uint32_t handle, std::uint64_t offset, std::uint32_t count) {
        ReadResult result;
        result.reply = client_.NfsCall(
            kProcRead, XdrArgs().PutHandle(handle).PutUInt64(offset).PutUInt32(count));
        if (!result.reply.Succeeded())
            return result;
        XdrDecoder& in = result.reply.body;
        result.status = in.GetUInt32();
        result.hasAttributes = in.GetBool();
        if (result.status != kOk)
            return result;
        if (result.hasAttributes)
            result.attributes = GetAttributes(in);
        result.count = in.GetUInt32();
        result.eof = in.GetBool();
        result.data = in.GetOpaque();
        EXPECT_TRUE(in.AtEnd());
        return result;
    }

    WriteResult Write(std::uint32_t handle, std::uint64_t offset, const Bytes& data,
                      std::uint32_t stableHow, std::uint32_t countField) {
        WriteResult result;
        result.reply = client_.NfsCall(kProcWrite, XdrArgs()
                                                       .PutHandle(handle)
                                                       .PutUInt64(offset)
                                                       .PutUInt32(countField)
                                                       .PutUInt32(stableHow)
                                                       .PutOpaque(data));
        if (!result.reply.Succeeded())
            return result;
        XdrDecoder& in = result.reply.body;
        result.status = in.GetUInt32();
        if (result.status != kOk) {
            ExpectNoWcc(in);
            return result;
        }
        GetWcc(in, result.sizeBefore, result.after);
        result.count = in.GetUInt32();
        result.committed = in.GetUInt32();
        result.verifier = in.GetUInt64();
        EXPECT_TRUE(in.AtEnd());
        return result;
    }
    WriteResult Write(std::uint32_t handle, std::uint64_t offset, const Bytes& data,
                      std::uint32_t stableHow) {
        return Write(handle, offset, data, stableHow, static_cast<std::uint32_t>(data.size()));
    }

    // COMMIT's verifier; `status` gets the NFS status.
    std::uint64_t Commit(std::uint32_t handle, std::uint32_t& status) {
        RpcReply reply =
            client_.NfsCall(kProcCommit, XdrArgs().PutHandle(handle).PutUInt64(0).PutUInt32(0));
        EXPECT_TRUE(reply.Succeeded()) << reply;
        status = reply.body.GetUInt32();
        if (status != kOk) {
            ExpectNoWcc(reply.body);
            return 0;
        }
        std::uint64_t sizeBefore = 0;
        Attributes after;
        GetWcc(reply.body, sizeBefore, after);
        const std::uint64_t verifier = reply.body.GetUInt64();
        EXPECT_TRUE(reply.body.AtEnd());
        return verifier;
    }

    // Makes the file and looks it up.
    std::uint32_t MakeFile(std::string_view name, const Bytes& content) {
        EXPECT_TRUE(WriteFile(Path(name), content));
        const std::uint32_t handle = Lookup(root_, name);
        EXPECT_NE(handle, 0u) << name;
        return handle;
    }
};

TEST_F(NfsReadWrite, ReadAnswersTheRequestedBytesWithEofExactlyAtTheEnd) {
    const Bytes content = Pattern(3000);
    const std::uint32_t file = MakeFile("a.bin", content);

    // Past the end: the count shrinks to what the file holds.
    ReadResult tail = Read(file, 1000, 4096);
    ASSERT_EQ(tail.status, kOk) << tail.reply;
    EXPECT_TRUE(tail.hasAttributes);
    EXPECT_EQ(tail.attributes.type, kTypeRegular);
    EXPECT_EQ(tail.attributes.size, 3000u);
    EXPECT_EQ(tail.count, 2000u);
    EXPECT_TRUE(tail.eof);
    EXPECT_EQ(tail.data, Slice(content, 1000, 2000));

    ReadResult lastByte = Read(file, 2999, 1);
    ASSERT_EQ(lastByte.status, kOk);
    EXPECT_TRUE(lastByte.eof);
    EXPECT_EQ(lastByte.data, Slice(content, 2999, 1));

    // An odd count is padded on the wire but answers exactly.
    ReadResult middle = Read(file, 5, 7);
    ASSERT_EQ(middle.status, kOk);
    EXPECT_FALSE(middle.eof);
    EXPECT_EQ(middle.data, Slice(content, 5, 7));

    // At and past the end: no data and eof, with the attributes of any READ (a client that
    // probes the end, as media players do, must not take it for an error).
    for (std::uint64_t offset : {std::uint64_t{3000}, std::uint64_t{1} << 40, ~std::uint64_t{0}}) {
        ReadResult beyond = Read(file, offset, 10);
        ASSERT_EQ(beyond.status, kOk) << offset;
        EXPECT_TRUE(beyond.hasAttributes) << offset;
        EXPECT_EQ(beyond.attributes.size, 3000u) << offset;
        EXPECT_EQ(beyond.count, 0u) << offset;
        EXPECT_TRUE(beyond.eof) << offset;
        EXPECT_TRUE(beyond.data.empty()) << offset;
    }
    const std::uint32_t empty = MakeFile("empty.bin", {});
    ReadResult nothing = Read(empty, 0, 4096);
    ASSERT_EQ(nothing.status, kOk);
    EXPECT_EQ(nothing.count, 0u);
    EXPECT_TRUE(nothing.eof);
}

TEST_F(NfsReadWrite, ReadRefusesBadHandlesAndDirectories) {
    EXPECT_EQ(Read(0, 0, 10).status, kErrBadHandle);
    EXPECT_EQ(Read(0x7A7A7A7A, 0, 10).status, kErrStale);
    // A directory cannot be opened as a file for reading.
    ReadResult directory = Read(root_, 0, 10);
    EXPECT_EQ(directory.status, kErrServerFault);
    EXPECT_TRUE(directory.reply.body.AtEnd());

    const RpcReply garbage =
        client_.NfsCall(kProcRead, XdrArgs().PutOpaque(Bytes(8, 1)).PutUInt64(0).PutUInt32(10));
    ASSERT_TRUE(garbage.Accepted()) << garbage;
    EXPECT_EQ(garbage.acceptStatus, kGarbageArgs);
}

TEST_F(NfsReadWrite, ReadOfRtmaxIsAnsweredShortAndTheRestFollows) {
    const Bytes content = Pattern(kReadMax + 5000, 7);
    const std::uint32_t file = MakeFile("big.bin", content);

    ReadResult first = Read(file, 0, kReadMax);
    ASSERT_EQ(first.status, kOk) << first.reply;
    // The whole reply, headers included, must fit one record of kReadMax bytes.
    EXPECT_LT(first.count, kReadMax);
    EXPECT_GT(first.count, kReadMax - 4096);
    EXPECT_EQ(first.count % 4, 0u);
    EXPECT_FALSE(first.eof);
    ASSERT_EQ(first.data.size(), first.count);
    EXPECT_TRUE(first.data == Slice(content, 0, first.count));

    ReadResult rest = Read(file, first.count, kReadMax);
    ASSERT_EQ(rest.status, kOk) << rest.reply;
    EXPECT_TRUE(rest.eof);
    EXPECT_EQ(first.count + rest.count, content.size());
    EXPECT_TRUE(rest.data == Slice(content, first.count, rest.count));
}

TEST_F(NfsReadWrite, ReadSlotKeepsWritersOfTheLastFileReadAway) {
    const std::uint32_t first = MakeFile("first.bin", Pattern(100, 1));
    const std::uint32_t second = MakeFile("second.bin", Pattern(100, 2));
    platform::OpenOptions forWriting;
    forWriting.access = platform::FileAccess::Write;
    forWriting.share = platform::FileShare::ReadWrite;
    const auto openForWriting = [&](std::string_view name) {
        return platform::File::Open(Path(name).u16string(), forWriting);
    };

    ASSERT_EQ(Read(first, 0, 10).status, kOk);
    {
        platform::File blocked = openForWriting("first.bin");
        EXPECT_FALSE(blocked.IsOpen());
        EXPECT_EQ(platform::LastFileError(), platform::kErrorSharingViolation);
    }
    // A second READ of the same file keeps it; reading another file hands the slot over.
    ASSERT_EQ(Read(first, 50, 10).status, kOk);
    EXPECT_FALSE(openForWriting("first.bin").IsOpen());
    ASSERT_EQ(Read(second, 0, 10).status, kOk);
    EXPECT_TRUE(openForWriting("first.bin").IsOpen());
    EXPECT_FALSE(openForWriting("second.bin").IsOpen());
    // A READ at the end still leaves the file in the slot.
    ASSERT_EQ(Read(first, 100, 10).status, kOk);
    EXPECT_FALSE(openForWriting("first.bin").IsOpen());
    EXPECT_TRUE(openForWriting("second.bin").IsOpen());
}

// The lists are replaced by every hand-off: a list the player read last must not stay open in
// the slot, where the extension's delete would leave it standing.
TEST_F(NfsReadWrite, ReadSlotKeepsNoFileOfTheListFolder) {
    ASSERT_TRUE(WriteFile(daemon_.ListFolder() / "AudioList.txt", Pattern(16, 3)));
    const std::uint32_t list = Lookup(MountFolder("/lst"), "AudioList.txt");
    ASSERT_NE(list, 0u);
    ASSERT_EQ(Read(list, 0, 16).status, kOk);
    platform::OpenOptions exclusive;
    exclusive.access = platform::FileAccess::Write;
    exclusive.share = platform::FileShare::None;
    const std::u16string path = (daemon_.ListFolder() / "AudioList.txt").u16string();
    EXPECT_TRUE(platform::File::Open(path, exclusive).IsOpen());
    // Other files still sit in the slot.
    const std::uint32_t media = MakeFile("song.mp3", Pattern(16, 4));
    ASSERT_EQ(Read(media, 0, 16).status, kOk);
    EXPECT_FALSE(platform::File::Open(Path("song.mp3").u16string(), exclusive).IsOpen());
}

// REMOVE and RENAME of the file in the read slot or of a file with an open write file, or of a
// folder above one, first let go of the server's own handle.
TEST_F(NfsReadWrite, TheServersOwnOpenFilesNeverBlockAChange) {
    const auto status = [&](std::uint32_t procedure, const XdrArgs& args) {
        RpcReply reply = client_.NfsCall(procedure, args);
        return reply.Succeeded() ? reply.body.GetUInt32() : 0xFFFFFFFFu;
    };
    const auto rename = [&](std::uint32_t from, std::string_view name, std::string_view to) {
        return status(kProcRename,
                      XdrArgs().PutHandle(from).PutString(name).PutHandle(root_).PutString(to));
    };
    const std::uint32_t read = MakeFile("read.bin", Pattern(100, 1));
    ASSERT_EQ(Read(read, 0, 10).status, kOk);
    EXPECT_EQ(status(kProcRemove, XdrArgs().PutHandle(root_).PutString("read.bin")), kOk);
    EXPECT_FALSE(std::filesystem::exists(Path("read.bin")));

    const std::uint32_t moved = MakeFile("moved.bin", Pattern(100, 2));
    ASSERT_EQ(Read(moved, 0, 10).status, kOk);
    EXPECT_EQ(rename(root_, "moved.bin", "moved-2.bin"), kOk);
    EXPECT_EQ(ReadFile(Path("moved-2.bin")), Pattern(100, 2));

    const std::uint32_t written = MakeFile("written.bin", Pattern(100, 3));
    ASSERT_EQ(Write(written, 0, Pattern(10, 4), kUnstable).status, kOk);
    EXPECT_EQ(rename(root_, "written.bin", "written-2.bin"), kOk);
    EXPECT_EQ(Slice(ReadFile(Path("written-2.bin")), 0, 10), Pattern(10, 4));

    // The folders above a file read or written move too.
    for (const bool reading : {true, false}) {
        const std::string folder = reading ? "reading" : "writing";
        std::filesystem::create_directories(Path(folder + "/inner"));
        ASSERT_TRUE(WriteFile(Path(folder + "/inner/clip.mkv"), Pattern(100, 5)));
        const std::uint32_t top = Lookup(root_, folder);
        const std::uint32_t clip = Lookup(Lookup(top, "inner"), "clip.mkv");
        ASSERT_NE(clip, 0u);
        if (reading)
            ASSERT_EQ(Read(clip, 0, 10).status, kOk);
        else
            ASSERT_EQ(Write(clip, 0, Pattern(10, 6), kUnstable).status, kOk);
        EXPECT_EQ(rename(root_, folder, folder + "-2"), kOk) << folder;
        EXPECT_TRUE(std::filesystem::exists(Path(folder + "-2/inner/clip.mkv"))) << folder;
        EXPECT_EQ(Read(clip, 0, 10).status, kErrStale) << folder;
    }
}

// The read slot and the write files share delete: the PC's user can delete or move a file the
// server merely keeps open. The open file reads on until the server lets go of it (reading
// another file); then its name is gone on every platform (Linux and Windows 10 on NTFS remove it
// at once, Wine and older Windows keep it pending until the last handle closes) and the handle
// is stale.
TEST_F(NfsReadWrite, ThePcsUserCanDeleteOrMoveAFileTheServerKeepsOpen) {
    const Bytes content = Pattern(5000, 7);
    const std::uint32_t played = MakeFile("played.mkv", content);
    const std::uint32_t next = MakeFile("next.mkv", Pattern(10, 9));
    ASSERT_EQ(Read(played, 0, 100).status, kOk);
    ASSERT_TRUE(platform::RemoveFile(Path("played.mkv").u16string())) << platform::LastFileError();
    ReadResult after = Read(played, 100, 100);
    ASSERT_EQ(after.status, kOk);
    EXPECT_EQ(after.data, Slice(content, 100, 100)) << "the open file's own data";
    ASSERT_EQ(Read(next, 0, 10).status, kOk);
    EXPECT_EQ(Read(played, 200, 100).status, kErrStale);
    EXPECT_EQ(Lookup(root_, "played.mkv"), 0u);
    EXPECT_FALSE(std::filesystem::exists(Path("played.mkv")));

    const std::uint32_t written = MakeFile("written.mkv", content);
    ASSERT_EQ(Write(written, 0, Pattern(10, 8), kUnstable).status, kOk);
    ASSERT_TRUE(
        platform::MovePath(Path("written.mkv").u16string(), Path("elsewhere.mkv").u16string()))
        << platform::LastFileError();
    EXPECT_EQ(Slice(ReadFile(Path("elsewhere.mkv")), 0, 10), Pattern(10, 8));
    ASSERT_TRUE(platform::RemoveFile(Path("elsewhere.mkv").u16string()))
        << platform::LastFileError();
}

TEST_F(NfsReadWrite, StableWriteLandsAndClosesTheFile) {
    const std::uint32_t file = MakeFile("w.bin", Pattern(10, 3));
    const Bytes data = Pattern(500, 4);
    WriteResult written = Write(file, 4, data, kFileSync);
    ASSERT_EQ(written.status, kOk) << written.reply;
    EXPECT_EQ(written.count, 500u);
    EXPECT_EQ(written.committed, kFileSync);
    EXPECT_EQ(written.verifier, 0u);
    EXPECT_EQ(written.sizeBefore, 10u);
    EXPECT_EQ(written.after.size, 504u);

    Bytes expected = Slice(Pattern(10, 3), 0, 4);
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(ReadFile(Path("w.bin")), expected);
    // Nothing of the server holds the file any more.
    platform::OpenOptions exclusive;
    exclusive.access = platform::FileAccess::ReadWrite;
    exclusive.share = platform::FileShare::None;
    EXPECT_TRUE(platform::File::Open(Path("w.bin").u16string(), exclusive).IsOpen());
}

TEST_F(NfsReadWrite, UnstableWritesShareAVerifierThatCommitRepeatsOnce) {
    const std::uint32_t file = MakeFile("u.bin", {});
    const Bytes data = Pattern(8192, 5);
    WriteResult one = Write(file, 0, Slice(data, 0, 4096), kUnstable);
    ASSERT_EQ(one.status, kOk) << one.reply;
    EXPECT_EQ(one.committed, kUnstable);
    EXPECT_NE(one.verifier, 0u);
    WriteResult two = Write(file, 4096, Slice(data, 4096, 4096), kUnstable);
    ASSERT_EQ(two.status, kOk);
    EXPECT_EQ(two.verifier, one.verifier);
    EXPECT_EQ(two.sizeBefore, 4096u);
    EXPECT_EQ(two.after.size, 8192u);

    std::uint32_t status = 0;
    EXPECT_EQ(Commit(file, status), one.verifier);
    EXPECT_EQ(status, kOk);
    EXPECT_EQ(ReadFile(Path("u.bin")), data);
    // The write file was closed by the first COMMIT.
    EXPECT_EQ(Commit(file, status), 0u);
    EXPECT_EQ(status, kOk);
    // A directory never has a write file.
    EXPECT_EQ(Commit(root_, status), 0u);
    EXPECT_EQ(status, kOk);
    Commit(0, status);
    EXPECT_EQ(status, kErrBadHandle);
}

TEST_F(NfsReadWrite, WriteBeyondTheEndLeavesZerosBeforeTheData) {
    const std::uint32_t file = MakeFile("sparse.bin", {});
    const Bytes data = Pattern(100, 6);
    WriteResult written = Write(file, 1048576, data, kFileSync);
    ASSERT_EQ(written.status, kOk) << written.reply;
    EXPECT_EQ(written.sizeBefore, 0u);
    EXPECT_EQ(written.after.size, 1048676u);

    const Bytes onDisk = ReadFile(Path("sparse.bin"));
    ASSERT_EQ(onDisk.size(), 1048676u);
    EXPECT_EQ(Slice(onDisk, 0, 1048576), Bytes(1048576, 0));
    EXPECT_EQ(Slice(onDisk, 1048576, 100), data);
}

TEST_F(NfsReadWrite, WriteTakesTheDataLengthNotTheCountField) {
    const std::uint32_t file = MakeFile("c.bin", {});
    const Bytes data = Pattern(20, 8);
    WriteResult written = Write(file, 0, data, kFileSync, 10);
    ASSERT_EQ(written.status, kOk) << written.reply;
    EXPECT_EQ(written.count, 20u);
    EXPECT_EQ(ReadFile(Path("c.bin")), data);

    // Data shorter than its length word is garbage.
    RpcReply truncated = client_.NfsCall(kProcWrite, XdrArgs()
                                                         .PutHandle(file)
                                                         .PutUInt64(0)
                                                         .PutUInt32(100)
                                                         .PutUInt32(kFileSync)
                                                         .PutUInt32(100)
                                                         .PutRaw(Pattern(40)));
    ASSERT_TRUE(truncated.Accepted()) << truncated;
    EXPECT_EQ(truncated.acceptStatus, kGarbageArgs);
}

TEST_F(NfsReadWrite, WriteOfWtmaxInOneRecordLandsWhole) {
    const std::uint32_t file = MakeFile("max.bin", {});
    const Bytes data = Pattern(kWriteMax, 9);
    WriteResult written = Write(file, 0, data, kFileSync);
    ASSERT_EQ(written.status, kOk) << written.reply;
    EXPECT_EQ(written.count, kWriteMax);
    EXPECT_TRUE(ReadFile(Path("max.bin")) == data);
}

TEST_F(NfsReadWrite, WriteFailuresAnswerTheMappedStatus) {
    const std::uint32_t file = MakeFile("ro.bin", Pattern(10));
    namespace fs = std::filesystem;
    fs::permissions(Path("ro.bin"),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    WriteResult refused = Write(file, 0, Pattern(10, 2), kFileSync);
    EXPECT_EQ(refused.status, kErrAcces) << refused.reply;
    EXPECT_EQ(ReadFile(Path("ro.bin")), Pattern(10));
    fs::permissions(Path("ro.bin"), fs::perms::owner_write, fs::perm_options::add);

    EXPECT_EQ(Write(root_, 0, Pattern(10), kFileSync).status, kErrAcces);
    EXPECT_EQ(Write(0, 0, Pattern(10), kUnstable).status, kErrBadHandle);
    EXPECT_EQ(Write(0x7A7A7A7A, 0, Pattern(10), kUnstable).status, kErrStale);
}

TEST_F(NfsReadWrite, AClientReadsBackWhatItWroteAndWritesWhatItRead) {
    const std::uint32_t file = MakeFile("back.bin", Pattern(1000, 1));
    // Unstable data reads back through the server's open write file, before any COMMIT.
    ASSERT_EQ(Write(file, 500, Pattern(1000, 9), kUnstable).status, kOk);
    ReadResult back = Read(file, 400, 300);
    ASSERT_EQ(back.status, kOk) << back.reply;
    Bytes expected = Pattern(1000, 1);
    expected.resize(500);
    const Bytes written = Pattern(1000, 9);
    expected.insert(expected.end(), written.begin(), written.end());
    EXPECT_EQ(back.data, Slice(expected, 400, 300));
    EXPECT_FALSE(back.eof);
    ReadResult atEnd = Read(file, 1500, 10);
    ASSERT_EQ(atEnd.status, kOk);
    EXPECT_EQ(atEnd.count, 0u);
    EXPECT_TRUE(atEnd.eof);
    std::uint32_t status = 0;
    EXPECT_NE(Commit(file, status), 0u);

    // The file last read sits in the read slot; the server's own WRITE still reaches it.
    ASSERT_EQ(Read(file, 0, 10).status, kOk);
    WriteResult again = Write(file, 0, Pattern(10, 3), kFileSync);
    ASSERT_EQ(again.status, kOk) << again.reply;
    expected = ReadFile(Path("back.bin"));
    EXPECT_EQ(Slice(expected, 0, 10), Pattern(10, 3));
}

} // namespace
} // namespace rpctest::nfsdata
