// File-system layer: the same Win32 results natively and under Wine, in a fresh temp folder.
#include "common/platform/FileSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace platform;

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;

OpenOptions Options(FileAccess access, FileShare share = FileShare::ReadWrite,
                    FileDisposition disposition = FileDisposition::OpenExisting) {
    OpenOptions options;
    options.access = access;
    options.share = share;
    options.disposition = disposition;
    return options;
}

OpenOptions CreateNew(FileAccess access = FileAccess::Write) {
    return Options(access, FileShare::None, FileDisposition::CreateNew);
}

// Error of a failed open, or 0 (and the file closed) when the open unexpectedly worked.
std::uint32_t OpenError(std::u16string_view path, const OpenOptions& options) {
    File file = File::Open(path, options);
    return file.IsOpen() ? 0 : LastFileError();
}

bool WriteNewFile(std::u16string_view path, std::string_view text) {
    File file = File::Open(path, CreateNew());
    std::uint32_t written = 0;
    return file.IsOpen() &&
           file.Write(text.data(), static_cast<std::uint32_t>(text.size()), written) &&
           written == text.size();
}

std::string ReadWholeFile(std::u16string_view path) {
    File file = File::Open(path, Options(FileAccess::Read));
    std::string text(4096, '\0');
    std::uint32_t read = 0;
    if (!file.IsOpen() || !file.Read(text.data(), static_cast<std::uint32_t>(text.size()), read))
        return "<unreadable>";
    text.resize(read);
    return text;
}

class FileSystemTest : public testing::Test {
  protected:
    void SetUp() override {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        ASSERT_FALSE(error);
        std::mt19937_64 random(std::random_device{}() ^
                               std::chrono::steady_clock::now().time_since_epoch().count());
        folder_ = base / ("lumavert-fs-" + std::to_string(random()));
        dir_ = folder_.u16string();
        ASSERT_TRUE(MakeDirectory(dir_)) << LastFileError();
    }

    void TearDown() override {
        // Read-only files would stop remove_all on Windows.
        std::error_code error;
        std::filesystem::recursive_directory_iterator it(folder_, error);
        for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, error);
        std::filesystem::remove_all(folder_, error);
    }

    // Paths are built with "\", which the layer accepts on both sides.
    std::u16string Path(std::u16string_view name) const {
        return dir_ + u"\\" + std::u16string(name);
    }

    std::filesystem::path folder_;
    std::u16string dir_;
};

TEST_F(FileSystemTest, CreateNewWritesAndReopens) {
    const std::u16string path = Path(u"a.txt");
    ASSERT_TRUE(WriteNewFile(path, "hello"));
    EXPECT_EQ(OpenError(path, CreateNew()), kErrorFileExists);

    File file = File::Open(path, Options(FileAccess::Read));
    ASSERT_TRUE(file.IsOpen()) << LastFileError();
    char buffer[16] = {};
    std::uint32_t read = 0;
    ASSERT_TRUE(file.Read(buffer, sizeof buffer, read));
    EXPECT_EQ(std::string(buffer, read), "hello");
    ASSERT_TRUE(file.Read(buffer, sizeof buffer, read));
    EXPECT_EQ(read, 0u) << "a read at the end gives nothing, without an error";

    FileRecord record;
    ASSERT_TRUE(file.GetInformation(record));
    EXPECT_EQ(record.size, 5u);
    EXPECT_EQ(record.attributes & (kAttributeDirectory | kAttributeReadOnly), 0u);
    EXPECT_NE(record.attributes & (kAttributeNormal | kAttributeArchive), 0u);
    EXPECT_NE(record.lastWriteTime, 0u);
    EXPECT_NE(record.creationTime, 0u);
    std::uint64_t size = 0;
    ASSERT_TRUE(file.GetSize(size));
    EXPECT_EQ(size, 5u);
}

