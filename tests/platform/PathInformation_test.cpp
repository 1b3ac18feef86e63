// GetPathInformation: the answers of an attribute open plus GetInformation, natively and under
// Wine, and identities that name one object whatever path reaches it.
#include "common/platform/FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

namespace {

using namespace platform;

class PathInformationTest : public testing::Test {
  protected:
    void SetUp() override {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        ASSERT_FALSE(error);
        folder_ = base / ("lumavert-pi-" + std::to_string(std::random_device{}()));
        dir_ = folder_.u16string();
        ASSERT_TRUE(MakeDirectory(dir_)) << LastFileError();
    }
    void TearDown() override {
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
    }
    std::u16string Path(std::u16string_view name) const {
        return dir_ + u"\\" + std::u16string(name);
    }
    bool MakeFile(std::u16string_view name, std::string_view text) {
        OpenOptions options;
        options.access = FileAccess::Write;
        options.disposition = FileDisposition::CreateNew;
        File file = File::Open(Path(name), options);
        std::uint32_t written = 0;
        return file.IsOpen() &&
               file.Write(text.data(), static_cast<std::uint32_t>(text.size()), written);
    }
    // What the attribute open reports, the way the server read attributes before.
    static bool OpenAndQuery(std::u16string_view path, bool directory, FileRecord& out) {
        OpenOptions options;
        options.access = FileAccess::Attributes;
        options.directory = directory;
        const File file = File::Open(path, options);
        return file.IsOpen() && file.GetInformation(out);
    }

    std::filesystem::path folder_;
    std::u16string dir_;
};

void ExpectSameRecord(const FileRecord& a, const FileRecord& b) {
    EXPECT_EQ(a.attributes, b.attributes);
    EXPECT_EQ(a.creationTime, b.creationTime);
    EXPECT_EQ(a.lastWriteTime, b.lastWriteTime);
    EXPECT_EQ(a.size, b.size);
}

TEST_F(PathInformationTest, FileAndFolderAnswerAsTheAttributeOpen) {
    ASSERT_TRUE(MakeFile(u"clip.mkv", "twelve bytes"));
    ASSERT_TRUE(MakeDirectory(Path(u"sub")));
    for (const auto& [name, directory] : {std::pair{u"clip.mkv", false}, {u"sub", true}}) {
        FileRecord byPath, byOpen;
        ASSERT_TRUE(GetPathInformation(Path(name), directory, byPath)) << LastFileError();
        ASSERT_TRUE(OpenAndQuery(Path(name), directory, byOpen)) << LastFileError();
        ExpectSameRecord(byPath, byOpen);
    }
    FileRecord record;
    ASSERT_TRUE(GetPathInformation(Path(u"clip.mkv"), false, record));
    EXPECT_EQ(record.size, 12u);
    EXPECT_EQ(record.attributes & kAttributeDirectory, 0u);
    // A directory path with the server's doubled separators.
    ASSERT_TRUE(GetPathInformation(Path(u"sub\\\\"), true, record));
    EXPECT_NE(record.attributes & kAttributeDirectory, 0u);
    EXPECT_EQ(record.size, 0u);
}

TEST_F(PathInformationTest, FailuresGiveTheOpensErrors) {
    ASSERT_TRUE(MakeDirectory(Path(u"sub")));
    FileRecord record;
    // A folder without the directory flag is refused as the open refuses it.
    EXPECT_FALSE(GetPathInformation(Path(u"sub"), false, record));
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
    EXPECT_FALSE(GetPathInformation(Path(u"missing.mkv"), false, record));
    EXPECT_EQ(LastFileError(), kErrorFileNotFound);
    EXPECT_FALSE(GetPathInformation(Path(u"nowhere\\missing.mkv"), false, record));
    EXPECT_EQ(LastFileError(), kErrorPathNotFound);
}

TEST_F(PathInformationTest, IdentityNamesTheObjectNotThePath) {
    ASSERT_TRUE(MakeFile(u"a.mkv", "a"));
    ASSERT_TRUE(MakeFile(u"b.mkv", "b"));
    ASSERT_TRUE(MakeDirectory(Path(u"sub")));
    FileRecord record;
    FileIdentity a, b, aAgain, sub, subDot;
    ASSERT_TRUE(GetPathInformation(Path(u"a.mkv"), false, record, &a));
    ASSERT_TRUE(GetPathInformation(Path(u"b.mkv"), false, record, &b));
    ASSERT_TRUE(GetPathInformation(Path(u"sub\\..\\a.mkv"), false, record, &aAgain));
    ASSERT_TRUE(GetPathInformation(Path(u"sub"), true, record, &sub));
    ASSERT_TRUE(GetPathInformation(Path(u"sub\\.\\"), true, record, &subDot));
    EXPECT_EQ(a, aAgain);
    EXPECT_EQ(sub, subDot);
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(a == sub);
}

} // namespace
