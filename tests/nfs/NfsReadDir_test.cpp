// READDIR and READDIRPLUS against a running daemon over loopback: snapshots, cookies,
// verifiers, size accounting and the handles READDIRPLUS hands out.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "tests/support/NfsDataTest.h"

namespace rpctest::nfsdata {
namespace {

constexpr std::uint64_t kNoFileId = ~std::uint64_t{0};
constexpr std::uint32_t kLarge = 65536;
// What precedes the first entry of a listing over TCP: record mark, reply header (xid, reply,
// accepted, verifier, accept status), status, directory attributes, cookie verifier.
constexpr std::uint32_t kTcpListingHead = 4 + 24 + 4 + 88 + 8;

struct Entry {
    std::uint64_t fileId = 0;
    std::string name;
    std::uint64_t cookie = 0;
    bool hasAttributes = false;
    Attributes attributes;
    bool hasHandle = false;
    std::uint32_t handle = 0;
};

struct Listing {
    RpcReply reply;
    std::uint32_t status = 0xFFFFFFFFu;
    std::uint64_t verifier = 0;
    std::vector<Entry> entries;
    bool eof = false;

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const Entry& entry : entries)
            names.push_back(entry.name);
        return names;
    }
    const Entry* Find(std::string_view name) const {
        for (const Entry& entry : entries) {
            if (entry.name == name)
                return &entry;
        }
        return nullptr;
    }
};

Listing ParseListing(RpcReply reply, bool plus) {
    Listing listing;
    listing.reply = std::move(reply);
    if (!listing.reply.Succeeded())
        return listing;
    XdrDecoder& in = listing.reply.body;
    listing.status = in.GetUInt32();
    if (listing.status != kOk) {
        EXPECT_FALSE(in.GetBool());
        EXPECT_TRUE(in.AtEnd());
        return listing;
    }
    EXPECT_TRUE(in.GetBool()) << "directory attributes";
    EXPECT_EQ(GetAttributes(in).type, kTypeDirectory);
    listing.verifier = in.GetUInt64();
    while (in.Ok() && in.GetBool()) {
        Entry entry;
        entry.fileId = in.GetUInt64();
        entry.name = in.GetString(1024);
        entry.cookie = in.GetUInt64();
        if (plus) {
            entry.hasAttributes = in.GetBool();
            if (entry.hasAttributes)
                entry.attributes = GetAttributes(in);
            entry.hasHandle = in.GetBool();
            if (entry.hasHandle) {
                const Bytes handle = in.GetOpaque(64);
                EXPECT_EQ(handle.size(), 4u);
                if (handle.size() == 4)
                    entry.handle = (std::uint32_t{handle[0]} << 24) |
                                   (std::uint32_t{handle[1]} << 16) |
                                   (std::uint32_t{handle[2]} << 8) | handle[3];
            }
        }
        listing.entries.push_back(std::move(entry));
    }
    listing.eof = in.GetBool();
    EXPECT_TRUE(in.AtEnd());
    return listing;
}

class NfsReadDir : public MountedExport {
  protected:
    void SetUp() override {
        MountedExport::SetUp();
        std::filesystem::create_directory(Path("d"));
        ASSERT_TRUE(WriteFile(Path("d/a"), Pattern(10)));
        ASSERT_TRUE(WriteFile(Path("d/b"), Pattern(20)));
        folder_ = MountFolder("/d");
    }

    Listing ReadDir(std::uint32_t directory, std::uint64_t cookie, std::uint64_t verifier,
                    std::uint32_t count, RpcClient* client = nullptr) {
        RpcClient& via = client != nullptr ? *client : client_;
        return ParseListing(
            via.NfsCall(
                kProcReadDir,
                XdrArgs().PutHandle(directory).PutUInt64(cookie).PutUInt64(verifier).PutUInt32(
                    count)),
            false);
    }

    Listing ReadDirPlus(std::uint32_t directory, std::uint64_t cookie, std::uint64_t verifier,
                        std::uint32_t dirCount, std::uint32_t maxCount) {
        return ParseListing(client_.NfsCall(kProcReadDirPlus, XdrArgs()
                                                                  .PutHandle(directory)
                                                                  .PutUInt64(cookie)
                                                                  .PutUInt64(verifier)
                                                                  .PutUInt32(dirCount)
                                                                  .PutUInt32(maxCount)),
                            true);
    }

    std::uint32_t folder_ = 0;
};

