// The three commands of lumavert.
#include "manager/posix/LumavertApp.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/signalfd.h>
#include <unistd.h>

#include "common/handoff/HandOffReader.h"
#include "common/handoff/HandOffWriter.h"
#include "common/handoff/ListFiles.h"
#include "common/platform/CodePage.h"
#include "common/platform/InstanceLock.h"
#include "common/platform/Settings.h"
#include "common/platform/posix/LocalSocket_posix.h"
#include "common/text/DebugPrint.h"
#include "manager/core/Discovery.h"
#include "manager/core/SessionController.h"
#include "manager/core/StatusText.h"
#include "manager/posix/CliPort.h"
#include "manager/posix/Terminal.h"

namespace manager {

const char kAppUsage[] =
    "usage: lumavert play [--player NAME|ADDRESS] [--code CODE] [--json] [--verbose] FILE...\n"
    "       lumavert players [--json] [--verbose]\n"
    "       lumavert stop\n"
    "\n"
    "play     shares the folder of the first FILE through lumavert-server (started when none\n"
    "         runs), finds a free Kestro player, connects (asking for the access code when the\n"
    "         player wants one) and plays the first media file. While playing: space pauses or\n"
    "         resumes, n and p are fast forward and rewind, s stops, q or Ctrl-C ends the\n"
    "         session. A second `lumavert play` hands its files to the running session.\n"
    "players  lists the players that answer discovery.\n"
    "stop     ends the running session.\n"
    "\n"
    "Exit status: 0 done, 1 other failure, 2 usage, 3 the server did not reload, 4 no (free)\n"
    "player, 5 no media file or the hand-off failed, 6 no player chosen, 11 to 16 the connect\n"
    "sequence's failure codes 1 to 6.\n";

namespace {

// The session's own channel (for `stop` and the hand-off of a second `play`), beside the
// server's in the settings folder.
constexpr char kHandOffCommand[] = "handoff ";
constexpr char kStopCommand[] = "stop";
constexpr char kHandOffAnswer[] = "ok";

std::string SettingsPath() {
    return platform::Utf16ToUtf8(platform::SettingsLocation());
}

std::string SettingsFolder() {
    const std::string path = SettingsPath();
    return path.substr(0, path.rfind('/'));
}

std::string SessionChannelPath() {
    return SettingsFolder() + "/session.sock";
}

// Forwards the events a port delivers to the controller made after it.
class EventRelay : public IManagerEvents {
  public:
    void Attach(IManagerEvents& target) { target_ = &target; }
    void OnSocketEvent(SocketId s, std::uint16_t e, int error) override {
        target_->OnSocketEvent(s, e, error);
    }
    void OnAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t sub) override {
        target_->OnAnswerDeviceRequest(cmd, sub);
    }
    void OnErrorBoxClosed(DialogTicket t) override { target_->OnErrorBoxClosed(t); }
    void OnAccessCodeEntered(DialogTicket t, bool ok, std::string_view code) override {
        target_->OnAccessCodeEntered(t, ok, code);
    }
    void OnTargetChosen(DialogTicket t, bool cancelled, int index) override {
        target_->OnTargetChosen(t, cancelled, index);
    }

  private:
    IManagerEvents* target_ = nullptr;
};

std::string SelfPath(const std::string& fallback) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : fallback;
}

// The files as the hand-off takes them: absolute, '/' as '\\'. False with `error`.
bool SelectionOf(const std::vector<std::string>& files, handoff::Selection& selection,
                 std::string& error) {
    std::vector<std::u16string> paths;
    for (const std::string& file : files) {
        char* resolved = realpath(file.c_str(), nullptr);
        if (resolved == nullptr) {
            error = file + ": no such file";
            return false;
        }
        const std::string path(resolved);
        std::free(resolved);
        // A backslash would split the name on the way, where it stands for '/'.
        if (path.find('\\') != std::string::npos) {
            error = path + ": a name with a backslash cannot be handed to the player";
            return false;
        }
        std::u16string unit = platform::Utf8ToUtf16(path);
        std::replace(unit.begin(), unit.end(), u'/', u'\\');
        paths.push_back(std::move(unit));
    }
    handoff::CollectSelection(paths, selection);
    if (selection.fileCount == 0) {
        error = "no video, audio or image file among the files";
        return false;
    }
    if (selection.folder.size() >= handoff::kHandOffFolderUnits) {
        error = "the folder's path is too long for the hand-off";
        return false;
    }
    return true;
}