TEST_F(FileSystemTest, MissingFileGives2AndMissingFolderGives3) {
    ASSERT_TRUE(WriteNewFile(Path(u"file"), "x"));
    std::uint32_t attributes = 0;

    EXPECT_EQ(OpenError(Path(u"nothing.txt"), Options(FileAccess::Read)), kErrorFileNotFound);
    EXPECT_EQ(OpenError(Path(u"nofolder\\x.txt"), Options(FileAccess::Read)), kErrorPathNotFound);
    EXPECT_EQ(OpenError(Path(u"nofolder\\x.txt"), CreateNew()), kErrorPathNotFound);
    EXPECT_EQ(OpenError(Path(u"file\\x.txt"), Options(FileAccess::Read)), kErrorPathNotFound);

    EXPECT_FALSE(GetPathAttributes(Path(u"nothing.txt"), attributes));
    EXPECT_EQ(LastFileError(), kErrorFileNotFound);
    EXPECT_FALSE(GetPathAttributes(Path(u"nofolder\\x.txt"), attributes));
    EXPECT_EQ(LastFileError(), kErrorPathNotFound);
    EXPECT_FALSE(RemoveFile(Path(u"nothing.txt")));
    EXPECT_EQ(LastFileError(), kErrorFileNotFound);
    EXPECT_FALSE(RemoveEmptyDirectory(Path(u"nothing")));
    EXPECT_EQ(LastFileError(), kErrorFileNotFound);
    EXPECT_FALSE(MakeDirectory(Path(u"nofolder\\sub")));
    EXPECT_EQ(LastFileError(), kErrorPathNotFound);

    FindSearch search;
    FindRecord record;
    EXPECT_FALSE(search.First(Path(u"nothing.txt"), record));
    EXPECT_EQ(LastFileError(), kErrorFileNotFound);
    EXPECT_FALSE(search.First(Path(u"nofolder\\*.*"), record));
    EXPECT_EQ(LastFileError(), kErrorPathNotFound);
}

TEST_F(FileSystemTest, SequentialAndPositionedTransfers) {
    File file = File::Open(Path(u"data.bin"), CreateNew(FileAccess::ReadWrite));
    ASSERT_TRUE(file.IsOpen()) << LastFileError();
    std::uint32_t done = 0;
    ASSERT_TRUE(file.Write("0123456789", 10, done));
    EXPECT_EQ(done, 10u);

    std::uint64_t position = 0;
    ASSERT_TRUE(file.Seek(2, &position));
    EXPECT_EQ(position, 2u);
    char buffer[16] = {};
    ASSERT_TRUE(file.Read(buffer, 3, done));
    EXPECT_EQ(std::string(buffer, done), "234");

    // A write past the end leaves a hole of zeros.
    ASSERT_TRUE(file.WriteAt(20, "xy", 2, done));
    EXPECT_EQ(done, 2u);
    std::uint64_t size = 0;
    ASSERT_TRUE(file.GetSize(size));
    EXPECT_EQ(size, 22u);
    ASSERT_TRUE(file.ReadAt(8, buffer, 4, done));
    EXPECT_EQ(std::string(buffer, done), std::string("89\0\0", 4));
    ASSERT_TRUE(file.ReadAt(21, buffer, 10, done));
    EXPECT_EQ(std::string(buffer, done), "y") << "a read across the end is short";
    ASSERT_TRUE(file.ReadAt(100, buffer, 4, done)) << LastFileError();
    EXPECT_EQ(done, 0u) << "a read beyond the end gives nothing, without an error";
    EXPECT_TRUE(file.Flush()) << LastFileError();

    file.Close();
    File reader = File::Open(Path(u"data.bin"), Options(FileAccess::Read));
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_FALSE(reader.Write("z", 1, done));
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
    EXPECT_FALSE(reader.WriteAt(0, "z", 1, done));
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
    EXPECT_FALSE(reader.Flush());
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
    reader.Close();
    File writer = File::Open(Path(u"data.bin"), Options(FileAccess::Write));
    ASSERT_TRUE(writer.IsOpen());
    EXPECT_FALSE(writer.Read(buffer, 1, done));
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
}

