// Media classification: the 49 rows in three letter cases and the edges of the extension walk.
#include "common/handoff/MediaType.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using handoff::ClassifyMediaFile;
using handoff::MediaExtensionTable;
using handoff::MediaType;

std::u16string Upper(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return text;
}

// "clip.MkV": every other letter upper case.
std::u16string Mixed(std::u16string text) {
    for (std::size_t i = 0; i < text.size(); i += 2)
        text[i] = Upper(std::u16string(1, text[i]))[0];
    return text;
}

TEST(MediaTypeTest, TableHoldsImagesAudioAndVideoInOrderWithoutRepeats) {
    int counts[4] = {};
    std::set<std::u16string> seen;
    MediaType previous = MediaType::Image;
    for (const auto& row : MediaExtensionTable) {
        const std::u16string extension(row.extension);
        EXPECT_EQ(static_cast<std::size_t>(row.length), extension.size()) << row.length;
        EXPECT_EQ(extension[0], u'.');
        EXPECT_LE(extension.size(), 7u);
        EXPECT_TRUE(seen.insert(extension).second);
        // Images, then audio, then video: the type never goes back up.
        EXPECT_LE(static_cast<int>(row.type), static_cast<int>(previous));
        previous = row.type;
        ++counts[static_cast<int>(row.type)];
    }
    EXPECT_EQ(counts[3], 9);
    EXPECT_EQ(counts[2], 13);
    EXPECT_EQ(counts[1], 27);
    EXPECT_EQ(MediaExtensionTable.front().extension, std::u16string(u".jpeg"));
    EXPECT_EQ(MediaExtensionTable[9].extension, std::u16string(u".mp3"));
    EXPECT_EQ(MediaExtensionTable.back().extension, std::u16string(u".avs"));
}

TEST(MediaTypeTest, EveryRowMatchesInLowerUpperAndMixedCase) {
    for (const auto& row : MediaExtensionTable) {
        const std::u16string name = u"C:\\Media\\file" + std::u16string(row.extension);
        EXPECT_EQ(ClassifyMediaFile(name), row.type);
        EXPECT_EQ(ClassifyMediaFile(Upper(name)), row.type);
        EXPECT_EQ(ClassifyMediaFile(Mixed(name)), row.type);
    }
}

TEST(MediaTypeTest, OnlyTheLastDotOfTheLastComponentCounts) {
    EXPECT_EQ(ClassifyMediaFile(u"Clip.MKV"), MediaType::Video);
    EXPECT_EQ(ClassifyMediaFile(u"clip.mkv"), MediaType::Video);
    EXPECT_EQ(ClassifyMediaFile(u"CLIP.Mkv"), MediaType::Video);
    EXPECT_EQ(ClassifyMediaFile(u"song.FLAC"), MediaType::Audio);
    EXPECT_EQ(ClassifyMediaFile(u"scan.JPEG"), MediaType::Image);
    EXPECT_EQ(ClassifyMediaFile(u"movie.avi.txt"), MediaType::None);
    EXPECT_EQ(ClassifyMediaFile(u"archive.tar.gz"), MediaType::None);
    EXPECT_EQ(ClassifyMediaFile(u"C:\\folder.avi\\readme"), MediaType::None);
    EXPECT_EQ(ClassifyMediaFile(u"C:\\Media\\noextension"), MediaType::None);
    EXPECT_EQ(ClassifyMediaFile(u"C:\\Media\\a.mpegvideo"), MediaType::None);
    // Index 0 is never looked at, and a path of one character has no extension.
    EXPECT_EQ(ClassifyMediaFile(u".mp3"), MediaType::None);
    EXPECT_EQ(ClassifyMediaFile(u"x.mp3"), MediaType::Audio);
    EXPECT_EQ(ClassifyMediaFile(u"."), MediaType::None);
    EXPECT_EQ(ClassifyMediaFile(u""), MediaType::None);
    // ASCII letters only: a fullwidth or accented letter is not folded.
    EXPECT_EQ(ClassifyMediaFile(u"a.\xFF4D\xFF50\x33"), MediaType::None);
}

} // namespace
