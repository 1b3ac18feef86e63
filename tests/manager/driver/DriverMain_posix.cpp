// manager-driver: the manager's core on the POSIX front-end, run by a script of steps (see
// kDriverUsage) against players on the network, one observation per line on standard output.
#include <cstdio>
#include <string>
#include <vector>

#include "common/text/DebugPrint.h"
#include "manager/posix/PosixPort.h"
#include "tests/manager/driver/DriverScript.h"

namespace {

using namespace manager;

class PosixHost : public driver::DriverHost {
  public:
    PosixHost(PollLoop& loop, PosixPort& port) : loop_(loop), port_(port) {}
    IManagerPort& Port() override { return port_; }
    void RunFor(int ms, const std::function<bool()>& done) override { loop_.RunFor(ms, done); }
    void Print(const std::string& line) override {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

  private:
    PollLoop& loop_;
    PosixPort& port_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: manager-driver STEP...\n", stderr);
        std::fputs(driver::kDriverUsage, stderr);
        return 2;
    }
    PollLoop loop;
    driver::DriverSession session;
    PosixPort port(loop, session.events);
    DeviceControl control(port, session.context.host);
    session.events.Attach(control);
    loop.Attach(session.events);
    PosixHost host(loop, port);
    port.SetLogSink([&](std::u16string_view l) { host.Print("log: " + driver::Printable(l)); });
    port.SetErrorBoxSink(
        [&](std::u16string_view l) { host.Print("box: " + driver::Printable(l)); });
    text::SetDebugSink(
        [&](std::u16string_view l) { host.Print("debug: " + driver::Printable(l)); });
    const int status = driver::RunDriverScript(host, session, control,
                                               std::vector<std::string>(argv + 1, argv + argc));
    text::SetDebugSink({});
    return status;
}
