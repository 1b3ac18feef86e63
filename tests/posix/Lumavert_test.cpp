// The pieces of lumavert that are its own: the access-code prompt on a pseudo-terminal, the keys,
// the exit codes of the boxes, the settings update and the reload acknowledgement.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

#include "common/platform/CodePage.h"
#include "common/platform/Settings.h"
#include "common/platform/posix/LocalSocket_posix.h"
#include "manager/core/ControlPacket.h"
#include "manager/posix/CliPort.h"
#include "manager/posix/ServerLink.h"
#include "manager/posix/Terminal.h"

namespace manager {
namespace {

struct Pty {
    int master = -1;
    int slave = -1;
    Pty() { EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0); }
    ~Pty() {
        close(master);
        close(slave);
    }
    // What the terminal showed, waiting briefly for it.
    std::string Shown() {
        std::string out;
        const int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        char buffer[256];
        for (int i = 0; i < 20; ++i) {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0)
                out.append(buffer, static_cast<std::size_t>(n));
            else
                usleep(5000);
        }
        fcntl(master, F_SETFL, flags);
        return out;
    }
};

TEST(LumavertTerminal, AccessCodeIsReadWithoutEchoAndEchoComesBack) {
    Pty pty;
    // Typed once the prompt waits, as a user does.
    std::thread typist([&] {
        usleep(100000);
        EXPECT_EQ(write(pty.master, "12%4\n", 5), 5);
    });
    std::string code;
    const bool read = ReadSecretLine(pty.slave, "Access code for Den (192.0.2.7): ", code);
    typist.join();
    ASSERT_TRUE(read);
    EXPECT_EQ(code, "12%4");
    const std::string shown = pty.Shown();
    EXPECT_NE(shown.find("Access code for Den (192.0.2.7): "), std::string::npos);
    EXPECT_EQ(shown.find("12%4"), std::string::npos) << shown;
    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
    EXPECT_NE(after.c_lflag & ECHO, 0u);

    // The numbered choice echoes; no terminal at all reads nothing.
    ASSERT_EQ(write(pty.master, "2\n", 2), 2);
    std::string choice;
    ASSERT_TRUE(ReadLine(pty.slave, "Play on [1-2]: ", choice));
    EXPECT_EQ(choice, "2");
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    EXPECT_FALSE(ReadSecretLine(pipeFds[0], "x", code));
    EXPECT_FALSE(ReadLine(pipeFds[0], "x", code));
    close(pipeFds[0]);
    close(pipeFds[1]);
}

TEST(LumavertTerminal, KeysAreTheButtons) {
    EXPECT_EQ(CommandFor(*KeyActionFor(' '), kPlayStatePlaying), kCmdPause);
    EXPECT_EQ(CommandFor(*KeyActionFor(' '), kPlayStatePaused), kCmdPlay);
    EXPECT_EQ(CommandFor(*KeyActionFor('n'), kPlayStatePlaying), kCmdFastForward);
    EXPECT_EQ(CommandFor(*KeyActionFor('p'), kPlayStatePlaying), kCmdRewind);
    EXPECT_EQ(CommandFor(*KeyActionFor('s'), kPlayStatePaused), kCmdStop);
    EXPECT_EQ(KeyActionFor('q'), KeyAction::Quit);
    EXPECT_FALSE(CommandFor(KeyAction::Quit, kPlayStatePlaying));
    EXPECT_FALSE(KeyActionFor('x'));
}

TEST(LumavertExit, BoxTextsGiveTheirCodes) {
    EXPECT_EQ(ExitCodeForBox(u"Fail to connect with device. (Code:2,f0000000)\n"), 12);
    EXPECT_EQ(ExitCodeForBox(u"Incorrect Pin Code. (Code:3)\n"), 13);
    EXPECT_EQ(ExitCodeForBox(u"Command timeout. (Code:6,2)\n"), 16);
    EXPECT_EQ(ExitCodeForBox(u"Fail to set Server"), kExitServer);
    EXPECT_EQ(ExitCodeForBox(u"No device found. \nPlease check PC/Device network connection."),
              kExitNoPlayer);
    EXPECT_EQ(ExitCodeForBox(u"No valid device found."), kExitNoPlayer);
    EXPECT_EQ(ExitCodeForBox(u"Something else (Code:9)"), kExitFailure);
    EXPECT_TRUE(PlayerMatches("Den", "Den", 0));
    EXPECT_TRUE(PlayerMatches("192.0.2.7", "Den", FromOctets({192, 0, 2, 7})));
    EXPECT_FALSE(PlayerMatches("192.0.2.70", "Den", FromOctets({192, 0, 2, 7})));
    EXPECT_TRUE(PlayerMatches("", "Den", 0));
}

