// NFS NULL, GETATTR, SETATTR, LOOKUP and ACCESS against a running daemon, plus the handle
// gate that every procedure shares.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "common/platform/FileSystem.h"
#include "tests/support/NfsNamespaceCalls.h"

namespace rpctest::nfs3 {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kSetTimeToServer = 1, kSetTimeToClient = 2;
constexpr std::uint32_t k1999 = 915148800; // 1999-01-01 00:00:00 UTC
constexpr std::int64_t k2010 = 1262304000; // 2010-01-01 00:00:00 UTC

class NfsLookupTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(session_.Ready()); }
    std::uint32_t Root() const { return session_.Root(); }
    fs::path Disk(std::string_view relative) const { return session_.Disk(relative); }

    // Looks up an existing name and returns its handle (0 on failure, with a test failure).
    std::uint32_t HandleOf(std::uint32_t directory, std::string_view name) {
        const LookupResult result = session_.Lookup(directory, name);
        EXPECT_EQ(result.status, kOk) << name;
        return result.handle;
    }

    NfsSession session_;
};

// The encoded nfs_fh3 of one gate case.
Bytes EncodedHandle(std::uint32_t length, std::uint32_t id) {
    XdrArgs args;
    args.PutUInt32(length);
    for (std::uint32_t i = 0; i < length; i += 4)
        args.PutUInt32(id);
    return args.Data();
}

struct GateCase {
    const char* name;
    std::uint32_t procedure;
    int failureMarkers; // false words that follow a failed status
    XdrArgs (*args)(const Bytes& handle, std::uint32_t root);
};

const GateCase kGateCases[] = {
    {"GETATTR", kGetAttr, 0, [](const Bytes& h, std::uint32_t) { return XdrArgs().PutRaw(h); }},
    {"SETATTR", kSetAttr, 2,
     [](const Bytes& h, std::uint32_t) {
         XdrArgs args;
         return PutSetAttr(args.PutRaw(h), {}).PutBool(false);
     }},
    {"LOOKUP", kLookup, 1,
     [](const Bytes& h, std::uint32_t) { return XdrArgs().PutRaw(h).PutString("x"); }},
    {"ACCESS", kAccess, 1,
     [](const Bytes& h, std::uint32_t) { return XdrArgs().PutRaw(h).PutUInt32(0x3F); }},
    {"CREATE", kCreate, 2,
     [](const Bytes& h, std::uint32_t) {
         XdrArgs args;
         return PutSetAttr(args.PutRaw(h).PutString("x").PutUInt32(0), {});
     }},
    {"MKDIR", kMkDir, 2,
     [](const Bytes& h, std::uint32_t) {
         XdrArgs args;
         return PutSetAttr(args.PutRaw(h).PutString("x"), {});
     }},
    {"REMOVE", kRemove, 2,
     [](const Bytes& h, std::uint32_t) { return XdrArgs().PutRaw(h).PutString("x"); }},
    {"RMDIR", kRmDir, 2,
     [](const Bytes& h, std::uint32_t) { return XdrArgs().PutRaw(h).PutString("x"); }},
    {"RENAME from", kRename, 4,
     [](const Bytes& h, std::uint32_t root) {
         return XdrArgs().PutRaw(h).PutString("x").PutHandle(root).PutString("y");
     }},
    {"RENAME to", kRename, 4,
     [](const Bytes& h, std::uint32_t root) {
         return XdrArgs().PutHandle(root).PutString("x").PutRaw(h).PutString("y");
     }},
    {"FSSTAT", kFsStat, 1, [](const Bytes& h, std::uint32_t) { return XdrArgs().PutRaw(h); }},
    {"FSINFO", kFsInfo, 1, [](const Bytes& h, std::uint32_t) { return XdrArgs().PutRaw(h); }},
    {"PATHCONF", kPathConf, 1, [](const Bytes& h, std::uint32_t) { return XdrArgs().PutRaw(h); }},
};

