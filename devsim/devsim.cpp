// devsim: plays the device under test on a pseudo-terminal and on a Telnet port, for the
// demo, the tests and the benchmarks. See --help.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "log_escape.h"
#include "telnet/telnet_codec.h"

namespace {

const char* kHelp =
    "usage: devsim [options] [RULE...]\n"
    "  --pty NAME      make a pseudo-terminal reachable as NAME: a path, or a name in\n"
    "                  $STEPTOOLS_PORT_DIR (default /dev)\n"
    "  --telnet PORT   listen for Telnet on 127.0.0.1:PORT (0: any free port)\n"
    "  --negotiate     offer WILL ECHO, WILL and DO SUPPRESS-GO-AHEAD and DO TERMINAL-TYPE on\n"
    "                  connect, as telnetd and ser2net do\n"
    "  --eol EOL       line end of say: items: cr (default), lf, crlf or none\n"
    "  --rules FILE    read rules from FILE, one a line (# starts a comment)\n"
    "  --log FILE      append what the device receives and sends to FILE, one event a\n"
    "                  line (rx/tx: data, net: Telnet bytes as they came, command: a\n"
    "                  command taken, option: the client's negotiation)\n"
    "When ready it prints one line on standard output: ready pty=PATH telnet=PORT\n"
    "RULE is MATCH=>REPLY. MATCH is a command line without its line end, hex:HEX for raw\n"
    "bytes (no line end), * for any line, or @connect for each new Telnet connection.\n"
    "REPLY is items joined by ';':\n"
    "  say:TEXT  TEXT and the line end     raw:TEXT  TEXT alone\n"
    "  hex:HEX   bytes                     wait:MS   pause\n"
    "  slow:MS   pause MS before each later byte\n"
    "  fill:N    N bytes of X, no line end (a device that floods)\n"
    "  drop      hang up: close the pty (a new one takes its name) or the connection\n"
    "  reset     Telnet: reset the connection (RST); on the pty the same as drop\n"
    "TEXT takes the escapes \\r \\n \\t \\\\ \\; and \\xHH. An empty REPLY stays silent.\n";

struct Rule {
    bool any = false;
    bool onConnect = false;
    bool raw = false;     // match raw bytes without a line end
    std::string match;
    std::string reply;    // the items, unparsed
};

std::vector<Rule> rules;
std::string eol = "\r";
FILE* logFile = nullptr;
volatile sig_atomic_t stopping = 0;

void logLine(const std::string& link, const std::string& what) {
    if (logFile == nullptr) return;
    std::fprintf(logFile, "%s %s\n", link.c_str(), what.c_str());
    std::fflush(logFile);
}

bool decodeHex(const std::string& hex, std::string& out) {
    if (hex.size() % 2 != 0) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        std::string pair = hex.substr(i, 2);
        long v = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0') return false;
        out += static_cast<char>(v);
    }
    return true;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char e = text[++i];
        if (e == 'r') out += '\r';
        else if (e == 'n') out += '\n';
        else if (e == 't') out += '\t';
        else if (e == 'x' && i + 2 < text.size()) {
            std::string byte;
            if (decodeHex(text.substr(i + 1, 2), byte)) out += byte;
            i += 2;
        } else out += e;
    }
    return out;
}

// Splits at ';' that are not escaped.
std::vector<std::string> splitItems(const std::string& reply) {
    std::vector<std::string> items;
    std::string item;
    for (size_t i = 0; i < reply.size(); ++i) {
        if (reply[i] == '\\' && i + 1 < reply.size()) {
            item += reply[i];
            item += reply[++i];
        } else if (reply[i] == ';') {
            items.push_back(item);
            item.clear();
        } else item += reply[i];
    }
    if (!item.empty()) items.push_back(item);
    return items;
}

bool parseRule(const std::string& text, Rule& rule) {
    size_t arrow = text.find("=>");
    if (arrow == std::string::npos) return false;
    std::string match = text.substr(0, arrow);
    rule.reply = text.substr(arrow + 2);
    if (match == "*") rule.any = true;
    else if (match == "@connect") rule.onConnect = true;
    else if (match.compare(0, 4, "hex:") == 0) {
        rule.raw = true;
        if (!decodeHex(match.substr(4), rule.match)) return false;
    } else rule.match = unescape(match);
    return true;
}

