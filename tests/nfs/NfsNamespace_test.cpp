// NFS CREATE, MKDIR, REMOVE, RMDIR, RENAME, FSSTAT, FSINFO and PATHCONF against a running
// daemon, checked on the disk as well as on the wire.
#include <gtest/gtest.h>

#include <string>

#include "common/platform/FileSystem.h"
#include "tests/support/NfsNamespaceCalls.h"

namespace rpctest::nfs3 {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kUnchecked = 0, kGuarded = 1, kExclusive = 2;

// The success body of CREATE and MKDIR.
struct Made {
    std::uint32_t handle = 0;
    Fattr attributes;
    Wcc directory;
};

class NfsNamespaceTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(session_.Ready()); }
    std::uint32_t Root() const { return session_.Root(); }
    fs::path Disk(std::string_view relative) const { return session_.Disk(relative); }

    std::uint32_t HandleOf(std::uint32_t directory, std::string_view name) {
        const LookupResult result = session_.Lookup(directory, name);
        EXPECT_EQ(result.status, kOk) << name;
        return result.handle;
    }
    std::uint32_t StatusOf(std::uint32_t procedure, const XdrArgs& args) {
        RpcReply reply = session_.Call(procedure, args);
        return session_.Status(reply);
    }

    RpcReply Create(std::uint32_t directory, std::string_view name, std::uint32_t mode,
                    const SetAttr& attributes = {}) {
        XdrArgs args = DirOp(directory, name);
        args.PutUInt32(mode);
        if (mode == kExclusive)
            args.PutUInt64(0x0123456789ABCDEFull);
        else
            PutSetAttr(args, attributes);
        return session_.Call(kCreate, args);
    }
    RpcReply MkDir(std::uint32_t directory, std::string_view name) {
        XdrArgs args = DirOp(directory, name);
        return session_.Call(kMkDir, PutSetAttr(args, {}));
    }
    XdrArgs RenameArgs(std::uint32_t from, std::string_view fromName, std::uint32_t to,
                       std::string_view toName) {
        XdrArgs args = DirOp(from, fromName);
        args.PutHandle(to).PutString(toName);
        return args;
    }

    // Reads the success body of CREATE or MKDIR to its end.
    static Made ReadMade(RpcReply& reply) {
        Made made;
        XdrDecoder& in = reply.body;
        EXPECT_TRUE(in.GetBool());
        EXPECT_EQ(in.GetUInt32(), 4u);
        const Bytes handle = in.GetFixed(4);
        if (handle.size() == 4)
            made.handle = (std::uint32_t{handle[0]} << 24) | (std::uint32_t{handle[1]} << 16) |
                          (std::uint32_t{handle[2]} << 8) | handle[3];
        const auto attributes = GetPostOpAttr(in);
        EXPECT_TRUE(attributes.has_value());
        if (attributes)
            made.attributes = *attributes;
        made.directory = GetWcc(in);
        EXPECT_TRUE(made.directory.hasBefore && made.directory.after.has_value());
        EXPECT_TRUE(in.AtEnd());
        return made;
    }
    static void ExpectFalseMarkers(RpcReply& reply, int count) {
        for (int i = 0; i < count; ++i)
            EXPECT_FALSE(reply.body.GetBool());
        EXPECT_TRUE(reply.body.AtEnd());
    }

    NfsSession session_;
};

TEST_F(NfsNamespaceTest, CreateMakesNormalOrReadOnlyFilesAndAnswersTheirHandle) {
    RpcReply plain = Create(Root(), "plain.txt", kUnchecked);
    ASSERT_EQ(session_.Status(plain), kOk) << plain;
    const Made made = ReadMade(plain);
    EXPECT_EQ(made.attributes.type, kRegular);
    EXPECT_EQ(made.attributes.size, 0u);
    EXPECT_EQ(made.attributes.mode, 0666u);
    EXPECT_EQ(made.directory.after->type, kDirectory);
    EXPECT_TRUE(fs::is_regular_file(Disk("plain.txt")));
    EXPECT_FALSE(IsReadOnly(Disk("plain.txt")));
    const AttrResult again = session_.GetAttr(made.handle);
    EXPECT_EQ(again.status, kOk);
    EXPECT_EQ(again.attributes.fileid, made.attributes.fileid);
    EXPECT_EQ(HandleOf(Root(), "plain.txt"), made.handle);

    RpcReply readOnly = Create(Root(), "ro.txt", kUnchecked, SetAttr{.mode = 0444});
    ASSERT_EQ(session_.Status(readOnly), kOk);
    EXPECT_EQ(ReadMade(readOnly).attributes.mode, 0444u);
    EXPECT_TRUE(IsReadOnly(Disk("ro.txt")));

    RpcReply writable = Create(Root(), "rw.txt", kGuarded, SetAttr{.mode = 0644});
    ASSERT_EQ(session_.Status(writable), kOk);
    EXPECT_FALSE(IsReadOnly(Disk("rw.txt")));

    RpcReply exclusive = Create(Root(), "ex.txt", kExclusive);
    EXPECT_EQ(session_.Status(exclusive), kOk);
    EXPECT_TRUE(fs::exists(Disk("ex.txt")));
}

