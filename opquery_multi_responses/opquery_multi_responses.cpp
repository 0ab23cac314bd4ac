// opquery_multi_responses: sends a command, shows a message, reads a number of reply lines
// and checks each against the next entry of a "_"-terminated list; a mismatch names the
// failing test in a popup.
//
//   opquery_multi_responses <test name> <message> <A_B_...> <command> <port,number>
//                           [timeout] [tests] [lines per test]
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "expected_list.h"
#include "telnet/inet.h"
#include "link_functions.h"
#include "os/program_args.h"
#include "popup/popup.h"
#include "program_output.h"
#include "query_program.h"
#include "serial/serial_port.h"
#include "record/step_record.h"

namespace {

constexpr int kSerialReadSize = 128;
constexpr int kTelnetReadSize = 2047;

// The test that a reply line belongs to, counted from 1: with one line per test each line
// is a test, with two each pair is; any other count leaves it at 0.
class TestCounter {
public:
    explicit TestCounter(double linesPerTest) : linesPerTest_(linesPerTest) {}
    void countLine() {
        if (linesPerTest_ == 1) {
            ++x_;
        } else if (linesPerTest_ == 2) {
            if (!secondOfPair_) ++x_;
            secondOfPair_ = !secondOfPair_;
        }
    }
    int test() const { return x_; }

private:
    double linesPerTest_;
    int x_ = 0;
    bool secondOfPair_ = false;
};

// A reply line without its line ending ("\r\n" or "\n"), up to its first zero byte.
std::string replyLine(const char* buffer) {
    std::string line = buffer;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

static int runStep(int argc, char** argv) {
    if (argc < 6) return UsageError();
    const char* testName = argv[1];
    const char* message = argv[2];
    std::vector<std::string> expected = ExpectedReplies(argv[3]);
    const char* command = argv[4];
    double time = NumberArgument(argc > 6 ? argv[6] : nullptr, 2.0);

    // Without a test count, one line per list entry; without lines per test, one.
    double linesPerTest = NumberArgument(argc > 8 ? argv[8] : nullptr, 1.0);
    int lineCount = argc > 7 ? TruncatedCount(NumberArgument(argv[7], 0) * linesPerTest)
                             : static_cast<int>(expected.size());

    PortSpec port = SplitPortSpec(argv[5]);
    bool send = std::strcmp(command, "!") != 0;
    bool serial = IsSerialLink(port.name);

    int r = 0;
    int c = 0;
    if (serial) {
        r = OpenSerialLink("opquery_multi_responses", port.name, port.number);
        SetComTime(1, time);
        if (r < 0) {
            PrintOutput("-1\n");
            return r;
        }
    } else {
        c = OpenTelnetLink("opquery_multi_responses", port.name, port.number);
        if (c < 0) return TelnetOpenFailure();
    }
    if (send) SendOnLink(serial, c, command, "\r", time);

    if (message[0] != '!') r = MessagePopup("Message", message);
    if (r == 0) r = 1;

    TestCounter counter(linesPerTest);
    size_t next = 0;  // the list entry that the next line is compared with
    std::vector<char> retval(kTelnetReadSize + 1);
    for (int i = 0; i < lineCount; ++i) {
        if (serial) r = ComRdTerm(1, retval.data(), kSerialReadSize, '\r');
        else r = InetTelnetReadUntil(c, retval.data(), kTelnetReadSize, "\n", time);
        // A line that could not be read is never compared or passed over.
        if (r < 0) return CommunicationError();
        if (r == 0) return PrintVerdict(-1);
        retval[static_cast<size_t>(r)] = '\0';
        counter.countLine();
        if (next < expected.size() && replyLine(retval.data()) != expected[next++]) {
            std::string failed = ArgumentText(testName) + " " + std::to_string(counter.test());
            MessagePopup("The following Test failed   ", failed.c_str());
            return PrintVerdict(0);
        }
    }
    if (r > 0) return PrintVerdict(1);
    return CommunicationError();
}

int main(int argc, char** argv) {
    return RunRecorded(argc, argv, runStep);
}
