// The Telnet client's receive path against a peer that sends any bytes (Telnet commands,
// options, 0xFF, NUL) and then closes: reads of every kind until the connection's end,
// and a write to the closed peer, which must not raise SIGPIPE.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "telnet/inet.h"

namespace {
int listener = -1;
unsigned short listenPort = 0;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 4) != 0) std::abort();
    socklen_t length = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length);
    listenPort = ntohs(addr.sin_port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int kind = data[0] % 3;
    long maxBytes = 1 + data[1] % 64;
    int c = InetTelnetOpen("127.0.0.1", listenPort, 1000);
    if (c < 0) std::abort();
    int peer = accept(listener, nullptr, nullptr);
    if (size > 2 && send(peer, data + 2, size - 2, MSG_NOSIGNAL) < 0) std::abort();
    close(peer);
    std::vector<char> buffer(static_cast<size_t>(maxBytes) + 1);
    for (int reads = 0; reads < 10000; ++reads) {
        int r = kind == 0   ? InetTelnetReadUntil(c, buffer.data(), maxBytes, "\n", 1.0)
                : kind == 1 ? InetTelnetReadUntil(c, buffer.data(), maxBytes, "", 1.0)
                            : InetTelnetRead(c, buffer.data(), maxBytes, "\r", 1.0);
        if (r < 0) break;
        if (kind != 2 && r > maxBytes) std::abort();
    }
    InetTelnetWrite(c, "PING", "\r", -1, nullptr, 1.0);
    InetTelnetWrite(c, "PING", "\r", -1, nullptr, 1.0);
    InetTelnetClose(c);
    return 0;
}
