// The reload channel between lumavert and lumavert-server on POSIX: a local stream socket
// "server.sock" beside the settings file. One request line, one answer line:
//
//   client: "reload\n"
//   server: "ok\n" once the restarted server serves, or "failed: REASON\n" (then no server runs
//           until the next reload); the server closes the connection after its answer.
//
// Anything else is answered "failed: unknown request". SIGHUP reloads without an answer.
#pragma once

#include <string>

namespace control {

inline constexpr char kReloadRequest[] = "reload";
inline constexpr char kReloadDone[] = "ok";
inline constexpr char kReloadFailedPrefix[] = "failed: ";

// server.sock in the folder of the settings file `settingsPath`.
inline std::string ReloadChannelPath(const std::string& settingsPath) {
    const std::size_t slash = settingsPath.rfind('/');
    return (slash == std::string::npos ? std::string(".") : settingsPath.substr(0, slash)) +
           "/server.sock";
}

} // namespace control
