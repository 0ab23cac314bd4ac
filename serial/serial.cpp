// serial: sends one command over a serial port, reads the reply and prints a verdict or a
// piece of the reply. No popups, no Telnet.
//
//   serial <comport> <command> <expected output> [binary] [timeout] [result size]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "arguments.h"
#include "os/deadline.h"
#include "link_functions.h"
#include "mac_convert.h"
#include "program_output.h"
#include "serial/serial_port.h"
#include "record/step_record.h"

namespace {

constexpr int kReadSize = 256;
constexpr int kMaxResultSize = 511;

[[noreturn]] void usage(const char* name) {
    std::fprintf(stderr, "usage: %s <comport> <command> <expected output> [binary]\n", ProgramFileName(name).c_str());
    RecordExit(1);
    std::exit(1);
}

// STEPTOOLS_INTERBYTE_MS: milliseconds of silence after a byte that end a block read early
// (opt-in; 0 when unset). A value that is not a positive number is ignored, with a warning.
double interByteSeconds() {
    const char* text = std::getenv("STEPTOOLS_INTERBYTE_MS");
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    double ms = std::strtod(text, &end);
    if (*end != '\0' || !(ms > 0) || ms > kMaxTimeoutSeconds * 1000) {
        std::fprintf(stderr, "serial: STEPTOOLS_INTERBYTE_MS=\"%s\" is not a positive number of milliseconds; ignored\n", text);
        return 0;
    }
    return ms / 1000;
}

// Ends the run: closes the port and returns the exit status.
int finish(int status) {
    CloseCom(1);
    return status;
}

}  // namespace

static int runStep(int argc, char** argv) {
    std::vector<char> retval(kReadSize + 1, '\0');
    double time = NumberArgument(argc > 5 ? argv[5] : nullptr, 2.0);
    bool haveResultSize = argc > 6;
    int resultSize = CountArgument(haveResultSize ? argv[6] : nullptr, 0);
    if (argc < 4) usage(argv[0] != nullptr ? argv[0] : "serial");

    std::string expected = argv[3];
    const char* mode = argc > 4 ? argv[4] : nullptr;
    bool binary = mode != nullptr && (strcasecmp(mode, "binary") == 0 || mode[0] == '1');
    bool printReplyOnMismatch = mode != nullptr && mode[0] == '2';

    PortSpec port = SplitPortSpec(argv[1]);
    if (OpenComConfig(1, port.name.c_str(), port.number, 0, 8, 1, 2048, 2048) < 0)
        std::fprintf(stderr, "serial: %s: %s\n", port.name.c_str(), ComLastErrorText().c_str());
    SetComTime(1, time);
    SetComInterByteTime(1, interByteSeconds());

    if (binary) {
        std::vector<unsigned char> bincom = DecodeHex(argv[2]);
        ComWrt(1, reinterpret_cast<const char*>(bincom.data()), static_cast<int>(bincom.size()));
    } else {
        std::string command = std::string(argv[2]) + "\r";
        ComWrt(1, command.data(), static_cast<int>(command.size()));
    }

    int bytesRead = expected[0] == '!' ? ComRdTerm(1, retval.data(), kReadSize, '\r')
                                       : ComRd(1, retval.data(), kReadSize);
    if (bytesRead < 1) {
        PrintOutput("-1\n");
        return finish(0);
    }
    if (expected[0] == '!') {
        PrintOutput("1\n");
        return finish(1);
    }
    if (expected[0] == '?') {
        PrintOutput(retval.data());
        return finish(1);
    }
    if (expected[0] == 'c') {
        char result[5] = {};
        std::memcpy(result, retval.data() + 5, 4);  // retval holds 256 bytes and a terminator
        PrintOutput(result);
        return finish(1);
    }

    // The tail of the reply without its last two bytes (normally CR LF); a size that does
    // not fit the reply extracts nothing.
    std::string check;
    bool resultFits = resultSize >= 0 && resultSize <= kMaxResultSize && resultSize <= bytesRead - 2;
    if (haveResultSize && resultFits) {
        check.assign(retval.data() + (bytesRead - resultSize - 2), static_cast<size_t>(resultSize));
        check.resize(std::strlen(check.c_str()));
    }

    if (binary) {
        // The reply matches when it begins with the expected bytes, or is their beginning.
        std::vector<unsigned char> expectedBytes = DecodeHex(expected);
        size_t compared = std::min(expectedBytes.size(), static_cast<size_t>(bytesRead));
        bool match = std::memcmp(retval.data(), expectedBytes.data(), compared) == 0;
        PrintOutput(match ? "1\n" : "0\n");
        return finish(0);
    }

    std::string command = argv[2];
    stringToUpper(command.data());
    if (command.find("MAC") != std::string::npos) {
        MACConvert(expected.data(), expected.data());
        MACConvert(retval.data(), retval.data());
    }
    bool match = strncasecmp(expected.c_str(), retval.data(), expected.size()) == 0;
    if (match && haveResultSize && resultFits) PrintOutput(check.c_str());
    else if (match && !haveResultSize) PrintOutput("1\n");
    else if (haveResultSize) PrintOutput("-5\n");
    else if (printReplyOnMismatch) PrintOutput(retval.data());
    else PrintOutput("0\n");
    return finish(0);
}

int main(int argc, char** argv) {
    return RunRecorded(argc, argv, runStep);
}
