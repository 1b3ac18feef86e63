// The manager's seam: the one interface between its portable core and a front-end.
//
// The core decides every byte, check, count, wait and log line; it never waits on its own and
// never calls the operating system. A front-end (CKestroDlg on Windows, the poll loop on POSIX,
// a fake in tests) does two things for it:
//
// * Events in (IManagerEvents, implemented by the core): the front-end calls these when
//   something happened outside: a control-socket event (connected, readable, closed; it
//   carries the socket's id, so a late notification of a socket already closed is told
//   apart), the posted deferred answer of a player request, the outcome of a dialog, the
//   ticks of timers 0, 1 and 2, the server's messages, a hand-off, buttons and menu commands
//   and the end of the program.
//
// * Effects out (IManagerPort, implemented by the front-end): the core calls these to act:
//   make the control connection's socket (its set-up steps, send, receive and close are that
//   socket's; closing is destroying it); make the datagram socket and read the tick source of
//   a discovery exchange, which runs blocking inside one call as the protocol has it; ask the
//   system who this host is; take one message of the dialog that waits in a refresh exchange;
//   post the deferred answer (WM_ANSWER_DEVICE_REQ); refresh the status popup; show the error
//   box; log a line to the "Message Receive" box and the debugger. The dialogs, timers,
//   settings store and broadcasts of the later layers are added here as further effects.
//
// Dialogs are effects whose outcome comes back as an event. Windows runs a modal dialog in a
// nested message loop, so timers and socket events keep arriving while it is open, and by the
// time it closes the session it was opened for may be gone (ended by the player, replaced by
// a new hand-off). So the core never acts on the return of a dialog effect. It passes a
// DialogTicket holding its SequenceCounter's current value and the step to take; the front-end
// hands the ticket back with the outcome, always after the effect call has returned (on
// Windows by posting it once the modal loop has ended). The core runs the step only when
// SequenceCounter::IsCurrent(ticket) holds; whatever starts or ends a session advances the
// counter, so a stale continuation drops silently.
//
// The control layer's one call upwards is DoDisConnect (FD_CLOSE, the player's
// CTRL_REQ_CONNECT_PC 1, a failed set-up step, a cut send): DeviceControl gives the plain
// version (reset the control state, close the connection) and the session controller, built
// on DeviceControl, supplies the full one. No other hooks exist besides these two interfaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/Network.h"
#include "manager/core/Bytes.h"
#include "manager/core/TargetTable.h"

namespace manager {

// Identifies one socket among those open in the process (a SOCKET or a descriptor).
using SocketId = std::intptr_t;

// Winsock's numbers of the events the control socket reports (the low word of lParam).
inline constexpr std::uint16_t FD_READ_EVENT = 0x01;
inline constexpr std::uint16_t FD_CONNECT_EVENT = 0x10;
inline constexpr std::uint16_t FD_CLOSE_EVENT = 0x20;
// The mask asked for: FD_READ | FD_CONNECT | FD_CLOSE.
inline constexpr long kControlSocketEvents = 0x31;

// Winsock's number for "the operation goes on in the background" (a non-blocking connect).
inline constexpr int kWouldBlock = 10035;

enum class ReceiveStatus {
    Data,        // `count` bytes arrived
    EndOfStream, // the peer closed its side
    WouldBlock,  // nothing has arrived
    Failed,      // LastError() tells why
};

struct ReceiveResult {
    ReceiveStatus status = ReceiveStatus::Failed;
    std::size_t count = 0;
};

// The control connection's TCP socket, non-blocking; destroying it closes it.
class IStreamSocket {
  public:
    virtual ~IStreamSocket() = default;

    virtual SocketId Id() const = 0;
    // Socket errors in Winsock numbering.
    virtual int LastError() const = 0;