TEST_F(FileSystemTest, SetEndOfFileGrowsOneGiBFileToThreeGiBAndShrinks) {
    File file = File::Open(Path(u"big.bin"), CreateNew(FileAccess::ReadWrite));
    ASSERT_TRUE(file.IsOpen()) << LastFileError();
    std::uint64_t size = 0;
    ASSERT_TRUE(file.Seek(kGiB));
    ASSERT_TRUE(file.SetEndOfFile()) << LastFileError();
    ASSERT_TRUE(file.GetSize(size));
    EXPECT_EQ(size, kGiB);

    ASSERT_TRUE(file.Seek(3 * kGiB));
    ASSERT_TRUE(file.SetEndOfFile()) << LastFileError();
    ASSERT_TRUE(file.GetSize(size));
    EXPECT_EQ(size, 3 * kGiB);
    std::uint32_t done = 0;
    ASSERT_TRUE(file.WriteAt(3 * kGiB - 2, "ab", 2, done));
    char buffer[8];
    std::memset(buffer, 1, sizeof buffer);
    ASSERT_TRUE(file.ReadAt(3 * kGiB - 4, buffer, sizeof buffer, done));
    EXPECT_EQ(std::string(buffer, done), std::string("\0\0ab", 4));
    FileRecord record;
    ASSERT_TRUE(file.GetInformation(record));
    EXPECT_EQ(record.size, 3 * kGiB);

    ASSERT_TRUE(file.Seek(10));
    ASSERT_TRUE(file.SetEndOfFile());
    ASSERT_TRUE(file.GetSize(size));
    EXPECT_EQ(size, 10u);

    file.Close();
    File reader = File::Open(Path(u"big.bin"), Options(FileAccess::Read));
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_FALSE(reader.SetEndOfFile());
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
}

TEST_F(FileSystemTest, TimesSetThroughTheLayerReadBackEqual) {
    // 2020-01-01 and 2021-06-15 with sub-second parts down to the 100 ns tick.
    const std::uint64_t access = 132223104001234567ull;
    const std::uint64_t write = 132682752009876543ull;
    const std::uint64_t later = 132700000000000001ull;
    const std::u16string path = Path(u"timed.bin");
    ASSERT_TRUE(WriteNewFile(path, "t"));

    File file = File::Open(path, Options(FileAccess::Write));
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.SetTimes(nullptr, &access, &write)) << LastFileError();
    std::uint64_t creation = 0;
    std::uint64_t gotAccess = 0;
    std::uint64_t gotWrite = 0;
    ASSERT_TRUE(file.GetTimes(&creation, &gotAccess, &gotWrite));
    EXPECT_EQ(gotAccess, access);
    EXPECT_EQ(gotWrite, write);
    EXPECT_NE(creation, 0u);

    ASSERT_TRUE(file.SetTimes(nullptr, nullptr, &later));
    ASSERT_TRUE(file.GetTimes(nullptr, &gotAccess, &gotWrite));
    EXPECT_EQ(gotAccess, access) << "a null time stays as it was";
    EXPECT_EQ(gotWrite, later);
    file.Close();

    // An attribute-only open (no data access) can read and set the times too.
    File attributes = File::Open(path, Options(FileAccess::Attributes));
    ASSERT_TRUE(attributes.IsOpen()) << LastFileError();
    FileRecord record;
    ASSERT_TRUE(attributes.GetInformation(record));
    EXPECT_EQ(record.lastAccessTime, access);
    EXPECT_EQ(record.lastWriteTime, later);
    EXPECT_EQ(record.size, 1u);
    ASSERT_TRUE(attributes.SetTimes(nullptr, nullptr, &write)) << LastFileError();
    ASSERT_TRUE(attributes.GetTimes(nullptr, nullptr, &gotWrite));
    EXPECT_EQ(gotWrite, write);

    File reader = File::Open(path, Options(FileAccess::Read));
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_FALSE(reader.SetTimes(nullptr, nullptr, &later)) << "read access cannot set times";
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
}

