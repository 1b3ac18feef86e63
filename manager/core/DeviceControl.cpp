// The control connection: opening and closing it, the PC's requests and the deferred answers
// to the player's requests.
#include "manager/core/DeviceControl.h"

#include <algorithm>

#include "manager/core/PortText.h"

namespace manager {

DeviceControl::DeviceControl(IManagerPort& port, const HostIdentity& host)
    : port_(port), host_(host) {}

DeviceControl::~DeviceControl() = default;

SocketId DeviceControl::ConnectionId() const {
    return socket_ ? socket_->Id() : -1;
}

void DeviceControl::REQ_ConnectKestro(std::uint32_t subCmd, const MacAddress& mac,
                                      std::string_view accessCode) {
    Log(port_, u"do REQ_ConnectKestro=0x%x", subCmd);
    state_.results.connectResult = kResultPending;
    if (subCmd == kConnectOpen || subCmd == kConnectWithCode)
        state_.results.openResult = kResultPending;
    if (subCmd == kConnectClose || subCmd == kConnectDeactivate)
        state_.results.closeResult = kResultPending;

    std::vector<std::uint8_t> payload(kHostNameOffset, 0);
    std::copy(mac.begin(), mac.end(), payload.begin());
    // The code is plain 8-bit text, at most 8 characters, without a terminator when full.
    if (subCmd == kConnectWithCode) {
        for (std::size_t i = 0; i < accessCode.size() && i < kAccessCodeSize; ++i) {
            if (accessCode[i] == '\0')
                break;
            payload[kAccessCodeOffset + i] = static_cast<std::uint8_t>(accessCode[i]);
        }
    }
    payload.insert(payload.end(), host_.hostNameUtf8.begin(), host_.hostNameUtf8.end());
    payload.push_back(0);
    SendCtrlPacket(manager::REQ_ConnectKestro, subCmd, payload);
}

void DeviceControl::REQ_AssignFileIndex(std::uint32_t fileIndex, std::uint32_t mediaType) {
    Log(port_, u"do REQ_AssignFileIndex=0x%x, mediaType=0x%x", fileIndex, mediaType);
    state_.results.assignResult = kResultPending;
    std::vector<std::uint8_t> payload;
    PutU32(payload, fileIndex);
    PutU32(payload, mediaType);
    SendCtrlPacket(manager::REQ_AssignFileIndex, 1, payload);
}

void DeviceControl::REQ_PlayCtrl(std::uint8_t key) {
    Log(port_, u"do REQ_PlayCtrl=0x%x", key);
    if (key == KEY_PLAY)
        state_.results.playResult = kResultPending;
    if (key == KEY_STOP)
        state_.results.stopResult = kResultPending;
    SendCtrlPacket(manager::REQ_PlayCtrl, key, {});
}

void DeviceControl::REQ_UpdateFileList(std::uint32_t subCmd) {
    Log(port_, u"do REQ_UpdateFileList=0x%x", subCmd);
    state_.results.updateResult = kResultPending;
    SendCtrlPacket(manager::REQ_UpdateFileList, subCmd, {});
}

void DeviceControl::REQ_GetStatus() {
    Log(port_, u"do REQ_GetStatus");
    state_.results.statusResult = kResultPending;
    const std::uint8_t payload[12] = {};
    SendCtrlPacket(manager::REQ_GetStatus, 1, payload);
}

void DeviceControl::SendCtrlPacket(std::uint32_t cmd, std::uint32_t subCmd, ByteSpan payload) {
    if (!socket_)
        return;
    lastRequest_ = BuildPacket(cmd, subCmd, payload);
    // A copy: the send may end the connection, and with it whatever the caller holds.
    const std::vector<std::uint8_t> packet = lastRequest_;
    SendOnConnection(packet);
}

void DeviceControl::SendOnConnection(ByteSpan bytes) {
    std::size_t sent = 0;
    // A send that moves nothing is lost, and the pending slot times out. One that moves only
    // part of a packet leaves the player reading the rest of it from whatever comes next:
    // the connection ends at once, as if the player had closed it.
    if (!socket_->Send(bytes, sent) || sent == 0 || sent >= bytes.size())
        return;
    DropConnection();
    Log(port_, u"");
    Log(port_, u"Socket disconnect!!!");
    DoDisConnect();
}

void DeviceControl::DropConnection() {
    if (!socket_)
        return;
    socket_.reset();
    ++connectionSerial_;
    stream_.Clear();
    port_.RefreshStatusPopup(false);
}

void DeviceControl::OpenControlConnection(std::uint32_t address) {
    if (address == 0) {
        Log(port_, u"Error: Server IP is ZERO\n");
        return;
    }
    if (!port_.StartSocketLibrary()) {
        Log(port_, u"WSAStartup failed. Error: %d", port_.LastSocketError());
        return;
    }
    std::unique_ptr<IStreamSocket> socket = port_.CreateStreamSocket();
    if (!socket) {
        Log(port_, u"Allocating socket failed. Error: %d", port_.LastSocketError());
        return;
    }
    socket_ = std::move(socket);
    ++connectionSerial_;
    stream_.Clear();

    // Neither keep-alive step stops the connect.
    std::int32_t keepAlive = 0;
    socket_->GetKeepAlive(keepAlive);
    Log(port_, u"SO_KEEPALIVE Value: %ld\n", keepAlive);
    if (socket_->SetKeepAlive(true))
        Log(port_, u"Set SO_KEEPALIVE: ON\n");
    keepAlive = 0;
    socket_->GetKeepAlive(keepAlive);
    Log(port_, u"SO_KEEPALIVE Value: %ld\n", keepAlive);
    if (keepAlive != 0) {
        if (socket_->SetKeepAliveTimes(kKeepAliveTimeMs, kKeepAliveIntervalMs))
            Log(port_, u"OK \n");
        else
            Log(port_, u"Fail to set SIO_KEEPALIVE_VALS \n");
    }

    state_.playerAddress = address;
    state_.playerPort = kControlPort;
    if (!socket_->SelectEvents()) {
        Log(port_, u"Can't setup WSAAsyncSelect(). Error: %d", socket_->LastError());
        DoDisConnect();
        return;
    }
    if (!socket_->Connect(address, kControlPort) && socket_->LastError() != kWouldBlock) {
        Log(port_, u"Connecting to the server failed. Error: %d", socket_->LastError());
        DoDisConnect();
        return;
    }
    Log(port_, u"Connect Ok...");
}

void DeviceControl::CloseControlConnection() {
    if (!socket_)
        return;
    REQ_ConnectKestro(kConnectClose, host_.mac, {});
    DropConnection();
}

void DeviceControl::ClearPlayerState() {
    state_.connected = false;
    state_.playing = false;
    state_.fileIndex = 0;
    state_.mediaType = 0;
    state_.playState = kPlayStateStopped;
}

void DeviceControl::DoDisConnect() {
    Log(port_, u"DoDisConnect!!!");
    ClearPlayerState();
    CloseControlConnection();
}

void DeviceControl::AnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) {
    if (!socket_)
        return;
    // Only the latest player request is answered; an older one was replaced.
    PacketHeader header;
    std::uint32_t requestSubCmd = 0;
    if (!ReadHeader(lastDeviceRequest_, header) ||
        !GetU32(lastDeviceRequest_, kPacketHeaderSize, requestSubCmd) || header.cmd != cmd ||
        requestSubCmd != subCmd)
        return;
    std::uint32_t result = 0;
    switch (cmd) {
    case CTRL_REQ_CONNECT_PC:
    case CTRL_REQ_PLAYSTATUS_PC:
    case CTRL_REQ_ASSIGNFILESTATUS_PC:
        result = 0;
        break;
    case CTRL_REQ_GETNEXTFILE_PC:
        result = 200;
        break;
    default:
        return;
    }
    const std::vector<std::uint8_t> answer = BuildAnswer(lastDeviceRequest_, result);
    SendOnConnection(answer);
}

void DeviceControl::OnSocketEvent(SocketId socket, std::uint16_t event, int error) {
    (void)error; // FD_CONNECT's error is not examined: the connect request then times out
    // A notification queued for a socket closed since then is not this connection's.
    if (!socket_ || socket != socket_->Id())
        return;
    switch (event) {
    case FD_READ_EVENT:
        Log(port_, u"");
        Log(port_, u"FD_READ!!!");
        ReceiveCtrlPackets();
        return;
    case FD_CONNECT_EVENT:
        Log(port_, u"FD_CONNECT!!!");
        return;
    case FD_CLOSE_EVENT:
        Log(port_, u"");
        Log(port_, u"Socket disconnect!!!");
        DoDisConnect();
        return;
    default:
        return;
    }
}

void DeviceControl::OnAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) {
    AnswerDeviceRequest(cmd, subCmd);
}

void DeviceControl::OnErrorBoxClosed(DialogTicket ticket) {
    (void)ticket;
}

} // namespace manager
