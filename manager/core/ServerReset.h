// Replaces a running Server with a fresh one that the manager starts itself.
#pragma once

#include <string>

namespace manager {

// What ResetServer needs from the system; the front-end looks the window up by its class
// "TApplication" and title "Lumavert Server".
class ServerHost {
  public:
    virtual ~ServerHost() = default;
    virtual bool ServerWindowExists() = 0;
    virtual void PostCloseToServer() = 0;
    // Terminates the process that owns the Server window (never others that merely share
    // part of its name).
    virtual void TerminateServerWindowOwner() = 0;
    virtual bool FileExists(const std::u16string& path) = 0;
    // Starts the program with an empty command line and its first window hidden.
    virtual bool StartProgramHidden(const std::u16string& path) = 0;
    // Waits up to `milliseconds` for the thread of the Server's window to take a message: until
    // then it is still starting, and a broadcast could miss it.
    virtual bool AwaitServerAnswer(unsigned milliseconds) = 0;
    virtual void ShowErrorBox(const std::u16string& text) = 0;
    virtual void QuitManager() = 0;
    virtual void Sleep(unsigned milliseconds) = 0;
};

inline constexpr int kCloseWaitPolls = 501;
inline constexpr int kStartWaitPolls = 1001;
inline constexpr unsigned kPollIntervalMs = 10;
inline constexpr unsigned kStartAnswerWaitMs = 10000;

// Closes the old Server (asking first, then ending its window's owner), checks that
// `serverPath` exists and starts it. Returns true when the new Server shows its window (and
// has then taken a message, or not within kStartAnswerWaitMs); otherwise it has shown an error
// box and asked the manager to quit.
bool ResetServer(ServerHost& host, const std::u16string& serverPath);

} // namespace manager
