// Fakes of the manager's port for the core's tests: a tick source moved only by waits, datagram
// and stream sockets scripted by the test, and a record of every effect.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "manager/core/ManagerPort.h"

namespace manager::testing {

struct Datagram {
    std::uint32_t time = 0; // arrival (incoming) or departure (sent)
    std::vector<std::uint8_t> bytes;
    std::uint32_t address = 0; // sender (incoming) or destination (sent), network order
    std::uint16_t port = 0;
};

class FakePort;

// What a test sees of the datagram sockets the core made, also after they were destroyed.
struct DatagramLog {
    std::vector<Datagram> sent;
    std::deque<Datagram> incoming;
    bool broadcastSet = false;
    bool bound = false;
    bool closed = false;
    int waits = 0;
    int emptyWaits = 0;
};

class FakeDatagramSocket : public IDatagramSocket {
  public:
    FakeDatagramSocket(FakePort& port, std::shared_ptr<DatagramLog> log)
        : port_(port), log_(std::move(log)) {}
    ~FakeDatagramSocket() override { log_->closed = true; }

    int LastError() const override { return error_; }
    bool SetBroadcast(bool on) override;
    bool Bind(std::uint32_t address, std::uint16_t port) override;
    bool SendTo(ByteSpan data, std::uint32_t address, std::uint16_t port) override;
    WaitResult WaitReadable(int timeoutMs) override;
    bool ReceiveFrom(std::span<std::uint8_t> buffer, std::size_t& received,
                     std::uint32_t& fromAddress, std::uint16_t& fromPort) override;

  private:
    FakePort& port_;
    std::shared_ptr<DatagramLog> log_;
    int error_ = 0;
};

// What a test sees of a stream socket and steers in it.
struct StreamLog {
    std::intptr_t id = 0;
    std::vector<std::vector<std::uint8_t>> sends;   // each send call's bytes (as far as taken)
    std::deque<std::vector<std::uint8_t>> incoming; // one chunk per receive call at most
    std::int32_t keepAlive = 0;
    std::uint32_t keepAliveTime = 0;
    std::uint32_t keepAliveInterval = 0;
    bool selectFails = false;
    int connectError = kWouldBlock; // 0: connected at once
    std::uint32_t connectedTo = 0;
    std::size_t sendLimit = SIZE_MAX; // bytes one send call takes at most
    bool closed = false;
    std::vector<std::string> calls; // set-up steps in order

    // Every byte sent, all calls together.
    std::vector<std::uint8_t> AllSent() const;
};

class FakeStreamSocket : public IStreamSocket {
  public:
    explicit FakeStreamSocket(std::shared_ptr<StreamLog> log) : log_(std::move(log)) {}
    ~FakeStreamSocket() override { log_->closed = true; }

    SocketId Id() const override { return log_->id; }
    int LastError() const override { return error_; }
    bool GetKeepAlive(std::int32_t& value) override;
    bool SetKeepAlive(bool on) override;
    bool SetKeepAliveTimes(std::uint32_t timeMs, std::uint32_t intervalMs) override;
    bool SelectEvents() override;
    bool Connect(std::uint32_t address, std::uint16_t port) override;
    bool Send(ByteSpan data, std::size_t& sent) override;
    ReceiveResult Receive(std::span<std::uint8_t> buffer) override;

  private:
    std::shared_ptr<StreamLog> log_;
    int error_ = 0;
};

struct ErrorBox {
    std::u16string text;
    DialogTicket ticket;
};

class FakePort : public IManagerPort {
  public:
    FakePort();

    // Time moves only when the core waits (or a test moves it).
    std::uint32_t now = 0x12345678;

    // Host.
    std::string hostName = "pc-test";
    std::uint32_t ansiCodePage = 1252;
    std::uint32_t hostAddress = 0; // network order; 0 makes resolution fail
    platform::AdapterListStatus adapterStatus = platform::AdapterListStatus::Ok;
    int adapterError = 0;
    std::vector<platform::AdapterInfo> adapters;

    // Sockets.
    bool socketLibraryFails = false;
    bool datagramCreateFails = false;
    bool datagramBindFails = false;
    bool datagramSendFails = false;
    // Called at the start of each wait of a datagram socket.
    std::function<void()> beforeWait;
    bool streamCreateFails = false;
    std::shared_ptr<DatagramLog> datagrams = std::make_shared<DatagramLog>();
    // Called after each datagram the core sends; may queue answers in `datagrams`.
    std::function<void(const Datagram& sent)> onDatagramSent;
    StreamLog streamSettings;          // copied into each stream socket made
    std::shared_ptr<StreamLog> stream; // the last stream socket made
    std::intptr_t nextStreamId = 500;

