// The POSIX front-end's effects.
#include "manager/posix/PosixPort.h"

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

bool PosixPort::SelectSocketEvents(platform::Socket& socket) {
    if (!socket.SetNonBlocking(true))
        return false;
    loop_.Watch(socket);
    return true;
}

} // namespace manager
