#include "server/ui/posix/Options.h"

#include <charconv>
#include <string_view>

namespace posixui {
namespace {

bool ParseNumber(std::string_view text, std::uint64_t limit, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end && value <= limit;
}

bool ParsePorts(std::string_view text, server::ServicePorts& ports, std::string& why) {
    std::uint64_t values[3] = {};
    for (int i = 0; i < 3; ++i) {
        const std::size_t comma = i < 2 ? text.find(',') : text.size();
        if (comma == std::string_view::npos) {
            why = "expected three port numbers PORTMAP,MOUNT,NFS";
            return false;
        }
        if (!ParseNumber(text.substr(0, comma), 65535, values[i])) {
            why = "\"" + std::string(text.substr(0, comma)) + "\" is not a port (0 to 65535)";
            return false;
        }
        text.remove_prefix(comma < text.size() ? comma + 1 : comma);
    }
    ports = {static_cast<std::uint16_t>(values[0]), static_cast<std::uint16_t>(values[1]),
             static_cast<std::uint16_t>(values[2])};
    return true;
}

} // namespace

bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--verbose" || name == "-v") {
            options.verbose = true;
            continue;
        }
        if (name != "--root" && name != "--host" && name != "--codepage" && name != "--ports") {
            error = "unknown option \"" + std::string(name) + "\"";
            return false;
        }
        if (i + 1 >= argc) {
            error = std::string(name) + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        std::string why;
        if (name == "--root") {
            if (value.empty())
                why = "the folder is empty";
            options.root = value;
        } else if (name == "--host") {
            options.host = value;
        } else if (name == "--codepage") {
            std::uint64_t number = 0;
            if (!ParseNumber(value, 0xFFFFFFFFu, number))
                why = "not a code page number";
            options.codePage = static_cast<std::uint32_t>(number);
        } else {
            ParsePorts(value, options.ports, why);
        }
        if (!why.empty()) {
            error = std::string(name) + " \"" + value + "\": " + why;
            return false;
        }
    }
    return true;
}

std::string UsageText(const std::string& settingsPath) {
    return "usage: lumavert-server [--root DIR] [--host \"H1 H2\"] [--codepage N]\n"
           "                       [--ports PORTMAP,MOUNT,NFS] [--verbose]\n"
           "Exports DIR as \"/\" and the list folder as \"/lst\" over NFS version 3.\n"
           "  --root DIR        the folder to export\n"
           "  --host \"H1 H2\"    only these client addresses or names (default: all)\n"
           "  --codepage N      Windows code page of file names on the wire (65001: UTF-8)\n"
           "  --ports P,M,N     portmapper, MOUNT and NFS ports (default 111,635,2049)\n"
           "  --verbose         the diagnostic log (every mount and listing) to standard error\n"
           "  --help            this text\n"
           "Settings are read from " +
           settingsPath +
           "; options override them.\n"
           "SIGHUP reloads the settings, SIGINT or SIGTERM stop the server.\n";
}

} // namespace posixui
