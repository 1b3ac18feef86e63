// Prompts and keys on the controlling terminal.
#include "manager/posix/Terminal.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "manager/core/ControlPacket.h"
#include "manager/core/ManagerPort.h"

namespace manager {

namespace {

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

bool ReadOneLine(int fd, std::string& line) {
    line.clear();
    for (;;) {
        char c = 0;
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (c == '\n' || c == '\r')
            return true;
        // Enough for any code or number; the rest of an endless line is dropped.
        if (line.size() < 256)
            line.push_back(c);
    }
}

} // namespace

int OpenTerminal() {
    return open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
}

bool ReadLine(int fd, const std::string& prompt, std::string& line) {
    if (fd < 0 || !isatty(fd))
        return false;
    WriteAll(fd, prompt);
    return ReadOneLine(fd, line);
}

bool ReadSecretLine(int fd, const std::string& prompt, std::string& line) {
    termios saved{};
    if (fd < 0 || tcgetattr(fd, &saved) != 0)
        return false;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    quiet.c_lflag |= ICANON;
    if (tcsetattr(fd, TCSANOW, &quiet) != 0)
        return false;
    WriteAll(fd, prompt);
    const bool read = ReadOneLine(fd, line);
    tcsetattr(fd, TCSADRAIN, &saved);
    WriteAll(fd, "\n");
    return read;
}

std::optional<KeyAction> KeyActionFor(char key) {
    switch (key) {
    case ' ':
        return KeyAction::PauseOrResume;
    case 'n':
        return KeyAction::Next;
    case 'p':
        return KeyAction::Previous;
    case 's':
        return KeyAction::Stop;
    case 'q':
        return KeyAction::Quit;
    default:
        return std::nullopt;
    }
}

std::optional<std::uint32_t> CommandFor(KeyAction action, std::uint32_t playState) {
    switch (action) {
    case KeyAction::PauseOrResume:
        return playState == kPlayStatePaused ? kCmdPlay : kCmdPause;
    case KeyAction::Next:
        return kCmdFastForward;
    case KeyAction::Previous:
        return kCmdRewind;
    case KeyAction::Stop:
        return kCmdStop;
    case KeyAction::Quit:
        break;
    }
    return std::nullopt;
}

RawKeys::RawKeys(int fd) : fd_(fd) {
    if (fd_ < 0 || tcgetattr(fd_, &saved_) != 0)
        return;
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(fd_, TCSANOW, &raw) == 0;
}

RawKeys::~RawKeys() {
    if (active_)
        tcsetattr(fd_, TCSANOW, &saved_);
}

} // namespace manager
