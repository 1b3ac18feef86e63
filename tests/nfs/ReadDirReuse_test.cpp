// Listings that the server answers from a kept snapshot and remembered names and handles must
// equal fresh ones: every change made beside the server or through it shows in the next listing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/NfsDataTest.h"

namespace rpctest::nfsdata {
namespace {

namespace fs = std::filesystem;

struct Listed {
    std::uint64_t size = 0;
    std::uint32_t handle = 0;
    std::uint64_t fileId = 0;
};

class ReadDirReuseTest : public MountedExport {
  protected:
    void SetUp() override {
        MountedExport::SetUp();
        fs::create_directory(Path("d"));
        ASSERT_TRUE(WriteFile(Path("d/a.mkv"), Pattern(10)));
        ASSERT_TRUE(WriteFile(Path("d/b.mkv"), Pattern(20)));
        folder_ = MountFolder("/d");
    }

    // A whole READDIRPLUS listing from verifier 0 (or walking the reading of `verifier` again
    // from its start), in small pages so that it takes several calls.
    std::map<std::string, Listed> List(std::uint32_t directory, std::uint64_t* reuse = nullptr) {
        std::map<std::string, Listed> names;
        std::uint64_t cookie = 0, verifier = reuse != nullptr ? *reuse : 0;
        for (int page = 0; page < 100; ++page) {
            RpcReply reply = client_.NfsCall(kProcReadDirPlus, XdrArgs()
                                                                   .PutHandle(directory)
                                                                   .PutUInt64(cookie)
                                                                   .PutUInt64(verifier)
                                                                   .PutUInt32(400)
                                                                   .PutUInt32(4096));
            EXPECT_TRUE(reply.Succeeded()) << reply;
            XdrDecoder& in = reply.body;
            EXPECT_EQ(in.GetUInt32(), kOk);
            EXPECT_TRUE(in.GetBool());
            GetAttributes(in);
            verifier = in.GetUInt64();
            while (in.Ok() && in.GetBool()) {
                Listed listed;
                listed.fileId = in.GetUInt64();
                const std::string name = in.GetString(1024);
                cookie = in.GetUInt64();
                if (in.GetBool())
                    listed.size = GetAttributes(in).size;
                if (in.GetBool()) {
                    const Bytes handle = in.GetOpaque(64);
                    for (std::uint8_t byte : handle)
                        listed.handle = (listed.handle << 8) | byte;
                }
                names[name] = listed;
            }
            if (reuse != nullptr)
                *reuse = verifier;
            const bool eof = in.GetBool();
            EXPECT_TRUE(in.AtEnd());
            if (eof || !in.Ok())
                break;
        }
        return names;
    }

    std::uint32_t folder_ = 0;
};

TEST_F(ReadDirReuseTest, ChangesBesideTheServerShowInTheNextListing) {
    auto first = List(folder_);
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(List(folder_).size(), 4u);

    ASSERT_TRUE(WriteFile(Path("d/c.mkv"), Pattern(30))); // a new name
    auto second = List(folder_);
    ASSERT_EQ(second.count("c.mkv"), 1u);
    EXPECT_EQ(second["c.mkv"].size, 30u);

    ASSERT_TRUE(WriteFile(Path("d/a.mkv"), Pattern(77))); // a new size for a known name
    EXPECT_EQ(List(folder_)["a.mkv"].size, 77u);

    fs::rename(Path("d/b.mkv"), Path("d/e.mkv")); // a renamed name
    auto third = List(folder_);
    EXPECT_EQ(third.count("b.mkv"), 0u);
    EXPECT_EQ(third.count("e.mkv"), 1u);

    // Another folder moved into the path: its own entries are listed.
    fs::rename(Path("d"), Path("old-d"));
    fs::create_directory(Path("d"));
    ASSERT_TRUE(WriteFile(Path("d/z.mkv"), Pattern(5)));
    auto fourth = List(folder_);
    EXPECT_EQ(fourth.count("z.mkv"), 1u);
    EXPECT_EQ(fourth.count("a.mkv"), 0u);
}

TEST_F(ReadDirReuseTest, HandlesFollowTheTableNotTheRememberedListing) {
    auto first = List(folder_);
    const std::uint32_t oldHandle = first["a.mkv"].handle;
    ASSERT_NE(oldHandle, 0u);
    EXPECT_EQ(List(folder_)["a.mkv"].handle, oldHandle) << "a second listing hands out the same";

    // REMOVE through the server deletes the entry; the file made again gets a new handle.
    RpcReply removed =
        client_.NfsCall(kProcRemove, XdrArgs().PutHandle(folder_).PutString("a.mkv"));
    ASSERT_TRUE(removed.Succeeded());
    ASSERT_EQ(removed.body.GetUInt32(), kOk);
    ASSERT_TRUE(WriteFile(Path("d/a.mkv"), Pattern(10)));
    auto again = List(folder_);
    ASSERT_NE(again["a.mkv"].handle, 0u);
    EXPECT_NE(again["a.mkv"].handle, oldHandle);
    EXPECT_EQ(Lookup(folder_, "a.mkv"), again["a.mkv"].handle);
    // The entry behind the removed one moved forward: the listing shows the live fileids.
    for (const auto& [name, listed] : again) {
        if (listed.handle != 0 && name != "." && name != "..") {
            const std::uint32_t looked = Lookup(folder_, name);
            EXPECT_EQ(looked, listed.handle) << name;
        }
    }
}

TEST_F(ReadDirReuseTest, AWalkOfAnOldReadingFindsTheEntriesOfNow) {
    std::uint64_t verifier = 0;
    auto first = List(folder_, &verifier);
    const std::uint32_t oldHandle = first["a.mkv"].handle;
    ASSERT_NE(oldHandle, 0u);
    RpcReply removed =
        client_.NfsCall(kProcRemove, XdrArgs().PutHandle(folder_).PutString("a.mkv"));
    ASSERT_TRUE(removed.Succeeded());
    ASSERT_EQ(removed.body.GetUInt32(), kOk);
    ASSERT_TRUE(WriteFile(Path("d/a.mkv"), Pattern(10)));
    // The old snapshot still names a.mkv; its handle is the new entry's, not the removed one's.
    auto walked = List(folder_, &verifier);
    ASSERT_EQ(walked.count("a.mkv"), 1u);
    EXPECT_NE(walked["a.mkv"].handle, 0u);
    EXPECT_NE(walked["a.mkv"].handle, oldHandle);
    EXPECT_EQ(Lookup(folder_, "a.mkv"), walked["a.mkv"].handle);
}

} // namespace
} // namespace rpctest::nfsdata