TEST_F(NfsLookupTest, EveryProcedureRejectsZeroUnknownAndMisshapenHandles) {
    const std::uint32_t unknown = Root() + 0x10000;
    for (const GateCase& gate : kGateCases) {
        SCOPED_TRACE(gate.name);
        for (const auto& [id, status] : {std::pair{0u, kBadHandle}, std::pair{unknown, kStale}}) {
            RpcReply reply = session_.Call(gate.procedure, gate.args(EncodedHandle(4, id), Root()));
            ASSERT_EQ(session_.Status(reply), status) << reply;
            for (int i = 0; i < gate.failureMarkers; ++i)
                EXPECT_FALSE(reply.body.GetBool());
            EXPECT_TRUE(reply.body.AtEnd());
        }
        const RpcReply garbage =
            session_.Call(gate.procedure, gate.args(EncodedHandle(8, Root()), Root()));
        ASSERT_TRUE(garbage.Accepted()) << garbage;
        EXPECT_EQ(garbage.acceptStatus, kGarbageArgs);
    }
}

TEST_F(NfsLookupTest, NullAnswersWithoutResults) {
    const RpcReply reply = session_.Call(kNull, {});
    ASSERT_TRUE(reply.Succeeded()) << reply;
    EXPECT_EQ(reply.body.Remaining(), 0u);
}

TEST_F(NfsLookupTest, GetAttrReportsFixedOwnershipAndAFileIdOfItsOwn) {
    ASSERT_TRUE(WriteFile(Disk("a.bin"), "12345"));
    fs::last_write_time(Disk("a.bin"), FileTimeOf(k2010));
    ASSERT_TRUE(WriteFile(Disk("ro.txt"), "r"));
    SetReadOnly(Disk("ro.txt"), true);

    const AttrResult root = session_.GetAttr(Root());
    ASSERT_EQ(root.status, kOk);
    EXPECT_TRUE(root.reply.body.AtEnd()); // the record alone, no post_op marker
    EXPECT_EQ(root.attributes.type, kDirectory);
    EXPECT_EQ(root.attributes.mode, 0666u);
    EXPECT_NE(root.attributes.fileid, 0u); // "ls -i" shows 0 as "?"

    const AttrResult file = session_.GetAttr(HandleOf(Root(), "a.bin"));
    ASSERT_EQ(file.status, kOk);
    const Fattr& a = file.attributes;
    EXPECT_EQ(a.type, kRegular);
    EXPECT_EQ(a.mode, 0666u);
    EXPECT_EQ(a.nlink, 1u);
    EXPECT_EQ(a.uid, 0u);
    EXPECT_EQ(a.gid, 0u);
    EXPECT_EQ(a.size, 5u);
    EXPECT_EQ(a.used, 5u);
    EXPECT_NE(a.fileid, 0u);
    EXPECT_NE(a.fileid, root.attributes.fileid);
    EXPECT_EQ(a.mtime.seconds, static_cast<std::uint32_t>(k2010));
    EXPECT_EQ(a.atime.seconds, 0u); // a file's access time is never reported
    EXPECT_EQ(a.atime.nanoseconds, 0u);

    const AttrResult readOnly = session_.GetAttr(HandleOf(Root(), "ro.txt"));
    EXPECT_EQ(readOnly.attributes.mode, 0444u);
    EXPECT_NE(readOnly.attributes.fileid, 0u);
    EXPECT_NE(readOnly.attributes.fileid, a.fileid);
}

TEST_F(NfsLookupTest, FolderTimesAreThoseOfItsNewestEntry) {
    fs::create_directory(Disk("old"));
    ASSERT_TRUE(WriteFile(Disk("old/new.txt"), "x"));
    const std::int64_t tomorrow = UnixNow() + 86400;
    fs::last_write_time(Disk("old/new.txt"), FileTimeOf(tomorrow));

    const AttrResult folder = session_.GetAttr(HandleOf(Root(), "old"));
    ASSERT_EQ(folder.status, kOk);
    EXPECT_EQ(folder.attributes.mtime.seconds, static_cast<std::uint32_t>(tomorrow));
    EXPECT_EQ(folder.attributes.atime.seconds, static_cast<std::uint32_t>(tomorrow));
}

TEST(NfsHandleLifetime, HandleFromAnEarlierDaemonIsStale) {
    std::optional<NfsSession> first(std::in_place);
    ASSERT_TRUE(first->Ready());
    ASSERT_TRUE(WriteFile(first->Disk("a.txt"), "a"));
    const std::uint32_t kept = first->Lookup(first->Root(), "a.txt").handle;
    ASSERT_NE(kept, 0u);
    first.reset();

    NfsSession second;
    ASSERT_TRUE(second.Ready());
    ASSERT_TRUE(WriteFile(second.Disk("a.txt"), "a"));
    EXPECT_EQ(second.GetAttr(kept).status, kStale);
}

