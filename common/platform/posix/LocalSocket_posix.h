// POSIX only: a local (Unix-domain) stream socket for one-line requests between processes of
// the same user, such as lumavert asking lumavert-server to reload. Move-only; a listener
// removes its socket file when it closes.
#pragma once

#include <string>

namespace platform {

class LocalSocket {
  public:
    LocalSocket() = default;
    ~LocalSocket();
    LocalSocket(LocalSocket&& other) noexcept;
    LocalSocket& operator=(LocalSocket&& other) noexcept;
    LocalSocket(const LocalSocket&) = delete;
    LocalSocket& operator=(const LocalSocket&) = delete;

    // Listens on `path`, replacing a file left there (callers hold an instance lock, so no
    // live process owns it). Invalid with `error` set on failure.
    static LocalSocket Listen(const std::string& path, std::string& error);
    // Connects to a listener; invalid when none listens on `path`.
    static LocalSocket Connect(const std::string& path);

    bool IsValid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // The next client of a listener; invalid when none is waiting.
    LocalSocket Accept();

    // Reads up to the next line end, waiting at most `timeoutMs` in all; false on timeout, end
    // or error (lines over 4096 bytes count as errors). `line` is without its end.
    bool ReadLine(std::string& line, int timeoutMs);
    // Sends `line` and a line end; false when the peer is gone.
    bool WriteLine(const std::string& line);
    void Close();

  private:
    int fd_ = -1;
    std::string listenPath_; // removed on close
    std::string pending_;    // read past the last line
};

} // namespace platform
