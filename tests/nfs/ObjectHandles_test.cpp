// The handle table on its own: root normalisation, paths with their doubled separators, export
// prefixes, name matching, positions as fileids, deletion of subtrees, identifiers, files with
// out-of-range dates, names that leave the export, and lookups in a large table.
#include "server/nfs/ObjectHandles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/platform/CodePage.h"
#include "common/platform/FileSystem.h"
#include "server/rpc/XdrCodec.h"
#include "tests/support/TestDaemon.h"

namespace server {
namespace {

namespace fs = std::filesystem;
using rpctest::TempFolder;

constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;
constexpr std::int64_t k1965 = -157766400; // 1965-01-01 00:00:00 UTC
constexpr std::int64_t k1975 = 157766400;  // 1975-01-01 00:00:00 UTC
constexpr std::int64_t k2110 = 4417977600; // 2110-01-01 00:00:00 UTC

// A path as the table spells it: every separator a backslash, whatever the platform.
std::u16string Backslashed(const fs::path& path) {
    std::u16string text = path.u16string();
    std::replace(text.begin(), text.end(), u'/', u'\\');
    return text;
}

std::string Narrow(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

bool Touch(const fs::path& path) {
    std::ofstream out(path, std::ios::binary);
    out << "x";
    return static_cast<bool>(out);
}

bool SetLastWriteTime(const fs::path& path, std::int64_t unixSeconds) {
    platform::OpenOptions options;
    options.access = platform::FileAccess::Attributes;
    platform::File file = platform::File::Open(path.u16string(), options);
    const std::uint64_t ticks = static_cast<std::uint64_t>(
        static_cast<std::int64_t>(kFileTimeUnixEpoch) + unixSeconds * 10000000);
    return file.IsOpen() && file.SetTimes(nullptr, nullptr, &ticks);
}

class ObjectHandlesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root_.Valid() && list_.Valid());
        ASSERT_TRUE(table_.ErrorText().empty()) << table_.ErrorText();
    }

    // The entry that MNT of "/" makes.
    TDirHandle* RootEntry() {
        TObjectHandle* entry = table_.GetHandle(nullptr, u"/");
        EXPECT_NE(entry, nullptr);
        EXPECT_TRUE(entry != nullptr && entry->IsDirectory());
        return static_cast<TDirHandle*>(entry);
    }

    fs::path Disk(const char* relative) const { return root_.Path() / relative; }
    std::u16string Root() const { return Backslashed(root_.Path()); }

    TempFolder root_;
    TempFolder list_;
    TObjectHandles table_{root_.Path().u16string(), list_.Path().u16string(), 1000};
};

// --- Root folder ---

TEST(ObjectHandlesRoot, OneTrailingSeparatorIsDroppedAndSlashesBecomeBackslashes) {
    TempFolder root, list;
    const std::u16string plain = Backslashed(root.Path());
    const TObjectHandles withSlash(root.Path().u16string() + u"/", list.Path().u16string(), 1);
    EXPECT_EQ(withSlash.RootPath(), plain);
    EXPECT_TRUE(withSlash.ErrorText().empty());
    // Only one is removed.
    const TObjectHandles withTwo(root.Path().u16string() + u"\\\\", list.Path().u16string(), 1);
    EXPECT_EQ(withTwo.RootPath(), plain + u"\\");
    // The list folder keeps (or gains) its one trailing separator.
    EXPECT_EQ(withSlash.ListFolder(), Backslashed(list.Path()) + u"\\");
}

TEST(ObjectHandlesRoot, MissingRootOrAFileAsRootCannotBeOpened) {
    TempFolder parent, list;
    const fs::path missing = parent.Path() / "not-there";
    const TObjectHandles noFolder(missing.u16string() + u"/", list.Path().u16string(), 1);
    EXPECT_EQ(noFolder.ErrorText(), "Can't open folder \"" + Narrow(Backslashed(missing)) + "\"");

    const fs::path file = parent.Path() / "file.txt";
    ASSERT_TRUE(Touch(file));
    const TObjectHandles aFile(file.u16string(), list.Path().u16string(), 1);
    EXPECT_EQ(aFile.ErrorText(), "Can't open folder \"" + Narrow(Backslashed(file)) + "\"");
}

// --- Paths ---

