// The status popup's texts for each session state.
#include "manager/core/StatusText.h"

#include <gtest/gtest.h>

namespace manager {
namespace {

std::optional<std::u16string> AudioList(std::uint32_t index, std::uint32_t mediaType) {
    if (mediaType != 2)
        return std::nullopt;
    if (index == 1)
        return u"C:\\Music\\one.mp3\r\n";
    if (index == 2)
        return u"C:\\Music\\two.mp3\n";
    return std::nullopt;
}

TEST(StatusText, NotConnectedConnectedAndPlaying) {
    StatusValues v;
    StatusTexts t = MakeStatusTexts(v, AudioList);
    EXPECT_EQ(t.device, u"");
    EXPECT_EQ(t.status, u"Not Connected");
    EXPECT_FALSE(t.showStop);

    v.connected = true;
    v.deviceName = u"Living room";
    v.addressText = u"192.168.1.20";
    t = MakeStatusTexts(v, AudioList);
    EXPECT_EQ(t.device, u"Living room [192.168.1.20]");
    EXPECT_EQ(t.status, u"Connected");
    EXPECT_FALSE(t.showStop);

    v.playing = true; // playing, but nothing of ours (index 0)
    EXPECT_EQ(MakeStatusTexts(v, AudioList).status, u"Connected");

    v.fileIndex = 2;
    v.mediaType = 2;
    t = MakeStatusTexts(v, AudioList);
    EXPECT_EQ(t.status, u"C:\\Music\\two.mp3");
    EXPECT_TRUE(t.showStop);
}

TEST(StatusText, UnreadableLineLeavesTheStatusEmpty) {
    StatusValues v;
    v.connected = v.playing = true;
    v.fileIndex = 1;
    v.mediaType = 4;
    StatusTexts t = MakeStatusTexts(v, AudioList);
    EXPECT_EQ(t.status, u"");
    EXPECT_TRUE(t.showStop);
    EXPECT_EQ(MakeStatusTexts(v, nullptr).status, u"");
}

} // namespace
} // namespace manager
