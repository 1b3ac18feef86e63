// One control connection from the player's side: answers the PC's requests as the configured
// modes say, sends the player's own requests one at a time, and checks every byte the PC
// sends against the protocol. It never touches the OS: time, the socket and NFS go through
// SessionPort, so tests drive it with a fake.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "player/Config.h"
#include "player/ControlCodec.h"
#include "player/JsonLog.h"
#include "player/NfsJob.h"

namespace player {

class SessionPort {
  public:
    virtual ~SessionPort() = default;
    virtual double Now() = 0; // monotonic seconds
    // One write call on the connection; false when the connection has failed.
    virtual bool Write(ByteSpan bytes) = 0;
    virtual void Close(bool reset) = 0;
    virtual void StartNfs(const NfsJob& job) = 0;
    virtual std::uint32_t Random() = 0;
};

// The three lists of the last REQ_UpdateFileList, as parsed from the list files.
struct MediaLists {
    std::vector<std::u16string> lists[3]; // video, audio, image
};

// Logs an NFS result (lists with their departures, first data, the file's size and digest)
// whether or not its session is still open; fills `lists` for a Lists result.
void LogNfsResult(JsonLog& log, const NfsResult& result, MediaLists& lists);

class ControlSession {
  public:
    ControlSession(int id, std::string peerAddress, std::optional<Bytes> discoveryMac,
                   const SessionConfig& config, JsonLog& log, SessionPort& port);

    void Start();
    void OnBytes(ByteSpan data);
    void OnClosed(bool reset); // the PC closed or reset the connection
    void OnNfs(const NfsResult& result, const MediaLists& lists);
    void OnTime(); // runs what is due
    std::optional<double> NextDeadline() const;
    bool Open() const { return open_; }
    int Id() const { return id_; }
    int RequestCount() const { return requestSeq_; }

    // Test-control actions.
    void SendPlayerRequest(std::uint32_t cmd, std::uint32_t subCmd, Bytes payload,
                           bool wait = true);
    void EndSession();
    void SendRaw(Bytes bytes);
    void SendCut(Bytes packet, std::size_t at, int gapMs);
    void CloseNow(bool reset);

  private:
    struct PlayerRequest {
        Bytes packet;
        bool end = false;
        bool wait = true;
    };
    struct Outstanding {
        Bytes packet;
        AnswerExpectation expect;
        double sentAt = -1;
        bool answered = false;
        bool expired = false;
        bool superseded = false;
        bool end = false;
    };
    struct Chunk {
        Bytes bytes;
        double notBefore = 0;
        std::function<void()> after;
    };

    void HandlePacket(const Packet& packet);
    void HandleRequest(const Packet& request);
    void HandleAnswer(const Packet& answer);
    void AnswerConnect(const Packet& request, const StepBehaviour& behaviour);
    void AnswerAssign(const Packet& request, const StepBehaviour& behaviour);
    void AnswerKey(const Packet& request, const StepBehaviour& behaviour);
    void StartPlay(const Packet& request, const StepBehaviour& behaviour);
    void SendAnswer(const Packet& request, std::uint32_t result, Bytes body,
                    const StepBehaviour& behaviour, std::function<void()> after = {});
    void AfterPlayAnswered();
    void MaybeEndAfterPlay();
    void Report(const Departure& departure, JsonLine extra = JsonLine(""));
    Bytes StatusBody() const;
    std::string NfsServer() const;

    void Transmit(PlayerRequest request);
    bool Waiting() const;
    void SendNextQueued();
    void OnDeadline(int id);
    void CheckEnd();
    void LoopRequest();

    void QueuePacket(Bytes packet, std::function<void()> after = {});
    void QueueChunk(Bytes bytes, std::function<void()> after);
    void Pump();
    void After(double delaySeconds, std::function<void()> action);

    const int id_;
    const std::string peer_;
    const SessionConfig& config_;
    JsonLog& log_;
    SessionPort& port_;
    RequestContext context_;
    PacketFramer framer_;
    bool open_ = true;
    bool draining_ = false; // OnClosed handles the packets still buffered
    bool closedByPlayer_ = false;
    int requestSeq_ = 0;

    // Player state.
    std::uint32_t playState_ = kStateStopped;
    MediaLists lists_;
    bool listsLoaded_ = false;
    std::uint32_t fileIndex_ = 0;
    std::uint32_t mediaType_ = 0; // the list the assigned file is in, 1 to 3
    std::string fileName_;
    std::optional<Packet> pendingPlay_;
    std::optional<Packet> pendingUpdate_;
    bool playReported_ = false;
    bool fileDone_ = false;
    bool endQueued_ = false;

    // Player requests and the end of the session.
    std::deque<PlayerRequest> queue_;
    std::map<int, Outstanding> outstanding_;
    int nextRequestId_ = 1;
    bool disconnectReceived_ = false;
    bool endSent_ = false;
    bool endChecked_ = false;
    int loopTurn_ = 0;

    // Output and time.
    std::deque<Chunk> outbox_;
    std::optional<Chunk> held_;
    int heldGeneration_ = 0;
    double splitClock_ = 0;
    std::multimap<double, std::function<void()>> timers_;
};

} // namespace player
