// serial end to end, against the device simulator on a pseudo-terminal.
#include <gtest/gtest.h>

#include "serial/serial_baud.h"
#include "test_support.h"

namespace {

DevSim& Device() {
    static DevSim sim({"--pty", "COM7", "--eol", "crlf",
                       "ID?=>say:DEV 7",
                       "SHORT?=>raw:DE",
                       "SILENT?=>",
                       "BANG=>say:OK",
                       "LETTERS=>raw:ABCDEwxyzQR",
                       "TINY=>raw:ABC",
                       "GETSN=>say:SN WXYZ",
                       "getmac=>say:MAC 00-1A-2B-3C-4D-5E",
                       "0102=>say:TEXTMODE",
                       "hex:0102=>hex:0304",
                       "hex:0103=>hex:03",
                       "hex:0104=>hex:0305",
                       "hex:0105=>hex:03040506",
                       "hex:0106=>hex:0000FF00",
                       "hex:0107=>hex:00010203040506070809",
                       "PAUSE=>raw:DEV;wait:300;say: 7"});
    return sim;
}

RunResult Serial(const std::vector<std::string>& args) {
    return RunProgram("serial", args, Device().env());
}

struct SerialCase {
    std::string name;
    std::vector<std::string> args;
    std::string out;
    int status;
};

class SerialOutcomes : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SerialOutcomes, PrintsTheOutcomeWithItsStatus) {
    const SerialCase& c = GetParam();
    RunResult r = Serial(c.args);
    EXPECT_EQ(r.out, c.out) << r.err;
    EXPECT_EQ(r.status, c.status);
}