    virtual bool GetKeepAlive(std::int32_t& value) = 0;
    virtual bool SetKeepAlive(bool on) = 0;
    // Idle time before the first probe and the time between probes.
    virtual bool SetKeepAliveTimes(std::uint32_t timeMs, std::uint32_t intervalMs) = 0;
    // Asks for connected/readable/closed events through IManagerEvents::OnSocketEvent.
    virtual bool SelectEvents() = 0;
    // `address` in network byte order. A connect still going on fails with kWouldBlock.
    virtual bool Connect(std::uint32_t address, std::uint16_t port) = 0;
    // One send call; `sent` may be less than the data (a full send buffer).
    virtual bool Send(ByteSpan data, std::size_t& sent) = 0;
    virtual ReceiveResult Receive(std::span<std::uint8_t> buffer) = 0;
};

enum class WaitResult { Readable, TimedOut, Failed };

// The UDP socket of one discovery exchange; destroying it closes it.
class IDatagramSocket {
  public:
    virtual ~IDatagramSocket() = default;

    virtual int LastError() const = 0;
    virtual bool SetBroadcast(bool on) = 0;
    // Addresses in network byte order, ports in host order.
    virtual bool Bind(std::uint32_t address, std::uint16_t port) = 0;
    virtual bool SendTo(ByteSpan data, std::uint32_t address, std::uint16_t port) = 0;
    // Waits up to `timeoutMs` for a datagram (a select on the socket). Under a fake tick
    // source the wait is what moves the time.
    virtual WaitResult WaitReadable(int timeoutMs) = 0;
    virtual bool ReceiveFrom(std::span<std::uint8_t> buffer, std::size_t& received,
                             std::uint32_t& fromAddress, std::uint16_t& fromPort) = 0;
};

// What a dialog's outcome continues: the core's sequence when the dialog was opened and the
// step to take then (0: nothing follows).
struct DialogTicket {
    std::uint32_t sequence = 0;
    std::uint32_t step = 0;
};

// Advanced whenever a session starts or ends; a ticket of an earlier sequence has lapsed.
class SequenceCounter {
  public:
    std::uint32_t Current() const { return current_; }
    void Advance() { ++current_; }
    DialogTicket Ticket(std::uint32_t step) const { return DialogTicket{current_, step}; }
    bool IsCurrent(const DialogTicket& ticket) const { return ticket.sequence == current_; }

  private:
    std::uint32_t current_ = 1;
};

// The main dialog's timers (50 ms each): the connect sequence, and the two waits for the
// server's acknowledgement (then discover and connect, or go on with the open session).
inline constexpr int kSequenceTimer = 0;
inline constexpr int kServerWaitTimer = 1;
inline constexpr int kSessionServerWaitTimer = 2;
inline constexpr std::uint32_t kTimerPeriodMs = 50;

// Buttons of the main dialog and menu commands, as the front-end reports them.
inline constexpr std::uint32_t kCmdConnectServer = 1002;
inline constexpr std::uint32_t kCmdPlay = 1005;
inline constexpr std::uint32_t kCmdPause = 1006;
inline constexpr std::uint32_t kCmdStop = 1007;
inline constexpr std::uint32_t kCmdFastForward = 1008;
inline constexpr std::uint32_t kCmdRewind = 1009;
inline constexpr std::uint32_t kCmdDisConnect = 1011;
inline constexpr std::uint32_t kCmdDiscovery = 1012;
inline constexpr std::uint32_t kCmdConnectReq = 1013;
inline constexpr std::uint32_t kCmdAssignFileReq = 1014;
inline constexpr std::uint32_t kCmdUpdateFileList = 1016;
inline constexpr std::uint32_t kCmdGetStatus = 1018;
inline constexpr std::uint32_t kCmdClearLog = 1019;
inline constexpr std::uint32_t kCmdDeactivateAndClose = 1021;
inline constexpr std::uint32_t kCmdAutoConnect = 1023;
inline constexpr std::uint32_t kCmdMenuConnect = 32771;    // menu 130 "Connect"
inline constexpr std::uint32_t kCmdMenuDisconnect = 32772; // tray menu "Disconnect"

// What the popups and the access-code prompt show of the session.
struct SessionDisplay {
    std::u16string addressText;         // "%d.%d.%d.%d" of the chosen player; empty before one
    std::u16string deviceName;          // its DeviceName
    std::u16string selectedAddressText; // the selected record's address, "--" when none
    bool connected = false;             // `connected` and a control connection exists
    bool playing = false;
    std::uint32_t playState = 1;
    std::uint32_t fileIndex = 0;
    std::uint32_t mediaType = 0;
};

// Events the front-end delivers to the core. Those a layer does not handle default to nothing.
class IManagerEvents {
  public:
    virtual ~IManagerEvents() = default;

