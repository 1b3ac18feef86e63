// The discovery exchanges over the port's datagram socket and tick source.
#include "manager/core/Discovery.h"

#include <array>
#include <memory>

#include "common/platform/CodePage.h"
#include "manager/core/PortText.h"

namespace manager {

namespace {

constexpr int kIdleLimitWithFree = 10;
constexpr int kIdleLimit = 30;
constexpr std::size_t kReceivedNameUnits = 256;

// Milliseconds from `now` to `due`, 0 when it has passed.
int MsUntil(std::uint32_t now, std::uint32_t due) {
    const std::int32_t left = static_cast<std::int32_t>(due - now);
    return left > 0 ? left : 0;
}

bool IdleLimitReached(const TargetTable& table, int idle) {
    return (table.validCount > 0 && idle > kIdleLimitWithFree) || idle > kIdleLimit;
}

std::u16string NameFromUtf8(const std::string& utf8) {
    std::u16string name = platform::Utf8ToUtf16(utf8);
    text::CutToFit(name, kReceivedNameUnits);
    return name;
}

// One exchange: its socket, destination and the token its answers must echo.
class Exchange {
  public:
    Exchange(IManagerPort& port, const MacAddress& mac, std::uint16_t targetPort)
        : port_(port), mac_(mac), targetPort_(targetPort) {}

    int StartLibrary() {
        if (port_.StartSocketLibrary())
            return 0;
        Log(port_, u"Error at WSAStartup()\n");
        return kDiscoveryNoSocketLibrary;
    }

    int CreateSocket() {
        socket_ = port_.CreateDatagramSocket();
        if (!socket_) {
            Log(port_, u"Error Creating Socket");
            return kDiscoveryNoSocket;
        }
        // Without it a broadcast send is refused (WSAEACCES / EACCES).
        socket_->SetBroadcast(true);
        return 0;
    }

    int Bind() {
        if (socket_->Bind(0, 0))
            return 0;
        Log(port_, u"error bind failed");
        return kDiscoveryBindFailed;
    }

    // A text that is no dotted address sends to 127.0.0.1.
    void SetDestination(std::string_view broadcastText) {
        if (!ParseDottedQuad(broadcastText, destination_))
            destination_ = FromOctets({127, 0, 0, 1});
        const auto o = Octets(destination_);
        Log(port_, u"Target IP: %d.%d.%d.%d \n ", o[0], o[1], o[2], o[3]);
    }

    void NewToken() {
        tick_ = port_.TickCount();
        request_ = BuildSearchRequest(tick_, mac_);
    }

    bool Send() {
        if (!started_) {
            started_ = true;
            start_ = port_.TickCount();
        }
        if (socket_->SendTo(request_, destination_, targetPort_))
            return true;
        Log(port_, u"Error sending packet: %s\n", port_.SocketErrorText(socket_->LastError()));
        return false;
    }

    bool OutOfTime() const {
        return started_ &&
               static_cast<std::uint32_t>(port_.TickCount() - start_) >= kExchangeLimitMs;
    }

    int Timeout() {
        Log(port_, u"Timeout to wait ACK.\n");
        return kDiscoveryTimeout;
    }

    bool Wait(int ms) { return WaitReadable(*socket_, ms); }

    // Reads one datagram and checks it; on success `entry` is the new record.
    bool ReceiveAnswer(bool checkMacEcho, TargetEntry& entry) {
        std::array<std::uint8_t, kMaxAnswerSize> buffer{};
        std::size_t received = 0;
        std::uint32_t from = 0;
        std::uint16_t fromPort = 0;
        const bool ok = socket_->ReceiveFrom(buffer, received, from, fromPort);
        Log(port_, u"recvSize: %d\n", ok ? static_cast<int>(received) : -1);
        Log(port_, u"check recv_data: \n");
        if (!ok)
            return false;
        SearchAnswer answer;
        if (CheckSearchAnswer(std::span(buffer.data(), received), tick_, mac_, checkMacEcho,
                              answer) != AnswerCheck::Ok)
            return false;
        const std::u16string product = NameFromUtf8(answer.productName);
        const std::u16string device = NameFromUtf8(answer.deviceName);
        const auto o = Octets(from);
        Log(port_, u"  check ok! \n");
        Log(port_, u"recv IP_%d.%d.%d.%d:%d\n", o[0], o[1], o[2], o[3], fromPort);
        Log(port_, u"  connectInform: %d\n", answer.connectInform);
        Log(port_, u"  activeInform: %d\n", answer.activeInform);
        Log(port_, u"  workStatus: %d\n", answer.workStatus);
        Log(port_, u"  ProductName: %s\n", product);
        Log(port_, u"  DeviceName: %s\n", device);
        entry.ip = from;
        entry.productName = product;
        text::CutToFit(entry.productName, kTargetNameUnits);
        entry.deviceName = device;
        text::CutToFit(entry.deviceName, kTargetNameUnits);
        entry.connectInform = answer.connectInform;
        entry.activeInform = answer.activeInform;
        entry.workStatus = answer.workStatus;
        entry.lastSeen = port_.TickCount();
        return true;
    }

