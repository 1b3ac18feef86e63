// Command-line options and control-FIFO commands of the player.
#include "player/Config.h"
#include "player/ControlCommand.h"

#include <gtest/gtest.h>

namespace player {
namespace {

TEST(PlayerOptions, ModesPerStepAndErrors) {
    PlayerConfig config;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--result", "update=5", "--delay=play=2000", "--close-at", "assign:3",
                              "--busy", "--discovery-answer", "token,good", "--expect-mac",
                              "02-00-00-00-00-01"},
                             config, error))
        << error;
    EXPECT_EQ(config.session.Of(Step::Update).result, 5u);
    EXPECT_EQ(config.session.Of(Step::Play).delayMs, 2000);
    EXPECT_EQ(config.session.Of(Step::Assign).cut, Cut::Close);
    EXPECT_EQ(config.session.Of(Step::Assign).cutAfterBytes, 3);
    EXPECT_EQ(config.session.Of(Step::Connect).result, 1u);
    EXPECT_EQ(config.discovery.answers,
              (std::vector<AnswerVariant>{AnswerVariant::Token, AnswerVariant::Good}));
    EXPECT_EQ(config.session.expectedMac, (Bytes{2, 0, 0, 0, 0, 1}));

    EXPECT_FALSE(ParseOptions({"--result", "nothing=1"}, config, error));
    EXPECT_FALSE(ParseOptions({"--bogus"}, config, error));
    EXPECT_FALSE(ParseOptions({"--name"}, config, error));
    EXPECT_FALSE(ParseOptions({"--port", "62001"}, config, error, true)); // start only
    EXPECT_TRUE(ParseOptions({"--silent"}, config, error, true));
    EXPECT_TRUE(config.session.Of(Step::Status).noAnswer);

    ASSERT_TRUE(ParseOptions({"--flood-on-search", "mixed:3000"}, config, error, true)) << error;
    EXPECT_EQ(config.discovery.floodKind, "mixed");
    EXPECT_EQ(config.discovery.floodCount, 3000);
    for (const char* bad : {"mixed", "storm:10", "random:0", "answer:x"})
        EXPECT_FALSE(ParseOptions({"--flood-on-search", bad}, config, error)) << bad;
}

TEST(PlayerOptions, ControlCommands) {
    ControlCommand command;
    std::string error;
    ASSERT_TRUE(ParseControlCommand("assignstatus 2 2\n", command, error));
    EXPECT_EQ(command.kind, ControlCommand::Kind::AssignStatus);
    EXPECT_EQ(command.numbers, (std::vector<std::uint32_t>{2, 2}));
    ASSERT_TRUE(ParseControlCommand("request 0x80040000 0 01 02 0a0b", command, error));
    EXPECT_EQ(command.numbers, (std::vector<std::uint32_t>{0x80040000, 0}));
    EXPECT_EQ(command.bytes, (Bytes{1, 2, 10, 11}));
    ASSERT_TRUE(ParseControlCommand("assignname Clip ü.mkv", command, error));
    EXPECT_EQ(command.text, "Clip ü.mkv");
    ASSERT_TRUE(ParseControlCommand("option --result play=3", command, error));
    EXPECT_EQ(command.words, (std::vector<std::string>{"--result", "play=3"}));
    EXPECT_FALSE(ParseControlCommand("playstatus", command, error));
    EXPECT_FALSE(ParseControlCommand("raw 0g", command, error));
    EXPECT_FALSE(ParseControlCommand("dance", command, error));
}

} // namespace
} // namespace player
