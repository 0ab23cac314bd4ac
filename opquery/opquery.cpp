// opquery: the operator query with hex commands and binary replies. Sends a command (text,
// or "H" and hex digits sent as raw bytes), asks the operator, reads the reply once and
// checks it as text or, for an "H" expected reply, as bytes.
//
//   opquery <yesnotext> <message> <expected> <command> <port,number> [timeout]
#include <algorithm>
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

constexpr int kSerialReadSize = 256;
constexpr int kTelnetReadSize = 255;
constexpr size_t kBinaryCompareSize = 4;

}  // namespace

static int runStep(int argc, char** argv) {
    if (argc < 6) return UsageError();
    QueryArguments a = ReadQueryArguments(argc, argv);
    bool serial = IsSerialLink(a.port.name);

    int opened = 0;
    int c = 0;
    if (serial) {
        opened = OpenSerialLink("opquery", a.port.name, a.port.number);
        SetComTime(1, a.timeout);
    } else {
        c = OpenTelnetLink("opquery", a.port.name, a.port.number);  // a failed open shows at the end
    }

    if (a.command[0] == 'H') {
        // A hex command goes out as its bytes alone, on either link.
        std::vector<unsigned char> bytes = DecodeHex(a.command + 1);
        SendOnLink(serial, c, std::string(bytes.begin(), bytes.end()), "", a.timeout);
    } else if (a.command[0] != '!') {
        SendOnLink(serial, c, a.command, "\r", a.timeout);
    }

    int r = opened;
    int t = AskOperator(a.question, a.message, r);

    if (a.expected[0] != '!') {
        std::vector<char> retval(kSerialReadSize + 1, '\0');  // the reply always ends in a zero byte
        if (serial) r = ComRdTerm(1, retval.data(), kSerialReadSize, '\r');
        else r = InetTelnetRead(c, retval.data(), kTelnetReadSize, "\r", a.timeout) == 0 ? 1 : -1;
        if (r < 1) return CommunicationError();
        bool match;
        if (a.expected[0] == 'H') {
            // The reply's first four bytes, or as many as the expected reply decodes to.
            std::vector<unsigned char> bytes = DecodeHex(a.expected + 1);
            size_t compared = std::min(bytes.size(), kBinaryCompareSize);
            match = std::memcmp(retval.data(), bytes.data(), compared) == 0;
        } else {
            match = std::strncmp(retval.data(), a.expected, std::strlen(a.expected)) == 0;
        }
        r = match ? t : 0;
    } else if (!serial && c < 0) {
        return CommunicationError();  // no read follows to reveal the dead link
    } else if (opened < 0) {
        r = opened;  // the open's code, whatever the popups said: never a pass
    }
    return PrintVerdict(r);
}

int main(int argc, char** argv) {
    return RunRecorded(argc, argv, runStep);
}
