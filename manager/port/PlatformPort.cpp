// The platform half of the manager's port.
#include "manager/port/PlatformPort.h"

#include "common/platform/Clock.h"
#include "common/platform/CodePage.h"
#include "common/platform/Network.h"

namespace manager {

PlatformStreamSocket::PlatformStreamSocket(platform::Socket socket, Selector select, Retire retire)
    : socket_(std::move(socket)), select_(std::move(select)), retire_(std::move(retire)) {}

PlatformStreamSocket::~PlatformStreamSocket() {
    if (retire_)
        retire_(std::move(socket_));
}

bool PlatformStreamSocket::Check(bool ok) {
    if (!ok)
        error_ = platform::LastSocketError();
    return ok;
}

bool PlatformStreamSocket::GetKeepAlive(std::int32_t& value) {
    return Check(socket_.GetKeepAlive(value));
}

bool PlatformStreamSocket::SetKeepAlive(bool on) {
    return Check(socket_.SetKeepAlive(on));
}

bool PlatformStreamSocket::SetKeepAliveTimes(std::uint32_t timeMs, std::uint32_t intervalMs) {
    return Check(socket_.SetKeepAliveTimes(timeMs, intervalMs));
}

bool PlatformStreamSocket::SelectEvents() {
    return Check(select_ && select_(socket_));
}

bool PlatformStreamSocket::Connect(std::uint32_t address, std::uint16_t port) {
    return Check(socket_.StartConnect(platform::SocketAddress{address, port}));
}

bool PlatformStreamSocket::Send(ByteSpan data, std::size_t& sent) {
    return Check(socket_.Send(data.data(), data.size(), sent));
}

ReceiveResult PlatformStreamSocket::Receive(std::span<std::uint8_t> buffer) {
    std::size_t received = 0;
    if (!socket_.Receive(buffer.data(), buffer.size(), received)) {
        error_ = platform::LastSocketError();
        return ReceiveResult{error_ == platform::kWsaEWouldBlock ? ReceiveStatus::WouldBlock
                                                                 : ReceiveStatus::Failed,
                             0};
    }
    if (received == 0)
        return ReceiveResult{ReceiveStatus::EndOfStream, 0};
    return ReceiveResult{ReceiveStatus::Data, received};
}

bool PlatformDatagramSocket::Check(bool ok) {
    if (!ok)
        error_ = platform::LastSocketError();
    return ok;
}

bool PlatformDatagramSocket::SetBroadcast(bool on) {
    return Check(socket_.SetBroadcast(on));
}

bool PlatformDatagramSocket::Bind(std::uint32_t address, std::uint16_t port) {
    return Check(socket_.Bind(platform::SocketAddress{address, port}));
}

bool PlatformDatagramSocket::SendTo(ByteSpan data, std::uint32_t address, std::uint16_t port) {
    std::size_t sent = 0;
    return Check(
        socket_.SendTo(data.data(), data.size(), platform::SocketAddress{address, port}, sent));
}

WaitResult PlatformDatagramSocket::WaitReadable(int timeoutMs) {
    if (socket_.WaitReadable(timeoutMs))
        return WaitResult::Readable;
    error_ = platform::LastSocketError();
    return error_ == platform::kWsaETimedOut ? WaitResult::TimedOut : WaitResult::Failed;
}

bool PlatformDatagramSocket::ReceiveFrom(std::span<std::uint8_t> buffer, std::size_t& received,
                                         std::uint32_t& fromAddress, std::uint16_t& fromPort) {
    platform::SocketAddress from;
    const bool ok = socket_.ReceiveFrom(buffer.data(), buffer.size(), received, from);
    fromAddress = from.address;
    fromPort = from.port;
    return Check(ok);
}

bool PlatformPort::StartSocketLibrary() {
    return platform::StartSocketLibrary();
}

int PlatformPort::LastSocketError() {
    return platform::LastSocketError();
}

std::u16string PlatformPort::SocketErrorText(int error) {
    return platform::SocketErrorText(error);
}

std::unique_ptr<IStreamSocket> PlatformPort::CreateStreamSocket() {
    platform::Socket socket = platform::Socket::Create(platform::SocketKind::Tcp);
    if (!socket.IsValid())
        return nullptr;
    return std::make_unique<PlatformStreamSocket>(
        std::move(socket), [this](platform::Socket& s) { return SelectSocketEvents(s); },
        [this](platform::Socket s) { RetireSocket(std::move(s)); });
}

std::unique_ptr<IDatagramSocket> PlatformPort::CreateDatagramSocket() {
    platform::Socket socket = platform::Socket::Create(platform::SocketKind::Udp);
    if (!socket.IsValid())
        return nullptr;
    return std::make_unique<PlatformDatagramSocket>(std::move(socket));
}

std::uint32_t PlatformPort::TickCount() {
    return platform::TickCountMs();
}

bool PlatformPort::HostName(std::string& ansiName) {
    return platform::GetLocalHostName(ansiName);
}

std::u16string PlatformPort::AnsiToUtf16(std::string_view ansi) {
    std::u16string out;
    if (!platform::MultiByteToUtf16(platform::SystemAnsiCodePage(), ansi, out))
        out = platform::Utf8ToUtf16(ansi);
    return out;
}

bool PlatformPort::ResolveHostName(const std::string& ansiName, std::uint32_t& address) {
    return platform::ResolveHostName(ansiName.c_str(), address);
}

platform::AdapterListStatus PlatformPort::ReadAdapters(std::vector<platform::AdapterInfo>& adapters,
                                                       int& error) {
    return platform::ReadAdapterList(adapters, error);
}

} // namespace manager
