// The host address lookup: adapter matching, the broadcast address and the host name's forms.
#include "manager/core/HostAddress.h"

#include <gtest/gtest.h>

#include "common/text/DebugPrint.h"

#include "tests/support/ManagerFakes.h"

namespace manager {
namespace {

using testing::Address;
using testing::FakePort;

platform::AdapterInfo Adapter(std::vector<std::uint8_t> mac,
                              std::vector<platform::AdapterAddress> addresses) {
    return platform::AdapterInfo{"eth", std::move(mac), std::move(addresses)};
}

// Captures the debugger output of one case.
struct DebugLines {
    std::vector<std::u16string> lines;
    text::DebugSink previous;
    DebugLines() {
        previous = text::SetDebugSink([this](std::u16string_view l) { lines.emplace_back(l); });
    }
    ~DebugLines() { text::SetDebugSink(previous); }
};

TEST(HostAddress, BroadcastFollowsTheAdapterMask) {
    DebugLines debug;
    FakePort port;
    port.hostAddress = Address(192, 168, 1, 20);
    HostIdentity host;
    // No adapter found yet: mask 0, the limited broadcast.
    EXPECT_EQ(LookUpHostAddress(port, host), 0);
    EXPECT_FALSE(host.macKnown);
    EXPECT_EQ(host.broadcastText, "255.255.255.255");

    port.adapters = {Adapter({2, 0, 0, 0, 0, 1}, {{"192.168.1.20", "255.255.255.0"}})};
    EXPECT_EQ(LookUpHostAddress(port, host), 0);
    EXPECT_TRUE(host.macKnown);
    EXPECT_EQ(host.addressText, "192.168.1.20");
    EXPECT_EQ(host.broadcastText, "192.168.1.255");
    EXPECT_EQ(debug.lines.back(), u"MAC: 02-00-00-00-00-01\n");

    port.adapters[0].addresses[0].mask = "255.255.0.0";
    LookUpHostAddress(port, host);
    EXPECT_EQ(host.broadcastText, "192.168.255.255");

    // The adapter gone: the earlier MAC and mask stay, only "known" drops.
    port.adapters.clear();
    LookUpHostAddress(port, host);
    EXPECT_FALSE(host.macKnown);
    EXPECT_EQ(host.mac[5], 1);
    EXPECT_EQ(host.broadcastText, "192.168.255.255");
    EXPECT_EQ(debug.lines.back(), u"MAC: fail to get\n");

    port.hostAddress = 0;
    EXPECT_EQ(LookUpHostAddress(port, host), kLookupNoAddress);
}

TEST(HostAddress, LastMatchingAdapterDecides) {
    const std::vector<platform::AdapterInfo> adapters = {
        Adapter({1, 1, 1, 1, 1, 1}, {{"10.0.0.5", "255.0.0.0"}, {"192.0.2.1", "255.255.255.0"}}),
        Adapter({2, 2, 2, 2, 2, 2}, {{"192.0.2.10", "255.255.0.0"}}),
        Adapter({3, 3, 3, 3, 3, 3}, {{"192.0.2.1", "255.255.255.128"}}),
    };
    MacAddress mac{};
    std::uint32_t mask = 0;
    EXPECT_EQ(MatchAdapter(adapters, "192.0.2.1", mac, mask), kAdapterFound);
    EXPECT_EQ(mac[0], 3);
    EXPECT_EQ(mask, Address(255, 255, 255, 128));
    EXPECT_EQ(MatchAdapter(adapters, "192.0.2.100", mac, mask), kAdapterNotFound);

    // A match whose hardware address is not 6 bytes long: -2, its mask not taken.
    auto withTunnel = adapters;
    withTunnel.push_back(Adapter({}, {{"192.0.2.1", "255.255.255.252"}}));
    EXPECT_EQ(MatchAdapter(withTunnel, "192.0.2.1", mac, mask), kAdapterNotEthernet);
    EXPECT_EQ(mask, Address(255, 255, 255, 128));

    FakePort port;
    DebugLines debug;
    port.adapterStatus = platform::AdapterListStatus::Failed;
    port.adapterError = 232;
    EXPECT_EQ(FindAdapterByAddress(port, "192.0.2.1", mac, mask), kAdapterTableFailed);
    EXPECT_EQ(debug.lines.back(), u"GetAdaptersInfo failed with error: 232\n");
    port.adapterStatus = platform::AdapterListStatus::NoMemory;
    EXPECT_EQ(FindAdapterByAddress(port, "192.0.2.1", mac, mask), kAdapterNoMemory);
    EXPECT_EQ(debug.lines.back(), u"Error allocating memory needed to call GetAdaptersinfo\n");
}

TEST(HostAddress, HostNameIsSentAsUtf8CutAtAWholeCharacter) {
    DebugLines debug;
    FakePort port;
    port.hostAddress = Address(192, 0, 2, 1);
    HostIdentity host;
    port.hostName = "pc-\xE9";
    LookUpHostAddress(port, host);
    EXPECT_EQ(host.hostName, "pc-\xE9");
    EXPECT_EQ(host.hostNameUtf8, "pc-\xC3\xA9");

    // 64 characters of two UTF-8 bytes each: 63 whole ones fit the 127 bytes.
    port.hostName = std::string(64, '\xE9');
    LookUpHostAddress(port, host);
    EXPECT_EQ(host.hostNameUtf8.size(), 126u);
    EXPECT_EQ(host.hostNameUtf8.substr(124), "\xC3\xA9");
    EXPECT_EQ(Utf8CutToFit(u"ab\U0001F3AC", 6), "ab");
    EXPECT_EQ(Utf8CutToFit(u"ab\U0001F3AC", 7), "ab\xF0\x9F\x8E\xAC");
}

TEST(HostAddress, DottedTextBothWays) {
    std::uint32_t value = 0;
    EXPECT_TRUE(ParseDottedQuad("255.255.255.255", value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_TRUE(ParseDottedQuad("192.0.2.255", value));
    EXPECT_EQ(DottedText(value), "192.0.2.255");
    for (const char* bad : {"", "1.2.3", "1.2.3.4.", "256.1.1.1", "1.2.3.4 ", "a.b.c.d"})
        EXPECT_FALSE(ParseDottedQuad(bad, value)) << bad;
}

} // namespace
} // namespace manager
