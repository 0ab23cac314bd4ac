// opquery_multi end to end, as a station runs it: against the device simulator on a
// pseudo-terminal and on Telnet, with an operator answering at a terminal.
#include <gtest/gtest.h>

#include <filesystem>

#include "serial/serial_port.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kUsage =
    "Usage: opquery <yesnotext> [message text] [serial input] [serial command] [comport,baudrate]";

const std::vector<std::string> kRules = {
    "LAMP?=>say:LAMP ON",
    "SILENT?=>",
    "TWO?=>say:LONGREPLY;say:SHORT",
    "LATE?=>wait:100;say:LATE",
    "DIE?=>raw:PAR;wait:100;drop",
    "*=>say:ECHO",
};

DevSim& Device() {
    static DevSim sim([] {
        std::vector<std::string> args = {"--pty", "COM7", "--telnet", "0", "--negotiate", "--eol", "crlf"};
        args.insert(args.end(), kRules.begin(), kRules.end());
        return args;
    }());
    return sim;
}

RunResult Multi(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
    env.merge(Device().env());
    return RunProgram("opquery_multi", args, env);
}

struct VerdictCase {
    std::string name;
    std::vector<std::string> args;  // after the port argument: timeout, reads
    std::string expected;
    std::string command;
    std::string out;
    int status;
};

class OpqueryMultiVerdicts : public ::testing::TestWithParam<std::tuple<VerdictCase, bool>> {};