TEST_F(NfsLookupTest, LookupFindsOneEntryPerName) {
    ASSERT_TRUE(WriteFile(Disk("readme"), "text"));
    const LookupResult first = session_.Lookup(Root(), "readme");
    ASSERT_EQ(first.status, kOk);
    EXPECT_EQ(first.attributes.size, 4u);
    XdrDecoder body = first.reply.body;
    const std::optional<Fattr> directory = GetPostOpAttr(body);
    ASSERT_TRUE(directory.has_value());
    EXPECT_EQ(directory->type, kDirectory);
    EXPECT_TRUE(body.AtEnd());

    EXPECT_EQ(session_.Lookup(Root(), "readme").handle, first.handle);
}

// Names match as the file system holding them matches them: on Windows ignoring case, on a
// Linux file system exactly, where Film.txt, film.txt and FILM.TXT are three files.
TEST_F(NfsLookupTest, LookupMatchesNamesAsTheFileSystemDoes) {
    const char* const names[] = {"Film.txt", "film.txt", "FILM.TXT"};
#ifdef _WIN32
    ASSERT_TRUE(WriteFile(Disk("Film.txt"), "one"));
    const LookupResult first = session_.Lookup(Root(), "Film.txt");
    ASSERT_EQ(first.status, kOk);
    for (const char* name : names) {
        const LookupResult other = session_.Lookup(Root(), name);
        EXPECT_EQ(other.handle, first.handle) << name;
        EXPECT_EQ(other.attributes.fileid, first.attributes.fileid) << name;
    }
#else
    std::set<std::uint32_t> handles;
    for (const char* name : names)
        ASSERT_TRUE(WriteFile(Disk(name), std::string(name) + " holds this"));
    for (const char* name : names) {
        const LookupResult found = session_.Lookup(Root(), name);
        ASSERT_EQ(found.status, kOk) << name;
        EXPECT_EQ(found.attributes.size, std::string(name).size() + 11) << name;
        handles.insert(found.handle);
    }
    EXPECT_EQ(handles.size(), 3u);
    EXPECT_EQ(session_.Lookup(Root(), "fILM.txt").status, kNoEnt);
#endif
}

TEST_F(NfsLookupTest, LookupGoesOneLevelPerName) {
    fs::create_directories(Disk("a/b"));
    ASSERT_TRUE(WriteFile(Disk("a/b/c.txt"), "abc"));
    EXPECT_EQ(session_.Lookup(Root(), "a/b").status, kAcces);
    const LookupResult b = session_.Lookup(HandleOf(Root(), "a"), "b");
    ASSERT_EQ(b.status, kOk);
    EXPECT_EQ(b.attributes.type, kDirectory);
    const LookupResult c = session_.Lookup(b.handle, "c.txt");
    ASSERT_EQ(c.status, kOk);
    EXPECT_EQ(c.attributes.size, 3u);

    // A file handle is no directory to look up in.
    RpcReply reply = session_.Call(kLookup, DirOp(c.handle, "x"));
    EXPECT_EQ(session_.Status(reply), kNotDir);
}

TEST_F(NfsLookupTest, LookupOfMissingNameAnswersNoEntWithOneMarker) {
    RpcReply reply = session_.Call(kLookup, DirOp(Root(), "missing"));
    ASSERT_EQ(session_.Status(reply), kNoEnt);
    EXPECT_FALSE(reply.body.GetBool());
    EXPECT_TRUE(reply.body.AtEnd());
}

TEST_F(NfsLookupTest, NamesThatLeaveTheExportAreRefused) {
    fs::create_directories(Disk("a/sub"));
    EXPECT_EQ(session_.Lookup(Root(), "..").status, kAcces);
    EXPECT_EQ(session_.Lookup(Root(), "a/../../x").status, kAcces);
    EXPECT_EQ(session_.Lookup(Root(), ".").status, kOk);

    const std::uint32_t a = HandleOf(Root(), "a");
    const std::uint32_t sub = HandleOf(a, "sub");
    const LookupResult up = session_.Lookup(sub, "..");
    ASSERT_EQ(up.status, kOk);
    EXPECT_EQ(up.attributes.type, kDirectory);
    EXPECT_EQ(session_.Lookup(up.handle, "..").status, kOk);
    EXPECT_EQ(session_.Lookup(session_.Lookup(up.handle, "..").handle, "..").status, kAcces);
}