TEST_F(ObjectHandlesTest, EveryDirectoryLevelLeavesADoubledSeparatorInPaths) {
    fs::create_directories(Disk("sub/deeper"));
    ASSERT_TRUE(Touch(Disk("a.mp3")));
    ASSERT_TRUE(Touch(Disk("sub/b.mp3")));

    TDirHandle* root = RootEntry();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->Parent(), nullptr);
    EXPECT_EQ(root->GetName(), u"/");
    EXPECT_EQ(root->Component(), Root() + u"\\");
    EXPECT_EQ(root->GetPath(), Root() + u"\\\\\\");

    TObjectHandle* file = table_.GetHandle(root, u"a.mp3");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->IsDirectory());
    EXPECT_EQ(file->Parent(), root);
    EXPECT_EQ(file->Component(), u"a.mp3");
    EXPECT_EQ(file->GetPath(), Root() + u"\\\\\\a.mp3");

    TObjectHandle* sub = table_.GetHandle(root, u"sub");
    ASSERT_NE(sub, nullptr);
    ASSERT_TRUE(sub->IsDirectory());
    EXPECT_EQ(sub->GetPath(), Root() + u"\\\\\\sub\\\\");
    TObjectHandle* inSub = table_.GetHandle(static_cast<TDirHandle*>(sub), u"b.mp3");
    ASSERT_NE(inSub, nullptr);
    EXPECT_EQ(inSub->GetPath(), Root() + u"\\\\\\sub\\\\b.mp3");

    // A mounted subfolder has no parent: its component is the whole path.
    TObjectHandle* mounted = table_.GetHandle(nullptr, u"/sub/deeper");
    ASSERT_NE(mounted, nullptr);
    EXPECT_EQ(mounted->Component(), Root() + u"\\sub\\deeper");
    EXPECT_EQ(mounted->GetPath(), Root() + u"\\sub\\deeper\\\\");

    // The platform finds the objects through these paths.
    nfs::Fattr3 attributes{};
    EXPECT_TRUE(table_.GetAttributes(inSub, attributes));
    EXPECT_TRUE(table_.GetAttributes(mounted, attributes));
}

TEST_F(ObjectHandlesTest, ListPrefixIsExactlyFourLowerCaseCharacters) {
    fs::create_directory(list_.Path() / "Audio");
    fs::create_directory(Disk("LST"));
    fs::create_directory(Disk("lstAudio")); // must not be what "/lstAudio" names

    TObjectHandle* list = table_.GetHandle(nullptr, u"/lst");
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->IsDirectory());
    EXPECT_EQ(list->Component(), table_.ListFolder());
    EXPECT_EQ(list->GetPath(), table_.ListFolder() + u"\\\\");

    TObjectHandle* audio = table_.GetHandle(nullptr, u"/lstAudio");
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->Component(), table_.ListFolder() + u"Audio");
    EXPECT_EQ(audio->ExportBase(), table_.ListFolder());

    TObjectHandle* upper = table_.GetHandle(nullptr, u"/LST");
    ASSERT_NE(upper, nullptr);
    EXPECT_EQ(upper->Component(), Root() + u"\\LST");
    EXPECT_EQ(upper->ExportBase(), table_.RootPath());

    EXPECT_EQ(table_.GetHandle(nullptr, u"/lstMissing"), nullptr);
    EXPECT_EQ(table_.GetHandle(nullptr, u""), nullptr);
}

// --- Names ---

TEST_F(ObjectHandlesTest, OtherCaseOfANameFindsTheFirstEntryWhereTheDiskIgnoresCase) {
    ASSERT_TRUE(Touch(Disk("readme")));
    TDirHandle* root = RootEntry();
    TObjectHandle* first = table_.GetHandle(root, u"readme");
    ASSERT_NE(first, nullptr);
    const std::size_t count = table_.Count();
#ifndef _WIN32
    // A Linux file system tells cases apart, and so does the table.
    EXPECT_FALSE(root->IgnoresCase);
    EXPECT_EQ(table_.GetHandle(root, u"README"), nullptr);
    EXPECT_EQ(table_.FindHandle(root, u"ReadMe"), -1);
    EXPECT_EQ(table_.Count(), count);
    GTEST_SKIP() << "the rest holds where the disk ignores case";
#endif

    TObjectHandle* again = table_.GetHandle(root, u"README");
    EXPECT_EQ(again, first);
    EXPECT_EQ(again->GetName(), u"readme");
    EXPECT_EQ(table_.Count(), count);
    EXPECT_EQ(table_.FindHandle(root, u"ReadMe"), static_cast<std::int64_t>(first->Position()));
    // The parent is part of the key.
    EXPECT_EQ(table_.FindHandle(nullptr, u"readme"), -1);
}

