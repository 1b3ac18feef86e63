// The hand-off end to end in one process: lists written and replaced, the block read by the real
// reader inside the notification, and the single-line reads of the manager.
#include "common/handoff/HandOffReader.h"
#include "common/handoff/HandOffWriter.h"

#include "common/platform/FileSystem.h"
#include "common/platform/SharedMemory.h"
#include "tests/handoff/HandOffTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <iterator>

namespace {

using namespace handoff;
using handofftest::Backslashed;
using handofftest::CapturedLines;

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool IsWindows() {
    return platform::NativeSeparator() == u'\\';
}

class HandOffTest : public testing::Test {
  protected:
    HandOffTest() { targets_.blockName = handofftest::UniqueBlockName(); }

    void SetUp() override {
        targets_.listFolder = Backslashed(temp_.Path());
        paths_ = BuildListPaths(targets_.listFolder);
    }

    // Hands `selection` off; the notification records what the reader finds in the block.
    HandOffOutcome HandOff(const Selection& selection) {
        notified_ = false;
        received_.clear();
        return HandOffSelection(
            selection,
            [this] {
                notified_ = true;
                HandOffBlock block;
                readerResult_ = OpenHandOffBlock(block, targets_.blockName);
                received_ = std::u16string(block.Folder());
                CloseHandOffBlock(block);
            },
            targets_);
    }

    bool BlockGone() {
        HandOffBlock block;
        return OpenHandOffBlock(block, targets_.blockName) == -1;
    }

    std::filesystem::path List(const char* name) const { return temp_.Path() / name; }