TEST_F(FileSystemTest, ReadOnlyFilesReportTheBitAndRefuseWriting) {
    const std::u16string path = Path(u"locked.txt");
    OpenOptions options = CreateNew();
    options.attributes = kAttributeReadOnly;
    {
        // The handle that creates a read-only file may still write it.
        File file = File::Open(path, options);
        ASSERT_TRUE(file.IsOpen()) << LastFileError();
        std::uint32_t written = 0;
        ASSERT_TRUE(file.Write("data", 4, written));
    }
    std::uint32_t attributes = 0;
    ASSERT_TRUE(GetPathAttributes(path, attributes));
    EXPECT_NE(attributes & kAttributeReadOnly, 0u);
    EXPECT_EQ(attributes & kAttributeDirectory, 0u);

    EXPECT_EQ(ReadWholeFile(path), "data");
    EXPECT_EQ(OpenError(path, Options(FileAccess::Write)), kErrorAccessDenied);
    EXPECT_EQ(OpenError(path, Options(FileAccess::ReadWrite)), kErrorAccessDenied);
    File info = File::Open(path, Options(FileAccess::Attributes));
    ASSERT_TRUE(info.IsOpen()) << LastFileError();
    FileRecord record;
    ASSERT_TRUE(info.GetInformation(record));
    EXPECT_NE(record.attributes & kAttributeReadOnly, 0u);
    info.Close();

    EXPECT_FALSE(RemoveFile(path));
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
}

TEST_F(FileSystemTest, SetFileAttributesSetsAndClearsReadOnlyAndHidesOnWindows) {
    const std::u16string path = Path(u"list.txt");
    ASSERT_TRUE(WriteNewFile(path, "x"));
    std::uint32_t attributes = 0;
    ASSERT_TRUE(SetPathAttributes(path, kAttributeReadOnly));
    ASSERT_TRUE(GetPathAttributes(path, attributes));
    EXPECT_NE(attributes & kAttributeReadOnly, 0u);
    EXPECT_FALSE(RemoveFile(path));

    ASSERT_TRUE(SetPathAttributes(path, kAttributeHidden));
    ASSERT_TRUE(GetPathAttributes(path, attributes));
    EXPECT_EQ(attributes & kAttributeReadOnly, 0u);
    // POSIX has no hidden bit; Windows keeps it.
    EXPECT_EQ((attributes & kAttributeHidden) != 0, NativeSeparator() == u'\\');
    EXPECT_TRUE(RemoveFile(path)) << LastFileError();

    EXPECT_FALSE(SetPathAttributes(Path(u"gone.txt"), kAttributeHidden));
    EXPECT_EQ(LastFileError(), kErrorFileNotFound);
}

TEST_F(FileSystemTest, ShareModesConflictUntilTheHolderCloses) {
    const std::u16string path = Path(u"shared.bin");
    const std::u16string moved = Path(u"moved.bin");
    ASSERT_TRUE(WriteNewFile(path, "content"));

    File reader = File::Open(path, Options(FileAccess::Read, FileShare::Read));
    ASSERT_TRUE(reader.IsOpen()) << LastFileError();
    EXPECT_EQ(OpenError(path, Options(FileAccess::Write)), kErrorSharingViolation);
    EXPECT_EQ(OpenError(path, Options(FileAccess::ReadWrite)), kErrorSharingViolation);
    EXPECT_EQ(OpenError(path, Options(FileAccess::Read, FileShare::None)), kErrorSharingViolation);
    EXPECT_EQ(OpenError(path, Options(FileAccess::Read, FileShare::Read)), 0u);
    EXPECT_EQ(OpenError(path, Options(FileAccess::Attributes, FileShare::None)), 0u)
        << "attribute-only opens do not conflict";

    EXPECT_FALSE(RemoveFile(path));
    EXPECT_EQ(LastFileError(), kErrorSharingViolation);
    EXPECT_FALSE(MovePath(path, moved));
    EXPECT_EQ(LastFileError(), kErrorSharingViolation);
    reader.Close();
    EXPECT_EQ(ReadWholeFile(path), "content");

    // An open for writing refuses a new open that would not share writing.
    File writer = File::Open(path, Options(FileAccess::Write, FileShare::ReadWrite));
    ASSERT_TRUE(writer.IsOpen()) << LastFileError();
    EXPECT_EQ(OpenError(path, Options(FileAccess::Read, FileShare::Read)), kErrorSharingViolation);
    EXPECT_EQ(OpenError(path, Options(FileAccess::Read, FileShare::ReadWrite)), 0u);
    writer.Close();

    EXPECT_TRUE(MovePath(path, moved)) << LastFileError();
    EXPECT_TRUE(RemoveFile(moved)) << LastFileError();
}

