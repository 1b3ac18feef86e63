// lumavert-server: placeholder until the daemon front-end lands.
#include <cstdio>

int main() {
    std::puts("lumavert-server: not built yet");
    return 0;
}
