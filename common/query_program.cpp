#include "query_program.h"

#include <cstdio>

#include "telnet/inet.h"
#include "popup/popup.h"
#include "program_output.h"
#include "serial/serial_port.h"
#include "record/step_record.h"

int UsageError() {
    MessagePopup("Message", kUsageText);
    PrintOutput("-1\n");
    return -1;
}

bool IsSerialLink(const std::string& comport) {
    return !comport.empty() && (comport[0] == 'C' || comport[0] == '/');
}

int OpenTelnetLink(const char* program, const std::string& host, int number) {
    bool inRange = number >= 1 && number <= 65535;
    RecordTelnetLink(host, number);  // before the connect: a step killed in it says where to
    int c = inRange ? InetTelnetOpen(host.c_str(), static_cast<unsigned short>(number), 0) : kInetBadArgument;
    RecordOpen(c);
    if (c < 0)
        std::fprintf(stderr, "%s: cannot open Telnet link to %s port %d: %s\n", program, host.c_str(), number,
                     inRange ? InetGetErrorMessage(c) : "port out of range");
    return c;
}

int OpenSerialLink(const char* program, const std::string& device, int baud) {
    int r = OpenComConfig(1, device.c_str(), baud, 0, 8, 1, 512, 512);
    if (r < 0) std::fprintf(stderr, "%s: %s: %s\n", program, device.c_str(), ComLastErrorText().c_str());
    return r;
}

int TelnetOpenFailure() {
    MessagePopup("Message", "ETH Communication error");
    PrintOutput("-1\n");
    return 0;
}

void SendOnLink(bool serial, int c, const std::string& bytes, const char* terminator, double timeout) {
    if (serial) {
        std::string line = bytes + terminator;
        ComWrt(1, line.data(), static_cast<int>(line.size()));
    } else {
        InetTelnetWrite(c, bytes.data(), terminator, static_cast<long>(bytes.size()), nullptr, timeout);
    }
}

int CommunicationError() {
    MessagePopup("Message", "Communication error");
    return PrintVerdict(-1);
}

int PrintVerdict(int verdict) {
    PrintOutput(std::to_string(verdict) + "\n");
    std::fflush(stdout);  // the line is out whatever happens at exit
    return verdict;
}