TEST_F(ObjectHandlesTest, BelowAParentANameIsOneNameWhileAnExportPathIsAPath) {
    fs::create_directories(Disk("a/b"));
    ASSERT_TRUE(Touch(Disk("a/b/c.txt")));
    TDirHandle* root = RootEntry();
    const std::size_t count = table_.Count();
    const std::u16string zeroInside(u"a\0b", 3);
    for (const std::u16string_view name :
         {std::u16string_view(u"a/b"), std::u16string_view(u"a\\b"),
          std::u16string_view(u"a/b/c.txt"), std::u16string_view(zeroInside)})
        EXPECT_EQ(table_.GetHandle(root, name), nullptr) << Narrow(name);
    EXPECT_EQ(table_.Count(), count);

    // MNT paths are paths: "/a/b" reaches two levels down, "/" becoming the separator.
    TObjectHandle* b = table_.GetHandle(nullptr, u"/a/b");
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(b->IsDirectory());
    EXPECT_EQ(b->Component(), Root() + u"\\a\\b");
    TObjectHandle* c = table_.GetHandle(static_cast<TDirHandle*>(b), u"c.txt");
    ASSERT_NE(c, nullptr);
    EXPECT_FALSE(c->IsDirectory());
    EXPECT_EQ(c->GetPath(), Root() + u"\\a\\b\\\\c.txt");
}

// --- Positions, deletion ---

TEST_F(ObjectHandlesTest, DeletingAnEntryMovesTheOnesBehindItForwardButKeepsTheirFileIds) {
    TDirHandle* root = RootEntry();
    std::vector<TObjectHandle*> files;
    for (const char* name : {"f1", "f2", "f3", "f4", "f5"}) {
        ASSERT_TRUE(Touch(Disk(name)));
        files.push_back(table_.GetHandle(root, platform::Utf8ToUtf16(name)));
        ASSERT_NE(files.back(), nullptr);
    }
    ASSERT_EQ(files[2]->Position(), 3u);
    TObjectHandle* fourth = files[3];
    ASSERT_EQ(fourth->Position(), 4u);
    const std::uint32_t deletedId = files[2]->Id();
    const std::uint64_t deletedFileId = files[2]->FileId();
    const std::uint64_t fourthFileId = fourth->FileId();
    EXPECT_NE(fourthFileId, 0u);
    EXPECT_NE(root->FileId(), 0u);

    table_.DeleteHandle(3);
    EXPECT_EQ(table_.Count(), 5u);
    EXPECT_EQ(fourth->Position(), 3u);
    EXPECT_EQ(table_.Items(3), fourth);
    EXPECT_EQ(table_.IndexOf(fourth->Id()), 3);
    nfs::Fattr3 attributes{};
    ASSERT_TRUE(table_.GetAttributes(fourth, attributes));
    EXPECT_EQ(rpc::LoadBigEndian64(attributes.data() + nfs::fattr::kFileId), fourthFileId);

    EXPECT_EQ(table_.IndexOf(deletedId), -1);
    EXPECT_EQ(table_.Find(deletedId), nullptr);
    EXPECT_EQ(table_.FindHandle(root, u"f3"), -1);
    // Looked up again, the name gets a new entry at the end.
    TObjectHandle* back = table_.GetHandle(root, u"f3");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Position(), 5u);
    EXPECT_NE(back->Id(), deletedId);
    EXPECT_NE(back->FileId(), deletedFileId); // a fileid is never given out again
    for (std::size_t i : {0u, 1u, 3u, 4u})
        EXPECT_NE(back->FileId(), files[i]->FileId());
}