TEST_F(NfsNamespaceTest, CreateNeverReplacesAnExistingName) {
    ASSERT_TRUE(WriteFile(Disk("old.txt"), "keep"));
    fs::create_directory(Disk("folder"));
    for (const std::uint32_t mode : {kUnchecked, kGuarded, kExclusive}) {
        RpcReply reply = Create(Root(), "old.txt", mode);
        ASSERT_EQ(session_.Status(reply), kExist) << mode;
        ExpectFalseMarkers(reply, 2);
    }
    EXPECT_EQ(ReadFile(Disk("old.txt")), "keep");
    RpcReply folder = Create(Root(), "folder", kUnchecked);
    EXPECT_EQ(session_.Status(folder), kExist);

    XdrArgs unknownMode = DirOp(Root(), "new.txt");
    const RpcReply garbage = session_.Call(kCreate, unknownMode.PutUInt32(3));
    ASSERT_TRUE(garbage.Accepted()) << garbage;
    EXPECT_EQ(garbage.acceptStatus, kGarbageArgs);
    EXPECT_FALSE(fs::exists(Disk("new.txt")));
}

TEST_F(NfsNamespaceTest, CreateAndMkDirRefuseLongAndEscapingNames) {
    const std::size_t room = 260 - session_.ServerPathLength(Root());
    const std::string tooLong(room + 1, 'l');
    RpcReply longFile = Create(Root(), tooLong, kUnchecked);
    EXPECT_EQ(session_.Status(longFile), kNameTooLong);
    RpcReply longFolder = MkDir(Root(), tooLong);
    EXPECT_EQ(session_.Status(longFolder), kNameTooLong);
    EXPECT_TRUE(fs::is_empty(Disk("")));

    RpcReply outsideFile = Create(Root(), "../outside-create.txt", kUnchecked);
    EXPECT_EQ(session_.Status(outsideFile), kAcces);
    ExpectFalseMarkers(outsideFile, 2);
    RpcReply outsideFolder = MkDir(Root(), "../outside-mkdir");
    EXPECT_EQ(session_.Status(outsideFolder), kAcces);
    EXPECT_FALSE(fs::exists(Disk("../outside-create.txt")));
    EXPECT_FALSE(fs::exists(Disk("../outside-mkdir")));
}

TEST_F(NfsNamespaceTest, MkDirAnswersTheNewFolderThenTheParentsWcc) {
    RpcReply reply = MkDir(Root(), "new");
    ASSERT_EQ(session_.Status(reply), kOk) << reply;
    const Made made = ReadMade(reply);
    EXPECT_EQ(made.attributes.type, kDirectory);
    EXPECT_EQ(made.directory.after->type, kDirectory);
    EXPECT_NE(made.directory.after->fileid, made.attributes.fileid);
    EXPECT_TRUE(fs::is_directory(Disk("new")));

    ASSERT_TRUE(WriteFile(Disk("new/inside.txt"), "in"));
    EXPECT_EQ(session_.Lookup(made.handle, "inside.txt").status, kOk);

    RpcReply again = MkDir(Root(), "new");
    EXPECT_EQ(session_.Status(again), kExist);
    ExpectFalseMarkers(again, 2);
    // A file of the name is left to the platform, whose already-exists error is a fault.
    ASSERT_TRUE(WriteFile(Disk("file"), "f"));
    RpcReply overFile = MkDir(Root(), "file");
    EXPECT_EQ(session_.Status(overFile), kServerFault);
}

TEST_F(NfsNamespaceTest, RemoveDeletesFilesAndRetiresTheirEntries) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        ASSERT_TRUE(WriteFile(Disk(name), name));
    const std::uint32_t a = HandleOf(Root(), "a.txt");
    HandleOf(Root(), "b.txt");
    const std::uint32_t c = HandleOf(Root(), "c.txt");
    const std::uint64_t cFileId = session_.GetAttr(c).attributes.fileid;
    ASSERT_NE(cFileId, 0u);

#ifdef _WIN32
    const char* const otherCase = "A.TXT"; // the entry goes whatever case the client used
#else
    const char* const otherCase = "a.txt"; // the disk itself tells cases apart
