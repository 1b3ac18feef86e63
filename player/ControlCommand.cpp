// Parser of the control FIFO's command lines.
#include "player/ControlCommand.h"

#include <cstdlib>

namespace player {

namespace {

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

bool Number(const std::string& word, std::uint32_t& value) {
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(word.c_str(), &end, 0);
    if (word.empty() || *end != '\0' || parsed > 0xFFFFFFFFull)
        return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

struct Shape {
    const char* name;
    ControlCommand::Kind kind;
    std::size_t numbers; // leading numeric words required
    std::size_t optionalNumbers;
    bool hexTail; // an optional hex word after the numbers
};

constexpr Shape kShapes[] = {
    {"end-session", ControlCommand::Kind::EndSession, 0, 0, false},
    {"playstatus", ControlCommand::Kind::PlayStatus, 1, 0, false},
    {"assignstatus", ControlCommand::Kind::AssignStatus, 2, 0, false},
    {"getnext", ControlCommand::Kind::GetNext, 0, 1, false},
    {"request", ControlCommand::Kind::Request, 2, 0, true},
    {"request-nowait", ControlCommand::Kind::RequestNoWait, 2, 0, true},
    {"cut", ControlCommand::Kind::Cut, 3, 0, true},
    {"raw", ControlCommand::Kind::Raw, 0, 0, true},
    {"random", ControlCommand::Kind::Random, 1, 0, false},
    {"noise", ControlCommand::Kind::Noise, 1, 0, false},
    {"close", ControlCommand::Kind::Close, 0, 0, false},
    {"reset", ControlCommand::Kind::Reset, 0, 0, false},
    {"quit", ControlCommand::Kind::Quit, 0, 0, false},
};

} // namespace

bool ParseControlCommand(std::string_view line, ControlCommand& command, std::string& error) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    std::vector<std::string> words = Words(line);
    command = ControlCommand{};
    if (words.empty()) {
        error = "empty command";
        return false;
    }
    const std::string& verb = words[0];
    const std::size_t space = line.find(verb) + verb.size();
    const std::string rest = space < line.size() ? std::string(line.substr(space + 1)) : "";
    if (verb == "mark" || verb == "assignname") {
        command.kind =
            verb == "mark" ? ControlCommand::Kind::Mark : ControlCommand::Kind::AssignName;
        command.text = rest;
        if (command.kind == ControlCommand::Kind::AssignName && rest.empty()) {
            error = "assignname needs a name";
            return false;
        }
        return true;
    }
    if (verb == "option") {
        command.kind = ControlCommand::Kind::Option;
        command.words.assign(words.begin() + 1, words.end());
        return true;
    }
    for (const Shape& shape : kShapes) {
        if (verb != shape.name)
            continue;
        command.kind = shape.kind;
        std::size_t i = 1;
        for (; i < words.size() && i <= shape.numbers + shape.optionalNumbers; ++i) {
            std::uint32_t value = 0;
            if (!Number(words[i], value))
                break;
            command.numbers.push_back(value);
        }
        if (command.numbers.size() < shape.numbers) {
            error = verb + " needs " + std::to_string(shape.numbers) + " numbers";
            return false;
        }
        if (shape.hexTail && i < words.size()) {
            std::string hex;
            for (; i < words.size(); ++i)
                hex += words[i];
            if (!FromHex(hex, command.bytes)) {
                error = verb + ": bad hex bytes";
                return false;
            }
        }
        if (i < words.size()) {
            error = verb + ": unexpected " + words[i];
            return false;
        }
        return true;
    }
    error = "unknown command " + verb;
    return false;
}

} // namespace player