std::string BlockName() {
    return "KESTRO_DLL_TO_AP_FOLDER-" + std::to_string(getpid());
}

// Hands the selection to the session running in another lumavert, as the extension does to the
// Windows manager: the lists and the block, and the notification answered once it is handled.
int HandToRunningSession(platform::LocalSocket& session, const handoff::Selection& selection,
                         Reporter& reporter) {
    const std::string block = BlockName();
    std::string answer;
    const auto outcome = handoff::HandOffSelection(
        selection,
        [&] {
            if (session.WriteLine(kHandOffCommand + block))
                session.ReadLine(answer, 30000);
        },
        handoff::HandOffTargets{{}, platform::Utf8ToUtf16(block)});
    if (outcome != handoff::HandOffOutcome::Notified) {
        reporter.Error("the selection could not be handed off", kExitSelection);
        return kExitSelection;
    }
    if (answer != kHandOffAnswer) {
        reporter.Error("the running session did not take the selection", kExitFailure);
        return kExitFailure;
    }
    reporter.Progress("Handed to the running lumavert session.");
    return kExitOk;
}

int SignalDescriptor() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

class PlaySession {
  public:
    PlaySession(const AppOptions& options, const std::string& self, Reporter& reporter)
        : reporter_(reporter), server_(loop_, SettingsPath(), FindServerProgram(self)),
          port_(loop_, relay_, reporter, server_, Choices(options)), controller_(port_) {
        relay_.Attach(controller_);
        loop_.Attach(controller_);
        port_.SetHandOffBlockName(platform::Utf8ToUtf16(BlockName()));
        port_.SetSettingsLocation(platform::SettingsLocation());
        server_.OnSaid([this](const std::string& line) { reporter_.Progress(line); });
        server_.OnServed([this] { loop_.Post([this] { controller_.OnServerMessage(0, 0); }); });
        port_.OnStatus([this](const SessionDisplay& d) { ShowStatus(d); });
        lists_ = handoff::BuildListPaths(handoff::ListFolder(handoff::kExtensionFolderFailure));
    }
    ~PlaySession() {
        if (signals_ >= 0)
            close(signals_);
    }

    int Run(const handoff::Selection& selection, platform::LocalSocket listener) {
        listener_ = std::move(listener);
        loop_.AddReader(listener_.Fd(), [this] { AcceptSessionRequest(); });
        signals_ = SignalDescriptor();
        if (signals_ >= 0)
            loop_.AddReader(signals_, [this] { ending_ = true; });
        const auto outcome = handoff::HandOffSelection(
            selection, [this] { controller_.OnHandOffMessage(0, 0); },
            handoff::HandOffTargets{{}, platform::Utf8ToUtf16(BlockName())});
        if (outcome != handoff::HandOffOutcome::Notified) {
            reporter_.Error("the selection could not be handed off", kExitSelection);
            return kExitSelection;
        }
        if (!loop_.TimerRunning(kServerWaitTimer)) {
            reporter_.Error("Fail to set registry!", kExitSelection);
            return kExitSelection;
        }
        return Loop();
    }

  private:
    static CliChoices Choices(const AppOptions& options) {
        CliChoices choices;
        choices.accessCode = options.accessCode;
        choices.player = options.player;
        choices.terminal = OpenTerminal();
        return choices;
    }

    int Loop() {
        std::unique_ptr<RawKeys> keys;
        for (;;) {
            loop_.RunOnce(50);
            if (ending_)
                return End(kExitOk);
            // The play answer counts even when the player ends the session before the tick
            // that would log "Play OP Complete.".
            if (controller_.State().results.playResult == 0)
                port_.MarkPlayed();
            if (!port_.Played()) {
                // A failure before the selection plays ends the program once its box closed.
                if (port_.BoxExitCode() != kExitOk && !loop_.HasPosted())
                    return End(port_.BoxExitCode());
                if (Idle())
                    return End(port_.NotChosen() ? kExitNotChosen : kExitFailure);
                continue;
            }
            if (!keys && isatty(0)) {
                keys = std::make_unique<RawKeys>(0);
                if (keys->Active())
                    loop_.AddReader(0, [this] { Key(); });
            }
            if (!controller_.HasConnection() && !loop_.HasPosted()) {
                reporter_.Progress("The session has ended.");
                return End(kExitOk);
            }
        }
    }