TEST_F(NfsLookupTest, PathLimitCountsUtf16UnitsBeforeAnyAttributeIsRead) {
    fs::create_directory(Disk("deep"));
    const std::uint32_t deep = HandleOf(Root(), "deep");
    const std::size_t room = 260 - session_.ServerPathLength(deep);
    ASSERT_GT(room, 10u);
    // One two-byte character: a byte count would pass the limit where the unit count does not.
    const std::string fits = "\xC3\xA9" + std::string(room - 1, 'n');
    const std::string over = fits + "n";
    ASSERT_TRUE(WriteFile(Disk("deep/" + fits), "x"));

    EXPECT_EQ(session_.Lookup(deep, fits).status, kOk);
    EXPECT_EQ(session_.Lookup(deep, over).status, kNameTooLong);
    fs::remove_all(Disk("deep"));
    EXPECT_EQ(session_.Lookup(deep, over).status, kNameTooLong);
    const std::uint32_t vanished = session_.Lookup(deep, fits).status;
    EXPECT_NE(vanished, kOk);
    EXPECT_NE(vanished, kNameTooLong);
}

TEST_F(NfsLookupTest, NameLengthsOfOneToThousandTwentyThreeBytesDecode) {
    RpcReply longest = session_.Call(kLookup, DirOp(Root(), std::string(1023, 'n')));
    EXPECT_EQ(session_.Status(longest), kNameTooLong) << longest;
    for (const std::size_t length : {std::size_t{0}, std::size_t{1024}}) {
        const RpcReply reply = session_.Call(kLookup, DirOp(Root(), std::string(length, 'n')));
        ASSERT_TRUE(reply.Accepted()) << reply;
        EXPECT_EQ(reply.acceptStatus, kGarbageArgs) << length;
    }
}

TEST(NfsNameEncoding, NamesArriveInTheDaemonsCodePage) {
    TestDaemonOptions western;
    western.codePage = 1252;
    NfsSession ansi(western);
    ASSERT_TRUE(ansi.Ready());
    ASSERT_TRUE(WriteFile(ansi.Disk("\xC3\xA9"), "e"));
    EXPECT_EQ(ansi.Lookup(ansi.Root(), "\xE9").status, kOk);

    NfsSession utf8; // 65001
    ASSERT_TRUE(utf8.Ready());
    ASSERT_TRUE(WriteFile(utf8.Disk("\xC3\xA9"), "e"));
    EXPECT_EQ(utf8.Lookup(utf8.Root(), "\xC3\xA9").status, kOk);
    EXPECT_EQ(utf8.Lookup(utf8.Root(), "\xE9").status, kNoEnt);
}

TEST_F(NfsLookupTest, AccessGrantsEveryRequestedBit) {
    ASSERT_TRUE(WriteFile(Disk("ro.txt"), "r"));
    SetReadOnly(Disk("ro.txt"), true);
    for (const std::uint32_t handle : {HandleOf(Root(), "ro.txt"), Root()}) {
        RpcReply reply = session_.Call(kAccess, XdrArgs().PutHandle(handle).PutUInt32(0x3F));
        ASSERT_EQ(session_.Status(reply), kOk);
        const std::optional<Fattr> attributes = GetPostOpAttr(reply.body);
        ASSERT_TRUE(attributes.has_value());
        EXPECT_EQ(attributes->mode, handle == Root() ? 0666u : 0444u);
        EXPECT_EQ(reply.body.GetUInt32(), 0x3Fu);
        EXPECT_TRUE(reply.body.AtEnd());
    }
}

