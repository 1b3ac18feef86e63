// Temporary folders and a daemon on free ports for the tests.
#include "tests/support/TestDaemon.h"

#include <atomic>
#include <random>
#include <system_error>

namespace rpctest {
namespace {

std::atomic<unsigned> gFolderCounter{0};

} // namespace

TempFolder::TempFolder() {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error)
        return;
    // Test programs run in parallel: the name mixes a random number with a per-process count.
    std::random_device device;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = "lumavert-test-" + std::to_string(device()) + "-" +
                                 std::to_string(gFolderCounter.fetch_add(1));
        const std::filesystem::path candidate = base / name;
        if (std::filesystem::create_directory(candidate, error) && !error) {
            path_ = candidate;
            return;
        }
    }
}

TempFolder::~TempFolder() {
    if (path_.empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

TestDaemon::TestDaemon(const TestDaemonOptions& options) {
    const server::ServicePorts anyPorts{0, 0, 0};
    daemon_ = std::make_unique<server::TDaemon>(root_.Path().u16string(), options.codePage,
                                                list_.Path().u16string(), anyPorts);
    for (const std::string& host : options.allowedHosts)
        daemon_->AddAllowedHost(host);
    daemon_->SetClock(options.clock != nullptr ? *options.clock : server::PlatformClock(),
                      options.times);
    if (!root_.Valid() || !list_.Valid() || !daemon_->ErrorText().empty())
        return;
    ready_ = !options.start || Start();
}

TestDaemon::~TestDaemon() {
    Stop();
    daemon_.reset(); // closes the sockets and files before the folders go
}

ServerPorts TestDaemon::Ports() const {
    const server::ServicePorts& ports = daemon_->Ports();
    return ServerPorts{ports.portmap, ports.mount, ports.nfs};
}

bool TestDaemon::Start() {
    return daemon_->Start();
}

void TestDaemon::Stop() {
    daemon_->Stop();
}

} // namespace rpctest