// An open that shares delete lets others delete or move the file and reads on what it opened;
// it still keeps writers away when it does not share writing.
TEST_F(FileSystemTest, SharingDeleteLetsOthersDeleteAndMoveAnOpenFile) {
    const std::u16string path = Path(u"open.bin");
    const std::u16string moved = Path(u"moved.bin");
    ASSERT_TRUE(WriteNewFile(path, "content"));
    OpenOptions reading = Options(FileAccess::Read, FileShare::Read);
    reading.shareDelete = true;
    File reader = File::Open(path, reading);
    ASSERT_TRUE(reader.IsOpen()) << LastFileError();
    EXPECT_EQ(OpenError(path, Options(FileAccess::Write)), kErrorSharingViolation);
    ASSERT_TRUE(MovePath(path, moved)) << LastFileError();
    ASSERT_TRUE(RemoveFile(moved)) << LastFileError();
    char text[16] = {};
    std::uint32_t read = 0;
    ASSERT_TRUE(reader.ReadAt(0, text, sizeof text, read)) << LastFileError();
    EXPECT_EQ(std::string(text, read), "content");
    reader.Close();
    std::uint32_t attributes = 0;
    EXPECT_FALSE(GetPathAttributes(moved, attributes));
    EXPECT_FALSE(GetPathAttributes(path, attributes));

    // A writer that shares delete as well.
    ASSERT_TRUE(WriteNewFile(path, "x"));
    OpenOptions writing = Options(FileAccess::ReadWrite, FileShare::ReadWrite);
    writing.shareDelete = true;
    File writer = File::Open(path, writing);
    ASSERT_TRUE(writer.IsOpen()) << LastFileError();
    EXPECT_TRUE(MovePath(path, moved)) << LastFileError();
    EXPECT_TRUE(RemoveFile(moved)) << LastFileError();
    // One open without delete sharing is enough to refuse.
    ASSERT_TRUE(WriteNewFile(path, "y"));
    File sharing = File::Open(path, reading);
    File plain = File::Open(path, Options(FileAccess::Read, FileShare::Read));
    ASSERT_TRUE(sharing.IsOpen() && plain.IsOpen());
    EXPECT_FALSE(RemoveFile(path));
    EXPECT_EQ(LastFileError(), kErrorSharingViolation);
}

TEST_F(FileSystemTest, DirectoriesCreateOpenAndRemoveWithWin32Errors) {
    const std::u16string sub = Path(u"sub");
    ASSERT_TRUE(MakeDirectory(sub)) << LastFileError();
    EXPECT_FALSE(MakeDirectory(sub));
    EXPECT_EQ(LastFileError(), kErrorAlreadyExists);
    std::uint32_t attributes = 0;
    ASSERT_TRUE(GetPathAttributes(sub, attributes));
    EXPECT_NE(attributes & kAttributeDirectory, 0u);

    EXPECT_EQ(OpenError(sub, Options(FileAccess::Write)), kErrorAccessDenied);
    EXPECT_EQ(OpenError(sub, Options(FileAccess::Read)), kErrorAccessDenied);
    OpenOptions folderOptions = Options(FileAccess::Attributes);
    folderOptions.directory = true;
    File folder = File::Open(sub, folderOptions);
    ASSERT_TRUE(folder.IsOpen()) << LastFileError();
    FileRecord record;
    ASSERT_TRUE(folder.GetInformation(record));
    EXPECT_NE(record.attributes & kAttributeDirectory, 0u);
    EXPECT_EQ(record.size, 0u);
    const std::uint64_t write = 132682752009876543ull;
    ASSERT_TRUE(folder.SetTimes(nullptr, nullptr, &write)) << LastFileError();
    ASSERT_TRUE(folder.GetInformation(record));
    EXPECT_EQ(record.lastWriteTime, write);
    folder.Close();

    EXPECT_FALSE(RemoveFile(sub));
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
    ASSERT_TRUE(WriteNewFile(sub + u"\\child.txt", "c"));
    EXPECT_FALSE(RemoveEmptyDirectory(sub));
    EXPECT_EQ(LastFileError(), kErrorDirNotEmpty);
    EXPECT_FALSE(RemoveEmptyDirectory(sub + u"\\child.txt"));
    EXPECT_EQ(LastFileError(), kErrorDirectory);

    ASSERT_TRUE(RemoveFile(sub + u"\\child.txt"));
    ASSERT_TRUE(RemoveEmptyDirectory(sub)) << LastFileError();
    EXPECT_FALSE(GetPathAttributes(sub, attributes));
    EXPECT_EQ(LastFileError(), kErrorFileNotFound);
}