// The block read waits for its whole timeout: the cases give 0.3 s where they can.
INSTANTIATE_TEST_SUITE_P(
    Table, SerialOutcomes,
    ::testing::Values(
        SerialCase{"TextMatchIgnoresCase", {"COM7,300", "ID?", "Dev"}, "1\n", 0},
        SerialCase{"TextMismatch", {"COM7", "ID?", "DEVICE", "x", "0.3"}, "0\n", 0},
        SerialCase{"ReplyShorterThanExpected", {"COM7", "SHORT?", "Dev", "x", "0.3"}, "0\n", 0},
        SerialCase{"NoReply", {"COM7", "SILENT?", "Dev", "x", "0.3"}, "-1\n", 0},
        SerialCase{"EmptyExpectedMatchesAnyReply", {"COM7", "ID?", "", "x", "0.3"}, "1\n", 0},
        SerialCase{"BangReadsToTheCarriageReturn", {"COM7", "BANG", "!"}, "1\n", 1},
        SerialCase{"BangWithNoReply", {"COM7", "SILENT?", "!", "x", "0.3"}, "-1\n", 0},
        SerialCase{"QuestionPrintsTheReply", {"COM7", "ID?", "?", "x", "0.3"}, "DEV 7\r\n", 1},
        SerialCase{"LowerCPrintsBytes5To8", {"COM7", "LETTERS", "c", "x", "0.3"}, "wxyz", 1},
        SerialCase{"LowerCAnyText", {"COM7", "LETTERS", "ch1", "x", "0.3"}, "wxyz", 1},
        SerialCase{"LowerCShortReply", {"COM7", "TINY", "c", "x", "0.3"}, "", 1},
        SerialCase{"UpperCIsCompared", {"COM7", "LETTERS", "Ch1", "x", "0.3"}, "0\n", 0},
        SerialCase{"MismatchPrintsReplyInMode2", {"COM7", "ID?", "XYZ", "2", "0.3"}, "DEV 7\r\n", 0},
        SerialCase{"MatchInMode2", {"COM7", "ID?", "DEV", "2", "0.3"}, "1\n", 0},
        SerialCase{"ResultSizeExtractsTheTail", {"COM7", "GETSN", "SN", "x", "0.3", "4"}, "WXYZ", 0},
        SerialCase{"ResultSizeWholeReply", {"COM7", "GETSN", "SN", "x", "0.3", "7"}, "SN WXYZ", 0},
        SerialCase{"ResultSizeZero", {"COM7", "GETSN", "SN", "x", "0.3", "0"}, "", 0},
        SerialCase{"ResultSizeMismatch", {"COM7", "GETSN", "XX", "x", "0.3", "4"}, "-5\n", 0},
        SerialCase{"ResultSizeMismatchMode2", {"COM7", "GETSN", "XX", "2", "0.3", "4"}, "-5\n", 0},
        // Sizes that do not fit the reply extract nothing outside it.
        SerialCase{"ResultSizeBeyondReply", {"COM7", "GETSN", "SN", "x", "0.3", "8"}, "-5\n", 0},
        SerialCase{"ResultSizeNegative", {"COM7", "GETSN", "SN", "x", "0.3", "-1"}, "-5\n", 0},
        SerialCase{"ResultSizeHuge", {"COM7", "GETSN", "SN", "x", "0.3", "1e30"}, "-5\n", 0},
        SerialCase{"MacAddressesNormalised",
                   {"COM7", "getmac", "MAC 00:1a:2b:3c:4d:5e", "x", "0.3"},
                   "Checking :\nChecking :\nChecking :\nChecking :\nChecking :\n"
                   "Checking -\nChecking -\nChecking -\nChecking -\nChecking -\n1\n", 0},
        SerialCase{"BinaryMatch", {"COM7", "0102", "0304", "binary", "0.3"}, "1\n", 0},
        SerialCase{"BinaryReplyIsBeginningOfExpected", {"COM7", "0103", "0304", "binary", "0.3"}, "1\n", 0},
        SerialCase{"BinaryMismatch", {"COM7", "0104", "0304", "binary", "0.3"}, "0\n", 0},
        SerialCase{"BinaryReplyLongerThanExpected", {"COM7", "0105", "0304", "binary", "0.3"}, "1\n", 0},
        SerialCase{"BinaryZeroBytesCompared", {"COM7", "0106", "0000FF00", "binary", "0.3"}, "1\n", 0},
        SerialCase{"BinaryZeroBytesDiffer", {"COM7", "0106", "0000FF01", "binary", "0.3"}, "0\n", 0},
        SerialCase{"BinaryLowerCPrints", {"COM7", "0107", "c0", "binary", "0.3"}, "\x05\x06\x07\x08", 1},
        SerialCase{"BinaryUpperCCompared", {"COM7", "0107", "C0", "binary", "0.3"}, "0\n", 0},
        SerialCase{"MissingPort", {"COM99", "ID?", "DEV", "x", "0.3"}, "-1\n", 0}),
    [](const auto& info) { return info.param.name; });

TEST(Serial, ArgumentFourSelectsBinaryMode) {
    // In binary mode "0102" goes out as two bytes and 03 04 comes back; as text it is a
    // line that the device answers with TEXTMODE.
    for (const std::string mode : {"binary", "BINARY", "Binary", "1", "1x"}) {
        EXPECT_EQ(Serial({"COM7", "0102", "0304", mode, "0.3"}).out, "1\n") << mode;
    }
    for (const std::string mode : {"0", "text", "binary2", "2", ""}) {
        EXPECT_EQ(Serial({"COM7", "0102", "TEXTMODE", mode, "0.3"}).out, "1\n") << mode;
    }
    EXPECT_EQ(Serial({"COM7", "0102", "TEXTMODE"}).out, "1\n");
    std::string log = Device().log();
    EXPECT_NE(log.find("pty rx \\x01\\x02\n"), std::string::npos) << log;  // no carriage return added
}

