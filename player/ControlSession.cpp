// The player's side of one control connection.
#include "player/ControlSession.h"

#include <algorithm>
#include <cstdio>

#include "common/platform/CodePage.h"
#include "player/ListFile.h"

namespace player {

namespace {

constexpr const char* kListNames[3] = {"VideoList.txt", "AudioList.txt", "ImageList.txt"};
constexpr std::uint32_t kResultFailed = 1; // the player's own "could not do it"
constexpr std::uint32_t kResultNoFile = 2; // the assigned file cannot be read
constexpr std::uint32_t kAccessCodeRequired = 101, kWrongAccessCode = 102;

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::optional<Step> StepOf(const Packet& request) {
    const std::uint32_t subCmd = request.Word(12);
    switch (request.cmd) {
    case REQ_ConnectKestro:
        switch (subCmd) {
        case kConnectOpen:
            return Step::Connect;
        case kConnectClose:
            return Step::Disconnect;
        case kConnectWithCode:
            return Step::Code;
        case kConnectDeactivate:
            return Step::Deactivate;
        default:
            return std::nullopt;
        }
    case REQ_AssignFileIndex:
        return Step::Assign;
    case REQ_UpdateFileList:
        return Step::Update;
    case REQ_GetStatus:
        return Step::Status;
    case REQ_PlayCtrl:
        switch (subCmd) {
        case KEY_PLAY:
            return Step::Play;
        case kKeyStop:
            return Step::Stop;
        case kKeyPause:
            return Step::Pause;
        case kKeyForward:
            return Step::Forward;
        case kKeyRewind:
            return Step::Rewind;
        default:
            return std::nullopt;
        }
    default:
        return std::nullopt;
    }
}

std::vector<std::string> Utf8Names(const std::vector<std::u16string>& names) {
    std::vector<std::string> out;
    for (const std::u16string& name : names)
        out.push_back(platform::Utf16ToUtf8(name));
    return out;
}

} // namespace

void LogNfsResult(JsonLog& log, const NfsResult& result, MediaLists& lists) {
    if (!result.ok) {
        JsonLine line("nfs_error");
        line.Int("session", result.session).Str("server", result.server);
        if (!result.fileName.empty())
            line.Str("file", result.fileName);
        log.Write(line.Str("stage", result.stage == NfsResult::Stage::Lists ? "lists" : "file")
                      .Str("error", result.error));
        return;
    }
    switch (result.stage) {
    case NfsResult::Stage::Lists: {
        JsonLine line("lists");
        line.Int("session", result.session).Str("server", result.server);
        std::vector<std::string> present;
        for (std::size_t i = 0; i < result.lists.size() && i < 3; ++i) {
            const ListFileData& file = result.lists[i];
            lists.lists[i].clear();
            if (!file.present)
                continue;
            present.push_back(file.name);
            for (const Departure& departure : ParseListFile(file.bytes, lists.lists[i]))
                log.Report({departure.rule, file.name + ": " + departure.reason}, result.session,
                           JsonLine("").Hex("bytes", file.bytes));
        }
        line.Strings("present", present);
        static constexpr const char* kKeys[3] = {"video", "audio", "image"};
        for (int i = 0; i < 3; ++i)
            line.Strings(kKeys[i], Utf8Names(lists.lists[i]));
        log.Write(line);
        break;
    }
    case NfsResult::Stage::FirstData:
        log.Write(JsonLine("file_first_data")
                      .Int("session", result.session)
                      .Str("file", result.fileName)
                      .Int("bytes", static_cast<std::int64_t>(result.size)));
        break;
    case NfsResult::Stage::FileDone: {
        JsonLine line("file_read");
        line.Int("session", result.session)
            .Str("server", result.server)
            .Str("file", result.fileName)
            .Int("size", static_cast<std::int64_t>(result.size))
            .Num("ms", result.seconds * 1000);
        if (result.cancelled)
            line.Bool("cancelled", true);
        else
            line.Str("sha256", result.sha256);
        log.Write(line);
        break;
    }
    }
}

ControlSession::ControlSession(int id, std::string peerAddress, std::optional<Bytes> discoveryMac,
                               const SessionConfig& config, JsonLog& log, SessionPort& port)
    : id_(id), peer_(std::move(peerAddress)), config_(config), log_(log), port_(port) {
    context_.discoveryMac = std::move(discoveryMac);
}

void ControlSession::Start() {
    context_.expectedMac = config_.expectedMac;
    context_.expectedHostName = config_.expectedHostName;
    if (!context_.discoveryMac)
        log_.Write(
            JsonLine("note")
                .Int("session", id_)
                .Str("reason",
                     "no search request from this PC seen; its connect MAC is not compared"));
    if (config_.randomBytesOnAccept > 0) {
        Bytes noise(static_cast<std::size_t>(config_.randomBytesOnAccept));
        for (std::uint8_t& byte : noise)
            byte = static_cast<std::uint8_t>(port_.Random());
        QueueChunk(std::move(noise), {});
    }
    if (config_.requestLoopMs > 0)
        After(config_.requestLoopMs / 1000.0, [this] { LoopRequest(); });
}

void ControlSession::Report(const Departure& departure, JsonLine extra) {
    log_.Report(departure, id_, std::move(extra));
}

// ---- receiving ----

void ControlSession::OnBytes(ByteSpan data) {
    if (!open_)
        return;
    log_.Write(JsonLine("tcp_rx")
                   .Int("session", id_)
                   .Int("size", static_cast<std::int64_t>(data.size()))
                   .Hex("hex", data));
    framer_.Feed(data);
    Packet packet;
    Bytes dropped;
    for (;;) {
        const PacketFramer::Outcome outcome = framer_.Next(packet, dropped);
        if (outcome == PacketFramer::Outcome::NeedMore)
            break;
        if (outcome == PacketFramer::Outcome::OutOfStep) {
            Report({"packet.header", "reserved " + Hex32(GetU32(dropped, 4)) + " and tag " +
                                         std::to_string(GetU16(dropped, 8)) +
                                         " put the stream out of step; " +
                                         std::to_string(dropped.size()) + " bytes dropped"},
                   JsonLine("").Hex("dropped", dropped));
            break;
        }
        HandlePacket(packet);
        if (!open_)
            break;
    }
}

void ControlSession::HandlePacket(const Packet& packet) {
    if (packet.length < 4) {
        Report({"packet.length",
                Hex32(packet.cmd) + " has length " + std::to_string(packet.length) + ", below 4"},
               JsonLine("").Hex("packet", packet.bytes));
        return;
    }
    if ((packet.cmd & 0xFFFF8000u) == 0x8000u) {
        HandleAnswer(packet);
        return;
    }
    if (packet.cmd >= REQ_ConnectKestro && packet.cmd <= REQ_GetStatus) {
        HandleRequest(packet);
        return;
    }
    Report({"packet.cmd", "cmd " + Hex32(packet.cmd) + " is neither a PC request nor an answer"},
           JsonLine("").Hex("packet", packet.bytes));
}

void ControlSession::HandleRequest(const Packet& request) {
    const std::uint32_t subCmd = request.Word(12);
    JsonLine line("pc_request");
    line.Int("session", id_)
        .Int("seq", ++requestSeq_)
        .Str("name", CommandName(request.cmd))
        .Str("cmd", Hex32(request.cmd))
        .Int("sub", subCmd);
    if (request.cmd == REQ_ConnectKestro) {
        ConnectPayload payload;
        if (DecodeConnectPayload(request, payload))
            line.Str("mac", MacText(payload.mac))
                .Hex("code", payload.code)
                .Str("hostname", payload.hostName);
    } else if (request.cmd == REQ_AssignFileIndex) {
        line.Int("index", request.Word(16)).Int("mediaType", request.Word(20));
    }
    log_.Write(line);

    if (disconnectReceived_)
        Report({"request.after-disconnect",
                std::string(CommandName(request.cmd)) + " after REQ_ConnectKestro 1"});
    const bool isDisconnect = request.cmd == REQ_ConnectKestro && subCmd == kConnectClose;
    if (endSent_ && !isDisconnect && !disconnectReceived_)
        Report({"end.order", std::string(CommandName(request.cmd)) +
                                 " after CTRL_REQ_CONNECT_PC 1 instead of REQ_ConnectKestro 1"});
    for (const Departure& departure : CheckPcRequest(request, context_))
        Report(departure, JsonLine("").Int("seq", requestSeq_));
    if (isDisconnect)
        disconnectReceived_ = true;

    const std::optional<Step> step = StepOf(request);
    if (!step) {
        SendAnswer(request, kResultFailed, {}, StepBehaviour{});
        return;
    }
    const StepBehaviour& behaviour = config_.Of(*step);
    if (behaviour.noAnswer) {
        log_.Write(JsonLine("note")
                       .Int("session", id_)
                       .Str("reason", std::string("not answering ") + StepName(*step) + " (mode)"));
        return;
    }
    switch (*step) {
    case Step::Connect:
    case Step::Code:
    case Step::Disconnect:
    case Step::Deactivate:
        AnswerConnect(request, behaviour);
        break;
    case Step::Update:
        if (behaviour.result) {
            SendAnswer(request, *behaviour.result, {}, behaviour);
            break;
        }
        pendingUpdate_ = request;
        port_.StartNfs({NfsJob::Kind::Lists, id_, NfsServer(), {}});
        break;
    case Step::Assign:
        AnswerAssign(request, behaviour);
        break;
    case Step::Play:
        StartPlay(request, behaviour);
        break;
    case Step::Stop:
    case Step::Pause:
    case Step::Forward:
    case Step::Rewind:
        AnswerKey(request, behaviour);
        break;
    case Step::Status:
        SendAnswer(request, behaviour.result.value_or(0), StatusBody(), behaviour);
        break;
    }
}

void ControlSession::AnswerConnect(const Packet& request, const StepBehaviour& behaviour) {
    const std::uint32_t subCmd = request.Word(12);
    const Bytes payload(request.From(16).begin(), request.From(16).end());
    std::uint32_t result = 0;
    if (subCmd == kConnectOpen && config_.accessCode) {
        result = kAccessCodeRequired;
        context_.accessCodeAsked = true;
    } else if (subCmd == kConnectWithCode && config_.accessCode) {
        ConnectPayload decoded;
        Bytes expected(config_.accessCode->begin(), config_.accessCode->end());
        expected.resize(8, 0); // the PC sends at most 8 characters, zero-padded
        result = DecodeConnectPayload(request, decoded) && decoded.code == expected
                     ? 0
                     : kWrongAccessCode;
    }
    // An explicit result wins, except that a required code is still asked for first.
    if (behaviour.result && !(subCmd == kConnectOpen && config_.accessCode))
        result = *behaviour.result;
    SendAnswer(request, result, payload, behaviour);
}

void ControlSession::AnswerAssign(const Packet& request, const StepBehaviour& behaviour) {
    if (behaviour.result) {
        SendAnswer(request, *behaviour.result,
                   Bytes(request.From(16).begin(), request.From(16).end()), behaviour);
        return;
    }
    const std::uint32_t index = request.Word(16);
    const std::uint32_t wanted = request.Word(20);
    std::uint32_t list = wanted;
    if (wanted == 0) {
        // mediaType 0: the first list that has names, in the order video, audio, image.
        for (std::uint32_t i = 1; i <= 3 && list == 0; ++i)
            if (!lists_.lists[i - 1].empty())
                list = i;
    }
    std::uint32_t result = kResultFailed;
    JsonLine line("assign");
    line.Int("session", id_).Int("index", index).Int("mediaType", wanted);
    if (listsLoaded_ && list >= 1 && list <= 3 && index >= 1 &&
        index <= lists_.lists[list - 1].size()) {
        fileIndex_ = index;
        mediaType_ = list;
        fileName_ = platform::Utf16ToUtf8(lists_.lists[list - 1][index - 1]);
        line.Int("list", list).Str("file", fileName_);
        result = 0;
    } else {
        line.Str("error", listsLoaded_ ? "no such line in the lists" : "no lists read yet");
    }
    log_.Write(line);
    SendAnswer(request, result, Bytes(request.From(16).begin(), request.From(16).end()), behaviour);
}

void ControlSession::StartPlay(const Packet& request, const StepBehaviour& behaviour) {
    if (behaviour.result) {
        SendAnswer(request, *behaviour.result, {}, behaviour);
        return;
    }
    if (playState_ == kStatePaused && !fileName_.empty()) {
        playState_ = kStatePlaying;
        SendAnswer(request, 0, {}, behaviour,
                   [this] { SendPlayerRequest(CTRL_REQ_PLAYSTATUS_PC, kStatePlaying, {}); });
        return;
    }
    if (fileName_.empty()) {
        log_.Write(
            JsonLine("note").Int("session", id_).Str("reason", "KEY_PLAY with no file assigned"));
        SendAnswer(request, kResultFailed, {}, behaviour);
        return;
    }
    pendingPlay_ = request;
    playReported_ = false;
    fileDone_ = false;
    port_.StartNfs({NfsJob::Kind::File, id_, NfsServer(), fileName_});
}

void ControlSession::AnswerKey(const Packet& request, const StepBehaviour& behaviour) {
    const std::uint32_t key = request.Word(12);
    const std::uint32_t result = behaviour.result.value_or(0);
    std::optional<std::uint32_t> report;
    if (result == 0 && key == kKeyStop) {
        playState_ = kStateStopped;
        report = kStateStopped;
    } else if (result == 0 && key == kKeyPause && playState_ == kStatePlaying) {
        playState_ = kStatePaused;
        report = kStatePaused;
    }
    SendAnswer(request, result, {}, behaviour, [this, report] {
        if (report)
            SendPlayerRequest(CTRL_REQ_PLAYSTATUS_PC, *report, {});
    });
}

void ControlSession::OnNfs(const NfsResult& result, const MediaLists& lists) {
    if (!open_)
        return;
    switch (result.stage) {
    case NfsResult::Stage::Lists:
        if (!pendingUpdate_)
            return;
        listsLoaded_ = result.ok;
        if (result.ok)
            lists_ = lists;
        SendAnswer(*pendingUpdate_, result.ok ? 0 : kResultFailed, {}, config_.Of(Step::Update));
        pendingUpdate_.reset();
        break;
    case NfsResult::Stage::FirstData:
        if (!pendingPlay_)
            return;
        if (result.ok) {
            playState_ = kStatePlaying;
            SendAnswer(*pendingPlay_, 0, {}, config_.Of(Step::Play),
                       [this] { AfterPlayAnswered(); });
        } else {
            SendAnswer(*pendingPlay_, kResultNoFile, {}, config_.Of(Step::Play));
        }
        pendingPlay_.reset();
        break;
    case NfsResult::Stage::FileDone:
        fileDone_ = true;
        MaybeEndAfterPlay();
        break;
    }
}

void ControlSession::AfterPlayAnswered() {
    SendPlayerRequest(CTRL_REQ_PLAYSTATUS_PC, kStatePlaying, {});
    Bytes status;
    PutU32(status, fileIndex_);
    PutU32(status, mediaType_);
    SendPlayerRequest(CTRL_REQ_ASSIGNFILESTATUS_PC, 1, status);
    playReported_ = true;
    MaybeEndAfterPlay();
}

void ControlSession::MaybeEndAfterPlay() {
    if (config_.endAfterPlay && playReported_ && fileDone_ && !endQueued_) {
        endQueued_ = true;
        EndSession();
    }
}

Bytes ControlSession::StatusBody() const {
    Bytes body;
    PutU32(body, playState_);
    PutU32(body, fileIndex_);
    PutU32(body, mediaType_);
    return body;
}

std::string ControlSession::NfsServer() const {
    return config_.nfsServer.value_or(peer_);
}

void ControlSession::SendAnswer(const Packet& request, std::uint32_t result, Bytes body,
                                const StepBehaviour& behaviour, std::function<void()> after) {
    const Cut cut = behaviour.cut;
    const int cutAfter = behaviour.cutAfterBytes;
    auto send = [this, request, result, body = std::move(body), cut, cutAfter,
                 after = std::move(after)]() mutable {
        if (!open_)
            return;
        Bytes answer = BuildAnswer(request, result, std::move(body));
        JsonLine line("answer");
        line.Int("session", id_)
            .Str("to", CommandName(request.cmd))
            .Int("sub", request.Word(12))
            .Int("result", result);
        if (cut != Cut::None)
            line.Str("cut", cut == Cut::Close ? "close" : "reset").Int("cut_after", cutAfter);
        log_.Write(line);
        if (cut == Cut::None) {
            QueuePacket(std::move(answer), std::move(after));
            return;
        }
        answer.resize(std::min<std::size_t>(answer.size(), static_cast<std::size_t>(cutAfter)));
        const bool reset = cut == Cut::Reset;
        QueueChunk(std::move(answer), [this, reset] { CloseNow(reset); });
    };
    if (behaviour.delayMs > 0)
        After(behaviour.delayMs / 1000.0, std::move(send));
    else
        send();
}

// ---- the player's requests ----

void ControlSession::SendPlayerRequest(std::uint32_t cmd, std::uint32_t subCmd, Bytes payload,
                                       bool wait) {
    PlayerRequest request{BuildPacket(cmd, subCmd, payload), false, wait};
    if (wait && (Waiting() || !queue_.empty())) {
        queue_.push_back(std::move(request));
        return;
    }
    Transmit(std::move(request));
}

void ControlSession::EndSession() {
    PlayerRequest request{BuildPacket(CTRL_REQ_CONNECT_PC, 1, {}), true, true};
    if (Waiting() || !queue_.empty()) {
        queue_.push_back(std::move(request));
        return;
    }
    Transmit(std::move(request));
}

bool ControlSession::Waiting() const {
    return std::any_of(outstanding_.begin(), outstanding_.end(), [](const auto& entry) {
        const Outstanding& o = entry.second;
        return (o.expect.answered || o.end) && !o.answered && !o.expired && !o.superseded;
    });
}

void ControlSession::SendNextQueued() {
    if (!open_ || Waiting() || queue_.empty())
        return;
    PlayerRequest next = std::move(queue_.front());
    queue_.pop_front();
    Transmit(std::move(next));
}

void ControlSession::Transmit(PlayerRequest request) {
    if (!open_)
        return;
    // The PC keeps only its latest player request, so an earlier one still waiting may go
    // unanswered from now on.
    for (auto& [id, o] : outstanding_)
        if (!o.answered && !o.expired)
            o.superseded = true;
    const int id = nextRequestId_++;
    Outstanding& o = outstanding_[id];
    o.packet = request.packet;
    o.expect = ExpectedAnswer(request.packet);
    o.end = request.end;
    log_.Write(JsonLine("player_request")
                   .Int("session", id_)
                   .Int("id", id)
                   .Str("name", CommandName(GetU32(o.packet, 0)))
                   .Str("cmd", Hex32(GetU32(o.packet, 0)))
                   .Int("sub", o.packet.size() >= 16 ? GetU32(o.packet, 12) : 0)
                   .Str("expect", o.expect.answered ? std::to_string(o.expect.result) : "none"));
    QueuePacket(request.packet, [this, id] {
        auto found = outstanding_.find(id);
        if (found == outstanding_.end())
            return;
        found->second.sentAt = port_.Now();
        if (found->second.end)
            endSent_ = true;
        After(config_.answerWaitMs / 1000.0, [this, id] { OnDeadline(id); });
    });
}

void ControlSession::OnDeadline(int id) {
    auto found = outstanding_.find(id);
    if (found == outstanding_.end())
        return;
    Outstanding& o = found->second;
    o.expired = true;
    if (o.expect.answered && !o.answered && !o.superseded)
        Report({"answer.late", std::string("no answer to ") + CommandName(GetU32(o.packet, 0)) +
                                   " within " + std::to_string(config_.answerWaitMs) + " ms"});
    if (o.end)
        CheckEnd();
    SendNextQueued();
}

void ControlSession::CheckEnd() {
    if (endChecked_)
        return;
    endChecked_ = true;
    if (!disconnectReceived_)
        Report({"end.disconnect", "no REQ_ConnectKestro 1 within " +
                                      std::to_string(config_.answerWaitMs) +
                                      " ms of CTRL_REQ_CONNECT_PC 1"});
    else if (open_)
        Report({"end.close", "the PC kept the connection open after REQ_ConnectKestro 1"});
}

void ControlSession::HandleAnswer(const Packet& answer) {
    // Of the requests this could answer, the one it answers without a fault, else the latest
    // (the PC answers from its copy of the latest player request).
    Outstanding* match = nullptr;
    int matchId = 0;
    bool exact = false;
    for (auto it = outstanding_.rbegin(); it != outstanding_.rend() && !exact; ++it) {
        Outstanding& o = it->second;
        if (SwapHalves(GetU32(o.packet, 0)) != answer.cmd || o.answered)
            continue;
        exact = CheckPcAnswer(o.packet, answer).empty();
        if (match == nullptr || exact) {
            match = &o;
            matchId = it->first;
        }
    }
    if (match == nullptr) {
        Report({"answer.unexpected",
                "answer " + Hex32(answer.cmd) + " matches no player request waiting for one"},
               JsonLine("").Hex("packet", answer.bytes));
        return;
    }
    match->answered = true;
    const double ms = match->sentAt < 0 ? 0 : (port_.Now() - match->sentAt) * 1000;
    log_.Write(JsonLine("pc_answer")
                   .Int("session", id_)
                   .Int("id", matchId)
                   .Str("to", CommandName(GetU32(match->packet, 0)))
                   .Int("result", answer.Word(12))
                   .Int("sub", answer.Word(16))
                   .Num("ms", ms)
                   .Bool("late", match->expired));
    for (const Departure& departure : CheckPcAnswer(match->packet, answer))
        Report(departure, JsonLine("").Hex("packet", answer.bytes));
    SendNextQueued();
}

void ControlSession::LoopRequest() {
    if (!open_)
        return;
    static constexpr std::uint32_t kCycle[4] = {CTRL_REQ_PLAYSTATUS_PC,
                                                CTRL_REQ_ASSIGNFILESTATUS_PC,
                                                CTRL_REQ_GETNEXTFILE_PC, CTRL_REQ_CONNECT_PC};
    const std::uint32_t cmd = kCycle[loopTurn_++ % 4];
    Bytes payload;
    std::uint32_t subCmd = playState_;
    if (cmd == CTRL_REQ_ASSIGNFILESTATUS_PC) {
        subCmd = 1;
        PutU32(payload, fileIndex_);
        PutU32(payload, mediaType_);
    } else if (cmd == CTRL_REQ_CONNECT_PC) {
        subCmd = 7; // unsupported: answered with 0, the session stays
    }
    SendPlayerRequest(cmd, subCmd, std::move(payload), false);
    After(config_.requestLoopMs / 1000.0, [this] { LoopRequest(); });
}

// ---- closing ----

void ControlSession::OnClosed(bool reset) {
    if (!open_)
        return;
    // Whole packets that arrived before the end still count (a write to a PC that has closed
    // fails in the middle of a read's packets); their answers cannot go out, and a failing one
    // ends up here again.
    if (!draining_) {
        draining_ = true;
        Packet packet;
        Bytes dropped;
        while (open_ && framer_.Next(packet, dropped) == PacketFramer::Outcome::Packet)
            HandlePacket(packet);
        draining_ = false;
        if (!open_)
            return;
    }
    open_ = false;
    if (framer_.Buffered() > 0)
        Report({"stream.incomplete", std::to_string(framer_.Buffered()) +
                                         " bytes of an unfinished packet at the close"});
    if (endSent_ && !endChecked_) {
        endChecked_ = true;
        if (!disconnectReceived_)
            Report({"end.disconnect",
                    "the PC closed after CTRL_REQ_CONNECT_PC 1 without REQ_ConnectKestro 1"});
    } else if (!disconnectReceived_ && !closedByPlayer_) {
        Report({"close.without-disconnect", "the PC closed the connection without sending "
                                            "REQ_ConnectKestro 1 first"});
    }
    log_.Write(JsonLine("session_end")
                   .Int("session", id_)
                   .Str("reason", reset ? "pc reset" : "pc closed")
                   .Int("pc_requests", requestSeq_));
    timers_.clear();
    outbox_.clear();
}

void ControlSession::CloseNow(bool reset) {
    if (!open_)
        return;
    open_ = false;
    closedByPlayer_ = true;
    port_.Close(reset);
    log_.Write(JsonLine("session_end")
                   .Int("session", id_)
                   .Str("reason", reset ? "player reset" : "player closed")
                   .Int("pc_requests", requestSeq_));
    timers_.clear();
    outbox_.clear();
}

// ---- output and time ----

void ControlSession::SendRaw(Bytes bytes) {
    QueueChunk(std::move(bytes), {});
}

void ControlSession::SendCut(Bytes packet, std::size_t at, int gapMs) {
    at = std::min(at, packet.size());
    Bytes head(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(at));
    Bytes tail(packet.begin() + static_cast<std::ptrdiff_t>(at), packet.end());
    QueueChunk(std::move(head), {});
    After(gapMs / 1000.0,
          [this, tail = std::move(tail)]() mutable { QueueChunk(std::move(tail), {}); });
}

void ControlSession::QueuePacket(Bytes packet, std::function<void()> after) {
    if (!config_.merge) {
        QueueChunk(std::move(packet), std::move(after));
        return;
    }
    if (held_) {
        Chunk first = std::move(*held_);
        held_.reset();
        ++heldGeneration_;
        first.bytes.insert(first.bytes.end(), packet.begin(), packet.end());
        QueueChunk(std::move(first.bytes), [a = std::move(first.after), b = std::move(after)] {
            if (a)
                a();
            if (b)
                b();
        });
        return;
    }
    held_ = Chunk{std::move(packet), 0, std::move(after)};
    const int generation = ++heldGeneration_;
    After(config_.mergeHoldMs / 1000.0, [this, generation] {
        if (!held_ || generation != heldGeneration_)
            return;
        Chunk alone = std::move(*held_);
        held_.reset();
        QueueChunk(std::move(alone.bytes), std::move(alone.after));
    });
}

void ControlSession::QueueChunk(Bytes bytes, std::function<void()> after) {
    const double now = port_.Now();
    if (!config_.split || bytes.size() <= 1) {
        outbox_.push_back({std::move(bytes), now, std::move(after)});
        Pump();
        return;
    }
    const double gap = config_.splitGapMs / 1000.0;
    splitClock_ = std::max(splitClock_, now);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        Chunk chunk{Bytes{bytes[i]}, splitClock_, {}};
        if (i + 1 == bytes.size())
            chunk.after = std::move(after);
        outbox_.push_back(std::move(chunk));
        splitClock_ += gap;
    }
    Pump();
}

