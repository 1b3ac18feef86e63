// A portmapper of someone else on a free TCP port, for the daemon's start-up to meet: it
// answers DUMP with fixed rows and SET and UNSET with a fixed verdict, and records every call.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "common/platform/Socket.h"

namespace rpctest {

class FakePortmapper {
  public:
    struct Row {
        std::uint32_t program, version, protocol, port;
    };
    struct Call {
        std::uint32_t procedure;
        std::vector<std::uint32_t> arguments; // the words after the call header
        bool operator==(const Call&) const = default;
    };

    explicit FakePortmapper(std::vector<Row> rows, bool acceptChanges = true);
    ~FakePortmapper() { Finish(); }
    FakePortmapper(const FakePortmapper&) = delete;
    FakePortmapper& operator=(const FakePortmapper&) = delete;

    std::uint16_t Port() const { return port_; }
    // Stops serving (the daemon's calls have been answered by the time its constructor or
    // destructor returns) and tells whether a DUMP was answered.
    bool Finish();
    // Valid after Finish.
    const std::vector<Call>& Calls() const { return calls_; }

  private:
    void Serve();

    std::vector<Row> rows_;
    bool acceptChanges_;
    platform::Socket listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    bool answeredDump_ = false;
    std::vector<Call> calls_;
    std::thread thread_;
};

} // namespace rpctest
