// lumavert's port: the POSIX port with the terminal for its dialogs, lumavert-server's reload
// channel for the broadcast, and progress lines for what the Windows manager shows in boxes,
// fields and popups. --player narrows discovery to the players it names.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "manager/posix/PosixPort.h"
#include "manager/posix/Reporter.h"
#include "manager/posix/ServerLink.h"

namespace manager {

// Exit codes of lumavert.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;   // anything not listed
inline constexpr int kExitUsage = 2;     // bad command line
inline constexpr int kExitServer = 3;    // "Fail to set Server": the server did not reload
inline constexpr int kExitNoPlayer = 4;  // discovery found no player, or no free one
inline constexpr int kExitSelection = 5; // no media file, or the hand-off failed
inline constexpr int kExitNotChosen = 6; // several free players and none chosen
inline constexpr int kExitSequence = 10; // + the connect sequence's code (1 to 6)

// The exit code of an error box's text: 10 + N for "(Code:N", and the codes above for the
// server's and discovery's texts.
int ExitCodeForBox(std::u16string_view text);

// An error box's text as one line: without its line end, " \n" joined by a space.
std::string BoxLine(std::u16string_view text);

// Whether a player is the one --player names: its DeviceName, or its address "a.b.c.d".
bool PlayerMatches(const std::string& wanted, const std::string& deviceName, std::uint32_t address);

struct CliChoices {
    std::optional<std::string> accessCode; // --code
    std::string player;                    // --player; empty: any
    int terminal = -1;                     // the controlling terminal, -1 without one
    bool quietBoxes = false;               // error boxes only counted, not shown
};

class CliPort : public PosixPort {
  public:
    CliPort(PollLoop& loop, IManagerEvents& events, Reporter& reporter, ServerLink& server,
            CliChoices choices);

    // The first error box's exit code (kExitOk while none was shown) and text.
    int BoxExitCode() const { return boxExit_; }
    const std::u16string& BoxText() const { return boxText_; }
    // Set when the device list was left without a choice for want of a terminal.
    bool NotChosen() const { return notChosen_; }
    // The player took the play key (its answer, or "Play OP Complete." logged).
    bool Played() const { return played_; }
    void MarkPlayed();
    // Called with each state change of the session that the status popup would show.
    void OnStatus(std::function<void(const SessionDisplay&)> status) {
        status_ = std::move(status);
    }

    void Log(std::u16string_view line) override;
    void ShowErrorBox(std::u16string_view text, DialogTicket ticket) override;
    void AskAccessCode(const SessionDisplay& display, DialogTicket ticket) override;
    void ChooseTarget(const TargetTable& table, DialogTicket ticket) override;
    bool IsPromptOpen() override { return promptOpen_; }
    void ShowTargetFields(std::uint32_t address, std::u16string_view port,
                          std::u16string_view deviceName,
                          std::u16string_view targetStatus) override;
    void RefreshStatusPopup(const SessionDisplay& display, bool showAlways) override;
    std::unique_ptr<IDatagramSocket> CreateDatagramSocket() override;
    void BroadcastServerReload() override;

  private:
    Reporter& reporter_;
    ServerLink& server_;
    CliChoices choices_;
    bool promptOpen_ = false;
    bool notChosen_ = false;
    bool played_ = false;
    int boxExit_ = kExitOk;
    std::u16string boxText_;
    std::u16string shared_; // the folder of the hand-off, for the progress line
    SessionDisplay shown_;
    bool anyShown_ = false;
    std::function<void(const SessionDisplay&)> status_;
};

} // namespace manager
