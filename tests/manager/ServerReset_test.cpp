// ResetServer's sequence over a scripted host: order of the steps, the polls and the texts.
#include "manager/core/ServerReset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace manager {
namespace {

struct FakeHost : ServerHost {
    bool window = false;
    bool closes = true;     // the window goes on the close request
    bool terminable = true; // the window goes when its owner is ended
    bool exists = true;
    bool starts = true;
    int showAfterPolls = 0; // the new Server's window appears after this many sleeps
    int sleeps = 0;
    int sleepsAtStart = -1;
    std::vector<std::string> calls;
    std::u16string box;

    bool ServerWindowExists() override {
        if (sleepsAtStart >= 0 && !window && sleeps - sleepsAtStart >= showAfterPolls) {
            window = true;
        }
        return window;
    }
    void PostCloseToServer() override {
        calls.push_back("close");
        if (closes)
            window = false;
    }
    void TerminateServerWindowOwner() override {
        calls.push_back("terminate");
        if (terminable)
            window = false;
    }
    bool FileExists(const std::u16string&) override {
        calls.push_back("exists");
        return exists;
    }
    bool StartProgramHidden(const std::u16string&) override {
        calls.push_back("start");
        if (starts)
            sleepsAtStart = sleeps;
        return starts;
    }
    bool answers = true;
    unsigned answerWaitMs = 0;
    bool AwaitServerAnswer(unsigned ms) override {
        calls.push_back("answer");
        answerWaitMs = ms;
        return answers;
    }
    void ShowErrorBox(const std::u16string& text) override {
        calls.push_back("box");
        box = text;
    }
    void QuitManager() override { calls.push_back("quit"); }
    void Sleep(unsigned ms) override {
        EXPECT_EQ(ms, 10u);
        ++sleeps;
    }
};

using Calls = std::vector<std::string>;

TEST(ServerReset, RunningServerIsClosedAndAFreshOneStarted) {
    FakeHost host;
    host.window = true;
    host.showAfterPolls = 3;
    EXPECT_TRUE(ResetServer(host, u"C:\\L\\Server.exe"));
    EXPECT_EQ(host.calls, (Calls{"close", "exists", "start", "answer"}));
    EXPECT_EQ(host.sleeps, 3);
}

// The window appears before the Server's first start, and a broadcast during that start is
// lost: the reset returns once the Server takes a message, or gives up waiting for it.
TEST(ServerReset, AFreshServerIsWaitedForUntilItTakesMessages) {
    FakeHost host;
    EXPECT_TRUE(ResetServer(host, u"S"));
    EXPECT_EQ(host.calls.back(), "answer");
    EXPECT_EQ(host.answerWaitMs, kStartAnswerWaitMs);
    FakeHost deaf;
    deaf.answers = false;
    EXPECT_TRUE(ResetServer(deaf, u"S"));
    EXPECT_EQ(deaf.calls, (Calls{"exists", "start", "answer"}));
}

TEST(ServerReset, StuckServerIsEndedThroughItsWindowOwnerAfterTheFullWait) {
    FakeHost host;
    host.window = true;
    host.closes = false;
    EXPECT_TRUE(ResetServer(host, u"S"));
    EXPECT_EQ(host.calls, (Calls{"close", "terminate", "exists", "start", "answer"}));
    EXPECT_EQ(host.sleeps, kCloseWaitPolls);
}

TEST(ServerReset, ServerThatSurvivesTerminationEndsTheManager) {
    FakeHost host;
    host.window = true;
    host.closes = false;
    host.terminable = false;
    EXPECT_FALSE(ResetServer(host, u"S"));
    EXPECT_EQ(host.calls, (Calls{"close", "terminate", "box", "quit"}));
    EXPECT_EQ(host.sleeps, 2 * kCloseWaitPolls);
    EXPECT_EQ(host.box, u"Fail to reset Server");
}

TEST(ServerReset, MissingServerFileIsReportedAfterTheOldOneIsClosed) {
    FakeHost host;
    host.window = true;
    host.exists = false;
    EXPECT_FALSE(ResetServer(host, u"S"));
    EXPECT_EQ(host.calls, (Calls{"close", "exists", "box", "quit"}));
    EXPECT_EQ(host.box, u"Lost important file: Server.exe\nIf this problem persists, you may "
                        u"solve it by reinstall the application.");
    FakeHost empty;
    EXPECT_FALSE(ResetServer(empty, u""));
    EXPECT_EQ(empty.calls, (Calls{"box", "quit"}));
}

TEST(ServerReset, ServerWithoutWindowOrStartFailureEndsTheManager) {
    FakeHost silent;
    silent.showAfterPolls = 1 << 30;
    EXPECT_FALSE(ResetServer(silent, u"S"));
    EXPECT_EQ(silent.calls, (Calls{"exists", "start", "box", "quit"}));
    EXPECT_EQ(silent.sleeps, kStartWaitPolls);
    EXPECT_EQ(silent.box, u"Fail to reset Server");
    FakeHost broken;
    broken.starts = false;
    EXPECT_FALSE(ResetServer(broken, u"S"));
    EXPECT_EQ(broken.calls, (Calls{"exists", "start", "box", "quit"}));
    EXPECT_EQ(broken.sleeps, 0);
}

} // namespace
} // namespace manager