TEST_F(NfsReadDir, ListingWalksTheSnapshotByCookie) {
    const Listing first = ReadDir(folder_, 0, 0, kLarge);
    ASSERT_EQ(first.status, kOk) << first.reply;
    EXPECT_NE(first.verifier, 0u);
    ASSERT_EQ(first.entries.size(), 4u);
    EXPECT_EQ(first.entries[0].name, ".");
    EXPECT_EQ(first.entries[1].name, "..");
    std::vector<std::string> children{first.entries[2].name, first.entries[3].name};
    std::sort(children.begin(), children.end());
    EXPECT_EQ(children, (std::vector<std::string>{"a", "b"}));
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(first.entries[i].cookie, i + 1);
    EXPECT_TRUE(first.eof);

    const Listing rest = ReadDir(folder_, 2, first.verifier, kLarge);
    ASSERT_EQ(rest.status, kOk);
    EXPECT_EQ(rest.verifier, first.verifier);
    EXPECT_EQ(rest.Names(),
              (std::vector<std::string>{first.entries[2].name, first.entries[3].name}));
    EXPECT_TRUE(rest.eof);

    // The snapshot does not see later changes; at or past its end there is nothing left.
    ASSERT_TRUE(WriteFile(Path("d/c"), Pattern(5)));
    for (std::uint64_t cookie : {4u, 5u, 1000u}) {
        const Listing end = ReadDir(folder_, cookie, first.verifier, kLarge);
        ASSERT_EQ(end.status, kOk) << cookie;
        EXPECT_TRUE(end.entries.empty()) << cookie;
        EXPECT_TRUE(end.eof) << cookie;
    }
    // A new listing replaces the snapshot under the same verifier.
    const Listing fresh = ReadDir(folder_, 0, 0, kLarge);
    EXPECT_EQ(fresh.verifier, first.verifier);
    EXPECT_EQ(fresh.entries.size(), 5u);

    // From cookie 0 a listing starts anew even with the verifier of the last one, as the Linux
    // client asks after a change: a name deleted since is not listed again.
    std::filesystem::remove(Path("d/c"));
    for (const bool plus : {false, true}) {
        const Listing again = plus ? ReadDirPlus(folder_, 0, fresh.verifier, kLarge, kLarge)
                                   : ReadDir(folder_, 0, fresh.verifier, kLarge);
        ASSERT_EQ(again.status, kOk) << plus;
        EXPECT_EQ(again.entries.size(), 4u) << plus;
        EXPECT_EQ(again.Find("c"), nullptr) << plus;
    }
}

// A fileid names one object for as long as the server knows it: every procedure reports the same
// one, removing or renaming other objects (through the server or on disk) leaves it alone, and a
// name made again gets one never seen before. A kernel client fails a file whose fileid changed.
TEST_F(NfsReadDir, FileIdsStayWithTheirObjectsInEveryProcedure) {
    for (const char* name : {"d/c", "d/e", "d/f"})
        ASSERT_TRUE(WriteFile(Path(name), Pattern(4)));
    std::set<std::uint64_t> seen;
    const auto fileIdsNow = [&]() {
        std::map<std::string, std::uint64_t> ids;
        const Listing plain = ReadDir(folder_, 0, 0, kLarge);
        const Listing plus = ReadDirPlus(folder_, 0, 0, kLarge, kLarge);
        EXPECT_EQ(plain.status, kOk);
        EXPECT_EQ(plus.status, kOk);
        for (const Entry& entry : plain.entries) {
            if (entry.name == "." || entry.name == "..")
                continue;
            const Entry* twin = plus.Find(entry.name);
            EXPECT_TRUE(twin != nullptr && twin->fileId == entry.fileId) << entry.name;
            EXPECT_TRUE(twin != nullptr && twin->attributes.fileId == entry.fileId) << entry.name;
            RpcReply looked =
                client_.NfsCall(kProcLookup, XdrArgs().PutHandle(folder_).PutString(entry.name));
            EXPECT_EQ(looked.body.GetUInt32(), kOk) << entry.name;
            looked.body.GetOpaque(64);
            EXPECT_TRUE(looked.body.GetBool());
            EXPECT_EQ(GetAttributes(looked.body).fileId, entry.fileId) << entry.name;
            EXPECT_NE(entry.fileId, 0u);
            EXPECT_NE(entry.fileId, kNoFileId);
            ids[entry.name] = entry.fileId;
            seen.insert(entry.fileId);
        }
        return ids;
    };
    const auto before = fileIdsNow();
    ASSERT_EQ(before.size(), 5u);
    std::set<std::uint64_t> distinct;
    for (const auto& [name, id] : before)
        distinct.insert(id);
    EXPECT_EQ(distinct.size(), before.size());

    RpcReply removed = client_.NfsCall(kProcRemove, XdrArgs().PutHandle(folder_).PutString("a"));
    ASSERT_EQ(removed.body.GetUInt32(), kOk);
    RpcReply renamed = client_.NfsCall(
        kProcRename,
        XdrArgs().PutHandle(folder_).PutString("c").PutHandle(folder_).PutString("c2"));
    ASSERT_EQ(renamed.body.GetUInt32(), kOk);
    std::filesystem::remove(Path("d/e")); // behind the server's back
    const auto after = fileIdsNow();
    for (const char* name : {"b", "f"})
        EXPECT_EQ(after.at(name), before.at(name)) << name;

    // Made again, "a" is a new object with a new fileid.
    const std::size_t known = seen.size();
    ASSERT_TRUE(WriteFile(Path("d/a"), Pattern(3)));
    const auto again = fileIdsNow();
    EXPECT_EQ(seen.size(), known + 1) << "the new a must not reuse any fileid";
    EXPECT_NE(again.at("a"), before.at("a"));
}

