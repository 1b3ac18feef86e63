// Diagnostic lines to standard error when enabled, one write per line so concurrent lines do not
// interleave.
#include "common/platform/DebugOutput.h"

#include "common/platform/CodePage.h"
#include "common/platform/posix/DebugOutput_posix.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<bool> gEnabled{false};

void WriteLine(std::string line) {
    line.push_back('\n');
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t written = write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // Nowhere to report a failure of the diagnostic channel itself.
        done += static_cast<std::size_t>(written);
    }
}

} // namespace

void EnableDebugOutput(bool enable) {
    gEnabled = enable;
}

void DebugOutputA(const char* line) {
    if (line != nullptr && gEnabled)
        WriteLine(line);
}

void DebugOutputW(const char16_t* line) {
    if (line != nullptr && gEnabled)
        WriteLine(Utf16ToUtf8(std::u16string_view(line)));
}

} // namespace platform