struct Quiet : IManagerEvents {
    void OnSocketEvent(SocketId, std::uint16_t, int) override {}
    void OnAnswerDeviceRequest(std::uint32_t, std::uint32_t) override {}
    void OnErrorBoxClosed(DialogTicket) override {}
};

std::string TempFolder() {
    char pattern[] = "/tmp/lumavert-test.XXXXXX";
    return mkdtemp(pattern);
}

TEST(LumavertSettings, RootComesBackAsAPosixPathWithCodePage65001AndHostKept) {
    const std::string folder = TempFolder();
    const std::u16string file = platform::Utf8ToUtf16(folder + "/server.conf");
    {
        platform::SettingsStore store(file);
        std::u16string error;
        ASSERT_TRUE(store.Open(platform::SettingsAccess::kReadWrite, error));
        ASSERT_TRUE(store.WriteHost(u"192.0.2.7", error));
    }
    PollLoop loop;
    Quiet events;
    PosixPort port(loop, events);
    port.SetSettingsLocation(file);
    ASSERT_TRUE(port.StoreShareSettings(u"\\tmp\\Filme 100% \u00E4"));
    platform::SettingsStore store(file);
    std::u16string error;
    platform::ServerSettings read;
    ASSERT_TRUE(store.Open(platform::SettingsAccess::kRead, error));
    ASSERT_TRUE(store.Read(read, error));
    EXPECT_EQ(read.root, u"/tmp/Filme 100% \u00E4");
    EXPECT_EQ(read.codePage, 65001u);
    EXPECT_EQ(read.host, u"192.0.2.7");
    std::system(("rm -rf '" + folder + "'").c_str());
}

TEST(LumavertReload, AcknowledgedOnlyByTheServersOk) {
    const std::string folder = TempFolder();
    const std::string settings = folder + "/server.conf";
    for (const std::string answer : {"ok", "failed: the root folder does not exist"}) {
        std::string error;
        platform::LocalSocket listener =
            platform::LocalSocket::Listen(folder + "/server.sock", error);
        ASSERT_TRUE(listener.IsValid()) << error;
        PollLoop loop;
        ServerLink link(loop, settings, "/nonexistent/lumavert-server");
        bool served = false;
        std::vector<std::string> said;
        link.OnServed([&] { served = true; });
        link.OnSaid([&](const std::string& line) { said.push_back(line); });
        ASSERT_TRUE(link.RequestReload());
        std::string request;
        std::thread server([&] {
            platform::LocalSocket client;
            for (int i = 0; i < 100 && !client.IsValid(); ++i) {
                client = listener.Accept();
                if (!client.IsValid())
                    usleep(10000);
            }
            if (client.ReadLine(request, 2000))
                client.WriteLine(answer);
        });
        loop.RunFor(3000, [&] { return served || !said.empty(); });
        server.join();
        EXPECT_EQ(request, "reload");
        EXPECT_EQ(served, answer == "ok");
        if (answer != "ok") {
            ASSERT_EQ(said.size(), 1u);
            EXPECT_EQ(said[0], "lumavert-server: " + answer);
        }
    }
    // No server and none to start: no request, so no answer will come.
    PollLoop loop;
    ServerLink link(loop, settings, "/nonexistent/lumavert-server");
    std::vector<std::string> said;
    link.OnSaid([&](const std::string& line) { said.push_back(line); });
    EXPECT_FALSE(link.RequestReload(200));
    EXPECT_FALSE(said.empty());
    std::system(("rm -rf '" + folder + "'").c_str());
}

} // namespace
} // namespace manager