TEST_F(ObjectHandlesTest, DeletingADirectoryDeletesEverythingFoundThroughIt) {
    fs::create_directories(Disk("d/e"));
    for (const char* name : {"d/x", "d/e/y", "z"})
        ASSERT_TRUE(Touch(Disk(name)));
    TDirHandle* root = RootEntry();
    auto* d = static_cast<TDirHandle*>(table_.GetHandle(root, u"d"));
    ASSERT_NE(d, nullptr);
    TObjectHandle* x = table_.GetHandle(d, u"x");
    auto* e = static_cast<TDirHandle*>(table_.GetHandle(d, u"e"));
    ASSERT_NE(e, nullptr);
    TObjectHandle* z = table_.GetHandle(root, u"z"); // between the subtree's entries
    TObjectHandle* y = table_.GetHandle(e, u"y");
    ASSERT_TRUE(x != nullptr && z != nullptr && y != nullptr);
    // A file written through the subtree is closed with it.
    platform::OpenOptions exclusive;
    exclusive.access = platform::FileAccess::Write;
    exclusive.share = platform::FileShare::Read;
    auto& yFile = static_cast<TFileHandle&>(*y);
    yFile.FileHandle = platform::File::Open(fs::path(Disk("d/e/y")).u16string(), exclusive);
    ASSERT_TRUE(yFile.FileHandle.IsOpen());
    const std::vector<std::uint32_t> ids{d->Id(), x->Id(), e->Id(), y->Id()};

    table_.DeleteHandle(d->Position());
    ASSERT_EQ(table_.Count(), 2u);
    for (std::uint32_t id : ids)
        EXPECT_EQ(table_.IndexOf(id), -1);
    EXPECT_EQ(table_.Items(0), root);
    EXPECT_EQ(table_.Items(1), z);
    EXPECT_EQ(z->Position(), 1u);
    EXPECT_EQ(table_.FindHandle(root, u"d"), -1);

    platform::OpenOptions writer;
    writer.access = platform::FileAccess::Write;
    EXPECT_TRUE(platform::File::Open(fs::path(Disk("d/e/y")).u16string(), writer).IsOpen())
        << "the write file of a deleted entry is still open";
}

TEST_F(ObjectHandlesTest, IdleSweepClosesOnlyFilesUnusedForLong) {
    ASSERT_TRUE(Touch(Disk("old")));
    ASSERT_TRUE(Touch(Disk("recent")));
    TDirHandle* root = RootEntry();
    auto& old = static_cast<TFileHandle&>(*table_.GetHandle(root, u"old"));
    auto& recent = static_cast<TFileHandle&>(*table_.GetHandle(root, u"recent"));
    platform::OpenOptions options;
    options.access = platform::FileAccess::Write;
    old.FileHandle = platform::File::Open(fs::path(Disk("old")).u16string(), options);
    recent.FileHandle = platform::File::Open(fs::path(Disk("recent")).u16string(), options);
    old.LastUse = 100;
    recent.LastUse = 70000;

    table_.CloseIdleFiles(70100, 60000);
    EXPECT_FALSE(old.FileHandle.IsOpen());
    EXPECT_EQ(old.LastUse, 0u);
    EXPECT_TRUE(recent.FileHandle.IsOpen());
    EXPECT_EQ(recent.LastUse, 70000u);
}

// --- Identifiers ---

TEST(ObjectHandlesIds, NeverZeroAndUniqueAcrossTheWrap) {
    TempFolder root, list;
    TObjectHandles table(root.Path().u16string(), list.Path().u16string(), 0xFFFFFFFEu);
    auto* top = static_cast<TDirHandle*>(table.GetHandle(nullptr, u"/"));
    ASSERT_NE(top, nullptr);
    std::set<std::uint32_t> ids{top->Id()};
    for (int i = 0; i < 5; ++i) {
        const std::string name = "f" + std::to_string(i);
        std::ofstream(root.Path() / name) << i;
        TObjectHandle* entry = table.GetHandle(top, platform::Utf8ToUtf16(name));
        ASSERT_NE(entry, nullptr);
        EXPECT_NE(entry->Id(), 0u);
        ids.insert(entry->Id());
        EXPECT_EQ(table.Find(entry->Id()), entry);
    }
    EXPECT_EQ(ids.size(), 6u);
    EXPECT_EQ(ids.count(0), 0u);
}

