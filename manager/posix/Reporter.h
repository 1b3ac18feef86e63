// What lumavert tells its user: progress lines and errors on standard error, or one JSON object
// per line on standard output with --json (for scripts), and the core's log with --verbose.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace manager {

// A JSON string literal of UTF-8 `text`, quotes included.
std::string JsonString(std::string_view text);

class Reporter {
  public:
    using Fields = std::vector<std::pair<std::string, std::string>>; // name, JSON value

    Reporter(bool json, bool verbose) : json_(json), verbose_(verbose) {}
    bool Json() const { return json_; }

    // "Searching for players..." on standard error; {"event":"progress","text":...}.
    void Progress(const std::string& text);
    // "lumavert: TEXT" on standard error; {"event":"error","text":...,"exit":N}.
    void Error(const std::string& text, int exitCode);
    // A line for people (standard output) that scripts get as `event` with `fields`.
    void Result(const std::string& text, const std::string& event, const Fields& fields);
    // The core's log line, with --verbose.
    void Log(const std::string& line);

  private:
    bool json_;
    bool verbose_;
};

} // namespace manager
