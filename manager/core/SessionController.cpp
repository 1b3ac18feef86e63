// The session controller: connect sequence, server waits, hand-off and commands.
#include "manager/core/SessionController.h"

#include "manager/core/PortText.h"

namespace manager {

namespace {

std::u16string AddressText(std::uint32_t address) {
    const auto octets = Octets(address);
    return text::Format(u"%d.%d.%d.%d", static_cast<int>(octets[0]), static_cast<int>(octets[1]),
                        static_cast<int>(octets[2]), static_cast<int>(octets[3]));
}

} // namespace

SessionController::SessionController(IManagerPort& port) : DeviceControl(port, discovery.host) {}

SessionDisplay SessionController::Display() const {
    SessionDisplay display = DeviceControl::Display();
    display.addressText = playerAddressText_;
    display.deviceName = playerName_;
    if (selectedTarget_ >= 0 && selectedTarget_ < targets.foundCount)
        display.selectedAddressText =
            AddressText(targets.entries[static_cast<std::size_t>(selectedTarget_)].ip);
    return display;
}

void SessionController::ConnectToTarget() {
    ConnectToTarget(kChosenPlain);
}

void SessionController::ConnectToTarget(Continuation chosen) {
    DoDisConnect();
    selectedTarget_ = 0;
    for (int i = 0; i < targets.foundCount; ++i) {
        if (targets.entries[static_cast<std::size_t>(i)].connectInform == 0) {
            selectedTarget_ = i;
            break;
        }
    }
    if (targets.validCount != 1) {
        port_.HideStatusPopup();
        port_.ChooseTarget(targets, sequence_.Ticket(chosen));
        return;
    }
    FinishConnectToTarget(chosen);
}

void SessionController::OnTargetChosen(DialogTicket ticket, bool cancelled, int index) {
    if (!sequence_.IsCurrent(ticket))
        return;
    if (cancelled) {
        DoDisConnect();
        return;
    }
    selectedTarget_ = index;
    RefreshStatus(false);
    FinishConnectToTarget(static_cast<Continuation>(ticket.step));
}

void SessionController::FinishConnectToTarget(Continuation chosen) {
    if (selectedTarget_ < 0 || selectedTarget_ >= targets.foundCount) {
        DoDisConnect();
        return;
    }
    const TargetEntry& entry = targets.entries[static_cast<std::size_t>(selectedTarget_)];
    playerAddressText_ = AddressText(entry.ip);
    playerName_ = entry.deviceName;
    port_.ShowTargetFields(entry.ip, u"62000", playerName_,
                           text::Format(u"%d", static_cast<int>(entry.connectInform)));
    OpenControlConnection(entry.ip);
    if (chosen == kChosenPlain || !HasConnection())
        return;
    StartSequence(chosen == kChosenPlay);
}

void SessionController::AutoConnect() {
    if (port_.IsPromptOpen())
        return;
    port_.CloseStatusPopup();
    if (sequenceRunning_)
        return;
    DiscoverAndConnect(kChosenAuto);
}

void SessionController::ConnectAndPlay() {
    DiscoverAndConnect(kChosenPlay);
}

void SessionController::DiscoverAndConnect(Continuation chosen) {
    DiscoverTargets(port_, discovery, targets, sequence_.Ticket(kNothing));
    if (discovery.lastError != kDiscoveryOk)
        return;
    ConnectToTarget(chosen);
}

void SessionController::StartSequence(bool play) {
    sequence_.Advance();
    accessCodeAttempts_ = 0;
    sequenceRunning_ = true;
    playAfterConnect_ = play;
    step_ = 1;
    stepTicks_ = 0;
    port_.StartTimer(kSequenceTimer, kTimerPeriodMs);
}

bool SessionController::CountStep() {
    ++stepTicks_;
    return stepTicks_ > kStepTickLimit;
}

void SessionController::SequenceTick() {
    if (!sequenceRunning_)
        return;
    const ResultSlots& results = State().results;
    switch (step_) {
    case 1:
        if (HasConnection()) {
            REQ_ConnectKestro(kConnectOpen, discovery.host.mac, {});
            step_ = 2;
            stepTicks_ = 0;
        } else if (CountStep()) {
            Fail(1, u"Fail to connect with device.", false, 0, true);
        }
        return;
    case 2:
        switch (results.connectResult) {
        case 101:
            // The prompt is modal and its loop keeps delivering: the answer to subCmd 2 may
            // be in by the next tick. The rest follows its outcome.
            port_.StopTimer(kSequenceTimer);
            ++accessCodeAttempts_;
            port_.AskAccessCode(Display(), sequence_.Ticket(kAccessCode));
            return;
        case 0:
            ConnectAnswered();
            return;
        case 1:
            Log(port_, u"Device ACK: Busy!!!");
            Fail(2, u"Device is busy.", false, 0, true);
            return;
        case 2:
            Log(port_, u"Device ACK: Not Allow Connect!!!");
            Fail(2, u"Unable to connect with device.", false, 0, true);
            return;
        default:
            if (CountStep()) {
                Fail(2, u"Fail to connect with device.", true, results.connectResult, true);
            } else if (results.connectResult == kResultPending &&
                       stepTicks_ % kConnectRepeatTicks == 0) {
                REQ_ConnectKestro(kConnectOpen, discovery.host.mac, {});
            }
            return;
        }
    case 3:
        switch (results.connectResult) {
        case 0:
            ConnectAnswered();
            return;
        case 102:
            Fail(3, u"Incorrect Pin Code.", false, 0, true);
            return;
        case 103:
            port_.HideMainWindow();
            Fail(3, u"Connection timeout.", false, 0, true);
            return;
        default:
            if (CountStep())
                Fail(3, u"Fail to connect with device.", true, results.connectResult, true);
            return;
        }
    case 4:
        if (results.updateResult == 0) {
            Log(port_, u"do REQ_AssignFileIndex.");
            REQ_AssignFileIndex(1, 0);
            step_ = 5;
            stepTicks_ = 0;
        } else if (CountStep()) {
            Fail(4, u"Command timeout.", true, results.updateResult,
                 results.updateResult == kResultPending);
        }
        return;
    case 5:
        if (results.assignResult == 0) {
            Log(port_, u"do REQ_PlayCtrl(KEY_PLAY).");
            REQ_PlayCtrl(KEY_PLAY);
            step_ = 6;
            stepTicks_ = 0;
        } else if (CountStep()) {
            Fail(5, u"Command timeout.", true, results.assignResult, false);
        }
        return;
    case 6:
        if (results.playResult == 0) {
            Log(port_, u"Play OP Complete.");
            Complete();
        } else if (CountStep()) {
            Fail(6, u"Command timeout.", true, results.playResult, false);
        }
        return;
    default:
        return;
    }
}

void SessionController::ConnectAnswered() {
    Log(port_, u"Connect OP Complete.");
    if (!playAfterConnect_) {
        Complete();
        return;
    }
    REQ_UpdateFileList(3);
    step_ = 4;
    stepTicks_ = 0;
}

void SessionController::OnAccessCodeEntered(DialogTicket ticket, bool confirmed,
                                            std::string_view code) {
    // A session ended or replaced while the prompt was open keeps its end.
    if (!sequence_.IsCurrent(ticket) || ticket.step != kAccessCode)
        return;
    const std::string typed(confirmed ? code.substr(0, kAccessCodeSize) : std::string_view{});
    port_.StartTimer(kSequenceTimer, kTimerPeriodMs);
    REQ_ConnectKestro(kConnectWithCode, discovery.host.mac, typed);
    step_ = 3;
    stepTicks_ = 0;
}

void SessionController::Complete() {
    Log(port_, u"Timer_0: complete=0x%x,error=0x%x", 1, 0);
    EndSequence();
}

void SessionController::Fail(std::uint32_t code, std::u16string_view message, bool withResult,
                             std::uint32_t result, bool disconnect) {
    Log(port_, u"Timer_0: complete=0x%x,error=0x%x", 0, code);
    port_.StopTimer(kSequenceTimer);
    const DialogTicket ticket = sequence_.Ticket(disconnect ? kFailedDisconnect : kFailedKeep);
    if (withResult)
        ShowErrorBox(port_, ticket, u"%s (Code:%d,%x)\n", message, static_cast<int>(code), result);
    else
        ShowErrorBox(port_, ticket, u"%s (Code:%d)\n", message, static_cast<int>(code));
}

void SessionController::OnErrorBoxClosed(DialogTicket ticket) {
    // The box's modal loop ran timers and sockets: a session started meanwhile (an
    // acknowledged hand-off) is not this failure's to end.
    if (!sequence_.IsCurrent(ticket))
        return;
    if (ticket.step == kFailedDisconnect) {
        DoDisConnect();
        EndSequence();
    } else if (ticket.step == kFailedKeep) {
        EndSequence();
    }
}

void SessionController::EndSequence() {
    accessCodeAttempts_ = 0;
    sequenceRunning_ = false;
    playAfterConnect_ = false;
    step_ = 1;
    port_.StopTimer(kSequenceTimer);
}

void SessionController::OnTimer(int timer) {
    if (timer == kSequenceTimer)
        SequenceTick();
    else if (timer == kServerWaitTimer || timer == kSessionServerWaitTimer)
        ServerWaitTick(timer);
}

void SessionController::ServerWaitTick(int timer) {
    if (serverAcked_) {
        port_.StopTimer(timer);
        Log(port_, u"Set Server: OK!");
        if (timer == kServerWaitTimer) {
            ConnectAndPlay();
            return;
        }
        REQ_UpdateFileList(3);
        sequence_.Advance();
        sequenceRunning_ = true;
        playAfterConnect_ = false;
        step_ = 4;
        stepTicks_ = 0;
        port_.StartTimer(kSequenceTimer, kTimerPeriodMs);
        return;
    }
    ++serverTicks_;
    if (serverTicks_ <= kServerTickLimit)
        return;
    port_.StopTimer(timer);
    Log(port_, u"Set Server: TimeOut!");
    ShowErrorBox(port_, sequence_.Ticket(kNothing), u"Fail to set Server");
}

void SessionController::DoDisConnect() {
    Log(port_, u"DoDisConnect!!!");
    sequence_.Advance();
    port_.StopTimer(kSequenceTimer);
    port_.StopTimer(kServerWaitTimer);
    port_.StopTimer(kSessionServerWaitTimer);
    sequenceRunning_ = false;
    playAfterConnect_ = false;
    serverAcked_ = false;
    ClearPlayerState();
    CloseControlConnection();
    port_.ClosePrompts();
}

void SessionController::OnServerMessage(std::intptr_t wParam, std::intptr_t lParam) {
    if (wParam == 0 && lParam == 0)
        serverAcked_ = true;
    else if (wParam == -1 && lParam == -1)
        DoDisConnect();
}

void SessionController::OnHandOffMessage(std::intptr_t wParam, std::intptr_t lParam) {
    if (wParam != 0 || lParam != 0)
        return;
    // A hand-off while a dialog is open is lost; the main dialog comes forward.
    if (port_.IsErrorBoxOpen() || port_.IsPromptOpen()) {
        port_.BringMainWindowToFront();
        return;
    }
    handOffFolder_.clear();
    if (!port_.ReadHandOffFolder(handOffFolder_))
        return;
    Log(port_, u"");
    Log(port_, u"New share: %s", handOffFolder_);
    if (handOffFolder_.empty())
        return;
    port_.ClearLog();
    Log(port_, u"Set Server setting: start");
    const int timer =
        State().connected && HasConnection() ? kSessionServerWaitTimer : kServerWaitTimer;
    if (!port_.StoreShareSettings(handOffFolder_)) {
        Log(port_, u"Fail to set registry!");
        return;
    }
    // A server that has ended would never answer: start it again first, so that it reads the
    // new root and acknowledges the broadcast. The player's control session is not the
    // server's: it stays open, and the player remounts from the fresh server.
    if (!port_.IsServerRunning()) {
        Log(port_, u"Server has ended: restart");
        if (!port_.RestartServer()) {
            Log(port_, u"Fail to restart Server!");
            return;
        }
    }
    serverAcked_ = false;
    Log(port_, u"Set to Server...");
    port_.BroadcastServerReload();
    serverTicks_ = 0;
    port_.StartTimer(timer, kTimerPeriodMs);
}

void SessionController::OnCommand(std::uint32_t command) {
    switch (command) {
    case kCmdPlay:
        REQ_PlayCtrl(KEY_PLAY);
        return;
    case kCmdPause:
        REQ_PlayCtrl(KEY_PAUSE);
        return;
    case kCmdStop:
        REQ_PlayCtrl(KEY_STOP);
        return;
    case kCmdFastForward:
        REQ_PlayCtrl(KEY_FF);
        return;
    case kCmdRewind:
        REQ_PlayCtrl(KEY_REW);
        return;
    case kCmdConnectReq:
        REQ_ConnectKestro(kConnectOpen, discovery.host.mac, {});
        return;
    case kCmdAssignFileReq:
        REQ_AssignFileIndex(1, 0);
        return;
    case kCmdUpdateFileList:
        REQ_UpdateFileList(3);
        return;
    case kCmdGetStatus:
        REQ_GetStatus();
        return;
    case kCmdDeactivateAndClose:
        REQ_ConnectKestro(kConnectDeactivate, discovery.host.mac, {});
        DoDisConnect();
        return;
    case kCmdAutoConnect:
    case kCmdMenuConnect:
        AutoConnect();
        return;
    case kCmdDiscovery:
        DiscoverTargets(port_, discovery, targets, sequence_.Ticket(kNothing));
        return;
    case kCmdConnectServer:
        ConnectToTarget();
        return;
    case kCmdDisConnect:
    case kCmdMenuDisconnect:
        DoDisConnect();
        return;
    case kCmdClearLog:
        port_.ClearLog();
        return;
    default:
        return;
    }
}

void SessionController::OnStopStreaming() {
    REQ_PlayCtrl(KEY_STOP);
}

void SessionController::OnDestroy() {
    if (State().playing) {
        State().playing = false;
        REQ_PlayCtrl(KEY_STOP);
    }
    State().playState = kPlayStateStopped;
    port_.CloseStatusPopup();
    DoDisConnect();
}

} // namespace manager