void ControlSession::Pump() {
    const double now = port_.Now();
    while (open_ && !outbox_.empty() && outbox_.front().notBefore <= now) {
        Chunk chunk = std::move(outbox_.front());
        outbox_.pop_front();
        if (!chunk.bytes.empty()) {
            log_.Write(JsonLine("tcp_tx")
                           .Int("session", id_)
                           .Int("size", static_cast<std::int64_t>(chunk.bytes.size()))
                           .Hex("hex", chunk.bytes));
            if (!port_.Write(chunk.bytes)) {
                OnClosed(true);
                return;
            }
        }
        if (chunk.after)
            chunk.after();
    }
}

void ControlSession::After(double delaySeconds, std::function<void()> action) {
    timers_.emplace(port_.Now() + delaySeconds, std::move(action));
}

void ControlSession::OnTime() {
    const double now = port_.Now();
    while (open_ && !timers_.empty() && timers_.begin()->first <= now) {
        std::function<void()> action = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        action();
    }
    Pump();
}

std::optional<double> ControlSession::NextDeadline() const {
    if (!open_)
        return std::nullopt;
    std::optional<double> next;
    if (!timers_.empty())
        next = timers_.begin()->first;
    if (!outbox_.empty() && (!next || outbox_.front().notBefore < *next))
        next = outbox_.front().notBefore;
    return next;
}

} // namespace player