    // Nothing runs and nothing will: no timer, no connection, no dialog, no posted work.
    bool Idle() {
        return !controller_.HasConnection() && !loop_.HasPosted() && !port_.IsPromptOpen() &&
               !loop_.TimerRunning(kSequenceTimer) && !loop_.TimerRunning(kServerWaitTimer) &&
               !loop_.TimerRunning(kSessionServerWaitTimer);
    }

    int End(int code) {
        // As the Windows manager leaves: stop while playing, disconnect, close; then the
        // closed connection's last bytes are let through.
        controller_.OnDestroy();
        loop_.RunFor(ClosingSockets::kBoundMs + 100, [this] { return !loop_.HasLingering(); });
        return code;
    }

    void Key() {
        char c = 0;
        if (read(0, &c, 1) != 1) {
            loop_.RemoveReader(0);
            return;
        }
        const std::optional<KeyAction> action = KeyActionFor(c);
        if (!action)
            return;
        if (*action == KeyAction::Quit) {
            ending_ = true;
            return;
        }
        if (*action == KeyAction::Stop) {
            controller_.OnStopStreaming();
            return;
        }
        if (const auto command = CommandFor(*action, controller_.State().playState))
            controller_.OnCommand(*command);
    }

    void AcceptSessionRequest() {
        platform::LocalSocket client = listener_.Accept();
        std::string request;
        if (!client.IsValid() || !client.ReadLine(request, 1000))
            return;
        if (request == kStopCommand) {
            client.WriteLine(kHandOffAnswer);
            ending_ = true;
            return;
        }
        if (!request.starts_with(kHandOffCommand))
            return;
        // The other lumavert waits in its notification until this returns, as the extension
        // waits in its broadcast: the block exists until then.
        port_.SetHandOffBlockName(
            platform::Utf8ToUtf16(request.substr(sizeof kHandOffCommand - 1)));
        reporter_.Progress("A new selection from another lumavert.");
        controller_.OnHandOffMessage(0, 0);
        client.WriteLine(kHandOffAnswer);
    }

    void ShowStatus(const SessionDisplay& display) {
        StatusValues values;
        values.connected = display.connected;
        values.playing = display.playing;
        values.deviceName = display.deviceName;
        values.addressText = display.addressText;
        values.fileIndex = display.fileIndex;
        values.mediaType = display.mediaType;
        const StatusTexts texts =
            MakeStatusTexts(values, [this](std::uint32_t index, std::uint32_t type) {
                std::u16string line;
                const int read = handoff::ReadListLine(lists_, static_cast<int>(index),
                                                       static_cast<int>(type), line);
                if (read != handoff::kListLineRead)
                    return std::optional<std::u16string>();
                while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r'))
                    line.pop_back();
                return std::optional<std::u16string>(line);
            });
        const char* state = display.playState == kPlayStatePlaying  ? "playing"
                            : display.playState == kPlayStatePaused ? "paused"
                                                                    : "stopped";
        const std::string device = platform::Utf16ToUtf8(texts.device);
        const std::string status = platform::Utf16ToUtf8(texts.status);
        reporter_.Result(device + " | " + state + " | " + status, "status",
                         {{"player", JsonString(platform::Utf16ToUtf8(display.deviceName))},
                          {"address", JsonString(platform::Utf16ToUtf8(display.addressText))},
                          {"connected", display.connected ? "true" : "false"},
                          {"state", JsonString(state)},
                          {"fileIndex", std::to_string(display.fileIndex)},
                          {"mediaType", std::to_string(display.mediaType)},
                          {"text", JsonString(status)}});
    }

    Reporter& reporter_;
    PollLoop loop_;
    EventRelay relay_;
    ServerLink server_;
    CliPort port_;
    SessionController controller_;
    handoff::ListPaths lists_;
    platform::LocalSocket listener_;
    int signals_ = -1;
    bool ending_ = false;
};