void pauseMs(long ms) {
    if (ms > 0) usleep(static_cast<useconds_t>(ms) * 1000);
}

// A place the device talks through: the pty or one Telnet connection.
class Link {
public:
    virtual ~Link() = default;
    virtual std::string name() const = 0;
    virtual void send(const std::string& bytes) = 0;
    virtual void hangUp() = 0;
    virtual void reset() { hangUp(); }
    std::string inbox;  // received bytes not yet taken as a command
};

// Plays a reply's items. Returns false when the link was hung up.
bool playReply(Link& link, const std::string& reply) {
    long slowMs = 0;
    for (const std::string& item : splitItems(reply)) {
        std::string bytes;
        if (item.compare(0, 4, "say:") == 0) bytes = unescape(item.substr(4)) + eol;
        else if (item.compare(0, 4, "raw:") == 0) bytes = unescape(item.substr(4));
        else if (item.compare(0, 4, "hex:") == 0) decodeHex(item.substr(4), bytes);
        else if (item.compare(0, 5, "wait:") == 0) pauseMs(std::atol(item.c_str() + 5));
        else if (item.compare(0, 5, "slow:") == 0) slowMs = std::atol(item.c_str() + 5);
        else if (item.compare(0, 5, "fill:") == 0) bytes.assign(static_cast<size_t>(std::max(0L, std::atol(item.c_str() + 5))), 'X');
        else if (item == "drop" || item == "reset") {
            logLine(link.name(), item);
            if (item == "drop") link.hangUp();
            else link.reset();
            return false;
        } else std::fprintf(stderr, "devsim: unknown reply item \"%s\"\n", item.c_str());
        if (bytes.empty()) continue;
        logLine(link.name(), "tx " + LogEscaped(bytes.substr(0, 200)));
        if (slowMs <= 0) link.send(bytes);
        else
            for (char ch : bytes) {
                pauseMs(slowMs);
                link.send(std::string(1, ch));
            }
    }
    return true;
}

const Rule* findRule(const std::string& line) {
    for (const Rule& r : rules)
        if (!r.raw && !r.any && !r.onConnect && r.match == line) return &r;
    for (const Rule& r : rules)
        if (r.any) return &r;
    return nullptr;
}

// Takes the commands that the inbox holds and answers them.
void serveInbox(Link& link) {
    while (!link.inbox.empty()) {
        const Rule* raw = nullptr;
        for (const Rule& r : rules)
            if (r.raw && link.inbox.size() >= r.match.size() && link.inbox.compare(0, r.match.size(), r.match) == 0) {
                raw = &r;
                break;
            }
        if (raw != nullptr) {
            logLine(link.name(), "command hex:" + LogEscaped(raw->match));
            link.inbox.erase(0, raw->match.size());
            if (!playReply(link, raw->reply)) return;
            continue;
        }
        size_t end = link.inbox.find_first_of("\r\n");
        if (end == std::string::npos) return;  // wait for the rest of the command
        std::string line = link.inbox.substr(0, end);
        size_t taken = end + 1;
        // CR LF and CR NUL end one line.
        if (link.inbox[end] == '\r' && taken < link.inbox.size() &&
            (link.inbox[taken] == '\n' || link.inbox[taken] == '\0'))
            ++taken;
        link.inbox.erase(0, taken);
        if (line.empty()) continue;
        logLine(link.name(), "command " + LogEscaped(line));
        const Rule* rule = findRule(line);
        if (rule != nullptr && !playReply(link, rule->reply)) return;
    }
}

// Writes what the peer takes. Bytes that a peer leaves untaken for `stallMs` are dropped,
// as a serial line drops what nobody reads: the simulator never stalls on one client.
void writeAll(int fd, const char* data, size_t size, int stallMs) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, stallMs) <= 0) {
                logLine("devsim", "dropped " + std::to_string(size) + " bytes nobody read");
                return;
            }
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else return;
    }
}

