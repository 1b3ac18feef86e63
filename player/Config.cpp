// Command-line options of kestro-player.
#include "player/Config.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "player/Flood.h"

namespace player {

namespace {

constexpr std::array<const char*, kStepCount> kStepNames = {
    "connect", "code", "disconnect", "deactivate", "update", "assign",
    "play",    "stop", "pause",      "ff",         "rew",    "status"};

bool ParseNumber(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value) {
    if (text.empty())
        return false;
    const std::string copy(text);
    char* end = nullptr;
    const long long parsed = std::strtoll(copy.c_str(), &end, 0);
    if (*end != '\0' || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

// "STEP" or "all" -> the steps it names.
bool ParseSteps(std::string_view name, std::vector<Step>& steps) {
    steps.clear();
    if (name == "all") {
        for (std::size_t i = 0; i < kStepCount; ++i)
            steps.push_back(static_cast<Step>(i));
        return true;
    }
    Step step;
    if (!ParseStep(name, step))
        return false;
    steps.push_back(step);
    return true;
}

// "STEP=N" with N in [low, high].
bool ParseStepValue(std::string_view text, std::int64_t low, std::int64_t high,
                    std::vector<Step>& steps, std::int64_t& value) {
    const std::size_t equals = text.find('=');
    return equals != std::string_view::npos && ParseSteps(text.substr(0, equals), steps) &&
           ParseNumber(text.substr(equals + 1), low, high, value);
}

struct Parser {
    PlayerConfig& config;
    std::string& error;
    bool runtime;

    bool Fail(const std::string& text) {
        error = text;
        return false;
    }

    bool Cut(std::string_view value, player::Cut cut) {
        const std::size_t colon = value.find(':');
        std::vector<Step> steps;
        std::int64_t bytes = 0;
        if (!ParseSteps(value.substr(0, colon), steps) ||
            (colon != std::string_view::npos &&
             !ParseNumber(value.substr(colon + 1), 0, 65535, bytes)))
            return Fail("expected STEP[:BYTES], got " + std::string(value));
        for (Step step : steps) {
            config.session.Of(step).cut = cut;
            config.session.Of(step).cutAfterBytes = static_cast<int>(bytes);
        }
        return true;
    }

    bool Variants(std::string_view value) {
        config.discovery.answers.clear();
        if (value == "none")
            return true;
        std::size_t start = 0;
        while (start <= value.size()) {
            const std::size_t comma = std::min(value.find(',', start), value.size());
            AnswerVariant variant;
            if (!ParseAnswerVariant(value.substr(start, comma - start), variant))
                return Fail("unknown answer variant " +
                            std::string(value.substr(start, comma - start)));
            config.discovery.answers.push_back(variant);
            start = comma + 1;
        }
        return true;
    }

    // Options that take a value; false with `error` set when the value is wrong.
    bool WithValue(const std::string& name, const std::string& value, bool& known) {
        known = true;
        SessionConfig& s = config.session;
        DiscoveryConfig& d = config.discovery;
        std::int64_t n = 0;
        std::vector<Step> steps;
        auto number = [&](std::int64_t low, std::int64_t high) {
            if (ParseNumber(value, low, high, n))
                return true;
            return Fail(name + ": " + value + " is not a number from " + std::to_string(low) +
                        " to " + std::to_string(high));
        };
        static const char* const kStartOnly[] = {"--port",     "--log",  "--control",
                                                 "--sessions", "--seed", "--answer-source"};
        if (runtime &&
            std::find(std::begin(kStartOnly), std::end(kStartOnly), name) != std::end(kStartOnly))
            return Fail(name + " can only be given at start");
        {
            if (name == "--port")
                return number(1, 65535) && (config.port = static_cast<std::uint16_t>(n), true);
            if (name == "--log")
                return config.logPath = value, true;
            if (name == "--control")
                return config.controlPath = value, true;
            if (name == "--sessions")
                return number(0, 1000000) && (config.sessions = static_cast<int>(n), true);
            if (name == "--seed")
                return number(0, 0xFFFFFFFF) && (config.seed = static_cast<std::uint32_t>(n), true);
            if (name == "--answer-source")
                return d.sources.push_back(value), true;
        }
        if (name == "--lenient")
            return config.lenient.push_back(value), true;
        if (name == "--name")
            return d.fields.deviceName = value, true;
        if (name == "--product")
            return d.fields.productName = value, true;
        if (name == "--connect-inform")
            return number(0, 0xFFFF) &&
                   (d.fields.connectInform = static_cast<std::uint16_t>(n), true);
        if (name == "--active-inform")
            return number(0, 0xFFFF) &&
                   (d.fields.activeInform = static_cast<std::uint16_t>(n), true);
        if (name == "--work-status")
            return number(0, 0xFFFFFFFF) &&
                   (d.fields.workStatus = static_cast<std::uint32_t>(n), true);
        if (name == "--field12")
            return number(1, 0xFFFFFFFF) &&
                   (d.fields.field12 = static_cast<std::uint32_t>(n), true);
        if (name == "--discovery-delay")
            return number(0, 600000) && (d.delayMs = static_cast<int>(n), true);
        if (name == "--discovery-answer")
            return Variants(value);
        if (name == "--flood-on-search") {
            const std::size_t colon = value.find(':');
            if (colon == std::string::npos || !IsFloodKind(value.substr(0, colon)) ||
                !ParseNumber(value.substr(colon + 1), 1, 1000000, n))
                return Fail("--flood-on-search: expected KIND:COUNT, got " + value);
            d.floodKind = value.substr(0, colon);
            d.floodCount = static_cast<long>(n);
            return true;
        }
        if (name == "--expect-dest")
            return d.expectedDestination = value, true;
        if (name == "--expect-mac") {
            Bytes mac;
            if (!ParseMac(value, mac))
                return Fail("--expect-mac: " + value + " is no MAC address");
            return s.expectedMac = mac, true;
        }
        if (name == "--expect-hostname")
            return s.expectedHostName = value, true;
        if (name == "--nfs-server")
            return s.nfsServer = value, true;
        if (name == "--access-code")
            return s.accessCode = value, true;
        if (name == "--result" || name == "--delay") {
            const bool result = name == "--result";
            if (!ParseStepValue(value, 0, result ? 0xFFFFFFFF : 600000, steps, n))
                return Fail(name + ": expected STEP=N, got " + value);
            for (Step step : steps) {
                if (result)
                    s.Of(step).result = static_cast<std::uint32_t>(n);
                else
                    s.Of(step).delayMs = static_cast<int>(n);
            }
            return true;
        }
        if (name == "--no-answer") {
            if (!ParseSteps(value, steps))
                return Fail("--no-answer: unknown step " + value);
            for (Step step : steps)
                s.Of(step).noAnswer = true;
            return true;
        }
        if (name == "--close-at")
            return Cut(value, Cut::Close);
        if (name == "--reset-at")
            return Cut(value, Cut::Reset);
        if (name == "--split-gap")
            return number(0, 10000) && (s.splitGapMs = static_cast<int>(n), true);
        if (name == "--merge-hold")
            return number(0, 10000) && (s.mergeHoldMs = static_cast<int>(n), true);
        if (name == "--answer-wait")
            return number(1, 600000) && (s.answerWaitMs = static_cast<int>(n), true);
        if (name == "--random-bytes")
            return number(0, 1 << 24) && (s.randomBytesOnAccept = static_cast<int>(n), true);
        if (name == "--request-loop")
            return number(0, 600000) && (s.requestLoopMs = static_cast<int>(n), true);
        known = false;
        return true;
    }

    bool Flag(const std::string& name, bool& known) {
        known = true;
        SessionConfig& s = config.session;
        if (name == "--no-discovery")
            return runtime ? Fail("--no-discovery can only be given at start")
                           : (config.discovery.enabled = false, true);
        if (name == "--busy")
            return s.Of(Step::Connect).result = 1, true;
        if (name == "--not-allowed")
            return s.Of(Step::Connect).result = 2, true;
        if (name == "--timeout-103") {
            if (!s.accessCode)
                s.accessCode = "";
            s.Of(Step::Code).result = 103;
            return true;
        }
        if (name == "--silent") {
            for (StepBehaviour& step : s.steps)
                step.noAnswer = true;
            return true;
        }
        if (name == "--end-after-play")
            return s.endAfterPlay = true, true;
        if (name == "--split")
            return s.split = true, true;
        if (name == "--merge")
            return s.merge = true, true;
        if (name == "--normal") { // undoes the runtime modes; for the control command
            SessionConfig fresh;
            fresh.accessCode = s.accessCode;
            fresh.expectedMac = s.expectedMac;
            fresh.expectedHostName = s.expectedHostName;
            fresh.nfsServer = s.nfsServer;
            s = fresh;
            return true;
        }
        known = false;
        return true;
    }
};

} // namespace

const char* StepName(Step step) {
    return kStepNames[static_cast<std::size_t>(step)];
}

bool ParseStep(std::string_view name, Step& step) {
    for (std::size_t i = 0; i < kStepCount; ++i) {
        if (name == kStepNames[i]) {
            step = static_cast<Step>(i);
            return true;
        }
    }
    return false;
}

bool ParseOptions(const std::vector<std::string>& args, PlayerConfig& config, std::string& error,
                  bool runtime) {
    Parser parser{config, error, runtime};
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const std::size_t equals = name.find('=');
            name.starts_with("--") && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        bool known = false;
        if (!value) {
            if (!parser.Flag(name, known))
                return false;
            if (known)
                continue;
            if (i + 1 < args.size())
                value = args[++i];
        }
        if (!parser.WithValue(name, value.value_or(""), known))
            return false;
        if (!known)
            return parser.Fail("unknown option " + name);
        if (!value)
            return parser.Fail(name + " needs a value");
    }
    return true;
}

const char* const kUsage = R"(usage: kestro-player [OPTION...]
       kestro-player flood --to ADDR[:PORT] [--rate N] [--count N | --seconds S]
                           [--kind search|answer|random|mixed] [--size N] [--seed N]

A simulated Kestro player: answers discovery on UDP port 62000, serves the control protocol
on TCP port 62000, reads the PC's lists and files over NFS, and logs every byte and every
departure of the PC from the protocol as JSON lines. Exit status 1 after any departure.

General:
  --port N               UDP and TCP port (62000)
  --log FILE             JSON-lines log (standard output)
  --control FIFO         command FIFO, created when missing (see README.md)
  --sessions N           exit after N control connections have ended (0: never)
  --lenient RULE         log RULE (or every rule starting with "RULE.") as a note, not a
                         departure; repeatable
  --seed N               seed of the random bytes
  --help

Discovery:
  --name TEXT            DeviceName (kestro-player)
  --product TEXT         ProductName (Kestro Simulated Player)
  --connect-inform N     0 = free (0); --active-inform N, --work-status N, --field12 N
  --discovery-delay MS   wait before answering
  --discovery-answer LIST  comma-separated answers to each request, in order: good, reserved,
                         tag, len19, len1024, len20, token, zero12, mac, text-extra,
                         text-wrong, cut-name, unterminated; "none" answers nothing
  --answer-source ADDR   also send each answer from this local address; repeatable
  --no-discovery         no UDP socket at all
  --expect-dest WHAT     requests must reach directed_broadcast, limited_broadcast, unicast
                         or this dotted address
  --expect-mac MAC       the search request and the connect payload must carry this MAC
  --flood-on-search KIND:COUNT  send COUNT flood datagrams (search, answer, random, mixed)
                         at 1000 per second to the source of the next search request

Control protocol (STEP: connect, code, disconnect, deactivate, update, assign, play, stop,
pause, ff, rew, status, or all):
  --access-code CODE     answer connect with 101, then 0 for CODE and 102 for another
  --busy | --not-allowed answer connect with 1 | 2
  --timeout-103          ask for the code and answer it with 103
  --silent               accept connections and never answer
  --result STEP=N        answer STEP with result N instead of doing its work
  --delay STEP=MS        answer STEP after MS milliseconds
  --no-answer STEP       never answer STEP
  --close-at STEP[:B]    on STEP, send B bytes of the answer (0) and close
  --reset-at STEP[:B]    the same, then reset the connection (SO_LINGER 0)
  --end-after-play       after the reports of a play, end the session (CTRL_REQ_CONNECT_PC 1)
  --split                send every packet in 1-byte writes, --split-gap MS apart (2)
  --merge                send two packets in one write; a packet waits --merge-hold MS (100)
                         for a partner
  --answer-wait MS       how long the PC may take to answer a player request (1000)
  --expect-hostname NAME the connect payload must carry this host name
  --nfs-server ADDR      NFS server (the PC's address on the control connection)
  --random-bytes N       send N random bytes right after accepting a connection
  --request-loop MS      send a player request every MS milliseconds without waiting
)";

} // namespace player
