// The player's log: one JSON object per line, each with a real-time stamp, flushed at once so
// that a test reading the file, or a kill, never misses a line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "player/Bytes.h"
#include "player/Departure.h"

namespace player {

// The fields of one line after "time", "ts" and "event".
class JsonLine {
  public:
    explicit JsonLine(std::string_view event) : event_(event) {}

    JsonLine& Str(std::string_view key, std::string_view value);
    JsonLine& Int(std::string_view key, std::int64_t value);
    JsonLine& Num(std::string_view key, double value);
    JsonLine& Bool(std::string_view key, bool value);
    JsonLine& Hex(std::string_view key, ByteSpan bytes);
    JsonLine& Strings(std::string_view key, const std::vector<std::string>& values);
    // Adds the other line's fields (not its event) after these.
    JsonLine& Append(const JsonLine& other);

    const std::string& Event() const { return event_; }
    const std::string& Fields() const { return fields_; }

  private:
    void Key(std::string_view key);

    std::string event_;
    std::string fields_;
};

// A JSON string literal; invalid UTF-8 becomes U+FFFD.
std::string JsonQuote(std::string_view text);

class JsonLog {
  public:
    JsonLog() = default;
    JsonLog(const JsonLog&) = delete;
    JsonLog& operator=(const JsonLog&) = delete;
    ~JsonLog();

    // "-" or empty writes to standard output.
    bool Open(const std::string& path);
    void Write(const JsonLine& line);

    // Rules matched here ("connect.mac", or a prefix such as "connect.") are logged as
    // notes instead of departures.
    void SetLenient(std::vector<std::string> rules) { lenient_ = std::move(rules); }
    // Logs a "departure" line (and a short line on standard error) and counts it.
    void Report(const Departure& departure, int session, JsonLine extra = JsonLine(""));
    int DepartureCount() const { return departures_; }
    // Whether each departure is also written to standard error (on by default).
    void SetEcho(bool echo) { echo_ = echo; }

  private:
    int fd_ = 1;
    bool ownsFd_ = false;
    int departures_ = 0;
    bool echo_ = true;
    std::vector<std::string> lenient_;
};

// "2025-01-31T12:34:56.123456Z" and seconds since the epoch, from the same reading.
struct RealTime {
    std::string text;
    double seconds = 0;
};
RealTime NowRealTime();

} // namespace player
