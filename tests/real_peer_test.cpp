// The Telnet programs against real third-party servers, not only the device simulator:
// ser2net in front of the simulator's pty (raw TCP, Telnet, Telnet with RFC 2217), and
// inetutils telnetd running a small device script.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

bool Accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// A server process, stopped at the end of the test.
class Server {
public:
    explicit Server(const std::vector<std::string>& argv) : pid_(StartInBackground(argv)) {}
    ~Server() {
        kill(-pid_, SIGKILL);  // the servers and every child they forked
        waitpid(pid_, nullptr, 0);
    }
    bool waitPort(int port) const {
        for (int i = 0; i < 100; ++i) {
            if (Accepts(port)) return true;
            usleep(50000);
        }
        return false;
    }

private:
    pid_t pid_ = -1;
};

TEST(RealPeers, Ser2netRawTelnetAndRfc2217) {
    if (!fs::exists("/usr/sbin/ser2net")) GTEST_SKIP() << "needs ser2net";
    DevSim device({"--pty", "COM7", "--eol", "crlf", "ID?=>say:DEV 7", "LONG?=>say:" + std::string(500, 'L')});
    struct Port {
        std::string accepter;
        int number;
    };
    std::vector<Port> ports = {{"", FreePort()}, {"telnet,", FreePort()}, {"telnet(rfc2217),", FreePort()}};
    std::string config = device.portDir() + "/ser2net.yaml";
    {
        std::ofstream out(config);
        for (const Port& p : ports)
            out << "connection: &p" << p.number << "\n  accepter: " << p.accepter << "tcp,127.0.0.1," << p.number
                << "\n  connector: serialdev," << device.portDir() << "/COM7,115200n81,local\n";
    }
    Server ser2net({"/usr/sbin/ser2net", "-n", "-c", config, "-P", device.portDir() + "/ser2net.pid"});
    for (const Port& p : ports) {
        ASSERT_TRUE(ser2net.waitPort(p.number)) << p.accepter;
        usleep(100000);  // ser2net lets go of the device after a connection closes
        std::string hostAndPort = "127.0.0.1," + std::to_string(p.number);
        RunResult r = RunProgram("opquery_multi", {"!q", "!m", "DEV 7", "ID?", hostAndPort});
        EXPECT_EQ(r.out, "1\n") << p.accepter << r.err;
        usleep(100000);
        RunResult responses =
            RunProgram("opquery_multi_responses", {"T", "!m", std::string(500, 'L') + "_", "LONG?", hostAndPort});
        EXPECT_EQ(responses.out, "1\n") << p.accepter << responses.err;
        usleep(100000);
        RunResult block = RunProgram("opquery", {"!q", "!m", "DEV", "ID?", hostAndPort});
        EXPECT_EQ(block.out, "1\n") << p.accepter << block.err;
    }
}

TEST(RealPeers, InetutilsTelnetd) {
    if (!fs::exists("/usr/sbin/telnetd") || !fs::exists("/usr/bin/socat")) GTEST_SKIP() << "needs telnetd and socat";
    // telnetd serves a pty; this script plays the device on it.
    std::string dir = MakeTempDir();
    std::string script = dir + "/device.sh";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\nwhile read line; do echo \"DEV 7\"; done\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    int port = FreePort();
    Server telnetd({"/usr/bin/socat", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
                    "EXEC:/usr/sbin/telnetd -h -E " + script});
    ASSERT_TRUE(telnetd.waitPort(port));
    // telnetd's pty echoes the command line (the server does the echo, as it negotiated):
    // the second line read is the reply.
    RunResult r = RunProgram("opquery_multi", {"!q", "!m", "DEV 7", "ID?", "127.0.0.1," + std::to_string(port), "2", "2"});
    EXPECT_EQ(r.out, "1\n") << r.err;
    EXPECT_EQ(r.status, 1);
}

}  // namespace