int Play(const AppOptions& options, const std::string& self, Reporter& reporter) {
    handoff::Selection selection;
    std::string error;
    if (!SelectionOf(options.files, selection, error)) {
        reporter.Error(error, kExitSelection);
        return kExitSelection;
    }
    platform::LocalSocket running = platform::LocalSocket::Connect(SessionChannelPath());
    if (running.IsValid())
        return HandToRunningSession(running, selection, reporter);
    std::error_code ignored;
    std::filesystem::create_directories(SettingsFolder(), ignored);
    platform::InstanceLock lock;
    if (!lock.Acquire(platform::Utf8ToUtf16(SettingsFolder() + "/session.lock"))) {
        reporter.Error("another lumavert session is starting; try again", kExitFailure);
        return kExitFailure;
    }
    platform::LocalSocket listener = platform::LocalSocket::Listen(SessionChannelPath(), error);
    if (!listener.IsValid()) {
        reporter.Error(error, kExitFailure);
        return kExitFailure;
    }
    PlaySession session(options, self, reporter);
    return session.Run(selection, std::move(listener));
}

int Players(const AppOptions& options, Reporter& reporter) {
    PollLoop loop;
    EventRelay relay;
    ServerLink server(loop, SettingsPath(), {});
    CliChoices choices;
    choices.quietBoxes = true; // busy players are listed, not an error
    CliPort port(loop, relay, reporter, server, choices);
    DiscoveryContext context;
    TargetTable table;
    DiscoverTargets(port, context, table);
    (void)options;
    if (table.foundCount == 0) {
        const int code = port.BoxExitCode() == kExitOk ? kExitNoPlayer : port.BoxExitCode();
        reporter.Error(port.BoxText().empty() ? "No device found." : BoxLine(port.BoxText()), code);
        return code;
    }
    for (int i = 0; i < table.foundCount; ++i) {
        const TargetEntry& e = table.entries[static_cast<std::size_t>(i)];
        const auto o = Octets(e.ip);
        const std::string address = std::to_string(o[0]) + "." + std::to_string(o[1]) + "." +
                                    std::to_string(o[2]) + "." + std::to_string(o[3]);
        const std::string name = platform::Utf16ToUtf8(e.deviceName);
        const std::string product = platform::Utf16ToUtf8(e.productName);
        const bool free = e.connectInform == 0;
        reporter.Result(name + "\t" + address + "\t" + product + "\t" + (free ? "free" : "busy"),
                        "player",
                        {{"name", JsonString(name)},
                         {"address", JsonString(address)},
                         {"product", JsonString(product)},
                         {"free", free ? "true" : "false"}});
    }
    return kExitOk;
}

int Stop(Reporter& reporter) {
    platform::LocalSocket session = platform::LocalSocket::Connect(SessionChannelPath());
    std::string answer;
    if (!session.IsValid() || !session.WriteLine(kStopCommand) || !session.ReadLine(answer, 5000) ||
        answer != kHandOffAnswer) {
        reporter.Error("no lumavert session is running", kExitFailure);
        return kExitFailure;
    }
    reporter.Progress("The session ends.");
    return kExitOk;
}

} // namespace

bool ParseAppOptions(const std::vector<std::string>& args, AppOptions& options,
                     std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            options.help = true;
        } else if (a == "--json") {
            options.json = true;
        } else if (a == "--verbose") {
            options.verbose = true;
        } else if (a == "--player") {
            if (!value(options.player))
                return false;
        } else if (a == "--code") {
            std::string code;
            if (!value(code))
                return false;
            options.accessCode = code;
        } else if (a.starts_with("--")) {
            error = "unknown option " + a;
            return false;
        } else if (options.command.empty()) {
            options.command = a;
        } else {
            options.files.push_back(a);
        }
    }
    if (options.help)
        return true;
    if (options.command != "play" && options.command != "players" && options.command != "stop") {
        error = options.command.empty() ? "a command is needed: play, players or stop"
                                        : "unknown command " + options.command;
        return false;
    }
    if (options.command == "play" && options.files.empty()) {
        error = "play needs at least one file";
        return false;
    }
    if (options.command != "play" && !options.files.empty()) {
        error = options.command + " takes no files";
        return false;
    }
    return true;
}

int RunApp(const AppOptions& options, const std::string& self) {
    Reporter reporter(options.json, options.verbose);
    // The core's debugger lines are the log's company: shown with --verbose only.
    text::SetDebugSink(
        [&](std::u16string_view line) { reporter.Log(platform::Utf16ToUtf8(line)); });
    int status = kExitFailure;
    if (options.command == "play")
        status = Play(options, SelfPath(self), reporter);
    else if (options.command == "players")
        status = Players(options, reporter);
    else
        status = Stop(reporter);
    text::SetDebugSink({});
    return status;
}

} // namespace manager