    rpctest::TempFolder temp_;
    HandOffTargets targets_;
    ListPaths paths_;
    CapturedLines lines_;
    bool notified_ = false;
    int readerResult_ = 99;
    std::u16string received_;
};

TEST_F(HandOffTest, OneAudioFileGivesThe16ByteListAndTheFolderInTheBlock) {
    Selection selection;
    selection.audioNames = {u"a.mp3"};
    selection.folder = u"C:\\Music";
    ASSERT_EQ(HandOff(selection), HandOffOutcome::Notified);

    EXPECT_TRUE(notified_);
    EXPECT_EQ(readerResult_, 0);
    EXPECT_EQ(received_, u"C:\\Music");
    EXPECT_TRUE(BlockGone());

    const std::string expected("\xFF\xFE"
                               "a\0.\0m\0p\0"
                               "3\0\r\0\n\0",
                               16);
    EXPECT_EQ(ReadBytes(List("AudioList.txt")), expected);
    EXPECT_FALSE(std::filesystem::exists(List("VideoList.txt")));
    EXPECT_FALSE(std::filesystem::exists(List("ImageList.txt")));
    if (IsWindows()) {
        std::uint32_t attributes = 0;
        ASSERT_TRUE(platform::GetPathAttributes(paths_.audio, attributes));
        EXPECT_NE(attributes & platform::kAttributeHidden, 0u);
    }

    EXPECT_TRUE(lines_.Has(targets_.listFolder));
    EXPECT_TRUE(lines_.Has(u"SendMap: m_wstrFilePath=C:\\Music \n"));
    EXPECT_TRUE(lines_.HasPrefix(u"OK: hSendMap=0x"));
    EXPECT_TRUE(lines_.HasPrefix(u"OK: m_hReceiveMap=0x"));
    EXPECT_TRUE(lines_.HasPrefix(u"GetLastError=0: "));
    EXPECT_TRUE(lines_.Has(u"Error: m_hReceiveMap=0x0")); // BlockGone's open
    EXPECT_FALSE(lines_.Has(u"OK: GetLastError() == ERROR_ALREADY_EXISTS "));
}

TEST_F(HandOffTest, ListsAreReplacedAndTheOnesWithoutNamesRemoved) {
    Selection first;
    first.videoNames = {u"v1.mkv", u"v2.avi"};
    first.audioNames = {u"old.mp3"};
    first.imageNames = {u"\U0001F3B5.jpg"}; // a surrogate pair
    first.folder = u"C:\\A";
    ASSERT_EQ(HandOff(first), HandOffOutcome::Notified);
    EXPECT_EQ(ReadBytes(List("ImageList.txt")),
              std::string("\xFF\xFE\x3C\xD8\xB5\xDF.\0j\0p\0g\0\r\0\n\0", 18));
    EXPECT_EQ(ReadBytes(List("VideoList.txt")).size(), 2u + 2 * (6 + 2) * 2);

    Selection second;
    second.audioNames = {u"new.flac", u"b.ogg"};
    second.folder = u"C:\\B";
    ASSERT_EQ(HandOff(second), HandOffOutcome::Notified);
    EXPECT_FALSE(std::filesystem::exists(List("VideoList.txt")));
    EXPECT_FALSE(std::filesystem::exists(List("ImageList.txt")));
    std::u16string line;
    EXPECT_EQ(ReadListLine(paths_, 2, 2, line), kListLineRead);
    EXPECT_EQ(line, u"b.ogg\n");
    EXPECT_EQ(received_, u"C:\\B");
}

TEST_F(HandOffTest, WithoutABlockThereIsNoNotification) {
    targets_.blockName = u"No\\Such\\Namespace";
    Selection selection;
    selection.videoNames = {u"a.avi"};
    selection.folder = u"C:\\V";
    EXPECT_EQ(HandOff(selection), HandOffOutcome::NoBlock);
    EXPECT_FALSE(notified_);
    EXPECT_TRUE(lines_.Has(u"Error: hSendMap=0x0"));
    EXPECT_TRUE(lines_.HasPrefix(u"GetLastError="));
    // The lists were written before the block.
    EXPECT_TRUE(std::filesystem::exists(List("VideoList.txt")));
}

TEST_F(HandOffTest, PercentSignsPassUnchangedInBothFolders) {
    std::filesystem::create_directory(temp_.Path() / "%d 100%s");
    targets_.listFolder = Backslashed(temp_.Path() / "%d 100%s");
    Selection selection;
    selection.imageNames = {u"%s.png"};
    selection.folder = u"C:\\%d 100%\\%s";
    ASSERT_EQ(HandOff(selection), HandOffOutcome::Notified);
    EXPECT_EQ(received_, u"C:\\%d 100%\\%s");
    EXPECT_TRUE(std::filesystem::exists(temp_.Path() / "%d 100%s" / "ImageList.txt"));
    EXPECT_TRUE(lines_.Has(u"SendMap: m_wstrFilePath=C:\\%d 100%\\%s \n"));
    EXPECT_TRUE(lines_.Has(targets_.listFolder));
}

TEST_F(HandOffTest, AFolderOf259UnitsArrivesWhole) {
    Selection selection;
    selection.videoNames = {u"a.avi"};
    selection.folder = u"C:\\" + std::u16string(256, u'\x00E9');
    ASSERT_EQ(selection.folder.size(), kHandOffFolderUnits);
    ASSERT_EQ(HandOff(selection), HandOffOutcome::Notified);
    EXPECT_EQ(received_, selection.folder);
}

TEST_F(HandOffTest, AnOlder260ByteBlockIsReadAs130Units) {
    platform::SharedMemory foreign;
    bool existed = true;
    ASSERT_TRUE(foreign.Create(targets_.blockName, 260, existed));
    EXPECT_FALSE(existed);
    ASSERT_TRUE(foreign.Map());
    auto* units = static_cast<char16_t*>(foreign.WritableView());
    for (int i = 0; i < 130; ++i)
        units[i] = u'x'; // cut at 130, no terminator

    HandOffBlock block;
    ASSERT_EQ(OpenHandOffBlock(block, targets_.blockName), 0);
    EXPECT_EQ(block.Folder(), std::u16string(130, u'x'));
    CloseHandOffBlock(block);
    EXPECT_FALSE(block.IsOpen());
    EXPECT_TRUE(block.Folder().empty());
}

TEST_F(HandOffTest, AnExistingBlockIsUsed) {
    platform::SharedMemory other;
    bool existed = true;
    ASSERT_TRUE(other.Create(targets_.blockName, kHandOffBlockBytes, existed));
    Selection selection;
    selection.audioNames = {u"a.mp3"};
    selection.folder = u"D:\\";
    ASSERT_EQ(HandOff(selection), HandOffOutcome::Notified);
    EXPECT_EQ(received_, u"D:\\");
    EXPECT_TRUE(lines_.Has(u"OK: GetLastError() == ERROR_ALREADY_EXISTS "));
    EXPECT_TRUE(lines_.HasPrefix(u"GetLastError=183: "));
}

TEST_F(HandOffTest, AListHeldOpenStopsTheHandOffBeforeTheBlock) {
    Selection first;
    first.audioNames = {u"old.mp3"};
    first.folder = u"C:\\Old";
    ASSERT_EQ(HandOff(first), HandOffOutcome::Notified);
    const std::string oldList = ReadBytes(List("AudioList.txt"));

    {
        // As the server's read slot holds a file: reading, shared for reading only.
        platform::OpenOptions options;
        options.access = platform::FileAccess::Read;
        options.share = platform::FileShare::Read;
        platform::File held = platform::File::Open(paths_.audio, options);
        ASSERT_TRUE(held.IsOpen());
        Selection second;
        second.audioNames = {u"new.mp3"};
        second.folder = u"C:\\New";
        lines_.Clear();
        EXPECT_EQ(HandOff(second), HandOffOutcome::OldListStands);
        EXPECT_FALSE(notified_);
        EXPECT_TRUE(lines_.Has(u"Error: old list stays: " + paths_.audio + u" \n"));
        EXPECT_TRUE(lines_.HasPrefix(u"GetLastError=32: "));
        EXPECT_FALSE(lines_.HasPrefix(u"SendMap:"));
        EXPECT_EQ(ReadBytes(List("AudioList.txt")), oldList);
    }

    Selection third;
    third.audioNames = {u"third.mp3"};
    third.folder = u"C:\\Third";
    ASSERT_EQ(HandOff(third), HandOffOutcome::Notified);
    std::u16string line;
    EXPECT_EQ(ReadListLine(paths_, 1, 2, line), kListLineRead);
    EXPECT_EQ(line, u"third.mp3\n");
}

TEST_F(HandOffTest, ListsAreAllNewOrNoneNeverBesideAnOldOne) {
    Selection first;
    first.videoNames = {u"old.mkv"};
    first.audioNames = {u"old.mp3"};
    first.folder = u"C:\\Old";
    ASSERT_EQ(HandOff(first), HandOffOutcome::Notified);
    const std::string oldAudio = ReadBytes(List("AudioList.txt"));

    // The audio list is held: the new video list must not appear beside the old audio one.
    Selection second;
    second.videoNames = {u"new.mkv"};
    second.audioNames = {u"new.mp3"};
    second.folder = u"C:\\New";
    if (IsWindows()) { // POSIX removes a file held open
        platform::OpenOptions options;
        options.access = platform::FileAccess::Read;
        options.share = platform::FileShare::Read;
        platform::File held = platform::File::Open(paths_.audio, options);
        ASSERT_TRUE(held.IsOpen());
        EXPECT_EQ(HandOff(second), HandOffOutcome::OldListStands);
        EXPECT_EQ(ReadBytes(List("AudioList.txt")), oldAudio);
        EXPECT_FALSE(std::filesystem::exists(List("VideoList.txt")));
    }

    // A list folder that is a file: nothing written, nobody told, the lines say why.
    const std::filesystem::path file = temp_.Path() / "file";
    std::ofstream(file) << "x";
    HandOffTargets onFile = targets_;
    onFile.listFolder = Backslashed(file);
    notified_ = false;
    lines_.Clear();
    EXPECT_EQ(HandOffSelection(
                  second, [this] { notified_ = true; }, onFile),
              HandOffOutcome::ListsNotWritten);
    EXPECT_FALSE(notified_);
    EXPECT_TRUE(lines_.HasPrefix(u"Error: list not created: "));
    EXPECT_TRUE(lines_.HasPrefix(u"GetLastError=3: "));
    EXPECT_FALSE(lines_.HasPrefix(u"SendMap:"));
    EXPECT_EQ(ReadBytes(file), "x");
}

class ReadListLineTest : public HandOffTest {
  protected:
    void WriteAudioList(std::string_view bytes) {
        std::filesystem::remove(List("AudioList.txt"));
        std::ofstream(List("AudioList.txt"), std::ios::binary) << bytes;
    }
    void WriteThreeNames() {
        Selection selection;
        selection.audioNames = {u"a.mp3", u"b.mp3", u"c.mp3"};
        selection.folder = u"C:\\M";
        ASSERT_EQ(HandOff(selection), HandOffOutcome::Notified);
    }
};

TEST_F(ReadListLineTest, ResultCodes) {
    WriteThreeNames();
    std::u16string line = u"untouched";
    EXPECT_EQ(ReadListLine(paths_, 0, 2, line), kListLineNotRead);
    EXPECT_EQ(ReadListLine(paths_, 1, 4, line), kListLineBadType);
    EXPECT_EQ(ReadListLine(paths_, 1, 0, line), kListLineBadType);
    EXPECT_EQ(ReadListLine(paths_, 1, -1, line), kListLineBadType);
    EXPECT_EQ(ReadListLine(paths_, 1, 1, line), kListLineNoFile); // no video list
    EXPECT_EQ(ReadListLine(paths_, -5, 2, line), kListLineRead);  // reads nothing
    EXPECT_EQ(line, u"untouched");

    lines_.Clear();
    EXPECT_EQ(ReadListLine(paths_, 2, 2, line), kListLineRead);
    EXPECT_EQ(line, u"b.mp3\n");
    EXPECT_TRUE(lines_.Has(u"Line 2: b.mp3\n \n"));
    EXPECT_EQ(ReadListLine(paths_, 5, 2, line), kListLineRead);
    EXPECT_EQ(line, u"c.mp3\n");
    // The index comes from the player: the largest one ends with the file.
    line.clear();
    EXPECT_EQ(ReadListLine(paths_, INT_MAX, 2, line), kListLineRead);
    EXPECT_EQ(line, u"c.mp3\n");
}

TEST_F(ReadListLineTest, ByteOrderMarksLineEndsAndTheBoundedRead) {
    // UTF-8 with its mark, a lone CR kept, a last line without LF.
    WriteAudioList("\xEF\xBB\xBF\xC3\xA9t\xC3\xA9.mp3\r\nx\ry\r\n\xF0\x9F\x8E\xB5");
    std::u16string line;
    ReadListLine(paths_, 1, 2, line);
    EXPECT_EQ(line, u"\x00E9t\x00E9.mp3\n");
    ReadListLine(paths_, 2, 2, line);
    EXPECT_EQ(line, u"x\ry\n");
    ReadListLine(paths_, 3, 2, line);
    EXPECT_EQ(line, u"\U0001F3B5");

    // No mark: UTF-16LE from the first byte.
    WriteAudioList(std::string("a\0\r\0\n\0b\0", 8));
    ReadListLine(paths_, 2, 2, line);
    EXPECT_EQ(line, u"b");

    // A capacity of 4 reads three units at a time; the rest of the line is the next read.
    WriteAudioList(std::string("\xFF\xFE"
                               "a\0b\0c\0d\0e\0\r\0\n\0",
                               16));
    ReadListLine(paths_, 1, 2, line, 4);
    EXPECT_EQ(line, u"abc");
    ReadListLine(paths_, 2, 2, line, 4);
    EXPECT_EQ(line, u"de\n");

    // An empty list (only its mark) reads nothing.
    WriteAudioList("\xFF\xFE");
    line = u"kept";
    EXPECT_EQ(ReadListLine(paths_, 1, 2, line), kListLineRead);
    EXPECT_EQ(line, u"kept");
}

} // namespace
