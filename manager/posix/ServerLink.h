// lumavert's side of lumavert-server's reload channel (server/ui/posix/ReloadChannel.h): asks
// the running server to reload, starting one when none answers, and reports its answer on the
// poll loop, as the posted "CMD To Manager AP" reaches the Windows manager.
#pragma once

#include <functional>
#include <string>

#include "common/platform/posix/LocalSocket_posix.h"
#include "manager/posix/PollLoop.h"

namespace manager {

class ServerLink {
  public:
    // `served` runs once the server answered "ok"; `said` gets each line worth showing (a
    // start, a failure with the server's reason).
    using Served = std::function<void()>;
    using Said = std::function<void(const std::string&)>;

    // `settingsPath` is the server's settings file (its folder holds the channel);
    // `serverProgram` the lumavert-server to start when none runs.
    ServerLink(PollLoop& loop, std::string settingsPath, std::string serverProgram)
        : loop_(loop), settingsPath_(std::move(settingsPath)),
          serverProgram_(std::move(serverProgram)) {}
    ~ServerLink();
    ServerLink(const ServerLink&) = delete;
    ServerLink& operator=(const ServerLink&) = delete;

    void OnServed(Served served) { served_ = std::move(served); }
    void OnSaid(Said said) { said_ = std::move(said); }

    // Sends the reload request (a request still waiting is dropped). Without a server, starts
    // one and waits up to `startWaitMs` for its channel. False when no request could be sent:
    // then no answer comes.
    bool RequestReload(int startWaitMs = 4000);

    const std::string& ChannelPath() const { return channelPath_; }

  private:
    bool StartServer();
    void Close();
    void OnReadable();

    PollLoop& loop_;
    std::string settingsPath_;
    std::string serverProgram_;
    std::string channelPath_;
    Served served_;
    Said said_;
    platform::LocalSocket channel_;
};

// The lumavert-server to start: $LUMAVERT_SERVER, else the one beside `self` (the running
// program's path) or one folder up, else "lumavert-server" on the PATH.
std::string FindServerProgram(const std::string& self);

} // namespace manager