#endif
    RpcReply removed = session_.Call(kRemove, DirOp(Root(), otherCase));
    ASSERT_EQ(session_.Status(removed), kOk) << removed;
    const Wcc wcc = GetWcc(removed.body);
    EXPECT_TRUE(wcc.hasBefore && wcc.after.has_value());
    EXPECT_TRUE(removed.body.AtEnd());
    EXPECT_FALSE(fs::exists(Disk("a.txt")));
    EXPECT_EQ(session_.GetAttr(a).status, kStale);
    EXPECT_EQ(session_.GetAttr(c).attributes.fileid, cFileId); // other objects keep theirs

    fs::create_directory(Disk("folder"));
    EXPECT_EQ(StatusOf(kRemove, DirOp(Root(), "folder")), kAcces);
    EXPECT_EQ(StatusOf(kRemove, DirOp(Root(), "missing")), kNoEnt);
    EXPECT_EQ(StatusOf(kRemove, DirOp(Root(), "../c.txt")), kAcces);
    SetReadOnly(Disk("b.txt"), true);
    EXPECT_EQ(StatusOf(kRemove, DirOp(Root(), "b.txt")), kAcces);
    EXPECT_TRUE(fs::exists(Disk("b.txt")));
}

TEST_F(NfsNamespaceTest, RmDirRemovesOnlyEmptyFolders) {
    fs::create_directory(Disk("full"));
    ASSERT_TRUE(WriteFile(Disk("full/f.txt"), "f"));
    fs::create_directory(Disk("empty"));
    const std::uint32_t empty = HandleOf(Root(), "empty");

    RpcReply full = session_.Call(kRmDir, DirOp(Root(), "full"));
    EXPECT_EQ(session_.Status(full), kNotEmpty);
    ExpectFalseMarkers(full, 2);
    EXPECT_TRUE(fs::exists(Disk("full/f.txt")));

    RpcReply removed = session_.Call(kRmDir, DirOp(Root(), "empty"));
    ASSERT_EQ(session_.Status(removed), kOk) << removed;
    GetWcc(removed.body);
    EXPECT_TRUE(removed.body.AtEnd());
    EXPECT_FALSE(fs::exists(Disk("empty")));
    EXPECT_EQ(session_.GetAttr(empty).status, kStale);
}

TEST_F(NfsNamespaceTest, RenameMovesOnlyOntoFreeNames) {
    ASSERT_TRUE(WriteFile(Disk("a.txt"), "A"));
    ASSERT_TRUE(WriteFile(Disk("b.txt"), "B"));
    fs::create_directory(Disk("sub"));
    const std::uint32_t a = HandleOf(Root(), "a.txt");
    const std::uint32_t sub = HandleOf(Root(), "sub");

    RpcReply onto = session_.Call(kRename, RenameArgs(Root(), "a.txt", Root(), "b.txt"));
    ASSERT_EQ(session_.Status(onto), kNotDir);
    ExpectFalseMarkers(onto, 4);
    EXPECT_EQ(ReadFile(Disk("a.txt")), "A");
    EXPECT_EQ(ReadFile(Disk("b.txt")), "B");
    // Onto a folder the platform's already-exists error is a fault.
    EXPECT_EQ(StatusOf(kRename, RenameArgs(Root(), "a.txt", Root(), "sub")), kServerFault);
    EXPECT_EQ(StatusOf(kRename, RenameArgs(Root(), "a.txt", Root(), "../a.txt")), kAcces);
    EXPECT_EQ(StatusOf(kRename, RenameArgs(sub, "../../b.txt", Root(), "c.txt")), kAcces);

    RpcReply moved = session_.Call(kRename, RenameArgs(Root(), "a.txt", sub, "c.txt"));
    ASSERT_EQ(session_.Status(moved), kOk) << moved;
    const Wcc from = GetWcc(moved.body);
    const Wcc to = GetWcc(moved.body);
    EXPECT_TRUE(moved.body.AtEnd());
    ASSERT_TRUE(from.after && to.after);
    EXPECT_NE(from.after->fileid, to.after->fileid);
    EXPECT_FALSE(fs::exists(Disk("a.txt")));
    EXPECT_EQ(ReadFile(Disk("sub/c.txt")), "A");
    EXPECT_EQ(session_.GetAttr(a).status, kStale);
    const LookupResult found = session_.Lookup(sub, "c.txt");
    ASSERT_EQ(found.status, kOk);
    EXPECT_EQ(found.attributes.size, 1u);
}

TEST_F(NfsNamespaceTest, RenameOfFolderRetiresEveryEntryFoundThroughIt) {
    fs::create_directories(Disk("dir/inner"));
    ASSERT_TRUE(WriteFile(Disk("dir/inner/f.txt"), "f"));
    const std::uint32_t dir = HandleOf(Root(), "dir");
    const std::uint32_t inner = HandleOf(dir, "inner");
    const std::uint32_t file = HandleOf(inner, "f.txt");

    ASSERT_EQ(StatusOf(kRename, RenameArgs(Root(), "dir", Root(), "moved")), kOk);
    for (const std::uint32_t handle : {dir, inner, file})
        EXPECT_EQ(session_.GetAttr(handle).status, kStale);
    EXPECT_EQ(session_.Lookup(HandleOf(HandleOf(Root(), "moved"), "inner"), "f.txt").status, kOk);
}

