// Debugger output of the manager and the extension, with a sink that tests can replace.
#include "common/text/DebugPrint.h"

#include "common/platform/DebugOutput.h"
#include "common/platform/SystemError.h"

namespace text {

namespace {

// Both programs are single-threaded where they log (the manager's UI thread, Explorer's thread
// inside one call); tests swap the sink between cases.
DebugSink& Sink() {
    static DebugSink sink;
    return sink;
}

} // namespace

DebugSink SetDebugSink(DebugSink sink) {
    DebugSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

void DebugPrintLine(std::u16string line) {
    CutToFit(line, kDebugLineUnits);
    if (Sink()) {
        Sink()(line);
        return;
    }
    platform::DebugOutputW(line.c_str());
}

void DebugPrintSystemError(std::uint32_t code) {
    // Signed, as the line has always shown it (%d).
    DebugPrint(u"GetLastError=%d: %s", static_cast<std::int32_t>(code),
               platform::SystemErrorText(code));
}

} // namespace text
