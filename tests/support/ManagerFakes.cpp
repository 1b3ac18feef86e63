// The fakes of the manager's port.
#include "tests/support/ManagerFakes.h"

#include <algorithm>

#include "common/platform/CodePage.h"

namespace manager::testing {

std::uint32_t Address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return FromOctets({a, b, c, d});
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

std::vector<std::uint8_t> DiscoveryAnswer(const std::vector<std::uint8_t>& request,
                                          std::uint16_t connectInform, const std::string& device,
                                          bool echoMac) {
    std::uint32_t token = 0;
    GetU32(request, 8, token);
    std::vector<std::uint8_t> a;
    PutU32(a, 0);
    PutU16(a, 19);
    PutU16(a, 0);
    PutU32(a, ~token);
    PutU32(a, 1);
    for (int i = 12; i < 20; ++i)
        a.push_back(echoMac ? request[static_cast<std::size_t>(i)] : 0xEE);
    PutU16(a, connectInform);
    PutU16(a, 0);
    PutU32(a, 0);
    for (const std::string& text :
         {std::string("Kestro PC Mode ACK"), std::string("KP-\xC3\xA9"), device}) {
        a.insert(a.end(), text.begin(), text.end());
        a.push_back(0);
    }
    const std::size_t length = a.size() - 8;
    a[6] = static_cast<std::uint8_t>(length);
    a[7] = static_cast<std::uint8_t>(length >> 8);
    return a;
}

bool FakeDatagramSocket::SetBroadcast(bool on) {
    log_->broadcastSet = on;
    return true;
}

bool FakeDatagramSocket::Bind(std::uint32_t, std::uint16_t) {
    if (port_.datagramBindFails) {
        error_ = 10048;
        return false;
    }
    log_->bound = true;
    return true;
}

bool FakeDatagramSocket::SendTo(ByteSpan data, std::uint32_t address, std::uint16_t port) {
    // As the systems do: a broadcast destination needs SO_BROADCAST.
    const auto octets = Octets(address);
    if (port_.datagramSendFails) {
        error_ = 10065;
        return false;
    }
    if (octets[3] == 255 && !log_->broadcastSet) {
        error_ = 10013;
        return false;
    }
    Datagram sent{port_.now, std::vector<std::uint8_t>(data.begin(), data.end()), address, port};
    log_->sent.push_back(sent);
    if (port_.onDatagramSent)
        port_.onDatagramSent(sent);
    return true;
}

WaitResult FakeDatagramSocket::WaitReadable(int timeoutMs) {
    ++log_->waits;
    if (port_.beforeWait)
        port_.beforeWait();
    auto& incoming = log_->incoming;
    std::stable_sort(incoming.begin(), incoming.end(), [](const Datagram& a, const Datagram& b) {
        return static_cast<std::int32_t>(a.time - b.time) < 0;
    });
    const std::uint32_t deadline = port_.now + static_cast<std::uint32_t>(timeoutMs);
    if (!incoming.empty() && static_cast<std::int32_t>(incoming.front().time - deadline) <= 0) {
        if (static_cast<std::int32_t>(incoming.front().time - port_.now) > 0)
            port_.now = incoming.front().time;
        return WaitResult::Readable;
    }
    port_.now = deadline;
    ++log_->emptyWaits;
    return WaitResult::TimedOut;
}

bool FakeDatagramSocket::ReceiveFrom(std::span<std::uint8_t> buffer, std::size_t& received,
                                     std::uint32_t& fromAddress, std::uint16_t& fromPort) {
    if (log_->incoming.empty()) {
        error_ = kWouldBlock;
        return false;
    }
    const Datagram datagram = log_->incoming.front();
    log_->incoming.pop_front();
    received = std::min(buffer.size(), datagram.bytes.size());
    std::copy_n(datagram.bytes.begin(), received, buffer.begin());
    fromAddress = datagram.address;
    fromPort = datagram.port;
    if (datagram.bytes.size() > buffer.size()) {
        error_ = 10040;
        return false;
    }
    return true;
}

std::vector<std::uint8_t> StreamLog::AllSent() const {
    std::vector<std::uint8_t> all;
    for (const auto& s : sends)
        all.insert(all.end(), s.begin(), s.end());
    return all;
}

bool FakeStreamSocket::GetKeepAlive(std::int32_t& value) {
    log_->calls.push_back("get-keepalive");
    value = log_->keepAlive;
    return true;
}

bool FakeStreamSocket::SetKeepAlive(bool on) {
    log_->calls.push_back("set-keepalive");
    log_->keepAlive = on ? 1 : 0;
    return true;
}

bool FakeStreamSocket::SetKeepAliveTimes(std::uint32_t timeMs, std::uint32_t intervalMs) {
    log_->calls.push_back("keepalive-times");
    log_->keepAliveTime = timeMs;
    log_->keepAliveInterval = intervalMs;
    return true;
}

bool FakeStreamSocket::SelectEvents() {
    log_->calls.push_back("select-events");
    if (log_->selectFails) {
        error_ = 10022;
        return false;
    }
    return true;
}

bool FakeStreamSocket::Connect(std::uint32_t address, std::uint16_t) {
    log_->calls.push_back("connect");
    log_->connectedTo = address;
    if (log_->connectError == 0)
        return true;
    error_ = log_->connectError;
    return false;
}

bool FakeStreamSocket::Send(ByteSpan data, std::size_t& sent) {
    sent = std::min(data.size(), log_->sendLimit);
    log_->sends.emplace_back(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(sent));
    return true;
}

ReceiveResult FakeStreamSocket::Receive(std::span<std::uint8_t> buffer) {
    auto& incoming = log_->incoming;
    if (incoming.empty())
        return ReceiveResult{ReceiveStatus::WouldBlock, 0};
    auto& chunk = incoming.front();
    const std::size_t count = std::min(buffer.size(), chunk.size());
    std::copy_n(chunk.begin(), count, buffer.begin());
    chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count));
    if (chunk.empty())
        incoming.pop_front();
    return ReceiveResult{ReceiveStatus::Data, count};
}