TEST_F(NfsReadDir, UnknownVerifiersAndBadHandlesAreRefused) {
    ASSERT_EQ(ReadDir(folder_, 0, 0, kLarge).status, kOk);
    const Listing madeUp = ReadDir(folder_, 2, 0x12345678ABCDull, kLarge);
    EXPECT_EQ(madeUp.status, kErrBadCookie) << madeUp.reply;

    EXPECT_EQ(ReadDir(0, 0, 0, kLarge).status, kErrBadHandle);
    EXPECT_EQ(ReadDir(0x7A7A7A7A, 0, 0, kLarge).status, kErrStale);
    EXPECT_EQ(ReadDirPlus(0x7A7A7A7A, 0, 0, kLarge, kLarge).status, kErrStale);
    const std::uint32_t file = Lookup(folder_, "a");
    ASSERT_NE(file, 0u);
    EXPECT_EQ(ReadDir(file, 0, 0, kLarge).status, kErrNotDir);

    const RpcReply garbage = client_.NfsCall(
        kProcReadDirPlus, XdrArgs().PutHandle(folder_).PutUInt64(0).PutUInt64(0).PutUInt32(10));
    ASSERT_TRUE(garbage.Accepted()) << garbage;
    EXPECT_EQ(garbage.acceptStatus, kGarbageArgs);
}

TEST_F(NfsReadDir, CountBoundsTheReplyIncludingItsHeaders) {
    // The first entry "." takes 24 + 4 bytes, and the list end 8 more.
    constexpr std::uint32_t kFirstEntry = 24 + 4;
    const Listing tooSmall = ReadDir(folder_, 0, 0, kTcpListingHead + kFirstEntry + 8 - 1);
    ASSERT_EQ(tooSmall.status, kOk) << tooSmall.reply;
    EXPECT_TRUE(tooSmall.entries.empty());
    EXPECT_FALSE(tooSmall.eof);

    const Listing one = ReadDir(folder_, 0, tooSmall.verifier, kTcpListingHead + kFirstEntry + 8);
    ASSERT_EQ(one.status, kOk);
    EXPECT_EQ(one.Names(), std::vector<std::string>{"."});
    EXPECT_FALSE(one.eof);

    // A datagram reply has no record mark: the same entry fits a count four bytes smaller.
    RpcClient udp = daemon_.Client(Transport::Udp);
    const Listing overUdp =
        ReadDir(folder_, 0, one.verifier, kTcpListingHead - 4 + kFirstEntry + 8, &udp);
    ASSERT_EQ(overUdp.status, kOk) << overUdp.reply;
    EXPECT_EQ(overUdp.Names(), std::vector<std::string>{"."});
}

