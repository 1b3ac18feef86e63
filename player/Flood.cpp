// Sends search requests, search answers or random bytes (or all three in turn) at N datagrams
// per second.
#include "player/Flood.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

#include "player/DiscoveryCodec.h"

namespace player {

namespace {

struct FloodOptions {
    sockaddr_in to{};
    double rate = 1000;
    long count = -1;
    double seconds = 1;
    std::string kind = "search";
    std::size_t size = 64;
    std::uint32_t seed = 1;
};

bool ParseTarget(const std::string& text, sockaddr_in& to) {
    std::string host = text;
    int port = 62000;
    if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port = std::atoi(text.c_str() + colon + 1);
    }
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    return port > 0 && port < 65536 && inet_pton(AF_INET, host.c_str(), &to.sin_addr) == 1;
}

bool ParseFlood(const std::vector<std::string>& args, FloodOptions& options) {
    bool haveTarget = false;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        const std::string& name = args[i];
        const std::string& value = args[i + 1];
        if (name == "--to")
            haveTarget = ParseTarget(value, options.to);
        else if (name == "--rate")
            options.rate = std::atof(value.c_str());
        else if (name == "--count")
            options.count = std::atol(value.c_str());
        else if (name == "--seconds")
            options.seconds = std::atof(value.c_str());
        else if (name == "--kind")
            options.kind = value;
        else if (name == "--size")
            options.size = static_cast<std::size_t>(std::atol(value.c_str()));
        else if (name == "--seed")
            options.seed = static_cast<std::uint32_t>(std::atol(value.c_str()));
        else
            return false;
    }
    return haveTarget && args.size() % 2 == 0 && options.rate > 0 && IsFloodKind(options.kind) &&
           options.size <= 65507;
}

Bytes Datagram(const FloodPlan& options, std::mt19937& random, long serial) {
    const Bytes mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    static const char* const kMixed[] = {"search", "answer", "random"};
    const std::string kind = options.kind == "mixed" ? kMixed[serial % 3] : options.kind;
    if (kind == "search")
        return BuildSearchRequest(static_cast<std::uint32_t>(serial), mac);
    if (kind == "answer") {
        // Answers to a request nobody sent: the token cannot match.
        SearchRequest request{true, static_cast<std::uint32_t>(random()), mac, mac};
        request.echo.resize(8, 0);
        AnswerFields fields;
        fields.deviceName = "flood-" + std::to_string(serial);
        return BuildSearchAnswer(request, fields, AnswerVariant::Good);
    }
    Bytes bytes(options.size);
    for (std::uint8_t& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

} // namespace

FloodResult Flood(const FloodPlan& options) {
    FloodResult result;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) {
        if (fd >= 0)
            ::close(fd);
        result.failed = options.total;
        return result;
    }
    const long total = options.total;
    std::mt19937 random(options.seed);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    long& sent = result.sent;
    long& failed = result.failed;
    for (long i = 0; i < total; ++i) {
        // An absolute schedule keeps the rate steady whatever one send costs.
        const double offset = i / options.rate;
        timespec at = start;
        at.tv_sec += static_cast<time_t>(offset);
        at.tv_nsec +=
            static_cast<long>((offset - static_cast<double>(static_cast<time_t>(offset))) * 1e9);
        if (at.tv_nsec >= 1000000000) {
            at.tv_sec += 1;
            at.tv_nsec -= 1000000000;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        const Bytes datagram = Datagram(options, random, i);
        if (sendto(fd, datagram.data(), datagram.size(), 0,
                   reinterpret_cast<const sockaddr*>(&options.to), sizeof options.to) < 0)
            ++failed;
        else
            ++sent;
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    result.seconds =
        static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
    ::close(fd);
    return result;
}

int RunFlood(const std::vector<std::string>& args) {
    FloodOptions options;
    if (!ParseFlood(args, options)) {
        std::fputs("usage: kestro-player flood --to ADDR[:PORT] [--rate N] [--count N | --seconds "
                   "S] [--kind search|answer|random|mixed] [--size N] [--seed N]\n",
                   stderr);
        return 2;
    }
    FloodPlan plan;
    plan.to = options.to;
    plan.rate = options.rate;
    plan.total =
        options.count >= 0 ? options.count : static_cast<long>(options.rate * options.seconds);
    plan.kind = options.kind;
    plan.size = options.size;
    plan.seed = options.seed;
    const FloodResult result = Flood(plan);
    if (result.sent == 0 && result.failed == plan.total && plan.total > 0) {
        std::fputs("kestro-player flood: no socket\n", stderr);
        return 2;
    }
    char to[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &options.to.sin_addr, to, sizeof to);
    std::printf("{\"event\":\"flood\",\"to\":\"%s:%u\",\"kind\":\"%s\",\"sent\":%ld,\"failed\":%ld,"
                "\"seconds\":%.3f}\n",
                to, ntohs(options.to.sin_port), options.kind.c_str(), result.sent, result.failed,
                result.seconds);
    return result.failed == 0 ? 0 : 1;
}

} // namespace player