TEST_P(OpqueryMultiVerdicts, PrintsAndReturnsTheVerdict) {
    const auto& [c, telnet] = GetParam();
    if (c.name.find("Vanish") != std::string::npos && !telnet) SKIP_UNDER_WINE(kWineVanish);
    std::vector<std::string> args = {"!question", "!message", c.expected, c.command,
                                     Device().linkSpec(telnet)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult r = Multi(args);
    EXPECT_EQ(r.out, c.out) << r.err;
    EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    BothLinks, OpqueryMultiVerdicts,
    ::testing::Combine(
        ::testing::Values(
            VerdictCase{"Match", {}, "LAMP ON", "LAMP?", "1\n", 1},
            VerdictCase{"PrefixMatch", {}, "LAMP", "LAMP?", "1\n", 1},
            VerdictCase{"Mismatch", {}, "LAMP OFF", "LAMP?", "0\n", 0},
            VerdictCase{"LongerThanReply", {}, "LAMP ON AND MORE", "LAMP?", "0\n", 0},
            VerdictCase{"EmptyExpectedMatchesAnyReply", {}, "", "LAMP?", "1\n", 1},
            // A shorter reply is compared alone, never with the rest of a longer earlier one.
            VerdictCase{"ShortAfterLong", {"2", "2"}, "SHORT", "TWO?", "1\n", 1},
            VerdictCase{"NoTailOfEarlierReply", {"2", "2"}, "SHORTEPLY", "TWO?", "0\n", 0},
            VerdictCase{"NoReads", {"2", "0"}, "", "LAMP?", "1\n", 1},
            VerdictCase{"NoReadsNothingToMatch", {"2", "0"}, "LAMP", "LAMP?", "0\n", 0},
            VerdictCase{"ReadCountNotANumber", {"2", "abc"}, "X", "LAMP?", "0\n", 0},
            VerdictCase{"DeviceVanishesMidRead", {}, "PAR", "DIE?", "-1\n", 255},
            // Telnet timeouts keep their fraction: 0.9 s is not 0.
            VerdictCase{"FractionalTimeout", {"0.9"}, "LATE", "LATE?", "1\n", 1}),
        ::testing::Bool()),
    [](const auto& info) {
        return std::get<0>(info.param).name + (std::get<1>(info.param) ? "_Telnet" : "_Serial");
    });

TEST(OpqueryMulti, SilentDeviceFailsOnSerialAndIsAnErrorOnTelnet) {
    // A serial read that gets nothing compares the empty reply; a Telnet read times out.
    RunResult serial = Multi({"!q", "!m", "X", "SILENT?", "COM7,9600", "0.3"});
    EXPECT_EQ(serial.out, "0\n");
    EXPECT_EQ(serial.status, 0);
    RunResult telnet = Multi({"!q", "!m", "X", "SILENT?", Device().telnetSpec(), "0.3"});
    EXPECT_EQ(telnet.out, "-1\n");
    EXPECT_EQ(telnet.status, 255);
    // A later serial read that stores nothing leaves the earlier reply in place; on Telnet
    // the timed-out last read is the communication error.
    RunResult again = Multi({"!q", "!m", "ECHO", "X", "COM7,9600", "0.3", "2"});
    EXPECT_EQ(again.out, "1\n");
    RunResult againTelnet = Multi({"!q", "!m", "ECHO", "X", Device().telnetSpec(), "0.3", "2"});
    EXPECT_EQ(againTelnet.out, "-1\n");
}

TEST(OpqueryMulti, SendsTheCommandWholeAndOnlyWhenAsked) {
    std::string longCommand(60, 'L');
    Multi({"!q", "!m", "", longCommand, "COM7,115200", "0.2"});
    Multi({"!q", "!m", "", "!x", "COM7,115200", "0.2"});
    Multi({"!q", "!m", "", "!", "COM7,115200", "0.2"});
    Multi({"!q", "!m", "", longCommand + "T", Device().telnetSpec(), "0.2"});
    EXPECT_TRUE(Device().waitLog("pty rx " + longCommand + "\\r\n")) << Device().log();
    EXPECT_TRUE(Device().waitLog("pty command !x\n"));
    EXPECT_TRUE(Device().waitLog("telnet command " + longCommand + "T\n"));
    EXPECT_EQ(Device().log().find("command !\n"), std::string::npos);
}

TEST(OpqueryMulti, TelnetAnswersTheServersNegotiation) {
    RunResult r = Multi({"!q", "!m", "LAMP ON", "LAMP?", Device().telnetSpec()});
    EXPECT_EQ(r.out, "1\n");
    EXPECT_TRUE(Device().waitLog("telnet option DO 1\n")) << Device().log();  // accepts ECHO
    EXPECT_TRUE(Device().waitLog("telnet option DO 3\n"));                   // accepts SUPPRESS-GO-AHEAD
    EXPECT_TRUE(Device().waitLog("telnet option WILL 3\n"));                 // both ways
    EXPECT_TRUE(Device().waitLog("\\xFF\\xFC\\x18"));                        // IAC WONT TERMINAL-TYPE
}

TEST(OpqueryMulti, LongHostNameIsUsedWhole) {
    SKIP_UNDER_WINE(kWineMappedAddress);
    std::string host = "0000:0000:0000:0000:0000:ffff:127.0.0.1";
    RunResult r = Multi({"!q", "!m", "LAMP ON", "LAMP?", host + "," + std::to_string(Device().telnetPort())});
    EXPECT_EQ(r.out, "1\n") << r.err;
}

TEST(OpqueryMulti, TelnetOpenFailurePrintsMinusOneWithStatusZero) {
    std::string noLibrary = MakeTempDir() + "/opquery_multi";
    fs::copy_file(BinDir() + "/opquery_multi", noLibrary);
    struct Case {
        std::string program, port, why;
    };
    for (const Case& c : {Case{"opquery_multi", "127.0.0.1,1", "Could not connect"},
                          Case{"opquery_multi", "127.0.0.1,70000", "port out of range"},
                          Case{"opquery_multi", "127.0.0.1,0", "port out of range"},
                          Case{"opquery_multi", "no-such-host.invalid,23", "Unknown host"},
                          Case{noLibrary, Device().telnetSpec(), "Failed to load library DLL"}}) {
        RunResult r = RunProgram(c.program, {"!q", "!m", "X", "LAMP?", c.port});
        EXPECT_EQ(r.out, "-1\n") << c.port;
        EXPECT_EQ(r.status, 0) << c.port;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    }
}

TEST(OpqueryMulti, LowerCaseComIsATelnetHost) {
    RunResult r = Multi({"!q", "!m", "X", "LAMP?", "com7,9600"});
    EXPECT_EQ(r.out, "-1\n");
    EXPECT_EQ(r.status, 0);
}

TEST(OpqueryMulti, PortThatIsMissingOrHeldIsACommunicationError) {
    SKIP_UNDER_WINE(kWineExclusive);
    RunResult missing = Multi({"!q", "!m", "X", "LAMP?", "COM99,9600"});
    EXPECT_EQ(missing.out, "-1\n");
    EXPECT_EQ(missing.status, 255);
    EXPECT_NE(missing.err.find("COM99"), std::string::npos) << missing.err;
    // Found by fuzzing: a huge read count on a link that cannot recover ends at once.
    RunResult many = Multi({"!q", "!m", "X", "LAMP?", "COM99,9600", "0", "2000000000"});
    EXPECT_EQ(many.out, "-1\n");
    EXPECT_EQ(many.status, 255);

    PtyDevice device("COM8");
    setenv("STEPTOOLS_PORT_DIR", device.portDir().c_str(), 1);
    ASSERT_EQ(OpenComConfig(1, "COM8", 9600, 0, 8, 1, 512, 512), 0);  // another program holds it
    RunResult held = RunProgram("opquery_multi", {"!q", "!m", "", "PING", "COM8,9600"}, device.env());
    CloseCom(1);
    EXPECT_EQ(held.out, "-1\n");
    EXPECT_EQ(held.status, 255);
    EXPECT_NE(held.err.find("in use"), std::string::npos) << held.err;
    EXPECT_EQ(device.receive(1, 0.2), "") << "bytes went to a port that another program holds";
}

TEST(OpqueryMulti, UsageErrorIsNeverAPass) {
    SKIP_UNDER_WINE(kWineConsole);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"q"}, {"q", "m", "e", "c"}}) {
        ProgramRun run("opquery_multi", args, {}, true);
        ASSERT_TRUE(run.waitTerminal("Press Enter"));
        EXPECT_NE(run.terminalText().find(kUsage), std::string::npos);
        run.typeTerminal("\n");
        RunResult r = run.finish();
        EXPECT_EQ(r.out, "-1\n");
        EXPECT_EQ(r.status, 255);
    }
}

