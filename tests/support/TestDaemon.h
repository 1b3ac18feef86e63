// A TDaemon for one test: fresh temporary export and list folders, free loopback ports,
// started on construction and stopped and removed on destruction.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "server/rpc/Daemon.h"
#include "tests/support/RpcClient.h"

namespace rpctest {

// A fresh empty folder under the system's temporary folder, removed with its contents.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    bool Valid() const { return !path_.empty(); }

  private:
    std::filesystem::path path_;
};

struct TestDaemonOptions {
    std::vector<std::string> allowedHosts; // passed to AddAllowedHost before Start
    std::uint32_t codePage = 65001;
    bool start = true;
    const server::TClock* clock = nullptr; // the platform's when null
    server::DaemonTimes times;
};

class TestDaemon {
  public:
    TestDaemon() : TestDaemon(TestDaemonOptions{}) {}
    explicit TestDaemon(const TestDaemonOptions& options);
    ~TestDaemon();
    TestDaemon(const TestDaemon&) = delete;
    TestDaemon& operator=(const TestDaemon&) = delete;

    // Set up without error and (when asked) running.
    bool Ready() const { return ready_; }
    const std::string& ErrorText() const { return daemon_->ErrorText(); }
    ServerPorts Ports() const;
    const std::filesystem::path& Root() const { return root_.Path(); }
    const std::filesystem::path& ListFolder() const { return list_.Path(); }
    server::TDaemon& Daemon() { return *daemon_; }
    RpcClient Client(Transport transport = Transport::Tcp) const {
        return RpcClient(Ports(), transport);
    }

    bool Start();
    void Stop();

  private:
    TempFolder root_;
    TempFolder list_;
    std::unique_ptr<server::TDaemon> daemon_;
    bool ready_ = false;
};

} // namespace rpctest
