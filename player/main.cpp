// kestro-player: a simulated Kestro network media player for tests and demos (Linux).
#include <cstdio>
#include <string>
#include <vector>

#include "player/Config.h"
#include "player/Flood.h"
#include "player/Player.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "flood")
        return player::RunFlood({args.begin() + 1, args.end()});
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(player::kUsage, stdout);
            return 0;
        }
    }
    player::PlayerConfig config;
    std::string error;
    if (!player::ParseOptions(args, config, error)) {
        std::fprintf(stderr, "kestro-player: %s\n%s", error.c_str(), player::kUsage);
        return 2;
    }
    return player::RunPlayer(std::move(config), std::vector<std::string>(argv, argv + argc));
}