TEST_F(FileSystemTest, MoveNeverReplacesAnExistingTarget) {
    const std::u16string a = Path(u"a.txt");
    const std::u16string b = Path(u"b.txt");
    ASSERT_TRUE(WriteNewFile(a, "aaa"));
    ASSERT_TRUE(WriteNewFile(b, "bb"));
    EXPECT_FALSE(MovePath(a, b));
    EXPECT_EQ(LastFileError(), kErrorAlreadyExists);
    EXPECT_EQ(ReadWholeFile(a), "aaa");
    EXPECT_EQ(ReadWholeFile(b), "bb");

    ASSERT_TRUE(MovePath(a, Path(u"c.txt"))) << LastFileError();
    std::uint32_t attributes = 0;
    EXPECT_FALSE(GetPathAttributes(a, attributes));
    EXPECT_EQ(ReadWholeFile(Path(u"c.txt")), "aaa");

    ASSERT_TRUE(MakeDirectory(Path(u"d1")));
    ASSERT_TRUE(MakeDirectory(Path(u"d3")));
    ASSERT_TRUE(WriteNewFile(Path(u"d1\\inside.txt"), "in"));
    ASSERT_TRUE(MovePath(Path(u"d1"), Path(u"d2"))) << LastFileError();
    EXPECT_EQ(ReadWholeFile(Path(u"d2\\inside.txt")), "in");
    EXPECT_FALSE(MovePath(Path(u"d2"), Path(u"d3")));
    EXPECT_EQ(LastFileError(), kErrorAlreadyExists);

    EXPECT_FALSE(MovePath(Path(u"nothing.txt"), Path(u"e.txt")));
    EXPECT_EQ(LastFileError(), kErrorFileNotFound);
    EXPECT_FALSE(MovePath(b, Path(u"nofolder\\b.txt")));
    EXPECT_EQ(LastFileError(), kErrorPathNotFound);
}

TEST_F(FileSystemTest, SearchYieldsDotEntriesThenEveryChild) {
    ASSERT_TRUE(WriteNewFile(Path(u"one.bin"), "12345"));
    ASSERT_TRUE(WriteNewFile(Path(u"m\u00fasica.mp3"), std::string(300, 'm')));
    ASSERT_TRUE(MakeDirectory(Path(u"folder")));
    FileRecord oneInfo;
    {
        File one = File::Open(Path(u"one.bin"), Options(FileAccess::Attributes));
        ASSERT_TRUE(one.GetInformation(oneInfo));
    }

    for (const std::u16string& pattern : {dir_ + u"\\\\*.*", dir_ + u"\\*"}) {
        FindSearch search;
        FindRecord record;
        std::vector<std::u16string> order;
        std::map<std::u16string, FindRecord> found;
        for (bool more = search.First(pattern, record); more; more = search.Next(record)) {
            order.push_back(record.name);
            found[record.name] = record;
        }
        EXPECT_EQ(LastFileError(), kErrorNoMoreFiles);
        ASSERT_EQ(order.size(), 5u);
        EXPECT_EQ(order[0], u".");
        EXPECT_EQ(order[1], u"..");
        EXPECT_NE(found[u"."].attributes & kAttributeDirectory, 0u);
        EXPECT_NE(found[u"folder"].attributes & kAttributeDirectory, 0u);
        ASSERT_EQ(found.count(u"one.bin"), 1u);
        EXPECT_EQ(found[u"one.bin"].size, 5u);
        EXPECT_EQ(found[u"one.bin"].attributes & kAttributeDirectory, 0u);
        EXPECT_EQ(found[u"one.bin"].lastWriteTime, oneInfo.lastWriteTime);
        EXPECT_EQ(found[u"one.bin"].creationTime, oneInfo.creationTime);
        ASSERT_EQ(found.count(u"m\u00fasica.mp3"), 1u);
        EXPECT_EQ(found[u"m\u00fasica.mp3"].size, 300u);
    }

    // Without a wildcard the pattern names one object: a test for existence.
    FindSearch single;
    FindRecord record;
    ASSERT_TRUE(single.First(Path(u"one.bin"), record)) << LastFileError();
    EXPECT_EQ(record.name, u"one.bin");
    EXPECT_EQ(record.size, 5u);
    EXPECT_FALSE(single.Next(record));
    EXPECT_EQ(LastFileError(), kErrorNoMoreFiles);

    FindSearch empty;
    std::vector<std::u16string> names;
    for (bool more = empty.First(Path(u"folder\\*.*"), record); more; more = empty.Next(record))
        names.push_back(record.name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u".", u".."}));
}

