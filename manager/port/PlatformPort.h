// The half of the manager's port that the platform layer gives the same way to every
// front-end: sockets, the tick count, the host's name and adapters. A front-end derives from
// PlatformPort and adds how socket events reach it and the user-interface effects.
#pragma once

#include <functional>
#include <memory>

#include "common/platform/Socket.h"
#include "manager/core/ManagerPort.h"

namespace manager {

// The control connection's socket over platform::Socket.
class PlatformStreamSocket : public IStreamSocket {
  public:
    using Selector = std::function<bool(platform::Socket&)>;
    using Retire = std::function<void(platform::Socket)>;
    // `select` asks for the socket's events; `retire` takes it over when the core closes it.
    PlatformStreamSocket(platform::Socket socket, Selector select, Retire retire);
    ~PlatformStreamSocket() override;

    SocketId Id() const override { return socket_.Value(); }
    int LastError() const override { return error_; }
    bool GetKeepAlive(std::int32_t& value) override;
    bool SetKeepAlive(bool on) override;
    bool SetKeepAliveTimes(std::uint32_t timeMs, std::uint32_t intervalMs) override;
    bool SelectEvents() override;
    bool Connect(std::uint32_t address, std::uint16_t port) override;
    bool Send(ByteSpan data, std::size_t& sent) override;
    ReceiveResult Receive(std::span<std::uint8_t> buffer) override;

  private:
    bool Check(bool ok);

    platform::Socket socket_;
    Selector select_;
    Retire retire_;
    int error_ = 0;
};

class PlatformDatagramSocket : public IDatagramSocket {
  public:
    explicit PlatformDatagramSocket(platform::Socket socket) : socket_(std::move(socket)) {}

    int LastError() const override { return error_; }
    bool SetBroadcast(bool on) override;
    bool Bind(std::uint32_t address, std::uint16_t port) override;
    bool SendTo(ByteSpan data, std::uint32_t address, std::uint16_t port) override;
    WaitResult WaitReadable(int timeoutMs) override;
    bool ReceiveFrom(std::span<std::uint8_t> buffer, std::size_t& received,
                     std::uint32_t& fromAddress, std::uint16_t& fromPort) override;

  private:
    bool Check(bool ok);

    platform::Socket socket_;
    int error_ = 0;
};

class PlatformPort : public IManagerPort {
  public:
    bool StartSocketLibrary() override;
    int LastSocketError() override;
    std::u16string SocketErrorText(int error) override;
    std::unique_ptr<IStreamSocket> CreateStreamSocket() override;
    std::unique_ptr<IDatagramSocket> CreateDatagramSocket() override;
    std::uint32_t TickCount() override;
    bool HostName(std::string& ansiName) override;
    std::u16string AnsiToUtf16(std::string_view ansi) override;
    bool ResolveHostName(const std::string& ansiName, std::uint32_t& address) override;
    platform::AdapterListStatus ReadAdapters(std::vector<platform::AdapterInfo>& adapters,
                                             int& error) override;

  protected:
    // Makes the control socket report connected/readable/closed to the core.
    virtual bool SelectSocketEvents(platform::Socket& socket) = 0;
    // The core has closed the control socket; its queued events no longer matter. Closes it
    // unless a front-end ends the connection gracefully (ClosingSockets).
    virtual void RetireSocket(platform::Socket socket) { (void)socket; }
};

} // namespace manager