struct OperatorCase {
    std::string name;
    std::string question, message, expected;
    std::vector<std::string> answers;  // typed after each prompt that appears
    std::string out;
};

class OpqueryMultiOperator : public ::testing::TestWithParam<OperatorCase> {};

TEST_P(OpqueryMultiOperator, VerdictCombinesOperatorAndReply) {
    SKIP_UNDER_WINE(kWineConsole);
    const OperatorCase& c = GetParam();
    std::map<std::string, std::string> env = Device().env();
    ProgramRun run("opquery_multi", {c.question, c.message, c.expected, "LAMP?", "COM7,115200"}, env, true);
    size_t prompts = 0;
    for (const std::string& answer : c.answers) {
        std::string prompt = answer == "\n" && prompts == 0 && c.message[0] != '!' ? "Press Enter" : "Answer y";
        ASSERT_TRUE(run.waitTerminal(prompt)) << run.terminalText();
        ++prompts;
        if (answer == "EOF") run.closeTerminal();
        else run.typeTerminal(answer);
        usleep(20000);
    }
    RunResult r = run.finish();
    EXPECT_EQ(r.out, c.out) << run.terminalText() << r.err;  // the popups never reach standard output
    if (c.message[0] != '!') {
        EXPECT_NE(run.terminalText().find("[Message]\r\n" + c.message), std::string::npos);
    }
    if (c.question[0] != '!') {
        EXPECT_NE(run.terminalText().find("[Question]\r\n" + c.question), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Terminal, OpqueryMultiOperator,
    ::testing::Values(OperatorCase{"YesAndMatch", "Lamp lit?", "!m", "LAMP ON", {"y\n"}, "1\n"},
                      OperatorCase{"NoAndMatch", "Lamp lit?", "!m", "LAMP ON", {"n\n"}, "0\n"},
                      OperatorCase{"YesAndMismatch", "Lamp lit?", "!m", "LAMP OFF", {"yes\n"}, "0\n"},
                      OperatorCase{"AsksAgainUntilYesOrNo", "Lamp lit?", "!m", "LAMP", {"maybe\n", "YES\n"}, "1\n"},
                      OperatorCase{"MessageThenQuestion", "Lamp lit?", "Look at the lamp", "LAMP", {"\n", "y\n"}, "1\n"},
                      OperatorCase{"DismissedMessageAccepts", "!q", "Look at the lamp", "LAMP", {"\n"}, "1\n"},
                      OperatorCase{"TerminalClosedAtQuestion", "Lamp lit?", "!m", "LAMP", {"EOF"}, "0\n"}),
    [](const auto& info) { return info.param.name; });

TEST(OpqueryMulti, NoTerminalAndNoDisplayNeverHangsAndNeverPasses) {
    // The question fails: the operator verdict is 0, the read still decides the error case.
    for (const char* mode : {"tty", "auto"}) {
        RunResult asked = Multi({"Lamp lit?", "Look", "LAMP", "LAMP?", "COM7,115200"}, {{"STEPTOOLS_POPUP", mode}});
        EXPECT_EQ(asked.out, "0\n") << mode;
        EXPECT_EQ(asked.status, 0);
    }
    // With no read, the failed popup's status gives the communication error.
    RunResult noRead = Multi({"Lamp lit?", "!m", "", "LAMP?", "COM7,115200", "2", "0"});
    EXPECT_EQ(noRead.out, "-1\n");
    EXPECT_EQ(noRead.status, 255);
}

}  // namespace
