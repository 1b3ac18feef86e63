// lumavert's terminal: the access-code prompt without echo, the numbered choice of a player,
// and the keys relayed while playing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <termios.h>

namespace manager {

// The controlling terminal for reading and writing, or -1 when there is none.
int OpenTerminal();

// Writes `prompt` to the terminal `fd` and reads one line with echo off (restored after, also
// when the read fails). False when `fd` is no terminal or the input ends before a line.
bool ReadSecretLine(int fd, const std::string& prompt, std::string& line);
// The same with echo as the terminal has it.
bool ReadLine(int fd, const std::string& prompt, std::string& line);

// What a key typed while playing does.
enum class KeyAction {
    PauseOrResume, // space: pause, or play again when paused
    Next,          // n: the player's fast forward
    Previous,      // p: rewind
    Stop,          // s: as the status popup's "Stop Streaming"
    Quit,          // q: ends the session and the program
};
std::optional<KeyAction> KeyActionFor(char key);
// The main dialog's button (kCmd...) of an action in the given play state (0 playing, 1 stopped,
// 2 paused); none for Quit.
std::optional<std::uint32_t> CommandFor(KeyAction action, std::uint32_t playState);

// Single keys without echo on `fd` while the object lives (nothing when `fd` is no terminal).
class RawKeys {
  public:
    explicit RawKeys(int fd);
    ~RawKeys();
    RawKeys(const RawKeys&) = delete;
    RawKeys& operator=(const RawKeys&) = delete;
    bool Active() const { return active_; }

  private:
    int fd_;
    bool active_ = false;
    termios saved_{};
};

} // namespace manager