  private:
    IManagerPort& port_;
    const MacAddress& mac_;
    std::uint16_t targetPort_;
    std::unique_ptr<IDatagramSocket> socket_;
    std::uint32_t destination_ = 0;
    std::uint32_t tick_ = 0;
    std::vector<std::uint8_t> request_;
    bool started_ = false;
    std::uint32_t start_ = 0;
};

} // namespace

bool WaitReadable(IDatagramSocket& socket, int ms) {
    return socket.WaitReadable(ms) == WaitResult::Readable;
}

int SearchTargets(IManagerPort& port, std::string_view broadcastText, std::uint16_t targetPort,
                  TargetTable& table, const MacAddress& mac) {
    Exchange exchange(port, mac, targetPort);
    if (const int error = exchange.StartLibrary())
        return error;
    // The token is taken when the request is built, before the socket exists.
    exchange.NewToken();
    if (const int error = exchange.CreateSocket())
        return error;
    exchange.SetDestination(broadcastText);
    if (const int error = exchange.Bind())
        return error;
    Log(port, u"sendto.\n");
    if (!exchange.Send())
        return kDiscoverySendFailed;

    int idle = 0;
    // Each wait runs up to 100 ms from the end of the one before, so that what the loop does
    // between the waits (the log, a resend, a late wake-up) does not stretch the silence that
    // the empty waits count.
    std::uint32_t waitEnd = port.TickCount();
    for (;;) {
        if (exchange.OutOfTime())
            return exchange.Timeout();
        const std::uint32_t due = waitEnd + kSearchWaitMs;
        const bool readable = exchange.Wait(MsUntil(port.TickCount(), due));
        const std::uint32_t now = port.TickCount();
        // A wait that overran ends at its due time; one that ended early (a datagram, a failed
        // select) where it ended.
        waitEnd = static_cast<std::int32_t>(now - due) < 0 ? now : due;
        if (!readable) {
            Log(port, u".");
            ++idle;
            if (idle % 2 == 0) {
                Log(port, u"\nsendto.\n");
                if (!exchange.Send())
                    return kDiscoverySendFailed;
            }
            if (IdleLimitReached(table, idle))
                return exchange.Timeout();
            continue;
        }
        Log(port, u"\n");
        TargetEntry entry;
        if (!exchange.ReceiveAnswer(true, entry))
            continue;
        MergeTarget(table, entry);
    }
}

int UDP_Client_Send(IManagerPort& port, const HostIdentity& host, TargetTable& table,
                    bool& validChanged, bool& anyChanged) {
    Exchange exchange(port, host.mac, kDiscoveryPort);
    if (const int error = exchange.StartLibrary())
        return error;
    if (const int error = exchange.CreateSocket())
        return error;
    if (const int error = exchange.Bind())
        return error;
    Log(port, u"UDP_Client_Send.\n");
    exchange.NewToken();
    exchange.SetDestination(host.broadcastText);
    if (!exchange.Send())
        return kDiscoverySendFailed;

    int idle = 0;
    for (;;) {
        if (exchange.OutOfTime())
            return exchange.Timeout();
        if (!exchange.Wait(kRefreshWaitMs)) {
            port.PumpDialogMessage();
            Log(port, u".");
            ++idle;
            const int half = idle / 2;
            if (half % 2 == 0) {
                Log(port, u"\nUDP_Client_Send.\n");
                // A new token: answers to the earlier request no longer pass.
                exchange.NewToken();
                if (!exchange.Send())
                    return kDiscoverySendFailed;
            }
            if (IdleLimitReached(table, half))
                return exchange.Timeout();
            continue;
        }
        TargetEntry entry;
        if (!exchange.ReceiveAnswer(false, entry))
            return kDiscoveryBadDatagram;
        const MergeOutcome outcome = MergeTarget(table, entry);
        if (outcome.added) {
            anyChanged = true;
            if (entry.connectInform == 0)
                validChanged = true;
        }
        if (outcome.freenessChanged) {
            anyChanged = true;
            validChanged = true;
        }
    }
}

void DiscoverTargets(IManagerPort& port, DiscoveryContext& context, TargetTable& table,
                     DialogTicket boxTicket) {
    int error = kDiscoveryOk;
    if (LookUpHostAddress(port, context.host) == kLookupNoAddress) {
        error = kDiscoveryNoAddress;
    } else {
        table.foundCount = 0;
        table.validCount = 0;
        error = SearchTargets(port, context.host.broadcastText, kDiscoveryPort, table,
                              context.host.mac);
        if (table.foundCount > 0) {
            if (table.validCount > 0) {
                error = kDiscoveryOk;
            } else {
                error = kDiscoveryNoValidDevice;
                ShowErrorBox(port, boxTicket, u"No valid device found.");
            }
            Log(port, u"Found Target num: %d\n", table.foundCount);
            Log(port, u"Found Valid Target num: %d\n", table.validCount);
        } else {
            ShowErrorBox(port, boxTicket, u"%s \n%s", u"No device found.",
                         u"Please check PC/Device network connection.");
        }
    }
    if (error != kDiscoveryOk)
        Log(port, u"Error on Discovery: %d\n", error);
    context.lastError = error;
}

} // namespace manager