TEST(Serial, LongCommandsAndHexTextsAreSentWhole) {
    std::string command(3000, 'Q');
    Serial({"COM7", command, "x", "x", "0.2"});
    std::string hex;
    for (int i = 0; i < 2500; ++i) hex += "A5";
    Serial({"COM7", hex, "00", "binary", "0.2"});
    std::string bytes;
    for (int i = 0; i < 2500; ++i) bytes += "\\xA5";
    // What the device received, in the chunks it logged, joined.
    auto received = [] {
        std::string all, log = Device().log();
        for (size_t at = log.find("pty rx "); at != std::string::npos; at = log.find("pty rx ", at + 1))
            all += log.substr(at + 7, log.find('\n', at) - at - 7);
        return all;
    };
    for (int i = 0; i < 500 && received().find(bytes) == std::string::npos; ++i) usleep(10000);
    EXPECT_NE(received().find(command + "\\r"), std::string::npos);
    EXPECT_NE(received().find(bytes), std::string::npos);
}

TEST(Serial, OddBaudRatesAreSetAndWork) {
    SKIP_UNDER_WINE(kWineBaud);
    PtyDevice device("COM8");
    for (long rate : {14400L, 31250L, 56000L, 250000L}) {
        const std::string text = std::to_string(rate);
        EXPECT_EQ(Serial({"COM7," + text, "ID?", "!", "x", "2"}).out, "1\n") << rate;
        RunProgram("serial", {"COM8," + text, "ID?", "!", "x", "0.05"}, device.env());
        EXPECT_EQ(TerminalBaud(device.slaveFd()), rate);
    }
    for (const std::string refused : {"COM7,0", "COM7,-300", "COM7,99999999999"}) {
        RunResult r = Serial({refused, "ID?", "Dev", "x", "0.3"});
        EXPECT_EQ(r.out, "-1\n") << refused;
        EXPECT_NE(r.err.find("baud rate"), std::string::npos) << r.err;
    }
}

RunResult SerialWithInterByte(const std::string& ms, const std::vector<std::string>& args) {
    auto env = Device().env();
    env["STEPTOOLS_INTERBYTE_MS"] = ms;
    return RunProgram("serial", args, env);
}

TEST(Serial, InterByteEndClosesABlockReadAfterTheReply) {
    RunResult r = SerialWithInterByte("5", {"COM7", "ID?", "Dev", "x", "20"});
    EXPECT_EQ(r.out, "1\n") << r.err;
    EXPECT_LT(r.seconds, 10) << "the read waited for its timeout";
    // The timeout still bounds a read that gets nothing.
    EXPECT_EQ(SerialWithInterByte("5", {"COM7", "SILENT?", "Dev", "x", "0.3"}).out, "-1\n");
    // What it risks: a pause inside the reply longer than N leaves the tail on the line.
    EXPECT_EQ(Serial({"COM7", "PAUSE", "DEV 7", "x", "1"}).out, "1\n");
    EXPECT_EQ(SerialWithInterByte("50", {"COM7", "PAUSE", "DEV 7", "x", "1"}).out, "0\n");
    usleep(500000);  // the tail comes after the run: let it pass before the next step
}

TEST(Serial, InterByteValueThatIsNoNumberIsIgnoredWithAWarning) {
    for (const std::string bad : {"abc", "-5", "0", "5ms"}) {
        RunResult r = SerialWithInterByte(bad, {"COM7", "PAUSE", "DEV 7", "x", "1"});
        EXPECT_EQ(r.out, "1\n") << bad;
        EXPECT_NE(r.err.find("STEPTOOLS_INTERBYTE_MS"), std::string::npos) << bad;
    }
}

TEST(Serial, UsageLineNamesTheProgramWithoutItsDirectory) {
    // On Windows argv[0] is the executable's own file name.
    std::string name = UnderWine() ? "serial.exe" : "serial";
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"COM7"}, {"COM7", "ID?"}}) {
        RunResult r = Serial(args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "usage: " + name + " <comport> <command> <expected output> [binary]\n");
        EXPECT_EQ(r.status, 1);
    }
}

}  // namespace
