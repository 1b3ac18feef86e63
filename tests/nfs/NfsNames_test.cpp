// A name on the wire is one name: every procedure that takes one refuses a zero byte and the
// separators in it, and no REMOVE, RMDIR or RENAME acts on an exported folder itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/NfsNamespaceCalls.h"

namespace rpctest::nfs3 {
namespace {

namespace fs = std::filesystem;

using namespace std::string_literals;

class NfsNamesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session_.Ready());
        fs::create_directories(session_.Disk("sub/deeper"));
        ASSERT_TRUE(WriteFile(session_.Disk("a"), "root a"));
        ASSERT_TRUE(WriteFile(session_.Disk("sub/a"), "sub a"));
        ASSERT_TRUE(WriteFile(session_.Disk("sub/deeper/a"), "deep a"));
    }

    std::uint32_t StatusOf(std::uint32_t procedure, const XdrArgs& args) {
        RpcReply reply = session_.Call(procedure, args);
        return session_.Status(reply);
    }
    XdrArgs WithAttributes(XdrArgs args) { return PutSetAttr(args, {}); }
    XdrArgs Rename(std::uint32_t from, std::string_view fromName, std::uint32_t to,
                   std::string_view toName) {
        XdrArgs args = DirOp(from, fromName);
        args.PutHandle(to).PutString(toName);
        return args;
    }

    // Everything on disk, so that a refused call can be shown to have changed nothing.
    std::vector<std::string> Tree() {
        std::vector<std::string> out;
        for (const auto& item : fs::recursive_directory_iterator(session_.Server().Root()))
            out.push_back(fs::relative(item.path(), session_.Server().Root()).generic_string() +
                          (fs::is_directory(item.path()) ? "/" : " " + ReadFile(item.path())));
        for (const auto& item : fs::recursive_directory_iterator(session_.Server().ListFolder()))
            out.push_back(
                "lst:" +
                fs::relative(item.path(), session_.Server().ListFolder()).generic_string());
        std::sort(out.begin(), out.end());
        return out;
    }

    NfsSession session_;
};

TEST_F(NfsNamesTest, NamesWithAZeroByteOrASeparatorAreRefusedByEveryProcedure) {
    const std::uint32_t root = session_.Root();
    const std::vector<std::string> before = Tree();
    // "sub\0junk" would be "sub" cut at its zero byte; the others walk into "sub".
    const std::string names[] = {"sub\0junk"s,   "\0a"s, "a\0"s, "sub/a", "sub\\a",
                                 "sub/deeper/a", "/a",   "\\a",  "sub/",  "sub\\"};
    for (const std::string& name : names) {
        SCOPED_TRACE(testing::PrintToString(name));
        RpcReply lookup = session_.Call(kLookup, DirOp(root, name));
        EXPECT_EQ(session_.Status(lookup), kAcces);
        EXPECT_FALSE(lookup.body.GetBool()); // no directory attributes follow
        EXPECT_TRUE(lookup.body.AtEnd());
        EXPECT_EQ(StatusOf(kCreate, WithAttributes(DirOp(root, name).PutUInt32(0))), kAcces);
        EXPECT_EQ(StatusOf(kMkDir, WithAttributes(DirOp(root, name))), kAcces);
        EXPECT_EQ(StatusOf(kRemove, DirOp(root, name)), kAcces);
        EXPECT_EQ(StatusOf(kRmDir, DirOp(root, name)), kAcces);
        EXPECT_EQ(StatusOf(kRename, Rename(root, name, root, "moved")), kAcces);
        EXPECT_EQ(StatusOf(kRename, Rename(root, "a", root, name)), kAcces);
    }
    EXPECT_EQ(Tree(), before);
    // The plain names still work.
    EXPECT_EQ(session_.Lookup(root, "sub").status, kOk);
    EXPECT_EQ(session_.Lookup(root, "a").status, kOk);
}

// What a fuzz run found: RENAME of NUL+"x" from the root into the list folder moved the whole
// exported folder there.
TEST_F(NfsNamesTest, ExportedFoldersCannotBeRemovedOrMoved) {
    const std::uint32_t root = session_.Root();
    const MountResult list = session_.Client().Mount("/lst");
    ASSERT_TRUE(list.Ok()) << list.reply;
    const std::uint32_t sub = session_.Lookup(root, "sub").handle;
    ASSERT_NE(sub, 0u);
    const std::vector<std::string> before = Tree();

    EXPECT_EQ(StatusOf(kRename, Rename(root, "\0x"s, list.handle, "moved")), kAcces);
    for (const std::uint32_t folder : {root, list.handle}) {
        for (const char* name : {".", ".."}) {
            SCOPED_TRACE(name);
            EXPECT_EQ(StatusOf(kRmDir, DirOp(folder, name)), kAcces);
            EXPECT_EQ(StatusOf(kRemove, DirOp(folder, name)), kAcces);
            EXPECT_EQ(StatusOf(kRename, Rename(folder, name, sub, "moved")), kAcces);
        }
    }
    // ".." of a subfolder is the exported folder itself.
    EXPECT_EQ(StatusOf(kRename, Rename(sub, "..", list.handle, "moved")), kAcces);
    EXPECT_EQ(StatusOf(kRmDir, DirOp(sub, "..")), kAcces);
    EXPECT_EQ(Tree(), before);
    EXPECT_TRUE(fs::is_directory(session_.Server().Root()));
    EXPECT_TRUE(fs::is_directory(session_.Server().ListFolder()));

    // A subfolder moves as before.
    EXPECT_EQ(StatusOf(kRename, Rename(root, "sub", list.handle, "moved")), kOk);
    EXPECT_TRUE(fs::is_directory(session_.Server().ListFolder() / "moved" / "deeper"));
}

} // namespace
} // namespace rpctest::nfs3