    // A notification of the control socket `socket`: FD_READ_EVENT, FD_CONNECT_EVENT or
    // FD_CLOSE_EVENT with the error Winsock gives with it (others are ignored).
    virtual void OnSocketEvent(SocketId socket, std::uint16_t event, int error) = 0;
    // The posted deferred answer: `cmd` and `subCmd` of the player request it answers.
    virtual void OnAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) = 0;
    // The error box opened with `ticket` was closed.
    virtual void OnErrorBoxClosed(DialogTicket ticket) = 0;

    // A tick of timer kSequenceTimer, kServerWaitTimer or kSessionServerWaitTimer.
    virtual void OnTimer(int timer) { (void)timer; }
    // "CMD To Manager AP" with its parameters as sent (the core tells (0, 0) from (-1, -1)).
    virtual void OnServerMessage(std::intptr_t wParam, std::intptr_t lParam) {
        (void)wParam;
        (void)lParam;
    }
    // "CMD DLL To Manager AP" with its parameters. The core decides whether the block is read
    // (IManagerPort::ReadHandOffFolder), so the front-end does not touch it first.
    virtual void OnHandOffMessage(std::intptr_t wParam, std::intptr_t lParam) {
        (void)wParam;
        (void)lParam;
    }
    // A button of the main dialog or a menu command (kCmd...); others are ignored.
    virtual void OnCommand(std::uint32_t command) { (void)command; }
    // WM_STOP_STREAMING, posted by the status popup's "Stop Streaming".
    virtual void OnStopStreaming() {}
    // The access-code prompt opened with `ticket` ended: `confirmed` with the typed code
    // (8-bit text, at most 8 characters), or cancelled.
    virtual void OnAccessCodeEntered(DialogTicket ticket, bool confirmed, std::string_view code) {
        (void)ticket;
        (void)confirmed;
        (void)code;
    }
    // The device list opened with `ticket` ended: cancelled, or OK with the chosen record's
    // index in the table it was given (-1 when nothing was selected).
    virtual void OnTargetChosen(DialogTicket ticket, bool cancelled, int index) {
        (void)ticket;
        (void)cancelled;
        (void)index;
    }
    // WM_DESTROY of the main dialog, before the tray icon is removed.
    virtual void OnDestroy() {}
};

// Effects the core asks of the front-end.
class IManagerPort {
  public:
    virtual ~IManagerPort() = default;

    // --- Sockets, time and the host, as the platform gives them ---
    // Starts the socket library (version 2.2); false with LastSocketError() set.
    virtual bool StartSocketLibrary() = 0;
    virtual int LastSocketError() = 0;
    virtual std::u16string SocketErrorText(int error) = 0;
    // A TCP socket for the control connection; null on failure (LastSocketError()).
    virtual std::unique_ptr<IStreamSocket> CreateStreamSocket() = 0;
    // A UDP socket for a discovery exchange; null on failure (LastSocketError()).
    virtual std::unique_ptr<IDatagramSocket> CreateDatagramSocket() = 0;
    // Milliseconds, wrapping at 2^32 like GetTickCount.
    virtual std::uint32_t TickCount() = 0;
    // The host name in the ANSI code page (at most 127 bytes); false when there is none.
    virtual bool HostName(std::string& ansiName) = 0;
    virtual std::u16string AnsiToUtf16(std::string_view ansi) = 0;
    // The first IPv4 address of a host name, network byte order.
    virtual bool ResolveHostName(const std::string& ansiName, std::uint32_t& address) = 0;
    virtual platform::AdapterListStatus ReadAdapters(std::vector<platform::AdapterInfo>& adapters,
                                                     int& error) = 0;

