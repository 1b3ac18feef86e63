// The list folder and the default root follow the Documents folder, with each program's own
// fallback when there is none.
#include "common/platform/ListFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"
#include "common/platform/Settings.h"
#include "common/handoff/ListFiles.h"
#include "tests/handoff/HandOffTestSupport.h"

namespace {

namespace fs = std::filesystem;

using platform::ListFolder;
using platform::ListFolderFallback;

// Points the Documents folder (and the current directory) somewhere else for one case.
class ListFolderTest : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("lumavert-list-folder-" + std::to_string(getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "cwd");
        if (const char* old = std::getenv("XDG_DOCUMENTS_DIR"))
            oldDocuments_ = old;
        oldDirectory_ = fs::current_path();
        fs::current_path(folder_ / "cwd");
    }
    void TearDown() override {
        fs::current_path(oldDirectory_);
        if (oldDocuments_)
            setenv("XDG_DOCUMENTS_DIR", oldDocuments_->c_str(), 1);
        else
            unsetenv("XDG_DOCUMENTS_DIR");
        fs::remove_all(folder_);
    }
    void SetDocuments(const fs::path& path) { setenv("XDG_DOCUMENTS_DIR", path.c_str(), 1); }
    static std::string Utf8(const std::u16string& text) { return platform::Utf16ToUtf8(text); }

    fs::path folder_;
    std::optional<std::string> oldDocuments_;
    fs::path oldDirectory_;
};

TEST_F(ListFolderTest, DocumentsLumavertIsMadeForEveryProgram) {
    const fs::path documents = folder_ / "docs";
    SetDocuments(documents);
    const std::string expected = (documents / "Lumavert").string() + "/";
    EXPECT_EQ(Utf8(ListFolder(ListFolderFallback::kExecutableFolder)), expected);
    EXPECT_TRUE(fs::is_directory(documents / "Lumavert"));
    fs::remove_all(documents);
    EXPECT_EQ(Utf8(ListFolder(ListFolderFallback::kCurrentDirectory)), expected);
    EXPECT_TRUE(fs::is_directory(documents / "Lumavert"));
    // The default root is the same folder, but only named: it is not made.
    fs::remove_all(documents);
    EXPECT_EQ(Utf8(platform::DefaultRoot()), (documents / "Lumavert").string());
    EXPECT_FALSE(fs::exists(documents));
}

TEST_F(ListFolderTest, WithoutDocumentsEachProgramTakesItsOwnFallback) {
    // A file where the Documents folder would have to be made.
    std::ofstream(folder_ / "file") << "x";
    SetDocuments(folder_ / "file" / "docs");

    std::u16string executable;
    ASSERT_TRUE(platform::ExecutableFolder(executable));
    EXPECT_EQ(ListFolder(ListFolderFallback::kExecutableFolder), executable);
    EXPECT_EQ(executable.back(), u'/');

    const fs::path cwd = folder_ / "cwd";
    EXPECT_EQ(Utf8(ListFolder(ListFolderFallback::kCurrentDirectory)),
              (cwd / "Lumavert").string() + "/");
    EXPECT_TRUE(fs::is_directory(cwd / "Lumavert"));
}

// The hand-off's folder is the same one without the separator, and each side logs its own line
// when Documents is missing.
TEST_F(ListFolderTest, HandOffSidesLogTheirLineOnlyWithoutDocuments) {
    SetDocuments(folder_ / "docs");
    handofftest::CapturedLines lines;
    const std::u16string folder = handoff::ListFolder(handoff::kExtensionFolderFailure);
    EXPECT_EQ(Utf8(folder), (folder_ / "docs" / "Lumavert").string());
    EXPECT_TRUE(lines.Lines().empty());
    EXPECT_EQ(handoff::BuildListPaths(folder).audio, folder + u"\\AudioList.txt");

    std::ofstream(folder_ / "file") << "x";
    SetDocuments(folder_ / "file" / "docs");
    EXPECT_EQ(Utf8(handoff::ListFolder(handoff::kManagerFolderFailure)),
              (folder_ / "cwd" / "Lumavert").string());
    EXPECT_TRUE(lines.Has(u"Fail to get Dir="));
}

} // namespace