TEST_F(NfsReadDir, ReadDirPlusHandsOutTheHandlesLookupFinds) {
    const Listing listing = ReadDirPlus(folder_, 0, 0, kLarge, kLarge);
    ASSERT_EQ(listing.status, kOk) << listing.reply;
    ASSERT_EQ(listing.entries.size(), 4u);
    EXPECT_TRUE(listing.eof);
    for (std::string_view name : {"a", "b"}) {
        const Entry* entry = listing.Find(name);
        ASSERT_NE(entry, nullptr) << name;
        ASSERT_TRUE(entry->hasHandle);
        ASSERT_TRUE(entry->hasAttributes);
        EXPECT_EQ(entry->attributes.type, kTypeRegular);
        EXPECT_EQ(entry->attributes.size, name == "a" ? 10u : 20u);
        EXPECT_EQ(entry->attributes.fileId, entry->fileId);
        EXPECT_EQ(Lookup(folder_, name), entry->handle) << name;
    }
    // Inside the export "." and ".." are entries of their own, with directory attributes.
    for (std::string_view name : {".", ".."}) {
        const Entry* entry = listing.Find(name);
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_TRUE(entry->hasHandle) << name;
        EXPECT_NE(entry->handle, folder_) << name;
        ASSERT_TRUE(entry->hasAttributes) << name;
        EXPECT_EQ(entry->attributes.type, kTypeDirectory) << name;
    }
}

// A name whose file became a folder on disk is handed out with a fresh handle that GETATTR
// answers as a folder; the file's old handle is stale.
TEST_F(NfsReadDir, ReadDirPlusHandsOutAFreshHandleForANameThatChangedKind) {
    const Listing before = ReadDirPlus(folder_, 0, 0, kLarge, kLarge);
    ASSERT_NE(before.Find("a"), nullptr);
    const std::uint32_t fileHandle = before.Find("a")->handle;
    std::filesystem::remove(Path("d/a"));
    std::filesystem::create_directory(Path("d/a"));

    const Listing after = ReadDirPlus(folder_, 0, 0, kLarge, kLarge);
    ASSERT_EQ(after.status, kOk) << after.reply;
    const Entry* entry = after.Find("a");
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(entry->hasHandle);
    ASSERT_TRUE(entry->hasAttributes);
    EXPECT_EQ(entry->attributes.type, kTypeDirectory);
    EXPECT_NE(entry->handle, fileHandle);
    RpcReply fresh = client_.NfsCall(kProcGetAttr, XdrArgs().PutHandle(entry->handle));
    ASSERT_EQ(fresh.body.GetUInt32(), kOk);
    EXPECT_EQ(GetAttributes(fresh.body).type, kTypeDirectory);
    RpcReply stale = client_.NfsCall(kProcGetAttr, XdrArgs().PutHandle(fileHandle));
    EXPECT_EQ(stale.body.GetUInt32(), kErrStale);
}

TEST_F(NfsReadDir, ReadDirPlusAtTheExportRootListsParentBare) {
    ASSERT_TRUE(WriteFile(Path("top.bin"), Pattern(3)));
    const Listing listing = ReadDirPlus(root_, 0, 0, kLarge, kLarge);
    ASSERT_EQ(listing.status, kOk) << listing.reply;
    const Entry* parent = listing.Find("..");
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->fileId, kNoFileId);
    EXPECT_FALSE(parent->hasAttributes);
    EXPECT_FALSE(parent->hasHandle);

    const Entry* folder = listing.Find("d");
    ASSERT_NE(folder, nullptr);
    ASSERT_TRUE(folder->hasAttributes && folder->hasHandle);
    EXPECT_EQ(folder->attributes.type, kTypeDirectory);
    const Entry* file = listing.Find("top.bin");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->hasAttributes && file->hasHandle);
    EXPECT_EQ(file->attributes.size, 3u);
}

TEST_F(NfsReadDir, ReadDirPlusCountsWholeEntriesAgainstDirCountAndMaxCount) {
    // The first entry "." takes 124 + 4 bytes, and the list end 8 more.
    constexpr std::uint32_t kFirstEntry = 124 + 4;
    const Listing atLimit = ReadDirPlus(folder_, 0, 0, kFirstEntry + 8, kLarge);
    ASSERT_EQ(atLimit.status, kOk) << atLimit.reply;
    EXPECT_TRUE(atLimit.entries.empty());
    EXPECT_FALSE(atLimit.eof);

    const Listing one = ReadDirPlus(folder_, 0, atLimit.verifier, kFirstEntry + 8 + 1, kLarge);
    ASSERT_EQ(one.status, kOk);
    EXPECT_EQ(one.Names(), std::vector<std::string>{"."});

    const std::uint32_t maxCount = kTcpListingHead + kFirstEntry + 8;
    EXPECT_TRUE(ReadDirPlus(folder_, 0, one.verifier, kLarge, maxCount - 1).entries.empty());
    EXPECT_EQ(ReadDirPlus(folder_, 0, one.verifier, kLarge, maxCount).Names(),
              std::vector<std::string>{"."});
}

} // namespace
} // namespace rpctest::nfsdata