    // Effects.
    std::vector<std::u16string> logs;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> posted;
    std::vector<ErrorBox> errorBoxes;
    int refreshes = 0;
    int pumps = 0;
    int logClears = 0;
    SessionDisplay lastDisplay;
    // Effects without data, in order ("start timer 0", "stop timer 1", "broadcast", ...).
    std::vector<std::string> effects;
    bool timers[3] = {false, false, false}; // running
    struct Prompt {
        SessionDisplay display;
        DialogTicket ticket;
    };
    std::vector<Prompt> prompts;
    struct Choice {
        int foundCount = 0;
        int validCount = 0;
        DialogTicket ticket;
    };
    std::vector<Choice> choices;
    bool errorBoxOpen = false;
    bool promptOpen = false;
    // The panel's fields as last shown.
    std::uint32_t fieldAddress = 0;
    std::u16string fieldPort, fieldName, fieldStatus;
    // The hand-off block: absent, or holding `handOffFolder`.
    bool handOffBlock = false;
    std::u16string handOffFolder;
    int handOffReads = 0;
    bool settingsFail = false;
    std::vector<std::u16string> storedRoots;

    // Queues `bytes` from `sender` to arrive `delayMs` from now.
    void Arrive(std::vector<std::uint8_t> bytes, std::uint32_t sender, std::uint32_t delayMs = 0,
                std::uint16_t port = 62000);
    // The effects joined by "|".
    std::string JoinedEffects() const;
    // The logs joined by "|", for order checks.
    std::u16string Joined() const;
    bool Logged(std::u16string_view line) const;

    bool StartSocketLibrary() override { return !socketLibraryFails; }
    int LastSocketError() override { return 10055; }
    std::u16string SocketErrorText(int error) override;
    std::unique_ptr<IStreamSocket> CreateStreamSocket() override;
    std::unique_ptr<IDatagramSocket> CreateDatagramSocket() override;
    std::uint32_t TickCount() override { return now; }
    bool HostName(std::string& ansiName) override;
    std::u16string AnsiToUtf16(std::string_view ansi) override;
    bool ResolveHostName(const std::string& ansiName, std::uint32_t& address) override;
    platform::AdapterListStatus ReadAdapters(std::vector<platform::AdapterInfo>& list,
                                             int& error) override;
    void Log(std::u16string_view line) override { logs.emplace_back(line); }
    void PostAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) override {
        posted.emplace_back(cmd, subCmd);
    }
    void PumpDialogMessage() override { ++pumps; }
    void ClearLog() override {
        logs.clear();
        ++logClears;
    }
    void RefreshStatusPopup(const SessionDisplay& display, bool showAlways) override {
        lastDisplay = display;
        (void)showAlways;
        ++refreshes;
    }
    void HideStatusPopup() override { effects.emplace_back("hide popup"); }
    void CloseStatusPopup() override { effects.emplace_back("close popup"); }
    void ShowErrorBox(std::u16string_view text, DialogTicket ticket) override {
        errorBoxes.push_back(ErrorBox{std::u16string(text), ticket});
    }
    bool IsErrorBoxOpen() override { return errorBoxOpen; }
    void AskAccessCode(const SessionDisplay& display, DialogTicket ticket) override {
        prompts.push_back(Prompt{display, ticket});
    }
    void ChooseTarget(const TargetTable& table, DialogTicket ticket) override {
        choices.push_back(Choice{table.foundCount, table.validCount, ticket});
    }
    bool IsPromptOpen() override { return promptOpen; }
    void ClosePrompts() override { effects.emplace_back("close prompts"); }
    void HideMainWindow() override { effects.emplace_back("hide main"); }
    void BringMainWindowToFront() override { effects.emplace_back("front main"); }
    void ShowTargetFields(std::uint32_t address, std::u16string_view port,
                          std::u16string_view deviceName,
                          std::u16string_view targetStatus) override;
    void StartTimer(int timer, std::uint32_t periodMs) override;
    void StopTimer(int timer) override;
    bool ReadHandOffFolder(std::u16string& folder) override;
    bool StoreShareSettings(std::u16string_view root) override;
    void BroadcastServerReload() override { effects.emplace_back("broadcast"); }
    // The server: running, and whether a restart brings it back.
    bool serverRunning = true;
    bool serverRestarts = true;
    bool IsServerRunning() override { return serverRunning; }
    bool RestartServer() override {
        effects.emplace_back("restart server");
        serverRunning = serverRestarts;
        return serverRestarts;
    }
};

std::uint32_t Address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
std::vector<std::uint8_t> Bytes(std::initializer_list<int> values);

// A player's discovery answer to `request` (the bytes the PC sent): the token complemented, the
// MAC echoed (or not), `connectInform`, and the ProductName "KP-\u00E9" and `device` in UTF-8.
std::vector<std::uint8_t> DiscoveryAnswer(const std::vector<std::uint8_t>& request,
                                          std::uint16_t connectInform,
                                          const std::string& device = "Den", bool echoMac = true);

} // namespace manager::testing
