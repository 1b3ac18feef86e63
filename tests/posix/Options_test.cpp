// lumavert-server's command line: values land in the options, and a bad option is named with
// what is wrong with it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/ui/posix/Options.h"

namespace {

struct Parsed {
    bool ok;
    posixui::Options options;
    std::string error;
};

Parsed Parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "lumavert-server");
    Parsed parsed;
    parsed.ok = posixui::ParseOptions(static_cast<int>(arguments.size()), arguments.data(),
                                      parsed.options, parsed.error);
    return parsed;
}

TEST(Options, ValuesOverrideAndFlagsStandAlone) {
    const Parsed parsed = Parse({"--root", "/srv/media", "--verbose", "--host", "a b", "--codepage",
                                 "1252", "--ports", "1111,6350,20490"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.root, "/srv/media");
    EXPECT_EQ(parsed.options.host, "a b");
    EXPECT_EQ(parsed.options.codePage, 1252u);
    EXPECT_TRUE(parsed.options.verbose);
    EXPECT_EQ(parsed.options.ports.portmap, 1111);
    EXPECT_EQ(parsed.options.ports.mount, 6350);
    EXPECT_EQ(parsed.options.ports.nfs, 20490);
    EXPECT_TRUE(Parse({"--help"}).options.help);
    const Parsed none = Parse({});
    ASSERT_TRUE(none.ok);
    EXPECT_FALSE(none.options.root || none.options.verbose);
    EXPECT_EQ(none.options.ports.portmap, 111);
}

TEST(Options, BadOptionSaysWhichAndWhy) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"--rot", "/x"}, "unknown option \"--rot\""},
        {{"/srv/media"}, "unknown option \"/srv/media\""},
        {{"--root"}, "--root needs a value"},
        {{"--root", ""}, "--root \"\": the folder is empty"},
        {{"--codepage", "utf8"}, "--codepage \"utf8\": not a code page number"},
        {{"--codepage", "-1"}, "--codepage \"-1\": not a code page number"},
        {{"--ports", "111,635"},
         "--ports \"111,635\": expected three port numbers PORTMAP,MOUNT,NFS"},
        {{"--ports", "111,635,2049,1"},
         "--ports \"111,635,2049,1\": \"2049,1\" is not a port (0 to 65535)"},
        {{"--ports", "111,,2049"}, "--ports \"111,,2049\": \"\" is not a port (0 to 65535)"},
        {{"--ports", "111,635,65536"},
         "--ports \"111,635,65536\": \"65536\" is not a port (0 to 65535)"},
    };
    for (const auto& [arguments, expected] : cases) {
        const Parsed parsed = Parse(arguments);
        EXPECT_FALSE(parsed.ok) << expected;
        EXPECT_EQ(parsed.error, expected);
    }
}

} // namespace
