// lumavert's dialogs on the terminal, its progress lines and the narrowed discovery.
#include "manager/posix/CliPort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/platform/Clock.h"
#include "common/platform/CodePage.h"
#include "manager/core/DiscoveryPacket.h"
#include "manager/posix/Terminal.h"

namespace manager {

namespace {

std::string Utf8(std::u16string_view text) {
    return platform::Utf16ToUtf8(text);
}

std::string AddressText(std::uint32_t address) {
    const auto o = Octets(address);
    return std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) + "." +
           std::to_string(o[3]);
}

// The error box's text without the line end of its format.
} // namespace

std::string BoxLine(std::u16string_view text) {
    std::string line = Utf8(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    for (std::size_t at = line.find(" \n"); at != std::string::npos; at = line.find(" \n"))
        line.replace(at, 2, " ");
    return line;
}

namespace {

// The discovery socket with the answers of other players than --player's dropped before the
// core sees them: the device list's choice, made in advance.
class NarrowedDatagramSocket : public IDatagramSocket {
  public:
    NarrowedDatagramSocket(std::unique_ptr<IDatagramSocket> inner, std::string wanted)
        : inner_(std::move(inner)), wanted_(std::move(wanted)) {}

    int LastError() const override { return pendingFailed_ ? pendingError_ : inner_->LastError(); }
    bool SetBroadcast(bool on) override { return inner_->SetBroadcast(on); }
    bool Bind(std::uint32_t address, std::uint16_t port) override {
        return inner_->Bind(address, port);
    }
    bool SendTo(ByteSpan data, std::uint32_t address, std::uint16_t port) override {
        // The request's token and MAC, to read the answers by.
        std::uint32_t token = 0;
        if (GetU32(data, 8, token) && data.size() >= 18) {
            tick_ = ~token;
            std::memcpy(mac_.data(), data.data() + 12, mac_.size());
        }
        return inner_->SendTo(data, address, port);
    }
    WaitResult WaitReadable(int timeoutMs) override {
        if (pending_)
            return WaitResult::Readable;
        const std::uint32_t start = platform::TickCountMs();
        for (;;) {
            const std::uint32_t elapsed = platform::TickCountMs() - start;
            const int left = timeoutMs - static_cast<int>(elapsed);
            const WaitResult result = inner_->WaitReadable(left < 0 ? 0 : left);
            if (result != WaitResult::Readable)
                return result;
            buffer_.resize(kMaxAnswerSize);
            std::size_t received = 0;
            pendingFailed_ = !inner_->ReceiveFrom(buffer_, received, from_, fromPort_);
            pendingError_ = inner_->LastError();
            buffer_.resize(received);
            if (pendingFailed_ || Wanted()) {
                pending_ = true;
                return WaitResult::Readable;
            }
            if (left <= 0)
                return WaitResult::TimedOut;
        }
    }
    bool ReceiveFrom(std::span<std::uint8_t> buffer, std::size_t& received,
                     std::uint32_t& fromAddress, std::uint16_t& fromPort) override {
        if (!pending_)
            return inner_->ReceiveFrom(buffer, received, fromAddress, fromPort);
        pending_ = false;
        received = std::min(buffer.size(), buffer_.size());
        std::memcpy(buffer.data(), buffer_.data(), received);
        fromAddress = from_;
        fromPort = fromPort_;
        return !pendingFailed_;
    }

  private:
    // Answers that are no answers are the core's to judge; players are judged by name or address.
    bool Wanted() const {
        SearchAnswer answer;
        if (CheckSearchAnswer(buffer_, tick_, mac_, false, answer) != AnswerCheck::Ok)
            return true;
        return PlayerMatches(wanted_, answer.deviceName, from_);
    }

    std::unique_ptr<IDatagramSocket> inner_;
    std::string wanted_;
    std::uint32_t tick_ = 0;
    MacAddress mac_{};
    std::vector<std::uint8_t> buffer_;
    std::uint32_t from_ = 0;
    std::uint16_t fromPort_ = 0;
    bool pending_ = false;
    bool pendingFailed_ = false;
    int pendingError_ = 0;
};

} // namespace

int ExitCodeForBox(std::u16string_view text) {
    const std::u16string_view code = u"(Code:";
    const std::size_t at = text.find(code);
    if (at != std::u16string_view::npos && at + code.size() < text.size()) {
        const char16_t digit = text[at + code.size()];
        if (digit >= u'1' && digit <= u'6')
            return kExitSequence + (digit - u'0');
    }
    if (text.starts_with(u"Fail to set Server"))
        return kExitServer;
    if (text.starts_with(u"No device found.") || text.starts_with(u"No valid device found."))
        return kExitNoPlayer;
    return kExitFailure;
}

bool PlayerMatches(const std::string& wanted, const std::string& deviceName,
                   std::uint32_t address) {
    return wanted.empty() || wanted == deviceName || wanted == AddressText(address);
}

CliPort::CliPort(PollLoop& loop, IManagerEvents& events, Reporter& reporter, ServerLink& server,
                 CliChoices choices)
    : PosixPort(loop, events), reporter_(reporter), server_(server), choices_(std::move(choices)) {}

void CliPort::Log(std::u16string_view line) {
    const std::string text = Utf8(line);
    reporter_.Log(text);
    // The steps a user follows, from the log lines the core writes for them.
    if (line.starts_with(u"New share: ")) {
        shared_ = line.substr(11);
        std::replace(shared_.begin(), shared_.end(), u'\\', u'/');
    } else if (line == u"Set to Server...")
        reporter_.Progress("Sharing " + Utf8(shared_) + " through lumavert-server...");
    else if (line == u"Set Server: OK!")
        reporter_.Progress("lumavert-server serves the folder.");
    else if (line == u"Fail to set registry!")
        reporter_.Progress("Fail to set registry!");
    else if (line == u"Connect OP Complete.")
        reporter_.Progress("Connected.");
    else if (line.starts_with(u"do REQ_UpdateFileList"))
        reporter_.Progress("Reloading the player's file lists...");
    else if (line == u"do REQ_AssignFileIndex.")
        reporter_.Progress("Assigning the first file...");
    else if (line == u"do REQ_PlayCtrl(KEY_PLAY).")
        reporter_.Progress("Starting play...");
    else if (line == u"Play OP Complete.")
        MarkPlayed();
}

void CliPort::MarkPlayed() {
    if (played_)
        return;
    played_ = true;
    reporter_.Progress("Playing.");
}

void CliPort::ShowErrorBox(std::u16string_view text, DialogTicket ticket) {
    if (boxExit_ == kExitOk) {
        boxExit_ = ExitCodeForBox(text);
        boxText_ = text;
    }
    if (!choices_.quietBoxes)
        reporter_.Error(BoxLine(text), ExitCodeForBox(text));
    // Nobody has to press OK: the box counts as closed on the loop's next turn.
    loop_.Post([this, ticket] { events_.OnErrorBoxClosed(ticket); });
}

void CliPort::AskAccessCode(const SessionDisplay& display, DialogTicket ticket) {
    promptOpen_ = true;
    const std::string prompt =
        "Access code for " + Utf8(display.deviceName) + " (" + Utf8(display.addressText) + "): ";
    // The outcome comes back after the effect, as a modal dialog's does.
    loop_.Post([this, ticket, prompt] {
        std::string code;
        bool confirmed = false;
        if (choices_.accessCode) {
            code = *choices_.accessCode;
            confirmed = true;
        } else if (ReadSecretLine(choices_.terminal, prompt, code)) {
            confirmed = true;
        } else {
            reporter_.Progress("The player asks for an access code: give it with --code.");
        }
        promptOpen_ = false;
        events_.OnAccessCodeEntered(ticket, confirmed, code);
    });
}

void CliPort::ChooseTarget(const TargetTable& table, DialogTicket ticket) {
    promptOpen_ = true;
    std::vector<int> free;
    std::string list;
    for (int i = 0; i < table.foundCount; ++i) {
        const TargetEntry& entry = table.entries[static_cast<std::size_t>(i)];
        if (entry.connectInform != 0)
            continue;
        free.push_back(i);
        list += "  " + std::to_string(free.size()) + ") " + Utf8(entry.deviceName) + " (" +
                AddressText(entry.ip) + ", " + Utf8(entry.productName) + ")\n";
    }
    loop_.Post([this, ticket, free, list] {
        int index = -1;
        bool cancelled = true;
        std::string answer;
        if (free.empty()) {
            cancelled = false; // OK with nothing selected, as the empty list gives
        } else if (ReadLine(choices_.terminal,
                            "Free players:\n" + list + "Play on [1-" + std::to_string(free.size()) +
                                "]: ",
                            answer)) {
            char* end = nullptr;
            const long n = std::strtol(answer.c_str(), &end, 10);
            if (end != answer.c_str() && n >= 1 && n <= static_cast<long>(free.size())) {
                index = free[static_cast<std::size_t>(n - 1)];
                cancelled = false;
            }
        } else {
            notChosen_ = true;
            reporter_.Progress("Several players are free:\n" + list +
                               "choose one with --player NAME|ADDRESS.");
        }
        promptOpen_ = false;
        events_.OnTargetChosen(ticket, cancelled, index);
    });
}

void CliPort::ShowTargetFields(std::uint32_t address, std::u16string_view port,
                               std::u16string_view deviceName, std::u16string_view targetStatus) {
    (void)port;
    (void)targetStatus;
    reporter_.Progress("Connecting to " + Utf8(deviceName) + " (" + AddressText(address) + ")...");
}

void CliPort::RefreshStatusPopup(const SessionDisplay& display, bool showAlways) {
    (void)showAlways;
    const bool changed = !anyShown_ || display.connected != shown_.connected ||
                         display.playState != shown_.playState ||
                         display.fileIndex != shown_.fileIndex ||
                         display.mediaType != shown_.mediaType;
    anyShown_ = true;
    shown_ = display;
    if (changed && status_)
        status_(display);
}

std::unique_ptr<IDatagramSocket> CliPort::CreateDatagramSocket() {
    reporter_.Progress("Searching for players...");
    std::unique_ptr<IDatagramSocket> socket = PosixPort::CreateDatagramSocket();
    if (!socket || choices_.player.empty())
        return socket;
    return std::make_unique<NarrowedDatagramSocket>(std::move(socket), choices_.player);
}

void CliPort::BroadcastServerReload() {
    server_.RequestReload();
}

} // namespace manager
