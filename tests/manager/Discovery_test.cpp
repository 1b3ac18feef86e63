// Discovery exchanges over a fake datagram socket whose waits move a fake clock: counts of
// waits and requests, resend rules, error codes and the 10 s bound.
#include "manager/core/Discovery.h"

#include <gtest/gtest.h>

#include "common/text/DebugPrint.h"

#include "tests/support/ManagerFakes.h"

namespace manager {
namespace {

using testing::Address;
using testing::Datagram;
using testing::DiscoveryAnswer;
using testing::FakePort;

const MacAddress kMac = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};

struct Lan {
    FakePort port;
    DiscoveryContext context;
    TargetTable table;
    text::DebugSink previousSink = text::SetDebugSink([](std::u16string_view) {});
    ~Lan() { text::SetDebugSink(previousSink); }
    Lan() {
        port.hostAddress = Address(192, 0, 2, 1);
        port.adapters = {platform::AdapterInfo{
            "eth0", {kMac.begin(), kMac.end()}, {{"192.0.2.1", "255.255.255.0"}}}};
    }
    // A player at 192.0.2.`host` answering every request after `delayMs`.
    void Player(std::uint8_t host, std::uint16_t connectInform, std::string device = "Den",
                std::uint32_t delayMs = 5) {
        auto previous = port.onDatagramSent;
        port.onDatagramSent = [=, this](const Datagram& sent) {
            if (previous)
                previous(sent);
            port.Arrive(DiscoveryAnswer(sent.bytes, connectInform, device),
                        Address(192, 0, 2, host), delayMs);
        };
    }
    std::size_t Requests() const { return port.datagrams->sent.size(); }
};

TEST(Discovery, SilenceEndsAfter31EmptyWaitsAnd16Requests) {
    Lan lan;
    DiscoverTargets(lan.port, lan.context, lan.table);
    EXPECT_EQ(lan.context.lastError, kDiscoveryTimeout);
    EXPECT_EQ(lan.port.datagrams->emptyWaits, 31);
    EXPECT_EQ(lan.Requests(), 16u);
    EXPECT_TRUE(lan.port.datagrams->closed);
    ASSERT_EQ(lan.port.errorBoxes.size(), 1u);
    EXPECT_EQ(lan.port.errorBoxes[0].text,
              u"No device found. \nPlease check PC/Device network connection.");
    EXPECT_TRUE(lan.port.Logged(u"Timeout to wait ACK.\n"));
    EXPECT_EQ(lan.port.logs.back(), u"Error on Discovery: 5\n");
}

TEST(Discovery, RequestGoesToTheDirectedBroadcastWithBroadcastAllowed) {
    Lan lan;
    lan.Player(2, 0);
    DiscoverTargets(lan.port, lan.context, lan.table);
    const Datagram& first = lan.port.datagrams->sent.front();
    EXPECT_TRUE(lan.port.datagrams->broadcastSet);
    EXPECT_EQ(first.address, Address(192, 0, 2, 255));
    EXPECT_EQ(first.port, 62000);
    ASSERT_EQ(first.bytes.size(), kSearchRequestSize);
    EXPECT_TRUE(std::equal(kMac.begin(), kMac.end(), first.bytes.begin() + 12));
    EXPECT_TRUE(lan.port.Logged(u"Target IP: 192.0.2.255 \n "));
}

TEST(Discovery, AFreePlayerEndsItAfter11EmptyWaitsAnd6Requests) {
    Lan lan;
    lan.Player(2, 0, std::string(200, 'n'));
    lan.Player(3, 1, "Busy \xE2\x9C\x93");
    const std::uint32_t start = lan.port.now;
    DiscoverTargets(lan.port, lan.context, lan.table);
    EXPECT_EQ(lan.context.lastError, kDiscoveryOk);
    EXPECT_EQ(lan.port.datagrams->emptyWaits, 11);
    EXPECT_EQ(lan.Requests(), 6u);
    EXPECT_EQ(lan.port.now - start, 1100u + 6u * 5u);
    EXPECT_EQ(lan.table.foundCount, 2);
    EXPECT_EQ(lan.table.validCount, 1);
    EXPECT_EQ(lan.table.entries[0].deviceName, std::u16string(127, u'n'));
    EXPECT_EQ(lan.table.entries[1].deviceName, u"Busy \u2713");
    EXPECT_EQ(lan.table.entries[1].productName, u"KP-\u00E9");
    EXPECT_EQ(lan.table.entries[1].ip, Address(192, 0, 2, 3));
    EXPECT_TRUE(lan.port.errorBoxes.empty());
    EXPECT_TRUE(lan.port.Logged(u"Found Target num: 2\n"));
    EXPECT_TRUE(lan.port.Logged(u"Found Valid Target num: 1\n"));
    EXPECT_TRUE(lan.port.Logged(u"recv IP_192.0.2.3:62000\n"));
}

TEST(Discovery, LateWakeUpsDoNotStretchTheSilence) {
    // Every wait wakes 3 ms late. The next one still ends 100 ms after the previous one was
    // due, so the overruns do not add up over the 17 waits: only the 5 resends go out 3 ms
    // late (their answers come as much later) and the last wait's overrun shows.
    Lan lan;
    lan.Player(2, 0);
    lan.port.beforeWait = [&] { lan.port.now += 3; };
    const std::uint32_t start = lan.port.now;
    DiscoverTargets(lan.port, lan.context, lan.table);
    EXPECT_EQ(lan.context.lastError, kDiscoveryOk);
    EXPECT_EQ(lan.port.datagrams->emptyWaits, 11);
    EXPECT_EQ(lan.Requests(), 6u);
    EXPECT_EQ(lan.port.now - start, 1100u + 6u * 5u + 5u * 3u + 3u);
}

TEST(Discovery, NamesThatAreNoUtf8StoreNoZeroOrLoneHalf) {
    // An overlong zero, an encoded surrogate half and an overlong slash, each one U+FFFD per
    // byte; a 4-byte form stays one pair.
    Lan lan;
    lan.Player(2, 0,
               "a\xC0\x80"
               "b\xED\xA0\x80"
               "c\xE0\x80\xAF\xF0\x9F\x8E\xB5");
    DiscoverTargets(lan.port, lan.context, lan.table);
    ASSERT_EQ(lan.table.foundCount, 1);
    EXPECT_EQ(lan.table.entries[0].deviceName,
              u"a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFDc\uFFFD\uFFFD\uFFFD\U0001F3B5");
}

TEST(Discovery, OnlyBusyPlayersGive201) {
    Lan lan;
    lan.Player(2, 1);
    DiscoverTargets(lan.port, lan.context, lan.table);
    EXPECT_EQ(lan.context.lastError, kDiscoveryNoValidDevice);
    EXPECT_EQ(lan.port.datagrams->emptyWaits, 31);
    ASSERT_EQ(lan.port.errorBoxes.size(), 1u);
    EXPECT_EQ(lan.port.errorBoxes[0].text, u"No valid device found.");
    EXPECT_EQ(lan.port.logs.back(), u"Error on Discovery: 201\n");
}

TEST(Discovery, SearchIgnoresAnswersWithoutTheMacEcho) {
    Lan lan;
    lan.port.onDatagramSent = [&](const Datagram& sent) {
        lan.port.Arrive(DiscoveryAnswer(sent.bytes, 0, "x", false), Address(192, 0, 2, 9));
    };
    EXPECT_EQ(SearchTargets(lan.port, "192.0.2.255", 62000, lan.table, kMac), kDiscoveryTimeout);
    EXPECT_EQ(lan.table.foundCount, 0);
}

TEST(Discovery, SetUpFailuresAndLookupGiveTheirCodes) {
    {
        Lan lan;
        lan.port.hostAddress = 0;
        DiscoverTargets(lan.port, lan.context, lan.table);
        EXPECT_EQ(lan.context.lastError, kDiscoveryNoAddress);
        EXPECT_EQ(lan.Requests(), 0u);
        EXPECT_TRUE(lan.port.errorBoxes.empty());
        EXPECT_EQ(lan.port.logs.back(), u"Error on Discovery: 200\n");
    }
    Lan lan;
    lan.port.datagramSendFails = true;
    EXPECT_EQ(SearchTargets(lan.port, "192.0.2.255", 62000, lan.table, kMac), kDiscoverySendFailed);
    EXPECT_EQ(lan.port.logs.back(), u"Error sending packet: error\n");
    lan.port.datagramBindFails = true;
    EXPECT_EQ(SearchTargets(lan.port, "192.0.2.255", 62000, lan.table, kMac), kDiscoveryBindFailed);
    lan.port.datagramCreateFails = true;
    EXPECT_EQ(SearchTargets(lan.port, "192.0.2.255", 62000, lan.table, kMac), kDiscoveryNoSocket);
    lan.port.socketLibraryFails = true;
    EXPECT_EQ(SearchTargets(lan.port, "192.0.2.255", 62000, lan.table, kMac),
              kDiscoveryNoSocketLibrary);
    // A text that is no address sends to 127.0.0.1; 255.255.255.255 is a valid one.
    lan.port.socketLibraryFails = lan.port.datagramCreateFails = false;
    lan.port.datagramBindFails = lan.port.datagramSendFails = false;
    SearchTargets(lan.port, "no address", 62000, lan.table, kMac);
    EXPECT_EQ(lan.port.datagrams->sent.back().address, Address(127, 0, 0, 1));
    SearchTargets(lan.port, "255.255.255.255", 62000, lan.table, kMac);
    EXPECT_EQ(lan.port.datagrams->sent.back().address, Address(255, 255, 255, 255));
}

TEST(Discovery, FloodOfDatagramsEndsTheExchangeAfter10Seconds) {
    Lan lan;
    // Someone answers every 40 ms, faster than any wait runs out.
    lan.port.beforeWait = [&] {
        if (lan.port.datagrams->incoming.empty() && !lan.port.datagrams->sent.empty())
            lan.port.Arrive(DiscoveryAnswer(lan.port.datagrams->sent.back().bytes, 1, "chatty"),
                            Address(192, 0, 2, 7), 40);
    };
    const std::uint32_t start = lan.port.now;
    EXPECT_EQ(SearchTargets(lan.port, "192.0.2.255", 62000, lan.table, kMac), kDiscoveryTimeout);
    EXPECT_EQ(lan.port.now - start, kExchangeLimitMs);
    EXPECT_EQ(lan.port.datagrams->emptyWaits, 0);

    TargetTable copy;
    bool validChanged = false;
    bool anyChanged = false;
    lan.context.host.broadcastText = "192.0.2.255";
    const std::uint32_t refreshStart = lan.port.now;
    EXPECT_EQ(UDP_Client_Send(lan.port, lan.context.host, copy, validChanged, anyChanged),
              kDiscoveryTimeout);
    EXPECT_EQ(lan.port.now - refreshStart, kExchangeLimitMs);
}

TEST(Discovery, RefreshResendsAtEmptyWaits1_4_5_8_9) {
    Lan lan;
    lan.context.host.broadcastText = "192.0.2.255";
    lan.context.host.mac = kMac;
    std::vector<int> resendAt;
    lan.port.onDatagramSent = [&](const Datagram&) {
        resendAt.push_back(lan.port.datagrams->emptyWaits);
    };
    TargetTable copy;
    bool validChanged = false;
    bool anyChanged = false;
    EXPECT_EQ(UDP_Client_Send(lan.port, lan.context.host, copy, validChanged, anyChanged),
              kDiscoveryTimeout);
    EXPECT_EQ(lan.port.datagrams->emptyWaits, 62);
    EXPECT_EQ(lan.port.pumps, 62);
    ASSERT_GE(resendAt.size(), 6u);
    EXPECT_EQ(std::vector<int>(resendAt.begin(), resendAt.begin() + 6),
              (std::vector<int>{0, 1, 4, 5, 8, 9}));
    EXPECT_EQ(resendAt.size(), 32u);
    // Each resend has a fresh token.
    EXPECT_NE(lan.port.datagrams->sent[0].bytes, lan.port.datagrams->sent[1].bytes);

    // With a free player already in the copy it ends after 22.
    copy.entries[0].connectInform = 0;
    copy.foundCount = copy.validCount = 1;
    lan.port.datagrams->emptyWaits = 0;
    UDP_Client_Send(lan.port, lan.context.host, copy, validChanged, anyChanged);
    EXPECT_EQ(lan.port.datagrams->emptyWaits, 22);
    EXPECT_FALSE(validChanged || anyChanged);
}

TEST(Discovery, RefreshMergesWithFlagsAndEndsOnABadDatagram) {
    Lan lan;
    lan.context.host.broadcastText = "192.0.2.255";
    lan.context.host.mac = kMac;
    lan.Player(2, 1);
    TargetTable copy;
    bool validChanged = false;
    bool anyChanged = false;
    UDP_Client_Send(lan.port, lan.context.host, copy, validChanged, anyChanged);
    EXPECT_TRUE(anyChanged);
    EXPECT_FALSE(validChanged) << "a new busy player";
    EXPECT_EQ(copy.foundCount, 1);

    // The same player now free: both flags.
    lan.port.onDatagramSent = nullptr;
    lan.Player(2, 0);
    anyChanged = validChanged = false;
    UDP_Client_Send(lan.port, lan.context.host, copy, validChanged, anyChanged);
    EXPECT_TRUE(anyChanged && validChanged);
    EXPECT_EQ(copy.validCount, 1);

    // A datagram of another format ends the refresh with 100 (the MAC echo is not checked).
    lan.port.onDatagramSent = [&](const Datagram&) {
        lan.port.Arrive({1, 2, 3}, Address(192, 0, 2, 50));
    };
    EXPECT_EQ(UDP_Client_Send(lan.port, lan.context.host, copy, validChanged, anyChanged),
              kDiscoveryBadDatagram);
}

// Hostile players: more than the table holds, every field wrong in turn, datagrams at and past
// the size the PC reads. The next good player is found normally afterwards.
TEST(Discovery, TwoHundredPlayersFillThe128SlotsAndTheRestAreIgnored) {
    Lan lan;
    lan.port.onDatagramSent = [&](const Datagram& sent) {
        for (int i = 0; i < 200; ++i)
            lan.port.Arrive(DiscoveryAnswer(sent.bytes, static_cast<std::uint16_t>(i % 2), "p"),
                            Address(10, 0, static_cast<std::uint8_t>(i / 100),
                                    static_cast<std::uint8_t>(i % 100)),
                            1);
    };
    EXPECT_EQ(SearchTargets(lan.port, "192.0.2.255", 62000, lan.table, kMac), kDiscoveryTimeout);
    EXPECT_EQ(lan.table.foundCount, 128);
    EXPECT_EQ(lan.table.validCount, 64);
    EXPECT_EQ(lan.table.entries[127].ip, Address(10, 0, 1, 27));
    for (int i = 0; i < lan.table.foundCount; ++i)
        EXPECT_NE(lan.table.entries[static_cast<std::size_t>(i)].ip, Address(10, 0, 1, 28));

    // A known player turning free is still counted in a full table.
    lan.port.onDatagramSent = [&](const Datagram& sent) {
        lan.port.Arrive(DiscoveryAnswer(sent.bytes, 0, "now free"), Address(10, 0, 0, 1), 1);
    };
    EXPECT_EQ(SearchTargets(lan.port, "192.0.2.255", 62000, lan.table, kMac), kDiscoveryTimeout);
    EXPECT_EQ(lan.table.foundCount, 128);
    EXPECT_EQ(lan.table.validCount, 65);

    lan.port.onDatagramSent = nullptr;
    lan.Player(2, 0, "next");
    DiscoverTargets(lan.port, lan.context, lan.table);
    EXPECT_EQ(lan.context.lastError, kDiscoveryOk);
    ASSERT_EQ(lan.table.foundCount, 1);
    EXPECT_EQ(lan.table.entries[0].deviceName, u"next");
}

TEST(Discovery, AnswersWithOneFieldWrongAreIgnoredBesideAGoodOne) {
    // Offset and value of each wrong field: reserved, tag, length (19 and 1024), token,
    // the non-zero word, the MAC echo and its two zeros, the text.
    const std::vector<std::pair<std::size_t, std::uint8_t>> wrong = {
        {0, 1}, {5, 1}, {6, 19}, {7, 4}, {8, 0}, {12, 0}, {16, 0}, {22, 1}, {40, '!'}, {50, '!'}};
    for (const auto& [offset, value] : wrong) {
        Lan lan;
        lan.port.onDatagramSent = [&, offset = offset, value = value](const Datagram& sent) {
            auto bad = DiscoveryAnswer(sent.bytes, 0, "bad");
            bad[offset] = value;
            if (offset == 12)
                std::fill(bad.begin() + 12, bad.begin() + 16, 0);
            if (offset == 6)
                bad[7] = 0;
            lan.port.Arrive(bad, Address(192, 0, 2, 66), 1);
            lan.port.Arrive(DiscoveryAnswer(sent.bytes, 0, "good"), Address(192, 0, 2, 2), 2);
        };
        DiscoverTargets(lan.port, lan.context, lan.table);
        ASSERT_EQ(lan.table.foundCount, 1) << "wrong byte at " << offset;
        EXPECT_EQ(lan.table.entries[0].deviceName, u"good");
    }
}

TEST(Discovery, DatagramsAtAndPastTheReadSize) {
    Lan lan;
    // 1056 bytes (the most the PC reads) with L = 1023: taken. 1057 bytes: cut by the read,
    // so ignored.
    lan.port.onDatagramSent = [&](const Datagram& sent) {
        auto full = DiscoveryAnswer(sent.bytes, 0, std::string(900, 'f'));
        full.resize(kMaxAnswerSize, 'x');
        full[6] = 0xFF, full[7] = 0x03;
        lan.port.Arrive(full, Address(192, 0, 2, 3), 1);
        auto over = DiscoveryAnswer(sent.bytes, 0, "over");
        over.resize(kMaxAnswerSize + 1, 0);
        lan.port.Arrive(over, Address(192, 0, 2, 4), 1);
    };
    EXPECT_EQ(SearchTargets(lan.port, "192.0.2.255", 62000, lan.table, kMac), kDiscoveryTimeout);
    ASSERT_EQ(lan.table.foundCount, 1);
    EXPECT_EQ(lan.table.entries[0].ip, Address(192, 0, 2, 3));
    EXPECT_EQ(lan.table.entries[0].deviceName, std::u16string(127, u'f'));
}

} // namespace
} // namespace manager