FakePort::FakePort() = default;

void FakePort::Arrive(std::vector<std::uint8_t> bytes, std::uint32_t sender, std::uint32_t delayMs,
                      std::uint16_t port) {
    datagrams->incoming.push_back(Datagram{now + delayMs, std::move(bytes), sender, port});
}

std::u16string FakePort::Joined() const {
    std::u16string all;
    for (const auto& line : logs) {
        all += line;
        all += u'|';
    }
    return all;
}

bool FakePort::Logged(std::u16string_view line) const {
    return std::find(logs.begin(), logs.end(), line) != logs.end();
}

std::u16string FakePort::SocketErrorText(int error) {
    return error == 10013 ? u"Permission denied" : u"error";
}

std::unique_ptr<IStreamSocket> FakePort::CreateStreamSocket() {
    if (streamCreateFails)
        return nullptr;
    auto log = std::make_shared<StreamLog>(streamSettings);
    log->id = nextStreamId++;
    stream = log;
    return std::make_unique<FakeStreamSocket>(log);
}

std::unique_ptr<IDatagramSocket> FakePort::CreateDatagramSocket() {
    if (datagramCreateFails)
        return nullptr;
    datagrams->closed = false;
    return std::make_unique<FakeDatagramSocket>(*this, datagrams);
}

bool FakePort::HostName(std::string& ansiName) {
    ansiName = hostName;
    return !hostName.empty();
}

std::u16string FakePort::AnsiToUtf16(std::string_view ansi) {
    std::u16string out;
    platform::MultiByteToUtf16(ansiCodePage, ansi, out);
    return out;
}

bool FakePort::ResolveHostName(const std::string&, std::uint32_t& address) {
    if (hostAddress == 0)
        return false;
    address = hostAddress;
    return true;
}

platform::AdapterListStatus FakePort::ReadAdapters(std::vector<platform::AdapterInfo>& list,
                                                   int& error) {
    list = adapters;
    error = adapterError;
    return adapterStatus;
}

void FakePort::ShowTargetFields(std::uint32_t address, std::u16string_view port,
                                std::u16string_view deviceName, std::u16string_view targetStatus) {
    fieldAddress = address;
    fieldPort = port;
    fieldName = deviceName;
    fieldStatus = targetStatus;
}

void FakePort::StartTimer(int timer, std::uint32_t periodMs) {
    if (timer >= 0 && timer < 3)
        timers[timer] = periodMs != 0;
    effects.push_back("start timer " + std::to_string(timer));
}

void FakePort::StopTimer(int timer) {
    if (timer >= 0 && timer < 3)
        timers[timer] = false;
    effects.push_back("stop timer " + std::to_string(timer));
}

bool FakePort::ReadHandOffFolder(std::u16string& folder) {
    ++handOffReads;
    if (!handOffBlock)
        return false;
    folder = handOffFolder;
    return true;
}

bool FakePort::StoreShareSettings(std::u16string_view root) {
    if (settingsFail)
        return false;
    storedRoots.emplace_back(root);
    return true;
}

std::string FakePort::JoinedEffects() const {
    std::string joined;
    for (const std::string& effect : effects) {
        if (!joined.empty())
            joined += '|';
        joined += effect;
    }
    return joined;
}

} // namespace manager::testing