TEST_F(NfsLookupTest, VanishedFileIsStaleForGetAttrAndAccessAlike) {
    ASSERT_TRUE(WriteFile(Disk("gone.txt"), "x"));
    ASSERT_TRUE(WriteFile(Disk("other.txt"), "x"));
    const std::uint32_t handle = HandleOf(Root(), "gone.txt");
    const std::uint32_t other = HandleOf(Root(), "other.txt");
    fs::remove(Disk("gone.txt"));
    fs::remove(Disk("other.txt"));

    AttrResult attributes = session_.GetAttr(handle);
    EXPECT_EQ(attributes.status, kStale);
    EXPECT_TRUE(attributes.reply.body.AtEnd());
    RpcReply access = session_.Call(kAccess, XdrArgs().PutHandle(other).PutUInt32(1));
    EXPECT_EQ(session_.Status(access), kStale);
    EXPECT_FALSE(access.body.GetBool());
    EXPECT_TRUE(access.body.AtEnd());
}

// A name whose object was replaced on disk by one of the other kind is looked up afresh: the
// old handle is stale, the new one reaches the new object, also below a replaced folder.
TEST_F(NfsLookupTest, NameReplacedByTheOtherKindGetsAFreshEntry) {
    ASSERT_TRUE(WriteFile(Disk("clip"), "was a file"));
    const std::uint32_t asFile = HandleOf(Root(), "clip");
    fs::remove(Disk("clip"));
    fs::create_directories(Disk("clip/inner"));
    ASSERT_TRUE(WriteFile(Disk("clip/inner/x.txt"), "xyz"));

    const LookupResult asFolder = session_.Lookup(Root(), "clip");
    ASSERT_EQ(asFolder.status, kOk);
    EXPECT_EQ(asFolder.attributes.type, kDirectory);
    EXPECT_NE(asFolder.handle, asFile);
    EXPECT_EQ(session_.GetAttr(asFile).status, kStale);
    const LookupResult inner = session_.Lookup(HandleOf(asFolder.handle, "inner"), "x.txt");
    ASSERT_EQ(inner.status, kOk);
    EXPECT_EQ(inner.attributes.size, 3u);

    // And back: the folder (and what was found through it) gives way to a file.
    fs::remove_all(Disk("clip"));
    ASSERT_TRUE(WriteFile(Disk("clip"), "a file again"));
    const LookupResult again = session_.Lookup(Root(), "clip");
    ASSERT_EQ(again.status, kOk);
    EXPECT_EQ(again.attributes.type, kRegular);
    EXPECT_EQ(again.attributes.size, 12u);
    EXPECT_EQ(session_.GetAttr(asFolder.handle).status, kStale);
    EXPECT_EQ(session_.GetAttr(inner.handle).status, kStale);
}

class NfsSetAttrTest : public NfsLookupTest {
  protected:
    // SETATTR with a guard (checked or not); the reply is left after the status.
    RpcReply CallSetAttr(std::uint32_t handle, const SetAttr& attributes, bool guard = false) {
        XdrArgs args;
        PutSetAttr(args.PutHandle(handle), attributes).PutBool(guard);
        if (guard)
            args.PutUInt32(k1999).PutUInt32(0);
        return session_.Call(kSetAttr, args);
    }
};

TEST_F(NfsSetAttrTest, OwnershipAndModeAreNotSupportedAndDirectoriesRefused) {
    ASSERT_TRUE(WriteFile(Disk("w.txt"), "data"));
    const std::uint32_t file = HandleOf(Root(), "w.txt");
    for (const SetAttr& change : {SetAttr{.mode = 0444}, SetAttr{.uid = 1}, SetAttr{.gid = 1}}) {
        RpcReply reply = CallSetAttr(file, change);
        ASSERT_EQ(session_.Status(reply), kNotSupp);
        EXPECT_FALSE(reply.body.GetBool());
        EXPECT_FALSE(reply.body.GetBool());
        EXPECT_TRUE(reply.body.AtEnd());
    }
    EXPECT_FALSE(IsReadOnly(Disk("w.txt")));

    RpcReply directory = CallSetAttr(Root(), SetAttr{.mtimeHow = kSetTimeToServer});
    EXPECT_EQ(session_.Status(directory), kAcces);

    // A read-only file cannot be opened for writing, even by an administrator.
    SetReadOnly(Disk("w.txt"), true);
    RpcReply readOnly = CallSetAttr(file, SetAttr{.size = 0});
    EXPECT_EQ(session_.Status(readOnly), kAcces);
    SetReadOnly(Disk("w.txt"), false);
    EXPECT_EQ(ReadFile(Disk("w.txt")), "data");
}

