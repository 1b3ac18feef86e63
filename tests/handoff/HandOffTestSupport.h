// Shared by the hand-off tests: a temporary folder with backslashed paths, files to select,
// captured debug lines, and block names that parallel runs do not share.
#pragma once

#include "common/text/DebugPrint.h"
#include "tests/support/TestDaemon.h"

#include <chrono>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace handofftest {

// Collects the debug lines of one test.
class CapturedLines {
  public:
    CapturedLines() {
        previous_ =
            text::SetDebugSink([this](std::u16string_view line) { lines_.emplace_back(line); });
    }
    ~CapturedLines() { text::SetDebugSink(std::move(previous_)); }
    CapturedLines(const CapturedLines&) = delete;
    CapturedLines& operator=(const CapturedLines&) = delete;

    const std::vector<std::u16string>& Lines() const { return lines_; }
    bool Has(std::u16string_view line) const {
        for (const auto& l : lines_) {
            if (l == line)
                return true;
        }
        return false;
    }
    bool HasPrefix(std::u16string_view prefix) const {
        for (const auto& l : lines_) {
            if (l.substr(0, prefix.size()) == prefix)
                return true;
        }
        return false;
    }
    void Clear() { lines_.clear(); }

  private:
    text::DebugSink previous_;
    std::vector<std::u16string> lines_;
};

// Paths are built with "\", which the file layer takes on both sides.
inline std::u16string Backslashed(const std::filesystem::path& path) {
    std::u16string text = path.u16string();
    for (char16_t& c : text) {
        if (c == u'/')
            c = u'\\';
    }
    return text;
}

inline std::u16string UniqueBlockName() {
    std::mt19937_64 random(std::random_device{}() ^
                           std::chrono::steady_clock::now().time_since_epoch().count());
    return u"LumavertTest-" + std::filesystem::path(std::to_string(random())).u16string();
}

} // namespace handofftest
