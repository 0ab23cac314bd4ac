// opquery end to end: hex commands, binary and text replies, on a pseudo-terminal device
// and on Telnet.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

DevSim& Device() {
    static DevSim sim({"--pty", "COM7", "--telnet", "0", "--negotiate", "--eol", "cr",
                       "hex:0D0A=>hex:01020304;raw:\\r",
                       "hex:0103=>hex:00FF0001;raw:\\r",
                       "hex:AA55=>say:AA TEXT",
                       "hex:0105=>hex:AB;raw:\\r",
                       "DISP?=>say:DISPLAY OK",
                       "h0D0A=>say:LOWER",
                       "SILENT=>",
                       "DIE=>raw:PA;wait:100;drop"});
    return sim;
}

struct OpqueryCase {
    std::string name;
    std::string expected, command;
    std::vector<std::string> more;  // timeout
    std::string out;
    int status;
};

class OpqueryVerdicts : public ::testing::TestWithParam<std::tuple<OpqueryCase, bool>> {};

TEST_P(OpqueryVerdicts, PrintsAndReturnsTheVerdict) {
    const auto& [c, telnet] = GetParam();
    if (c.name.find("Vanish") != std::string::npos && !telnet) SKIP_UNDER_WINE(kWineVanish);
    std::vector<std::string> args = {"!question", "!message", c.expected, c.command, Device().linkSpec(telnet)};
    args.insert(args.end(), c.more.begin(), c.more.end());
    RunResult r = RunProgram("opquery", args, Device().env());
    EXPECT_EQ(r.out, c.out) << r.err;
    EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    BothLinks, OpqueryVerdicts,
    ::testing::Combine(
        ::testing::Values(
            OpqueryCase{"BinaryMatch", "H01020304", "H0D0A", {}, "1\n", 1},
            OpqueryCase{"BinaryMismatch", "H01020305", "H0D0A", {}, "0\n", 0},
            OpqueryCase{"OnlyFourBytesCompared", "H0102030499", "H0D0A", {}, "1\n", 1},
            OpqueryCase{"BinaryZeroAndFFBytes", "H00FF0001", "H0103", {}, "1\n", 1},
            OpqueryCase{"BinaryZeroBytesDiffer", "H00FF0002", "H0103", {}, "0\n", 0},
            // A hex reply of fewer than four bytes compares just those bytes.
            OpqueryCase{"ShortHexReply", "HAB", "H0105", {}, "1\n", 1},
            OpqueryCase{"ShortHexReplyDiffers", "HAC", "H0105", {}, "0\n", 0},
            // After a hex command a text expected reply is checked as text.
            OpqueryCase{"HexCommandTextReply", "AA TEXT", "HAA55", {}, "1\n", 1},
            OpqueryCase{"HexCommandTextReplyDiffers", "AA TEXX", "HAA55", {}, "0\n", 0},
            OpqueryCase{"TextMatch", "DISPLAY", "DISP?", {}, "1\n", 1},
            OpqueryCase{"TextMismatch", "DISPLAY BAD", "DISP?", {}, "0\n", 0},
            OpqueryCase{"LowerCaseHIsText", "LOWER", "h0D0A", {}, "1\n", 1},
            OpqueryCase{"SkippedReplyPrintsTheStatus", "!", "DISP?", {}, "1\n", 1},
            OpqueryCase{"SilentDevice", "X", "SILENT", {"0.3"}, "-1\n", 255},
            OpqueryCase{"VanishesMidRead", "PAX", "DIE", {}, "-1\n", 255}),
        ::testing::Bool()),
    [](const auto& info) {
        return std::get<0>(info.param).name + (std::get<1>(info.param) ? "_Telnet" : "_Serial");
    });

TEST(Opquery, SendsExactlyTheCommandBytes) {
    PtyDevice device("COM8");
    struct Case {
        std::string command, bytes;
    };
    for (const Case& c : {Case{"H0D0A", "\r\n"}, Case{"H", ""}, Case{"!anything", ""},
                          Case{"h0D0A", "h0D0A\r"}, Case{"H00FF", std::string("\0\xFF", 2)}}) {
        RunResult r = RunProgram("opquery", {"!q", "!m", "!", c.command, "COM8,9600"}, device.env());
        EXPECT_EQ(r.out, "1\n");
        EXPECT_EQ(HexOf(device.receive(c.bytes.size() + 1, 0.2)), HexOf(c.bytes)) << c.command;
    }
}

TEST(Opquery, TelnetHexCommandSendsTheBytesNotTheText) {
    RunResult r = RunProgram("opquery", {"!q", "!m", "H01020304", "H0D0A", Device().telnetSpec()}, Device().env());
    EXPECT_EQ(r.out, "1\n");
    std::string log = Device().log();
    EXPECT_NE(log.find("telnet command hex:\\r\\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("telnet rx H0D0A"), std::string::npos);
}

TEST(Opquery, SerialReadOfNoBytesIsACommunicationError) {
    SKIP_UNDER_WINE(kWineConsole);
    PtyDevice device("COM8");
    ProgramRun run("opquery", {"!q", "Press when ready", "X", "!", "COM8,9600", "1"}, device.env(), true);
    ASSERT_TRUE(run.waitTerminal("Press Enter"));
    device.send("\r");  // an empty line
    run.typeTerminal("\n");
    ASSERT_TRUE(run.waitTerminal("Communication error"));
    run.typeTerminal("\n");
    RunResult r = run.finish();
    EXPECT_EQ(r.out, "-1\n");
    EXPECT_EQ(r.status, 255);
}

TEST(Opquery, OperatorAnswerEntersBinaryAndTextChecks) {
    SKIP_UNDER_WINE(kWineConsole);
    struct Case {
        std::string expected, command, answer, out;
    };
    for (const Case& c : {Case{"H01020304", "H0D0A", "n", "0\n"}, Case{"H01020304", "H0D0A", "y", "1\n"},
                          Case{"DISPLAY", "DISP?", "n", "0\n"}, Case{"!", "DISP?", "n", "0\n"},
                          Case{"!", "DISP?", "y", "1\n"}}) {
        ProgramRun run("opquery", {"Display ok?", "!m", c.expected, c.command, "COM7,115200"}, Device().env(), true);
        ASSERT_TRUE(run.waitTerminal("Answer y"));
        run.typeTerminal(c.answer + "\n");
        RunResult r = run.finish();
        EXPECT_EQ(r.out, c.out) << c.expected << " " << c.answer;
        EXPECT_EQ(r.status, c.out == "1\n" ? 1 : 0);
    }
}

TEST(Opquery, FailedSerialOpenWithNothingAfterItIsPrintedAsItIs) {
    RunResult r = RunProgram("opquery", {"!q", "!m", "!", "!", "COM99,9600"});
    EXPECT_EQ(r.out, "-4\n");
    EXPECT_EQ(r.status, 252);
    RunResult read = RunProgram("opquery", {"!q", "!m", "X", "DISP?", "COM99,9600"});
    EXPECT_EQ(read.out, "-1\n");
    EXPECT_EQ(read.status, 255);
}

TEST(Opquery, LowerCaseComIsATelnetHostThroughout) {
    RunResult r = RunProgram("opquery", {"!q", "!m", "X", "H0D0A", "com7,9600"}, Device().env());
    EXPECT_EQ(r.out, "-1\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("com7"), std::string::npos);
}

TEST(Opquery, UsageErrorIsNeverAPass) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"q", "m", "e", "c"}}) {
        RunResult r = RunProgram("opquery", args);
        EXPECT_EQ(r.out, "-1\n");
        EXPECT_EQ(r.status, 255);
    }
}

}  // namespace
