// lumavert: the manager's Linux front-end (see LumavertApp.h).
#include <cstdio>
#include <string>
#include <vector>

#include "manager/posix/CliPort.h"
#include "manager/posix/LumavertApp.h"

int main(int argc, char** argv) {
    manager::AppOptions options;
    std::string error;
    if (!manager::ParseAppOptions(std::vector<std::string>(argv + 1, argv + argc), options,
                                  error)) {
        std::fprintf(stderr, "lumavert: %s\nTry 'lumavert --help'.\n", error.c_str());
        return manager::kExitUsage;
    }
    if (options.help) {
        std::fputs(manager::kAppUsage, stdout);
        return manager::kExitOk;
    }
    return manager::RunApp(options, argv[0]);
}
