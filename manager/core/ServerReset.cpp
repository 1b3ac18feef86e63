#include "manager/core/ServerReset.h"

#include "common/text/Format.h"

namespace manager {
namespace {

constexpr std::u16string_view kResetFailed = u"Fail to reset Server";

// Polls up to `polls` times, 10 ms apart, until the window's presence equals `present`.
bool WaitForWindow(ServerHost& host, int polls, bool present) {
    for (int i = 0; i < polls; ++i) {
        if (host.ServerWindowExists() == present)
            return true;
        host.Sleep(kPollIntervalMs);
    }
    return host.ServerWindowExists() == present;
}

bool Fail(ServerHost& host, std::u16string_view text) {
    host.ShowErrorBox(std::u16string(text));
    host.QuitManager();
    return false;
}

} // namespace

bool ResetServer(ServerHost& host, const std::u16string& serverPath) {
    if (host.ServerWindowExists()) {
        host.PostCloseToServer();
        if (!WaitForWindow(host, kCloseWaitPolls, false)) {
            host.TerminateServerWindowOwner();
            if (!WaitForWindow(host, kCloseWaitPolls, false))
                return Fail(host, kResetFailed);
        }
    }
    if (serverPath.empty() || !host.FileExists(serverPath)) {
        return Fail(host,
                    text::FormatCut(1024, u"%s: %s\n%s", u"Lost important file", u"Server.exe",
                                    u"If this problem persists, you may solve it by "
                                    u"reinstall the application."));
    }
    if (host.StartProgramHidden(serverPath) && WaitForWindow(host, kStartWaitPolls, true)) {
        // The window comes before the Server's first start from the registry; a reload
        // broadcast sent during that start would be dropped. One that never answers is left to
        // the acknowledgement's own wait.
        host.AwaitServerAnswer(kStartAnswerWaitMs);
        return true;
    }
    return Fail(host, kResetFailed);
}

} // namespace manager
