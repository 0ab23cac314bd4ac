// The Telnet client library against a raw loopback peer that this test plays byte by byte.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "telnet/inet.h"

namespace {

class LoopbackPeer {
public:
    explicit LoopbackPeer(int backlog = 4) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listener_, backlog);
        socklen_t length = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
        port_ = ntohs(addr.sin_port);
    }
    ~LoopbackPeer() {
        if (peer_ >= 0) close(peer_);
        close(listener_);
    }
    unsigned short port() const { return port_; }
    // Connects the client and accepts it.
    int connectClient() {
        int c = InetTelnetOpen("127.0.0.1", port_, 2000);
        peer_ = accept(listener_, nullptr, nullptr);
        return c;
    }
    void send(const std::string& bytes) { ::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    std::string receive(double seconds) {
        std::string got;
        pollfd p{peer_, POLLIN, 0};
        while (poll(&p, 1, static_cast<int>(seconds * 1000)) > 0) {
            char buf[4096];
            ssize_t n = recv(peer_, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }
    void reset() {
        linger abort{1, 0};
        setsockopt(peer_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close(peer_);
        peer_ = -1;
    }

private:
    int listener_ = -1;
    int peer_ = -1;
    unsigned short port_ = 0;
};

std::string readUntil(int c, const char* match, double seconds = 1.0, int* result = nullptr) {
    char buf[256] = {};
    int r = InetTelnetReadUntil(c, buf, 255, match, seconds);
    if (result != nullptr) *result = r;
    return r > 0 ? std::string(buf, static_cast<size_t>(r)) : "";
}

TEST(TelnetClient, StartsNoNegotiationAndAnswersTheServers) {
    LoopbackPeer peer;
    int c = peer.connectClient();
    ASSERT_GE(c, 0);
    EXPECT_EQ(peer.receive(0.1), "");
    // WILL ECHO, DO TERMINAL-TYPE, WILL SUPPRESS-GO-AHEAD, DO SUPPRESS-GO-AHEAD, then data.
    peer.send("\xFF\xFB\x01\xFF\xFD\x18\xFF\xFB\x03\xFF\xFD\x03OK\r\n");
    EXPECT_EQ(readUntil(c, "\n"), "OK\r\n");  // commands stripped from the data
    // DO ECHO, WONT TERMINAL-TYPE, DO and WILL SUPPRESS-GO-AHEAD.
    EXPECT_EQ(peer.receive(0.1), "\xFF\xFD\x01\xFF\xFC\x18\xFF\xFD\x03\xFF\xFB\x03");
    // Asked again, it does not answer again: negotiation never loops.
    peer.send("\xFF\xFB\x03\xFF\xFD\x03" "AGAIN\n");
    EXPECT_EQ(readUntil(c, "\n"), "AGAIN\n");
    EXPECT_EQ(peer.receive(0.1), "");
    InetTelnetClose(c);
}

TEST(TelnetClient, EscapesAndUnescapesFF) {
    LoopbackPeer peer;
    int c = peer.connectClient();
    peer.send(std::string("A\xFF\xFF\x00" "B\n", 6));
    EXPECT_EQ(readUntil(c, "\n"), std::string("A\xFF\x00" "B\n", 5));
    long written = 0;
    EXPECT_EQ(InetTelnetWrite(c, "\xFF\x01", "\r", 2, &written, 1.0), 0);
    EXPECT_EQ(written, 2);
    EXPECT_EQ(peer.receive(0.1), "\xFF\xFF\x01\r");
    InetTelnetClose(c);
}

TEST(TelnetClient, ReadsLeaveLaterDataForTheNextRead) {
    LoopbackPeer peer;
    int c = peer.connectClient();
    peer.send("ONE\nTWO\nTHR");
    EXPECT_EQ(readUntil(c, "\n"), "ONE\n");
    EXPECT_EQ(readUntil(c, "\n"), "TWO\n");
    int r = 0;
    EXPECT_EQ(readUntil(c, "\n", 0.2, &r), "");
    EXPECT_EQ(r, kInetTimeout);  // no line end in time
    peer.send("EE\n");
    EXPECT_EQ(readUntil(c, "\n"), "THREE\n");
    InetTelnetClose(c);
}

TEST(TelnetClient, BlockReadEndsAtItsTextItsSizeOrTheTimeout) {
    LoopbackPeer peer;
    int c = peer.connectClient();
    peer.send("AB\rCDEFG");
    char buf[8] = {};
    EXPECT_EQ(InetTelnetRead(c, buf, 7, "\r", 1.0), 0);
    EXPECT_STREQ(buf, "AB\r");
    EXPECT_EQ(InetTelnetRead(c, buf, 3, "\r", 1.0), 0);
    EXPECT_EQ(std::string(buf, 3), "CDE");
    EXPECT_EQ(InetTelnetRead(c, buf, 7, "\r", 0.2), 0);  // what came within the timeout
    EXPECT_STREQ(buf, "FG");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InetTelnetRead(c, buf, 7, "\r", 0.3), kInetTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));  // fractions kept
    InetTelnetClose(c);
}

TEST(TelnetClient, PeerThatResetsMidReadOrMidWriteIsAnErrorNotASignal) {
    LoopbackPeer peer;
    int c = peer.connectClient();
    peer.send("PA");
    peer.reset();
    int r = 0;
    readUntil(c, "\n", 2.0, &r);
    EXPECT_EQ(r, kInetConnectionClosed);
    std::string big(1 << 20, 'W');
    EXPECT_LT(InetTelnetWrite(c, big.data(), "\r", static_cast<long>(big.size()), nullptr, 1.0), 0);
    EXPECT_LT(InetTelnetWrite(c, "PING", "\r", -1, nullptr, 1.0), 0);  // still alive: no SIGPIPE
    InetTelnetClose(c);
}

TEST(TelnetClient, ConnectToAHostThatNeverAnswersIsBounded) {
    // A listener whose queue is full drops further connection requests unanswered.
    LoopbackPeer full(0);
    std::vector<int> queued;
    for (int i = 0; i < 4; ++i) {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(full.port());
        connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        queued.push_back(s);
    }
    usleep(100000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InetTelnetOpen("127.0.0.1", full.port(), 300), kInetTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    for (int s : queued) close(s);
}

TEST(TelnetClient, BadHandlesAndArguments) {
    char buf[4];
    EXPECT_EQ(InetTelnetReadUntil(-1, buf, 4, "\n", 0), kInetBadHandle);
    EXPECT_EQ(InetTelnetRead(12345, buf, 4, "\r", 0), kInetBadHandle);
    EXPECT_EQ(InetTelnetWrite(-7, "x", "\r", 1, nullptr, 0), kInetBadHandle);
    EXPECT_EQ(InetTelnetClose(-1), kInetBadHandle);
    EXPECT_EQ(InetTelnetOpen(nullptr, 23, 0), kInetBadArgument);
    EXPECT_EQ(InetTelnetOpen("no-such-host.invalid", 23, 0), kInetUnknownHost);
    EXPECT_STREQ(InetGetErrorMessage(kInetTimeout), "Timed out");
}

}  // namespace
