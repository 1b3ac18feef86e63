// Progress, results and errors, for people or as JSON lines.
#include "manager/posix/Reporter.h"

#include <cstdio>

namespace manager {

namespace {

void Emit(std::FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

std::string Object(const std::string& event, const Reporter::Fields& fields) {
    std::string out = "{\"event\":" + JsonString(event);
    for (const auto& [name, value] : fields)
        out += "," + JsonString(name) + ":" + value;
    return out + "}";
}

} // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void Reporter::Progress(const std::string& text) {
    if (json_)
        Emit(stdout, Object("progress", {{"text", JsonString(text)}}));
    else
        Emit(stderr, text);
}

void Reporter::Error(const std::string& text, int exitCode) {
    if (json_)
        Emit(stdout,
             Object("error", {{"text", JsonString(text)}, {"exit", std::to_string(exitCode)}}));
    Emit(stderr, "lumavert: " + text);
}

void Reporter::Result(const std::string& text, const std::string& event, const Fields& fields) {
    if (json_)
        Emit(stdout, Object(event, fields));
    else
        Emit(stdout, text);
}

void Reporter::Log(const std::string& line) {
    if (verbose_)
        Emit(stderr, "log: " + line);
}

} // namespace manager
