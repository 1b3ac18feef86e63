// List-file parser with a departure for each deviation from the written format.
#include "player/ListFile.h"

#include <set>

namespace player {

Departures ParseListFile(ByteSpan file, std::vector<std::u16string>& names) {
    Departures out;
    names.clear();
    if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xFE) {
        out.push_back({"list.bom", "the file does not start with FF FE"});
        return out;
    }
    if (file.size() % 2 != 0)
        out.push_back({"list.odd", "odd byte count " + std::to_string(file.size()) +
                                       "; the last byte is no UTF-16 unit"});
    const std::size_t units = (file.size() - 2) / 2;
    std::u16string line;
    // One departure of each kind per file is enough to say what is wrong with it.
    std::set<std::string> reported;
    auto report = [&](const std::string& rule, const std::string& reason) {
        if (reported.insert(rule).second)
            out.push_back({rule, reason});
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = static_cast<char16_t>(GetU16(file, 2 + 2 * i));
        if (unit == u'\r' && i + 1 < units && GetU16(file, 2 + 2 * (i + 1)) == u'\n') {
            if (line.empty())
                report("list.line", "empty line " + std::to_string(names.size() + 1));
            else
                names.push_back(line);
            line.clear();
            ++i;
            continue;
        }
        if (unit == u'\r' || unit == u'\n')
            report("list.line", "a lone " + std::string(unit == u'\r' ? "CR" : "LF") + " in line " +
                                    std::to_string(names.size() + 1) +
                                    "; lines end with 0D 00 0A 00");
        else if (unit == 0)
            report("list.name", "a zero unit in line " + std::to_string(names.size() + 1));
        else if (unit == u'\\')
            report("list.name", "a backslash in line " + std::to_string(names.size() + 1) +
                                    "; names carry no folder");
        if (unit != u'\r' && unit != u'\n')
            line.push_back(unit);
    }
    if (!line.empty()) {
        report("list.line", "the last name has no line end 0D 00 0A 00");
        names.push_back(line);
    }
    if (units == 0)
        out.push_back({"list.empty", "a list file with no names; empty lists have no file"});
    return out;
}

} // namespace player