TEST_F(FileSystemTest, IdsAreUniqueAmongOpenFilesAndChangeOnReopen) {
    ASSERT_TRUE(WriteNewFile(Path(u"a"), "a"));
    ASSERT_TRUE(WriteNewFile(Path(u"b"), "b"));
    File a = File::Open(Path(u"a"), Options(FileAccess::Read));
    File b = File::Open(Path(u"b"), Options(FileAccess::Read));
    File again = File::Open(Path(u"a"), Options(FileAccess::Read));
    ASSERT_TRUE(a.IsOpen() && b.IsOpen() && again.IsOpen());
    EXPECT_NE(a.Id(), 0u);
    EXPECT_NE(a.Id(), b.Id());
    EXPECT_NE(a.Id(), again.Id());

    const std::uint32_t oldId = a.Id();
    File moved = std::move(a);
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(moved.Id(), oldId);
    moved.Close();
    File reopened = File::Open(Path(u"a"), Options(FileAccess::Read));
    ASSERT_TRUE(reopened.IsOpen());
    EXPECT_NE(reopened.Id(), oldId);
}

TEST_F(FileSystemTest, VolumeFiguresAreSane) {
    std::uint32_t bytesPerSector = 0;
    ASSERT_TRUE(GetVolumeBytesPerSector(dir_ + u"\\\\", bytesPerSector)) << LastFileError();
    EXPECT_GT(bytesPerSector, 0u);
    EXPECT_EQ(bytesPerSector & (bytesPerSector - 1), 0u) << bytesPerSector;

    std::uint64_t total = 0;
    std::uint64_t free = 0;
    std::uint64_t available = 0;
    ASSERT_TRUE(GetVolumeFreeSpace(dir_, total, free, available)) << LastFileError();
    EXPECT_GT(total, 0u);
    EXPECT_LE(free, total);
    EXPECT_LE(available, free);
}

// The case rule is what the disk does: a folder ignores case exactly when a name in another case
// opens the same file (Windows and Wine always; a Linux file system unless it folds case).
TEST_F(FileSystemTest, CaseRuleIsTheDisksOwn) {
    ASSERT_TRUE(WriteNewFile(Path(u"Film.txt"), "x"));
    const bool otherCaseOpens = File::Open(Path(u"FILM.TXT"), Options(FileAccess::Read)).IsOpen();
    EXPECT_EQ(FolderIgnoresCase(dir_ + u"\\"), otherCaseOpens);
    EXPECT_EQ(FolderIgnoresCase(dir_), otherCaseOpens);
#ifdef _WIN32
    EXPECT_TRUE(otherCaseOpens);
#endif
}

TEST(FileSystemFolders, WellKnownFoldersAreAbsoluteFolders) {
    std::uint32_t attributes = 0;
    std::u16string current;
    ASSERT_TRUE(CurrentDirectory(current));
    ASSERT_TRUE(GetPathAttributes(current, attributes));
    EXPECT_NE(attributes & kAttributeDirectory, 0u);

    std::u16string executable;
    ASSERT_TRUE(ExecutableFolder(executable));
    ASSERT_FALSE(executable.empty());
    EXPECT_EQ(executable.back(), NativeSeparator());
    ASSERT_TRUE(GetPathAttributes(executable, attributes));
    EXPECT_NE(attributes & kAttributeDirectory, 0u);

    std::u16string documents;
    ASSERT_TRUE(DocumentsFolder(false, documents)) << LastFileError();
    ASSERT_GT(documents.size(), 1u);
    EXPECT_NE(documents.back(), NativeSeparator());
    EXPECT_TRUE(documents[0] == u'/' || documents[1] == u':') << "absolute path";
}

} // namespace