    // --- The user interface ---
    // One line for the "Message Receive" box (1010) and the debugger output, already cut to
    // the 256-unit line.
    virtual void Log(std::u16string_view line) = 0;
    // Posts WM_ANSWER_DEVICE_REQ (1028) to the main dialog; it comes back as
    // OnAnswerDeviceRequest once the current event has been handled.
    virtual void PostAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) = 0;
    // Takes one pending message of the dialog waiting in a refresh exchange (the device
    // list), translates and dispatches it; nothing when there is none.
    virtual void PumpDialogMessage() = 0;
    // Empties the "Message Receive" box.
    virtual void ClearLog() = 0;
    // Refreshes the status popup from `display`; with showAlways false only when it is shown
    // already.
    virtual void RefreshStatusPopup(const SessionDisplay& display, bool showAlways) = 0;
    // Hides the status popup if it is shown.
    virtual void HideStatusPopup() = 0;
    // Destroys the status popup if it exists.
    virtual void CloseStatusPopup() = 0;
    // The modal error box titled "ERROR" (text already cut to 1024 units); its closing comes
    // back as OnErrorBoxClosed(ticket). While it is open IsErrorBoxOpen holds (boxes nest:
    // a count).
    virtual void ShowErrorBox(std::u16string_view text, DialogTicket ticket) = 0;
    virtual bool IsErrorBoxOpen() = 0;
    // The modal access-code prompt for the player in `display` (address text and name); the
    // outcome comes back as OnAccessCodeEntered(ticket, ...).
    virtual void AskAccessCode(const SessionDisplay& display, DialogTicket ticket) = 0;
    // The modal device list over the free records of `table`; the outcome comes back as
    // OnTargetChosen(ticket, ...).
    virtual void ChooseTarget(const TargetTable& table, DialogTicket ticket) = 0;
    // The access-code prompt or the device list is open.
    virtual bool IsPromptOpen() = 0;
    // Posts WM_CLOSE to the access-code prompt and the device list, those open.
    virtual void ClosePrompts() = 0;
    // Posts WM_CLOSE to the main dialog, which hides it.
    virtual void HideMainWindow() = 0;
    // Makes the main dialog topmost (no move, no resize) and the foreground window.
    virtual void BringMainWindowToFront() = 0;
    // The panel's fields: the IP address control (network byte order), "Port:",
    // "DeviceName:" and "TargetStatus:".
    virtual void ShowTargetFields(std::uint32_t address, std::u16string_view port,
                                  std::u16string_view deviceName,
                                  std::u16string_view targetStatus) = 0;

    // --- Timers, the server and the hand-off ---
    // Starts (or restarts) timer `timer` of the main dialog; its ticks come back as OnTimer.
    virtual void StartTimer(int timer, std::uint32_t periodMs) = 0;
    virtual void StopTimer(int timer) = 0;
    // Opens the hand-off block read-only, copies its folder (at most 259 units, never past
    // the view) as plain text and closes it again; false when there is no block or it cannot
    // be mapped (logged to the debugger output only).
    virtual bool ReadHandOffFolder(std::u16string& folder) = 0;
    // Stores Root (REG_SZ with its terminator) = `root` and CodePage = 65001; false on failure.
    virtual bool StoreShareSettings(std::u16string_view root) = 0;
    // Sends "CMD To NFS Server" (0, 0) to every top-level window and returns once they have
    // handled it; a window that hangs is given up on after a timeout.
    virtual void BroadcastServerReload() = 0;
    // Whether the server the manager started still runs (its window exists). A front-end that
    // does not start the server keeps the default.
    virtual bool IsServerRunning() { return true; }
    // Starts the server again as start-up does (ResetServer); true once it runs. On failure
    // the start code has told the user (the manager keeps running).
    virtual bool RestartServer() { return false; }
};

} // namespace manager
