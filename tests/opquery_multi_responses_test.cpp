// opquery_multi_responses end to end, on a pseudo-terminal device and on Telnet.
#include <gtest/gtest.h>

#include "expected_list.h"
#include "test_support.h"

namespace {

const std::string kLong70(70, 'L');

DevSim& Device() {
    static DevSim sim({"--pty", "COM7", "--telnet", "0", "--negotiate", "--eol", "crlf",
                       "INIT=>say:OK;say:READY",
                       "SIX=>say:L1;say:L2;say:L3;say:L4;say:L5;say:L6",
                       "TWO=>say:LONGLINE;say:SHORT",
                       "LONG=>say:" + kLong70,
                       "SILENT=>",
                       "ZERO=>raw:\\r",
                       "DIE=>say:OK;raw:PA;wait:100;drop"});
    return sim;
}

struct ResponsesCase {
    std::string name;
    std::vector<std::string> args;  // arguments 3 and 4, then 6 to 8
    std::string out;
    int status;
};

class ResponsesVerdicts : public ::testing::TestWithParam<std::tuple<ResponsesCase, bool>> {};

TEST_P(ResponsesVerdicts, PrintsAndReturnsTheVerdict) {
    const auto& [c, telnet] = GetParam();
    if (c.name.find("Vanish") != std::string::npos && !telnet) SKIP_UNDER_WINE(kWineVanish);
    std::vector<std::string> args = {"Boot", "!message", c.args[0], c.args[1], Device().linkSpec(telnet)};
    args.insert(args.end(), c.args.begin() + 2, c.args.end());
    RunResult r = RunProgram("opquery_multi_responses", args, Device().env());
    EXPECT_EQ(r.out, c.out) << r.err;
    EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    BothLinks, ResponsesVerdicts,
    ::testing::Combine(
        ::testing::Values(
            ResponsesCase{"AllLinesMatch", {"OK_READY_", "INIT", "2", "2", "1"}, "1\n", 1},
            ResponsesCase{"OneLinePerEntryByDefault", {"OK_READY_", "INIT"}, "1\n", 1},
            ResponsesCase{"OneLinePerTestWithoutArgument8", {"OK_READY_", "INIT", "2", "2"}, "1\n", 1},
            ResponsesCase{"SecondLineDiffers", {"OK_WRONG_", "INIT", "2", "2", "1"}, "0\n", 0},
            ResponsesCase{"ShorterPrefixIsNoMatch", {"OK_READ_", "INIT", "2", "2", "1"}, "0\n", 0},
            ResponsesCase{"ExtraLinesAreNotCompared", {"OK_", "INIT", "2", "2", "1"}, "1\n", 1},
            ResponsesCase{"TextAfterLastUnderscoreIsNotCompared", {"OK_WRONG", "INIT", "2", "2", "1"}, "1\n", 1},
            ResponsesCase{"FractionalTestCount", {"L1_L2_L3_", "SIX", "2", "2.5", "1"}, "1\n", 1},
            ResponsesCase{"PairsEachConsumeTwoEntries", {"L1_L2_L3_L4_L5_L6_", "SIX", "2", "3", "2"}, "1\n", 1},
            ResponsesCase{"ShortLineStandsAlone", {"LONGLINE_SHORT_", "TWO", "2", "2", "1"}, "1\n", 1},
            ResponsesCase{"NoTailOfEarlierLine", {"LONGLINE_SHORTINE_", "TWO", "2", "2", "1"}, "0\n", 0},
            ResponsesCase{"EntryLongerThan63", {kLong70 + "_", "LONG"}, "1\n", 1},
            ResponsesCase{"NoLines", {"X_", "INIT", "2", "0", "1"}, "1\n", 1},
            ResponsesCase{"SilentDevice", {"OK_", "SILENT", "0.3", "1", "1"}, "-1\n", 255},
            ResponsesCase{"VanishesMidRead", {"OK_PA_", "DIE", "2", "2", "1"}, "-1\n", 255}),
        ::testing::Bool()),
    [](const auto& info) {
        return std::get<0>(info.param).name + (std::get<1>(info.param) ? "_Telnet" : "_Serial");
    });

TEST(OpqueryMultiResponses, FailurePopupNamesTheTestAndItsNumber) {
    SKIP_UNDER_WINE(kWineConsole);
    struct Case {
        std::vector<std::string> args;  // list, command, timeout, tests, lines per test
        std::string shown;
    };
    std::string longName(200, 'N');
    for (const Case& c : {Case{{"L1_L2_L3_XX_", "SIX", "2", "3", "2"}, "Boot 2"},   // fourth line, second pair
                          Case{{"L1_L2_XX_", "SIX", "2", "6", "1"}, "Boot 3"},
                          Case{{"L1_XX_", "SIX", "2", "2", "3"}, "Boot 0"},         // neither 1 nor 2: no count
                          Case{{"XX_", "SIX", "2", "1", "1"}, longName + " 1"}}) {
        std::string name = c.shown.compare(0, 4, "Boot") == 0 ? "Boot" : longName;
        std::vector<std::string> args = {name, "!m", c.args[0], c.args[1], "COM7,115200", c.args[2], c.args[3], c.args[4]};
        ProgramRun run("opquery_multi_responses", args, Device().env(), true);
        ASSERT_TRUE(run.waitTerminal("Press Enter")) << run.terminalText();
        EXPECT_NE(run.terminalText().find("[The following Test failed   ]\r\n" + c.shown + "\r\n"), std::string::npos)
            << run.terminalText();
        run.typeTerminal("\n");
        RunResult r = run.finish();
        EXPECT_EQ(r.out, "0\n");
        EXPECT_EQ(r.status, 0);
    }
}

TEST(OpqueryMultiResponses, CommunicationErrorPopupOnAFailedRead) {
    SKIP_UNDER_WINE(kWineConsole);
    ProgramRun run("opquery_multi_responses", {"Boot", "!m", "OK_PA_", "DIE", "COM7,115200", "2", "2", "1"},
                   Device().env(), true);
    ASSERT_TRUE(run.waitTerminal("Communication error")) << run.terminalText();
    run.typeTerminal("\n");
    RunResult r = run.finish();
    EXPECT_EQ(r.out, "-1\n");
    EXPECT_EQ(r.status, 255);
}

TEST(OpqueryMultiResponses, SerialReadOfNoByteEndsWithoutPopup) {
    SKIP_UNDER_WINE(kWineConsole);
    // The line "\r" delivers no byte.
    ProgramRun run("opquery_multi_responses", {"Boot", "!m", "X_", "ZERO", "COM7,115200", "2", "1", "1"},
                   Device().env(), true);
    RunResult r = run.finish();
    EXPECT_EQ(r.out, "-1\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(run.terminalText(), "");
}

TEST(OpqueryMultiResponses, MessageIsShownBeforeTheReadsAndCommandSentBefore) {
    SKIP_UNDER_WINE(kWineConsole);
    ProgramRun run("opquery_multi_responses", {"Boot", "Power the board", "OK_READY_", "INIT", "COM7,115200"},
                   Device().env(), true);
    ASSERT_TRUE(run.waitTerminal("Press Enter"));
    EXPECT_NE(run.terminalText().find("[Message]\r\nPower the board"), std::string::npos);
    EXPECT_TRUE(Device().waitLog("pty command INIT"));  // sent while the popup is still open
    run.typeTerminal("\n");
    EXPECT_EQ(run.finish().out, "1\n");
}

TEST(OpqueryMultiResponses, BangCommandSendsNothing) {
    RunResult r = RunProgram("opquery_multi_responses", {"Boot", "!m", "X_", "!", "COM7,115200", "0.2", "0"},
                             Device().env());
    EXPECT_EQ(r.out, "1\n");
    EXPECT_EQ(Device().log().find("command !\n"), std::string::npos);
}

TEST(OpqueryMultiResponses, OpenFailures) {
    // Serial: "-1" and the open's own negative code as the status (here -4, status 252).
    RunResult serial = RunProgram("opquery_multi_responses", {"Boot", "!m", "OK_", "INIT", "COM99,9600"}, Device().env());
    EXPECT_EQ(serial.out, "-1\n");
    EXPECT_EQ(serial.status, 252);
    RunResult telnet = RunProgram("opquery_multi_responses", {"Boot", "!m", "OK_", "INIT", "127.0.0.1,1"});
    EXPECT_EQ(telnet.out, "-1\n");
    EXPECT_EQ(telnet.status, 0);
}

TEST(OpqueryMultiResponses, UsageErrorIsNeverAPass) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"Boot", "m", "OK_", "INIT"}}) {
        RunResult r = RunProgram("opquery_multi_responses", args);
        EXPECT_EQ(r.out, "-1\n");
        EXPECT_EQ(r.status, 255);
    }
}

TEST(ExpectedReplies, TakesUnderscoreTerminatedEntries) {
    using V = std::vector<std::string>;
    EXPECT_EQ(ExpectedReplies("A_B_"), (V{"A", "B"}));
    EXPECT_EQ(ExpectedReplies("A_B"), (V{"A"}));
    EXPECT_EQ(ExpectedReplies("A__B_"), (V{"A", "", "B"}));
    EXPECT_EQ(ExpectedReplies(""), V{});
    EXPECT_EQ(ExpectedReplies("_"), V{""});
}

}  // namespace
