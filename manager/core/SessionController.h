// The session with one player, as the main dialog runs it: the connect sequence of timer 0,
// the waits for the server's acknowledgement (timers 1 and 2), the hand-off of a selection,
// the buttons and commands, and the end of the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "manager/core/DeviceControl.h"
#include "manager/core/Discovery.h"
#include "manager/core/TargetTable.h"

namespace manager {

// A sequence step fails after more than this many ticks of timer 0.
inline constexpr std::uint32_t kStepTickLimit = 200;
// While the first connect request is unanswered it is sent again every this many ticks.
inline constexpr std::uint32_t kConnectRepeatTicks = 20;
// The server's acknowledgement is awaited this many ticks of timer 1 or 2.
inline constexpr std::uint32_t kServerTickLimit = 100;
inline constexpr std::uint32_t kNoTarget = 0xFFFFFFFF;

// The discovery context comes first so the control layer can hold its host identity.
struct SessionContext {
    DiscoveryContext discovery;
    TargetTable targets;
};

class SessionController : private SessionContext, public DeviceControl {
  public:
    explicit SessionController(IManagerPort& port);

    // Session fields, for the front-end's panel and the tests.
    bool SequenceRunning() const { return sequenceRunning_; }
    bool PlayAfterConnect() const { return playAfterConnect_; }
    std::uint32_t Step() const { return step_; }
    std::uint32_t StepTicks() const { return stepTicks_; }
    std::uint32_t ServerTicks() const { return serverTicks_; }
    bool ServerAcked() const { return serverAcked_; }
    int SelectedTarget() const { return selectedTarget_; }
    const std::u16string& PlayerAddressText() const { return playerAddressText_; }
    const std::u16string& PlayerName() const { return playerName_; }
    const TargetTable& Targets() const { return targets; }
    TargetTable& Targets() { return targets; }
    DiscoveryContext& Discovery() { return discovery; }
    const SequenceCounter& Sequence() const { return sequence_; }

    void ConnectToTarget();
    void AutoConnect();
    void ConnectAndPlay();
    void DoDisConnect() override;

    SessionDisplay Display() const override;

    void OnErrorBoxClosed(DialogTicket ticket) override;
    void OnTimer(int timer) override;
    void OnServerMessage(std::intptr_t wParam, std::intptr_t lParam) override;
    void OnHandOffMessage(std::intptr_t wParam, std::intptr_t lParam) override;
    void OnCommand(std::uint32_t command) override;
    void OnStopStreaming() override;
    void OnAccessCodeEntered(DialogTicket ticket, bool confirmed, std::string_view code) override;
    void OnTargetChosen(DialogTicket ticket, bool cancelled, int index) override;
    void OnDestroy() override;

  private:
    // What follows a dialog (a ticket's step).
    enum Continuation : std::uint32_t {
        kNothing = 0,
        kFailedDisconnect, // the sequence's error box: DoDisConnect, then the clean-up
        kFailedKeep,       // the same without DoDisConnect (codes 5 and 6, 4 when answered)
        kAccessCode,       // the prompt: timer 0 again, subCmd 2
        kChosenPlain,      // the device list of "Connect Server"
        kChosenAuto,       // ... of AutoConnect
        kChosenPlay,       // ... of ConnectAndPlay
    };

    void DiscoverAndConnect(Continuation chosen);
    void ConnectToTarget(Continuation chosen);
    void FinishConnectToTarget(Continuation chosen);
    void StartSequence(bool play);
    void SequenceTick();
    void ConnectAnswered(); // connectResult 0 in step 2 or 3
    void Complete();
    void Fail(std::uint32_t code, std::u16string_view message, bool withResult,
              std::uint32_t result, bool disconnect);
    void EndSequence();
    bool CountStep(); // one more tick in the step; true when it is over the limit
    void ServerWaitTick(int timer);

    SequenceCounter sequence_;
    bool sequenceRunning_ = false;
    bool playAfterConnect_ = false;
    std::uint32_t step_ = 1;
    std::uint32_t stepTicks_ = 0;
    std::uint32_t accessCodeAttempts_ = 0;
    std::uint32_t serverTicks_ = 0;
    bool serverAcked_ = false;
    int selectedTarget_ = -1;
    std::u16string playerAddressText_;
    std::u16string playerName_;
    std::u16string handOffFolder_;
};

} // namespace manager
