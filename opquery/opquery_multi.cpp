// opquery_multi: sends a command, asks the operator, reads the reply a given number of
// times and passes only when the operator said Yes and the reply begins with the
// expected text.
//
//   opquery_multi <yesnotext> <message> <expected> <command> <port,number> [timeout] [reads]
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "inet.h"
#include "link_functions.h"
#include "operator_dialogue.h"
#include "popup.h"
#include "query_program.h"
#include "serial_port.h"

namespace {

constexpr int kSerialReadSize = 64;
constexpr int kTelnetReadSize = 2047;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) return UsageError();
    const char* question = argv[1];
    const char* message = argv[2];
    const char* expected = argv[3];
    const char* command = argv[4];
    double time = NumberArgument(argc > 6 ? argv[6] : nullptr, 2.0);
    int readCount = CountArgument(argc > 7 ? argv[7] : nullptr, 1);

    std::string comport = argv[5];
    int baud = GetBaud(comport.data());
    comport.resize(std::strlen(comport.c_str()));
    bool send = std::strcmp(command, "!") != 0;
    bool serial = IsSerialLink(comport);

    int c = 0;
    if (serial) {
        // Failures here show up at the reads.
        OpenSerialLink("opquery_multi", comport, baud);
        SetComTime(1, time);
        if (send) {
            std::string bincom = std::string(command) + "\r";
            ComWrt(1, bincom.data(), static_cast<int>(bincom.size()));
        }
    } else {
        c = OpenTelnetLink("opquery_multi", comport, baud);
        if (c < 0) {
            MessagePopup("Message", "ETH Communication error");
            std::fputs("-1\n", stdout);
            return 0;
        }
        if (send) InetTelnetWrite(c, command, "\r", static_cast<long>(std::strlen(command)), nullptr, time);
    }

    int r = 0;
    int t = AskOperator(question, message, r);

    // Each read writes from the start; the reply is ended at the count read, so a shorter
    // reply never shows the rest of a longer earlier one. A read that stores nothing
    // leaves the earlier reply in place.
    // Once the link is gone for good every later read fails too, so the loop ends there
    // with the same verdict; a Telnet timeout is not final.
    std::vector<char> retval(kTelnetReadSize + 1, '\0');
    for (int i = 0; i < readCount; ++i) {
        if (serial) r = ComRdTerm(1, retval.data(), kSerialReadSize, '\r');
        else r = InetTelnetReadUntil(c, retval.data(), kTelnetReadSize, "\n", time);
        if (r > 0) retval[static_cast<size_t>(r)] = '\0';
        if (r < 0 && (serial || r != kInetTimeout)) break;
    }

    if (r < 0) {
        MessagePopup("Message", "Communication error");
        return PrintVerdict(-1);
    }
    bool matches = std::strncmp(retval.data(), expected, std::strlen(expected)) == 0;
    return PrintVerdict(matches ? t : 0);
}
