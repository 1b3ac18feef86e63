// JSON-lines writer with real-time stamps and the departure counter.
#include "player/JsonLog.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "common/platform/CodePage.h"

namespace player {

std::string JsonQuote(std::string_view text) {
    const ByteSpan bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    std::string valid;
    if (!IsValidUtf8(bytes)) {
        valid = platform::Utf16ToUtf8(platform::Utf8ToUtf16(text));
        text = valid;
    }
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

void JsonLine::Key(std::string_view key) {
    fields_ += ',';
    fields_ += JsonQuote(key);
    fields_ += ':';
}

JsonLine& JsonLine::Str(std::string_view key, std::string_view value) {
    Key(key);
    fields_ += JsonQuote(value);
    return *this;
}

JsonLine& JsonLine::Int(std::string_view key, std::int64_t value) {
    Key(key);
    fields_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Num(std::string_view key, double value) {
    Key(key);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    fields_ += text;
    return *this;
}

JsonLine& JsonLine::Bool(std::string_view key, bool value) {
    Key(key);
    fields_ += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::Hex(std::string_view key, ByteSpan bytes) {
    Key(key);
    fields_ += '"';
    fields_ += ToHex(bytes);
    fields_ += '"';
    return *this;
}

JsonLine& JsonLine::Append(const JsonLine& other) {
    fields_ += other.fields_;
    return *this;
}

JsonLine& JsonLine::Strings(std::string_view key, const std::vector<std::string>& values) {
    Key(key);
    fields_ += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            fields_ += ',';
        fields_ += JsonQuote(values[i]);
    }
    fields_ += ']';
    return *this;
}

RealTime NowRealTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    // Room for any int the compiler cannot rule out (an -O3 build checks the widths).
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  now.tv_nsec / 1000);
    return {text, static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9};
}

JsonLog::~JsonLog() {
    if (ownsFd_)
        ::close(fd_);
}

bool JsonLog::Open(const std::string& path) {
    if (path.empty() || path == "-")
        return true;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    fd_ = fd;
    ownsFd_ = true;
    return true;
}

void JsonLog::Write(const JsonLine& line) {
    const RealTime now = NowRealTime();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6f", now.seconds);
    std::string text = "{\"time\":\"" + now.text + "\",\"ts\":" + seconds +
                       ",\"event\":" + JsonQuote(line.Event()) + line.Fields() + "}\n";
    // One write per line, repeated only for what a signal or a full pipe left over.
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

void JsonLog::Report(const Departure& departure, int session, JsonLine extra) {
    bool lenient = false;
    for (const std::string& rule : lenient_) {
        const bool prefix = !rule.empty() && rule.back() == '.';
        if (departure.rule == rule || (prefix && departure.rule.compare(0, rule.size(), rule) == 0))
            lenient = true;
    }
    JsonLine line(lenient ? "note" : "departure");
    line.Str("rule", departure.rule).Str("reason", departure.reason);
    if (session > 0)
        line.Int("session", session);
    Write(line.Append(extra));
    if (lenient)
        return;
    ++departures_;
    if (echo_)
        std::fprintf(stderr, "kestro-player: departure %s: %s\n", departure.rule.c_str(),
                     departure.reason.c_str());
}

} // namespace player