TEST(ObjectHandlesIds, TablesSeededAtRandomShareNoIdentifiers) {
    TempFolder root, list;
    for (int i = 0; i < 50; ++i)
        std::ofstream(root.Path() / ("f" + std::to_string(i))) << i;
    std::random_device device;
    std::set<std::uint32_t> seen;
    for (int table = 0; table < 2; ++table) {
        TObjectHandles handles(root.Path().u16string(), list.Path().u16string(), device());
        auto* top = static_cast<TDirHandle*>(handles.GetHandle(nullptr, u"/"));
        ASSERT_NE(top, nullptr);
        std::vector<std::uint32_t> ids{top->Id()};
        for (int i = 0; i < 50; ++i) {
            const TObjectHandle* entry =
                handles.GetHandle(top, platform::Utf8ToUtf16("f" + std::to_string(i)));
            ASSERT_NE(entry, nullptr);
            ids.push_back(entry->Id());
        }
        for (std::uint32_t id : ids)
            EXPECT_TRUE(seen.insert(id).second) << "identifier " << id << " seen before";
    }
}

// --- Dates ---

TEST_F(ObjectHandlesTest, FilesOutsideTheDosDateRangeAreFoundWithClampedTimes) {
    struct Case {
        const char* name;
        std::int64_t unixSeconds;
        std::uint32_t seconds, nanoseconds;
    };
    const Case cases[] = {
        {"1965.mp3", k1965, 0, 0},
        {"1975.mp3", k1975, static_cast<std::uint32_t>(k1975), 0},
        {"2110.mp3", k2110, 0xFFFFFFFFu, 999999900u},
    };
    TDirHandle* root = RootEntry();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Touch(Disk(c.name)));
        ASSERT_TRUE(SetLastWriteTime(Disk(c.name), c.unixSeconds));
        TObjectHandle* entry = table_.GetHandle(root, platform::Utf8ToUtf16(c.name));
        ASSERT_NE(entry, nullptr);
        EXPECT_FALSE(entry->IsDirectory());
        nfs::Fattr3 attributes{};
        ASSERT_TRUE(table_.GetAttributes(entry, attributes));
        EXPECT_EQ(rpc::LoadBigEndian32(attributes.data() + nfs::fattr::kMtime), c.seconds);
        EXPECT_EQ(rpc::LoadBigEndian32(attributes.data() + nfs::fattr::kMtime + 4), c.nanoseconds);
        EXPECT_EQ(rpc::LoadBigEndian64(attributes.data() + nfs::fattr::kSize), 1u);
    }
}

// --- The export's edge ---

TEST_F(ObjectHandlesTest, NamesAreTestedForLeavingTheExport) {
    fs::create_directories(Disk("a/b"));
    fs::create_directories(list_.Path() / "Audio");
    TDirHandle* root = RootEntry();
    auto* a = static_cast<TDirHandle*>(table_.GetHandle(root, u"a"));
    auto* ab = static_cast<TDirHandle*>(table_.GetHandle(a, u"b"));
    auto* mountedA = static_cast<TDirHandle*>(table_.GetHandle(nullptr, u"/a"));
    auto* list = static_cast<TDirHandle*>(table_.GetHandle(nullptr, u"/lst"));
    auto* audio = static_cast<TDirHandle*>(table_.GetHandle(nullptr, u"/lstAudio"));
    ASSERT_TRUE(a && ab && mountedA && list && audio);

    struct Case {
        const TDirHandle* parent;
        const char16_t* name;
        bool escapes;
    };
    const Case cases[] = {
        {root, u"..", true},
        {root, u"a/../../x", true},
        {root, u"a/..", false},
        {root, u"./b", false},
        {root, u".", false},
        {root, u"a\\..\\..", true},
        {root, u"a/b/../../..", true},
        {a, u"..", false},
        {a, u"../..", true},
        {ab, u"../..", false},
        {ab, u"../../..", true},
        {mountedA, u"..", false},
        {mountedA, u"../..", true},
        {list, u"..", true},
        {audio, u"..", false},
        {audio, u"../..", true},
        {nullptr, u"/..", true},
        {nullptr, u"/lst/..", true},
        {nullptr, u"/lst/Audio/..", false},
        {nullptr, u"/a/..", false},
        {nullptr, u"/", false},
        {nullptr, u"/../..", true},
    };
    for (const Case& c : cases) {
        const std::string where = c.parent == nullptr ? "(mount)" : Narrow(c.parent->GetName());
        EXPECT_EQ(table_.EscapesExport(c.parent, c.name), c.escapes)
            << where << " + " << Narrow(c.name);
    }
    // GetHandle refuses them although the objects exist.
    EXPECT_EQ(table_.GetHandle(root, u".."), nullptr);
    EXPECT_EQ(table_.GetHandle(nullptr, u"/lst/.."), nullptr);
    EXPECT_NE(table_.GetHandle(ab, u".."), nullptr);
}