TEST_F(NfsSetAttrTest, SizeTruncatesAndGrowsBeyondFourGigabytesWorth) {
    ASSERT_TRUE(WriteFile(Disk("t.txt"), "hello"));
    const std::uint32_t file = HandleOf(Root(), "t.txt");

    RpcReply cut = CallSetAttr(file, SetAttr{.size = 0});
    ASSERT_EQ(session_.Status(cut), kOk);
    const Wcc wcc = GetWcc(cut.body);
    EXPECT_TRUE(wcc.hasBefore);
    EXPECT_EQ(wcc.beforeSize, 5u);
    ASSERT_TRUE(wcc.after.has_value());
    EXPECT_EQ(wcc.after->size, 0u);
    EXPECT_TRUE(cut.body.AtEnd());
    EXPECT_EQ(fs::file_size(Disk("t.txt")), 0u);

    constexpr std::uint64_t kThreeGiB = 3221225472;
    RpcReply grow = CallSetAttr(file, SetAttr{.size = kThreeGiB});
    ASSERT_EQ(session_.Status(grow), kOk);
    EXPECT_EQ(GetWcc(grow.body).after->size, kThreeGiB);
    EXPECT_EQ(fs::file_size(Disk("t.txt")), kThreeGiB);
    fs::resize_file(Disk("t.txt"), 0);
}

TEST_F(NfsSetAttrTest, TimesAreSetToTheClientsTimeOrTheServerClockAndTheGuardIsOnlyDecoded) {
    ASSERT_TRUE(WriteFile(Disk("t.txt"), "t"));
    fs::last_write_time(Disk("t.txt"), FileTimeOf(k2010));
    const std::uint32_t file = HandleOf(Root(), "t.txt");

    // touch -d and cp -p: the client's own times (1999, and a second later for the access
    // time), followed by an unchecked guard: the 8 time bytes must be consumed.
    const SetAttr clientTime{.atimeHow = kSetTimeToClient,
                             .mtimeHow = kSetTimeToClient,
                             .atime = {k1999 + 1, 0},
                             .mtime = {k1999, 123456700}};
    RpcReply reply = CallSetAttr(file, clientTime);
    ASSERT_EQ(session_.Status(reply), kOk) << reply;
    const Wcc wcc = GetWcc(reply.body);
    EXPECT_EQ(wcc.beforeMtime.seconds, static_cast<std::uint32_t>(k2010));
    ASSERT_TRUE(wcc.after.has_value());
    EXPECT_EQ(wcc.after->mtime.seconds, static_cast<std::uint32_t>(k1999));
    EXPECT_EQ(wcc.after->mtime.nanoseconds, 123456700u);
    EXPECT_EQ(UnixSeconds(fs::last_write_time(Disk("t.txt"))), k1999);
    platform::OpenOptions attributesOnly;
    attributesOnly.access = platform::FileAccess::Attributes;
    std::uint64_t lastAccess = 0;
    ASSERT_TRUE(platform::File::Open(Disk("t.txt").u16string(), attributesOnly)
                    .GetTimes(nullptr, &lastAccess, nullptr));
    EXPECT_EQ(lastAccess, (static_cast<std::uint64_t>(k1999 + 1) + 11644473600ull) * 10000000);

    // A time with a billion nanoseconds or more is no time.
    const SetAttr invalid{.mtimeHow = kSetTimeToClient, .mtime = {k1999, 1000000000}};
    RpcReply refused = CallSetAttr(file, invalid);
    EXPECT_EQ(session_.Status(refused), kInval);
    EXPECT_EQ(UnixSeconds(fs::last_write_time(Disk("t.txt"))), k1999);

    // The server's clock; a checked guard that does not match is never NOT_SYNC.
    const SetAttr serverTime{.atimeHow = kSetTimeToServer, .mtimeHow = kSetTimeToServer};
    RpcReply guarded = CallSetAttr(file, serverTime, true);
    ASSERT_EQ(session_.Status(guarded), kOk) << guarded;
    const Wcc now = GetWcc(guarded.body);
    ASSERT_TRUE(now.after.has_value());
    EXPECT_NEAR(static_cast<double>(now.after->mtime.seconds), static_cast<double>(UnixNow()),
                120.0);
}

} // namespace
} // namespace rpctest::nfs3
