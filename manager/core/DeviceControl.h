// The PC's side of the device control protocol: the connection to one player, the requests
// and their result slots, reading the player's packets and answering its requests.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "manager/core/ControlState.h"
#include "manager/core/ControlStream.h"
#include "manager/core/HostAddress.h"
#include "manager/core/ManagerPort.h"

namespace manager {

// Keep-alive of the control connection: first probe after 13 s idle, then every 500 ms.
inline constexpr std::uint32_t kKeepAliveTimeMs = 13000;
inline constexpr std::uint32_t kKeepAliveIntervalMs = 500;

class DeviceControl : public IManagerEvents {
  public:
    // `host` supplies the MAC and the UTF-8 host name of the connect payload; it is the
    // discovery context's, kept up to date by every lookup.
    DeviceControl(IManagerPort& port, const HostIdentity& host);
    ~DeviceControl() override;
    DeviceControl(const DeviceControl&) = delete;
    DeviceControl& operator=(const DeviceControl&) = delete;

    ControlState& State() { return state_; }
    const ControlState& State() const { return state_; }

    // "A connection exists": its socket was made (it may still be connecting).
    bool HasConnection() const { return socket_ != nullptr; }
    SocketId ConnectionId() const;

    // Request operations: one log line, the slots pending, then SendCtrlPacket.
    void REQ_ConnectKestro(std::uint32_t subCmd, const MacAddress& mac,
                           std::string_view accessCode);
    void REQ_AssignFileIndex(std::uint32_t fileIndex, std::uint32_t mediaType);
    void REQ_PlayCtrl(std::uint8_t key);
    void REQ_UpdateFileList(std::uint32_t subCmd);
    void REQ_GetStatus();
    // Nothing without a connection; otherwise one send of 16 + n bytes, kept as lastRequest.
    void SendCtrlPacket(std::uint32_t cmd, std::uint32_t subCmd, ByteSpan payload);

    // Opens the connection to port 62000 of `address` (network byte order); it completes in
    // the background.
    void OpenControlConnection(std::uint32_t address);
    // Step 4 of DoDisConnect: with a connection, REQ_ConnectKestro 1, then close without
    // waiting for its answer and refresh the status popup.
    void CloseControlConnection();
    // Ends the session. This plain version resets the player state and closes the connection;
    // the session controller supplies the full one.
    virtual void DoDisConnect();

    void ReceiveCtrlPackets();
    void AnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd);

    void OnSocketEvent(SocketId socket, std::uint16_t event, int error) override;
    void OnAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) override;
    // No step of this layer follows an error box.
    void OnErrorBoxClosed(DialogTicket ticket) override;

    // What the status popup shows; the session controller adds the player's name and address.
    virtual SessionDisplay Display() const;

  protected:
    // Refreshes the status popup with Display().
    void RefreshStatus(bool showAlways);
    // connected and playing cleared, fileIndex and mediaType 0, playState 1.
    void ClearPlayerState();

    IManagerPort& port_;
    const HostIdentity& host_;

  private:
    void HandlePacket(const PacketHeader& header, ByteSpan packet);
    void HandlePlayerRequest(const PacketHeader& header, ByteSpan packet);
    void HandleAnswer(const PacketHeader& header, ByteSpan packet);
    void SetPlayState(std::uint32_t state);
    void SendOnConnection(ByteSpan bytes);
    void DropConnection();

    ControlState state_;
    std::unique_ptr<IStreamSocket> socket_;
    // Changes with every connection opened or dropped: a handler that ended the connection
    // stops the loop that called it.
    std::uint32_t connectionSerial_ = 0;
    ControlStream stream_;
    // One read per notification, of up to 64 KiB. Each read re-arms the notification while
    // bytes remain, so more reads per notification would each post another: a player sending
    // without end would fill the dialog's queue with notifications that find nothing to read,
    // holding back its timers and posted messages. One read also bounds the time a
    // notification holds the dialog's thread. The bytes are then cut into the stream.
    std::vector<std::uint8_t> readBuffer_ = std::vector<std::uint8_t>(65536);
    std::vector<std::uint8_t> lastRequest_;       // empty until a request was sent
    std::vector<std::uint8_t> lastDeviceRequest_; // empty until a player request came
};

} // namespace manager