// The list folder inside the root folder (the default layout on Windows) is reachable under an
// ordinary name, and still no REMOVE, RMDIR or RENAME may take it away.
TEST(ObjectHandlesExports, ExportedFoldersAreKnownWhateverTheSpelling) {
    TempFolder base;
    const fs::path root = base.Path() / "Documents";
    fs::create_directories(root / "Lumavert");
    fs::create_directories(root / "Films");
    ASSERT_TRUE(Touch(root / "Films" / "clip.avi"));
    const TObjectHandles table(root.u16string(), (root / "Lumavert").u16string(), 1);
    const std::u16string top = Backslashed(root);
    EXPECT_TRUE(table.IsExportedFolder(top + u"\\\\"));
    EXPECT_TRUE(table.IsExportedFolder(top + u"\\\\Lumavert"));
    EXPECT_TRUE(table.IsExportedFolder(top + u"\\Films\\..\\Lumavert\\"));
    EXPECT_TRUE(table.IsExportedFolder(Backslashed(base.Path()))) << "it holds both exports";
    EXPECT_FALSE(table.IsExportedFolder(top + u"\\\\Films"));
    EXPECT_FALSE(table.IsExportedFolder(top + u"\\Films\\clip.avi"));
    EXPECT_FALSE(table.IsExportedFolder(top + u"\\Missing"));
#ifdef _WIN32
    EXPECT_TRUE(table.IsExportedFolder(top + u"\\LUMAVERT"));
#endif
}

// --- Size ---

// Loose: a linear search would need billions of name comparisons here; benchmarks time it.
TEST_F(ObjectHandlesTest, LookupsStayQuickInATableOfAHundredThousandEntries) {
    // Distinct entries of few objects: fJ through the ".." of each of 100 folders.
    constexpr int kFolders = 100, kFiles = 1000;
    for (int k = 0; k < kFolders; ++k)
        fs::create_directory(root_.Path() / ("d" + std::to_string(k)));
    for (int j = 0; j < kFiles; ++j)
        ASSERT_TRUE(Touch(root_.Path() / ("f" + std::to_string(j))));
    TDirHandle* root = RootEntry();
    std::vector<TDirHandle*> parents;
    for (int k = 0; k < kFolders; ++k) {
        auto* folder = static_cast<TDirHandle*>(
            table_.GetHandle(root, platform::Utf8ToUtf16("d" + std::to_string(k))));
        ASSERT_NE(folder, nullptr);
        parents.push_back(static_cast<TDirHandle*>(table_.GetHandle(folder, u"..")));
        ASSERT_NE(parents.back(), nullptr);
    }
    std::vector<std::u16string> names;
    for (int j = 0; j < kFiles; ++j)
        names.push_back(platform::Utf8ToUtf16("f" + std::to_string(j)));
    std::vector<std::uint32_t> ids;
    std::vector<std::int64_t> positions;
    ids.reserve(kFolders * kFiles);
    for (TDirHandle* parent : parents) {
        for (const std::u16string& name : names) {
            const TObjectHandle* entry = table_.GetHandle(parent, name);
            ASSERT_NE(entry, nullptr) << Narrow(name);
            ids.push_back(entry->Id());
            positions.push_back(static_cast<std::int64_t>(entry->Position()));
        }
    }
    ASSERT_EQ(table_.Count(), ids.size() + 2 * kFolders + 1);

    const auto start = std::chrono::steady_clock::now();
    std::size_t found = 0;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        found += table_.FindHandle(parents[i / kFiles], names[i % kFiles]) == positions[i];
        found += table_.IndexOf(ids[i]) == positions[i];
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(found, 2 * ids.size());
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

} // namespace
} // namespace server