class PtyLink : public Link {
public:
    explicit PtyLink(std::string linkPath) : linkPath_(std::move(linkPath)) {}
    ~PtyLink() override { closeFds(); }

    bool create() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return false;
        const char* slaveName = ptsname(master_);
        if (slaveName == nullptr) return false;
        slavePath_ = slaveName;
        // Holding the slave open keeps the master from reporting a hang-up between runs.
        slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) return false;
        termios tio;
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        std::string tmp = linkPath_ + ".new";
        unlink(tmp.c_str());
        return symlink(slavePath_.c_str(), tmp.c_str()) == 0 && rename(tmp.c_str(), linkPath_.c_str()) == 0;
    }
    int fd() const { return master_; }
    const std::string& linkPath() const { return linkPath_; }
    std::string name() const override { return "pty"; }
    void send(const std::string& bytes) override { writeAll(master_, bytes.data(), bytes.size(), 100); }
    void hangUp() override {
        closeFds();
        inbox.clear();
        hungUp_ = true;
    }
    bool takeHangUp() {
        bool h = hungUp_;
        hungUp_ = false;
        return h;
    }

private:
    void closeFds() {
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
        slave_ = master_ = -1;
    }
    std::string linkPath_;
    std::string slavePath_;
    int master_ = -1;
    int slave_ = -1;
    bool hungUp_ = false;
};

// As telnetd and ser2net: this end echoes and suppresses go-ahead, and lets the client
// suppress go-ahead and send its terminal type.
const std::vector<telnet::AcceptedOption> kServerOptions = {
    {telnet::kEcho, true, false},
    {telnet::kSuppressGoAhead, true, true},
    {telnet::kTerminalType, false, true},
};

class TelnetLink : public Link {
public:
    explicit TelnetLink(int fd) : fd_(fd) {}
    ~TelnetLink() override {
        if (fd_ >= 0) close(fd_);
    }
    int fd() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    std::string name() const override { return "telnet"; }
    void send(const std::string& bytes) override { sendRaw(telnet::Codec::escape(bytes)); }
    void hangUp() override {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    void reset() override {
        linger abort{1, 0};  // closing with a zero linger sends RST
        if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        hangUp();
    }
    void negotiate() {
        sendRaw(telnet_.request(telnet::kWill, telnet::kEcho) + telnet_.request(telnet::kWill, telnet::kSuppressGoAhead) +
                telnet_.request(telnet::kDo, telnet::kSuppressGoAhead) + telnet_.request(telnet::kDo, telnet::kTerminalType));
    }
    // Feeds received socket bytes through the protocol and answers the commands.
    void receive(const char* data, size_t size) {
        static const char* kVerbs[] = {"WILL", "WONT", "DO", "DONT"};
        logLine("telnet", "net " + LogEscaped(std::string(data, size)));
        std::string bytes, reply;
        telnet_.receive(std::string_view(data, size), bytes, reply, [](unsigned char verb, unsigned char option) {
            logLine("telnet", std::string("option ") + kVerbs[verb - telnet::kWill] + " " + std::to_string(option));
        });
        sendRaw(reply);
        if (!bytes.empty()) {
            logLine("telnet", "rx " + LogEscaped(bytes));
            inbox.append(bytes);
        }
        if (fd_ >= 0) serveInbox(*this);
    }

private:
    void sendRaw(const std::string& wire) {
        if (fd_ >= 0 && !wire.empty()) writeAll(fd_, wire.data(), wire.size(), 2000);
    }
    int fd_;
    telnet::Codec telnet_{kServerOptions};
};

int listenOn(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int boundPort(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

bool loadRules(const char* path) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        Rule rule;
        if (!parseRule(line, rule)) {
            std::fprintf(stderr, "devsim: bad rule \"%s\"\n", line.c_str());
            return false;
        }
        rules.push_back(rule);
    }
    return true;
}

void onSignal(int) { stopping = 1; }

}  // namespace