TEST_F(NfsNamespaceTest, FsStatReportsVolumeBytesAndNoFileCounts) {
    RpcReply reply = session_.Call(kFsStat, XdrArgs().PutHandle(Root()));
    ASSERT_EQ(session_.Status(reply), kOk) << reply;
    XdrDecoder& in = reply.body;
    ASSERT_TRUE(GetPostOpAttr(in).has_value());
    const std::uint64_t total = in.GetUInt64(), free = in.GetUInt64(), available = in.GetUInt64();
    EXPECT_GT(total, 0u);
    EXPECT_LE(free, total);
    EXPECT_LE(available, free);
    const fs::space_info space = fs::space(Disk(""));
    EXPECT_NEAR(static_cast<double>(total), static_cast<double>(space.capacity),
                static_cast<double>(space.capacity) / 100);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(in.GetUInt64(), 0u); // tfiles, ffiles, afiles
    EXPECT_EQ(in.GetUInt32(), 0u);     // invarsec
    EXPECT_TRUE(in.AtEnd());
}

TEST_F(NfsNamespaceTest, FsInfoAnnouncesTransferLimitsAndTheSectorMultiple) {
    std::uint32_t bytesPerSector = 0;
    ASSERT_TRUE(platform::GetVolumeBytesPerSector(Disk("").u16string(), bytesPerSector));
    ASSERT_TRUE(WriteFile(Disk("f.txt"), "f"));
    // A file has no geometry of its own and answers its folder's.
    for (const std::uint32_t handle : {Root(), HandleOf(Root(), "f.txt")}) {
        RpcReply reply = session_.Call(kFsInfo, XdrArgs().PutHandle(handle));
        ASSERT_EQ(session_.Status(reply), kOk) << reply;
        XdrDecoder& in = reply.body;
        ASSERT_TRUE(GetPostOpAttr(in).has_value());
        EXPECT_EQ(in.GetUInt32(), 10485760u); // rtmax
        EXPECT_EQ(in.GetUInt32(), 10485760u); // rtpref
        EXPECT_EQ(in.GetUInt32(), bytesPerSector);
        EXPECT_EQ(in.GetUInt32(), 10481664u); // wtmax: a whole WRITE fits one record
        EXPECT_EQ(in.GetUInt32(), 10481664u); // wtpref
        EXPECT_EQ(in.GetUInt32(), bytesPerSector);
        EXPECT_EQ(in.GetUInt32(), 10485760u); // dtpref
        EXPECT_EQ(in.GetUInt64(), ~std::uint64_t{0});
        EXPECT_EQ(in.GetUInt32(), 0u); // time_delta
        EXPECT_EQ(in.GetUInt32(), 0u);
        EXPECT_EQ(in.GetUInt32(), 16u); // FSF3_CANSETTIME only
        EXPECT_TRUE(in.AtEnd());
    }
}

TEST_F(NfsNamespaceTest, PathConfAnswersTheLimitsAndTheFileSystemsCaseRule) {
    RpcReply reply = session_.Call(kPathConf, XdrArgs().PutHandle(Root()));
    ASSERT_EQ(session_.Status(reply), kOk) << reply;
    XdrDecoder& in = reply.body;
    ASSERT_TRUE(GetPostOpAttr(in).has_value());
    EXPECT_EQ(in.GetUInt32(), 0u);   // linkmax
    EXPECT_EQ(in.GetUInt32(), 260u); // name_max
    EXPECT_TRUE(in.GetBool());       // no_trunc
    EXPECT_TRUE(in.GetBool());       // chown_restricted
#ifdef _WIN32
    EXPECT_TRUE(in.GetBool()); // case_insensitive
#else
    EXPECT_FALSE(in.GetBool());            // case_insensitive: not on the test's Linux file system
#endif
    EXPECT_TRUE(in.GetBool()); // case_preserving
    EXPECT_TRUE(in.AtEnd());
}

TEST_F(NfsNamespaceTest, LinksAndSpecialFilesAreUnavailable) {
    for (const std::uint32_t procedure : {kReadLink, kSymLink, kMkNod, kLink}) {
        const RpcReply reply = session_.Call(procedure, XdrArgs().PutHandle(Root()));
        ASSERT_TRUE(reply.Accepted()) << reply;
        EXPECT_EQ(reply.acceptStatus, kProcUnavail) << procedure;
    }
}

} // namespace
} // namespace rpctest::nfs3
