// ListFolder on POSIX: Documents (from XDG_DOCUMENTS_DIR) + "\Lumavert", created.
#include "common/handoff/ListFiles.h"

#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"
#include "tests/handoff/HandOffTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value == nullptr)
            ::unsetenv(name);
        else
            ::setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ListFolderTest, DocumentsFolderGetsLumavertCreatedInside) {
    rpctest::TempFolder temp;
    const std::string documents = (temp.Path() / "Docs").string();
    ScopedEnvironment xdg("XDG_DOCUMENTS_DIR", documents.c_str());
    handofftest::CapturedLines lines;
    const std::u16string folder = handoff::ListFolder(handoff::kExtensionFolderFailure);
    EXPECT_EQ(folder, platform::Utf8ToUtf16(documents) + u"\\Lumavert");
    EXPECT_TRUE(std::filesystem::is_directory(temp.Path() / "Docs" / "Lumavert"));
    EXPECT_TRUE(lines.Lines().empty());
    EXPECT_EQ(handoff::BuildListPaths(folder).audio, folder + u"\\AudioList.txt");
}

} // namespace
