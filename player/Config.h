// Everything the command line (and the control command "option") can set.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "player/Bytes.h"
#include "player/DiscoveryCodec.h"

namespace player {

// The PC's requests, one entry per kind of answer the player gives.
enum class Step {
    Connect,
    Code,
    Disconnect,
    Deactivate,
    Update,
    Assign,
    Play,
    Stop,
    Pause,
    Forward,
    Rewind,
    Status
};
inline constexpr std::size_t kStepCount = 12;

const char* StepName(Step step);
bool ParseStep(std::string_view name, Step& step);

enum class Cut { None, Close, Reset };

struct StepBehaviour {
    std::optional<std::uint32_t> result; // answer this instead of doing the work
    int delayMs = 0;
    bool noAnswer = false;
    Cut cut = Cut::None;   // close or reset the connection instead of answering...
    int cutAfterBytes = 0; // ...after sending this many bytes of the answer
};

struct SessionConfig {
    std::array<StepBehaviour, kStepCount> steps;
    std::optional<std::string> accessCode; // subCmd 0 is answered 101 when set
    bool endAfterPlay = false;
    bool split = false;
    int splitGapMs = 2;
    bool merge = false;
    int mergeHoldMs = 100;
    int answerWaitMs = 1000;
    std::optional<Bytes> expectedMac;
    std::optional<std::string> expectedHostName;
    std::optional<std::string> nfsServer;
    int randomBytesOnAccept = 0;
    int requestLoopMs = 0;

    StepBehaviour& Of(Step step) { return steps[static_cast<std::size_t>(step)]; }
    const StepBehaviour& Of(Step step) const { return steps[static_cast<std::size_t>(step)]; }
};

struct DiscoveryConfig {
    bool enabled = true;
    AnswerFields fields;
    std::vector<AnswerVariant> answers{AnswerVariant::Good}; // empty: never answer
    int delayMs = 0;
    std::vector<std::string> sources; // extra local addresses each answer is also sent from
    std::optional<std::string> expectedDestination; // a class name or a dotted address
    // Floods the source of the next search request (once per setting) at 1000 per second.
    std::string floodKind;
    long floodCount = 0;
};

struct PlayerConfig {
    std::uint16_t port = 62000;
    std::string logPath = "-";
    std::string controlPath;
    int sessions = 0; // exit after this many ended sessions; 0: never
    std::vector<std::string> lenient;
    std::uint32_t seed = 1;
    DiscoveryConfig discovery;
    SessionConfig session;
};

// Parses options into `config`. With `runtime`, only the behaviour options are accepted
// (the control command "option"). On failure `error` says why.
bool ParseOptions(const std::vector<std::string>& args, PlayerConfig& config, std::string& error,
                  bool runtime = false);

extern const char* const kUsage;

} // namespace player
