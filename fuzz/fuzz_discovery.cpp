// Fuzz target: datagrams from any sender at any time during a discovery exchange, checked and
// merged into the target table. Input: a mode byte (exchange; token and MAC filled in or
// left as sent; a table already holding 0, 1, 127 or 128 players), then records of a flags
// byte (delay after the previous datagram in its high nibble), a sender byte and a 16-bit
// length followed by that many bytes. The table's invariants are checked after every datagram
// read (before the next wait) and at the end; every log line must fit its buffer.
#include <deque>

#include "common/text/DebugPrint.h"

#include "fuzz/ManagerFuzz.h"
#include "manager/core/Discovery.h"
#include "tests/support/ManagerFakes.h"

namespace {

using manager::testing::Address;
using manager::testing::FakePort;

const manager::MacAddress kMac = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};

// The fake port whose datagram socket can write the current token and the MAC echo into an
// answer as it is read, so that the fuzzer gets past the checks it cannot guess.
class DiscoveryPort : public FakePort {
  public:
    bool fillToken = false;
    bool fillMac = false;
    std::uint32_t tick = 0; // the raw tick of the last request sent
    std::deque<std::uint8_t> fillFlags;
    bool received = false; // a datagram was read since the table was last checked

    std::unique_ptr<manager::IDatagramSocket> CreateDatagramSocket() override;
};

class DiscoverySocket : public manager::testing::FakeDatagramSocket {
  public:
    DiscoverySocket(DiscoveryPort& port, std::shared_ptr<manager::testing::DatagramLog> log)
        : FakeDatagramSocket(port, std::move(log)), port_(port) {}

    bool ReceiveFrom(std::span<std::uint8_t> buffer, std::size_t& received,
                     std::uint32_t& fromAddress, std::uint16_t& fromPort) override {
        const bool ok = FakeDatagramSocket::ReceiveFrom(buffer, received, fromAddress, fromPort);
        port_.received = true;
        std::uint8_t flags = 0;
        if (!port_.fillFlags.empty()) {
            flags = port_.fillFlags.front();
            port_.fillFlags.pop_front();
        }
        fuzzing::Check(received <= buffer.size(), "datagram larger than the receive buffer");
        if (ok && port_.fillToken && (flags & 1) != 0 && received >= 12) {
            for (int i = 0; i < 4; ++i)
                buffer[8 + i] = static_cast<std::uint8_t>(port_.tick >> (8 * i));
        }
        if (ok && port_.fillMac && (flags & 2) != 0 && received >= 24) {
            std::copy(kMac.begin(), kMac.end(), buffer.begin() + 16);
            buffer[22] = 0;
            buffer[23] = 0;
        }
        return ok;
    }

  private:
    DiscoveryPort& port_;
};

std::unique_ptr<manager::IDatagramSocket> DiscoveryPort::CreateDatagramSocket() {
    if (datagramCreateFails)
        return nullptr;
    datagrams->closed = false;
    return std::make_unique<DiscoverySocket>(*this, datagrams);
}

void Prefill(manager::TargetTable& table, int count) {
    for (int i = 0; i < count; ++i) {
        manager::TargetEntry entry;
        // Senders of the input are 10.x.y.z; these are apart from them but one: the last
        // prefilled record is 10.0.0.0, which the input can answer as.
        entry.ip = i + 1 == count ? Address(10, 0, 0, 0)
                                  : Address(172, 16, static_cast<std::uint8_t>(i >> 8),
                                            static_cast<std::uint8_t>(i));
        entry.deviceName = u"known";
        entry.connectInform = static_cast<std::uint16_t>(i % 3 == 0 ? 0 : 1);
        entry.lastSeen = 0x12340000;
        manager::MergeTarget(table, entry);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::CheckDebugLines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::InputReader in(data, size);
    const std::uint8_t mode = in.U8();
    DiscoveryPort port;
    port.fillToken = (mode & 0x04) != 0;
    port.fillMac = (mode & 0x08) != 0;
    port.hostAddress = Address(192, 0, 2, 1);
    port.adapters = {platform::AdapterInfo{
        "eth0", {kMac.begin(), kMac.end()}, {{"192.0.2.1", "255.255.255.0"}}}};
    port.onDatagramSent = [&port](const manager::testing::Datagram& sent) {
        std::uint32_t token = 0;
        fuzzing::Check(sent.bytes.size() == manager::kSearchRequestSize &&
                           manager::GetU32(sent.bytes, 8, token),
                       "a search request that is not 42 bytes");
        port.tick = ~token;
    };

    manager::TargetTable table;
    static constexpr int kPrefill[] = {0, 1, 127, 128};
    Prefill(table, kPrefill[(mode >> 4) & 3]);
    fuzzing::CheckTable(table);

    std::uint32_t delay = 0;
    while (!in.Empty()) {
        const std::uint8_t flags = in.U8();
        const std::uint8_t sender = in.U8();
        const std::size_t length = in.U16() % (manager::kMaxAnswerSize + 64);
        const auto bytes = in.Take(length);
        // Bit 2 of the flags picks a second block of 256 senders: more than the table holds.
        delay += static_cast<std::uint32_t>(flags >> 4) * 25;
        port.Arrive(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                    Address(10, 0, static_cast<std::uint8_t>((flags >> 2) & 1), sender), delay);
        port.fillFlags.push_back(flags);
    }
    // Before each wait that follows a read: after each answer merged.
    port.beforeWait = [&port, &table] {
        if (port.received)
            fuzzing::CheckTable(table);
        port.received = false;
    };

    const int exchange = mode & 3;
    int error = 0;
    if (exchange == 0) {
        error = manager::SearchTargets(port, "192.0.2.255", manager::kDiscoveryPort, table, kMac);
        fuzzing::Check(error >= 1 && error <= 5, "SearchTargets ended outside 1..5");
    } else if (exchange == 1) {
        manager::HostIdentity host;
        host.mac = kMac;
        host.broadcastText = "192.0.2.255";
        bool validChanged = false;
        bool anyChanged = false;
        const manager::TargetTable before = table;
        error = manager::UDP_Client_Send(port, host, table, validChanged, anyChanged);
        fuzzing::Check((error >= 1 && error <= 5) || error == manager::kDiscoveryBadDatagram,
                       "UDP_Client_Send ended outside 1..5 and 100");
        fuzzing::Check(!validChanged || anyChanged, "validChanged without anyChanged");
        if (!anyChanged)
            fuzzing::Check(table.foundCount == before.foundCount &&
                               table.validCount == before.validCount,
                           "the table changed its counts without anyChanged");
    } else {
        manager::DiscoveryContext context;
        manager::DiscoverTargets(port, context, table);
        const int last = context.lastError;
        fuzzing::Check(last == 0 || (last >= 1 && last <= 5) || last == 200 || last == 201,
                       "DiscoverTargets left an unknown error");
        fuzzing::Check((last == 0) == (table.validCount > 0), "error 0 without a free player");
    }
    fuzzing::CheckTable(table);
    for (const std::u16string& line : port.logs)
        fuzzing::Check(line.size() < text::kDebugLineUnits, "log line longer than its buffer");
    for (const auto& box : port.errorBoxes)
        fuzzing::Check(box.text.size() < 1024, "error text longer than its buffer");
    return 0;
}