int main(int argc, char** argv) {
    std::string ptyName;
    int telnetPort = -1;
    bool negotiate = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--pty" && hasValue) ptyName = argv[++i];
        else if (arg == "--telnet" && hasValue) telnetPort = std::atoi(argv[++i]);
        else if (arg == "--negotiate") negotiate = true;
        else if (arg == "--eol" && hasValue) {
            std::string e = argv[++i];
            eol = e == "lf" ? "\n" : e == "crlf" ? "\r\n" : e == "none" ? "" : "\r";
        } else if (arg == "--rules" && hasValue) {
            if (!loadRules(argv[++i])) {
                std::fprintf(stderr, "devsim: cannot read rules from %s\n", argv[i]);
                return 2;
            }
        } else if (arg == "--log" && hasValue) {
            logFile = std::fopen(argv[++i], "a");
        } else {
            Rule rule;
            if (!parseRule(arg, rule)) {
                std::fprintf(stderr, "devsim: bad argument \"%s\"\n%s", arg.c_str(), kHelp);
                return 2;
            }
            rules.push_back(rule);
        }
    }
    if (ptyName.empty() && telnetPort < 0) {
        std::fputs(kHelp, stderr);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTERM, onSignal);
    signal(SIGINT, onSignal);

    std::unique_ptr<PtyLink> pty;
    if (!ptyName.empty()) {
        const char* dir = std::getenv("STEPTOOLS_PORT_DIR");
        std::string path = ptyName.find('/') != std::string::npos
                               ? ptyName
                               : std::string(dir != nullptr && *dir ? dir : "/dev") + "/" + ptyName;
        pty = std::make_unique<PtyLink>(path);
        if (!pty->create()) {
            std::fprintf(stderr, "devsim: cannot make the pseudo-terminal %s: %s\n", path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    int listener = -1;
    if (telnetPort >= 0) {
        listener = listenOn(telnetPort);
        if (listener < 0) {
            std::fprintf(stderr, "devsim: cannot listen on port %d: %s\n", telnetPort, std::strerror(errno));
            return 1;
        }
    }
    std::printf("ready");
    if (pty) std::printf(" pty=%s", pty->linkPath().c_str());
    if (listener >= 0) std::printf(" telnet=%d", boundPort(listener));
    std::printf("\n");
    std::fflush(stdout);

    std::vector<std::unique_ptr<TelnetLink>> clients;
    while (!stopping) {
        std::vector<pollfd> fds;
        if (pty) fds.push_back({pty->fd(), POLLIN, 0});
        if (listener >= 0) fds.push_back({listener, POLLIN, 0});
        size_t polledClients = clients.size();  // a client accepted below has no entry in fds
        for (auto& c : clients) fds.push_back({c->fd(), POLLIN, 0});
        if (poll(fds.data(), fds.size(), 200) <= 0) continue;
        size_t at = 0;
        if (pty) {
            if (fds[at].revents & POLLIN) {
                char buf[4096];
                ssize_t n = read(pty->fd(), buf, sizeof buf);
                if (n > 0) {
                    logLine("pty", "rx " + LogEscaped(std::string(buf, static_cast<size_t>(n))));
                    pty->inbox.append(buf, static_cast<size_t>(n));
                    serveInbox(*pty);
                }
            }
            if (pty->takeHangUp() && !pty->create()) {
                std::fprintf(stderr, "devsim: cannot make a new pseudo-terminal\n");
                return 1;
            }
            ++at;
        }
        if (listener >= 0) {
            if (fds[at].revents & POLLIN) {
                int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd >= 0) {
                    int one = 1;
                    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    clients.push_back(std::make_unique<TelnetLink>(fd));
                    logLine("telnet", "connect");
                    if (negotiate) clients.back()->negotiate();
                    for (const Rule& r : rules)
                        if (r.onConnect && !playReply(*clients.back(), r.reply)) break;
                }
            }
            ++at;
        }
        for (size_t i = 0; i < polledClients; ++i, ++at) {
            if (!(fds[at].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            ssize_t n = read(clients[i]->fd(), buf, sizeof buf);
            if (n > 0) clients[i]->receive(buf, static_cast<size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR)) clients[i]->hangUp();
        }
        for (size_t i = clients.size(); i-- > 0;)
            if (!clients[i]->open()) clients.erase(clients.begin() + static_cast<long>(i));
    }
    if (pty) unlink(pty->linkPath().c_str());
    return 0;
}
