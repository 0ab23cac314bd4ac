// opquery_multi: sends a command, asks the operator, reads the reply a given number of
// times and passes only when the operator said Yes and the reply begins with the
// expected text.
//
//   opquery_multi <yesnotext> <message> <expected> <command> <port,number> [timeout] [reads]
#include <cstring>
#include <string>
#include <vector>

#include "telnet/inet.h"
#include "link_functions.h"
#include "operator_dialogue.h"
#include "query_program.h"
#include "serial/serial_port.h"
#include "record/step_record.h"

namespace {

constexpr int kSerialReadSize = 64;
constexpr int kTelnetReadSize = 2047;

}  // namespace

static int runStep(int argc, char** argv) {
    if (argc < 6) return UsageError();
    QueryArguments a = ReadQueryArguments(argc, argv);
    int readCount = CountArgument(argc > 7 ? argv[7] : nullptr, 1);
    bool send = std::strcmp(a.command, "!") != 0;
    bool serial = IsSerialLink(a.port.name);

    int c = 0;
    int opened = 0;
    if (serial) {
        // Failures here show up at the reads, or at the end when no read follows.
        opened = OpenSerialLink("opquery_multi", a.port.name, a.port.number);
        SetComTime(1, a.timeout);
    } else {
        c = OpenTelnetLink("opquery_multi", a.port.name, a.port.number);
        if (c < 0) return TelnetOpenFailure();
    }
    if (send) SendOnLink(serial, c, a.command, "\r", a.timeout);

    int r = 0;
    int t = AskOperator(a.question, a.message, r);

    // Each read writes from the start and the reply ends at the count read, so a shorter
    // reply never shows the rest of a longer earlier one; a read that stores nothing leaves
    // the earlier reply. Once the link is gone for good every later read fails too, so the
    // loop ends there with the same verdict (a Telnet timeout is not final).
    std::vector<char> retval(kTelnetReadSize + 1, '\0');
    for (int i = 0; i < readCount; ++i) {
        if (serial) r = ComRdTerm(1, retval.data(), kSerialReadSize, '\r');
        else r = InetTelnetReadUntil(c, retval.data(), kTelnetReadSize, "\n", a.timeout);
        if (r > 0) retval[static_cast<size_t>(r)] = '\0';
        if (r < 0 && (serial || r != kInetTimeout)) break;
    }

    // A port that never opened is no pass, even when no read was asked for.
    if (r < 0 || (readCount < 1 && opened < 0)) return CommunicationError();
    bool matches = std::strncmp(retval.data(), a.expected, std::strlen(a.expected)) == 0;
    return PrintVerdict(matches ? t : 0);
}

int main(int argc, char** argv) {
    return RunRecorded(argc, argv, runStep);
}
