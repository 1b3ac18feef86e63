// Unix-domain stream sockets with line reads.
#include "common/platform/posix/LocalSocket_posix.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

#include "common/platform/Clock.h"

namespace platform {

namespace {

constexpr std::size_t kLineLimit = 4096;

bool FillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

LocalSocket::~LocalSocket() {
    Close();
}

LocalSocket::LocalSocket(LocalSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), listenPath_(std::move(other.listenPath_)),
      pending_(std::move(other.pending_)) {
    other.listenPath_.clear();
}

LocalSocket& LocalSocket::operator=(LocalSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        listenPath_ = std::move(other.listenPath_);
        other.listenPath_.clear();
        pending_ = std::move(other.pending_);
    }
    return *this;
}

void LocalSocket::Close() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    if (!listenPath_.empty())
        unlink(listenPath_.c_str());
    listenPath_.clear();
    pending_.clear();
}

LocalSocket LocalSocket::Listen(const std::string& path, std::string& error) {
    LocalSocket listener;
    sockaddr_un address;
    if (!FillAddress(path, address)) {
        error = "the socket path is too long: " + path;
        return listener;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("no local socket: ") + std::strerror(errno);
        return listener;
    }
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 8) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        close(fd);
        return listener;
    }
    listener.fd_ = fd;
    listener.listenPath_ = path;
    return listener;
}

LocalSocket LocalSocket::Connect(const std::string& path) {
    LocalSocket client;
    sockaddr_un address;
    if (!FillAddress(path, address))
        return client;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return client;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return client;
    }
    client.fd_ = fd;
    return client;
}

LocalSocket LocalSocket::Accept() {
    LocalSocket client;
    if (fd_ >= 0)
        client.fd_ = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    return client;
}

bool LocalSocket::ReadLine(std::string& line, int timeoutMs) {
    const std::uint32_t start = TickCountMs();
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        if (fd_ < 0 || pending_.size() > kLineLimit)
            return false;
        const std::uint32_t elapsed = TickCountMs() - start;
        if (timeoutMs >= 0 && elapsed >= static_cast<std::uint32_t>(timeoutMs))
            return false;
        pollfd entry{fd_, POLLIN, 0};
        const int wait = timeoutMs < 0 ? -1 : timeoutMs - static_cast<int>(elapsed);
        const int ready = poll(&entry, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[512];
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            return false;
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

bool LocalSocket::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (fd_ >= 0 && done < text.size()) {
        const ssize_t sent = send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno == EAGAIN) {
            pollfd entry{fd_, POLLOUT, 0};
            poll(&entry, 1, 1000);
            continue;
        }
        if (sent <= 0)
            return false;
        done += static_cast<std::size_t>(sent);
    }
    return fd_ >= 0;
}

} // namespace platform
