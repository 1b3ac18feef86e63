// The POSIX front-end's effects.
#include "manager/posix/PosixPort.h"

#include <algorithm>

#include "common/handoff/HandOffReader.h"
#include "common/platform/Settings.h"
#include "common/text/DebugPrint.h"

namespace manager {

void PosixPort::Log(std::u16string_view line) {
    if (logSink_) {
        logSink_(line);
        return;
    }
    text::DebugPrintLine(std::u16string(line));
}

void PosixPort::PostAnswerDeviceRequest(std::uint32_t cmd, std::uint32_t subCmd) {
    loop_.Post([this, cmd, subCmd] { events_.OnAnswerDeviceRequest(cmd, subCmd); });
}

void PosixPort::ShowErrorBox(std::u16string_view text, DialogTicket ticket) {
    if (boxSink_)
        boxSink_(text);
    else
        text::DebugPrintLine(u"ERROR: " + std::u16string(text));
    // Nobody has to press OK: the box counts as closed on the loop's next turn.
    loop_.Post([this, ticket] { events_.OnErrorBoxClosed(ticket); });
}

void PosixPort::AskAccessCode(const SessionDisplay& display, DialogTicket ticket) {
    (void)display;
    loop_.Post([this, ticket] { events_.OnAccessCodeEntered(ticket, false, {}); });
}

void PosixPort::ChooseTarget(const TargetTable& table, DialogTicket ticket) {
    int index = -1;
    for (int i = 0; i < table.foundCount; ++i) {
        if (table.entries[static_cast<std::size_t>(i)].connectInform == 0) {
            index = i;
            break;
        }
    }
    loop_.Post([this, ticket, index] { events_.OnTargetChosen(ticket, false, index); });
}

void PosixPort::ShowTargetFields(std::uint32_t address, std::u16string_view port,
                                 std::u16string_view deviceName, std::u16string_view targetStatus) {
    (void)address;
    (void)port;
    (void)deviceName;
    (void)targetStatus;
}

void PosixPort::StartTimer(int timer, std::uint32_t periodMs) {
    loop_.StartTimer(timer, periodMs);
}

void PosixPort::StopTimer(int timer) {
    loop_.StopTimer(timer);
}

bool PosixPort::ReadHandOffFolder(std::u16string& folder) {
    handoff::HandOffBlock block;
    const int opened = blockName_.empty() ? handoff::OpenHandOffBlock(block)
                                          : handoff::OpenHandOffBlock(block, blockName_);
    if (opened != 0)
        return false;
    folder.assign(block.Folder());
    handoff::CloseHandOffBlock(block);
    return true;
}

bool PosixPort::StoreShareSettings(std::u16string_view root) {
    std::u16string path(root);
    std::replace(path.begin(), path.end(), u'\\', u'/');
    platform::SettingsStore store = settingsLocation_.empty()
                                        ? platform::SettingsStore()
                                        : platform::SettingsStore(settingsLocation_);
    std::u16string error;
    const bool stored = store.Open(platform::SettingsAccess::kReadWrite, error) &&
                        store.WriteRoot(path, error) && store.WriteCodePage(65001, error);
    if (!stored)
        text::DebugPrintLine(error);
    return stored;
}

void PosixPort::RetireSocket(platform::Socket socket) {
    loop_.Forget(socket.Value());
    loop_.Linger(std::move(socket));
}

bool PosixPort::SelectSocketEvents(platform::Socket& socket) {
    if (!socket.SetNonBlocking(true))
        return false;
    loop_.Watch(socket);
    return true;
}

} // namespace manager
