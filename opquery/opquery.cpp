// opquery: the operator query with hex commands and binary replies. Sends a command (text,
// or "H" and hex digits sent as raw bytes), asks the operator, reads the reply once and
// checks it as text or, for an "H" expected reply, as bytes.
//
//   opquery <yesnotext> <message> <expected> <command> <port,number> [timeout]
#include <algorithm>
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

constexpr int kSerialReadSize = 256;
constexpr int kTelnetReadSize = 255;
constexpr size_t kBinaryCompareSize = 4;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) return UsageError();
    const char* question = argv[1];
    const char* message = argv[2];
    const char* expected = argv[3];
    const char* command = argv[4];
    double time = NumberArgument(argc > 6 ? argv[6] : nullptr, 2.0);

    std::string comport = argv[5];
    int baud = GetBaud(comport.data());
    comport.resize(std::strlen(comport.c_str()));
    bool serial = IsSerialLink(comport);

    int r = 0;
    int c = 0;
    if (serial) {
        r = OpenSerialLink("opquery", comport, baud);
        SetComTime(1, time);
    } else {
        c = OpenTelnetLink("opquery", comport, baud);  // a failed open shows at the read
    }

    if (command[0] != '!') {
        // A hex command goes out as its bytes alone, on either link.
        std::string bytes;
        const char* terminator = "";
        if (command[0] == 'H') {
            std::vector<unsigned char> decoded = DecodeHex(command + 1);
            bytes.assign(decoded.begin(), decoded.end());
        } else {
            bytes = command;
            terminator = "\r";
        }
        if (serial) {
            bytes += terminator;
            ComWrt(1, bytes.data(), static_cast<int>(bytes.size()));
        } else {
            InetTelnetWrite(c, bytes.data(), terminator, static_cast<long>(bytes.size()), nullptr, time);
        }
    }

    int t = AskOperator(question, message, r);

    if (expected[0] != '!') {
        std::vector<char> retval(kSerialReadSize + 1, '\0');  // the reply always ends in a zero byte
        if (serial) r = ComRdTerm(1, retval.data(), kSerialReadSize, '\r');
        else r = InetTelnetRead(c, retval.data(), kTelnetReadSize, "\r", time) == 0 ? 1 : -1;
        if (r < 1) {
            MessagePopup("Message", "Communication error");
            return PrintVerdict(-1);
        }
        bool match;
        if (expected[0] == 'H') {
            // The reply's first four bytes, or as many as the expected reply decodes to.
            std::vector<unsigned char> bytes = DecodeHex(expected + 1);
            size_t compared = std::min(bytes.size(), kBinaryCompareSize);
            match = std::memcmp(retval.data(), bytes.data(), compared) == 0;
        } else {
            match = std::strncmp(retval.data(), expected, std::strlen(expected)) == 0;
        }
        r = match ? t : 0;
    }
    return PrintVerdict(r);
}
