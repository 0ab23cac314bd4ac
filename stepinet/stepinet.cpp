// libstepinet: the Telnet client that the programs load at run time. It starts no
// negotiation (many device consoles are raw TCP): it accepts the server's ECHO and
// SUPPRESS-GO-AHEAD in both directions, refuses every other option, strips Telnet commands
// from the data and escapes 0xFF (telnet_codec.h).
#include "telnet/inet.h"

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "os/deadline.h"
#include "socket_layer.h"
#include "telnet/telnet_codec.h"

namespace {

constexpr int kDefaultConnectTimeoutMs = 5000;

// Refusing SUPPRESS-GO-AHEAD costs a round of small segments that stalls the reply on the
// server's Nagle and our delayed ACK (about 40 ms a step with ser2net and telnetd).
const std::vector<telnet::AcceptedOption> kAcceptedOptions = {
    {telnet::kEcho, false, true},
    {telnet::kSuppressGoAhead, true, true},
};

struct Connection {
    Socket socket = kNoSocket;
    telnet::Codec telnet{kAcceptedOptions};
    std::string received;        // data bytes not yet handed to a read
    timespec sendDeadline{};     // bounds the socket writes of the current call
    int sendError = 0;           // first failure of a socket write, as an InetError
    int lastReadCount = 0;       // bytes stored by the last read
    ~Connection() {
        if (socket != kNoSocket) CloseSocket(socket);
    }
};

std::mutex connectionsLock;
std::vector<std::unique_ptr<Connection>> connections;

Connection* find(int handle) {
    std::lock_guard<std::mutex> guard(connectionsLock);
    if (handle < 0 || static_cast<size_t>(handle) >= connections.size()) return nullptr;
    return connections[static_cast<size_t>(handle)].get();
}

void sendToSocket(Connection& c, const char* data, size_t size) {
    if (c.sendError == 0) c.sendError = SendAll(c.socket, data, size, c.sendDeadline);
}

// Receives what the socket holds into c.received. Returns the count of socket bytes taken
// (which may decode to no data), 0 when the deadline passed, or an InetError.
int receiveMore(Connection& c, const timespec& deadline) {
    char chunk[4096];
    int n = ReceiveSome(c.socket, chunk, sizeof chunk, deadline);
    if (n <= 0) return n;
    std::string reply;
    c.telnet.receive(std::string_view(chunk, static_cast<size_t>(n)), c.received, reply);
    if (!reply.empty()) {
        // Answers to the server's negotiation go out within a short bound of their own.
        c.sendDeadline = DeadlineAfter(2.0);
        c.sendError = 0;
        sendToSocket(c, reply.data(), reply.size());
    }
    return n;
}

// Hands the first `count` received bytes to the caller's buffer.
long take(Connection& c, char* buffer, long maxBytes, size_t count) {
    std::memcpy(buffer, c.received.data(), count);
    if (static_cast<long>(count) < maxBytes) buffer[count] = '\0';
    c.received.erase(0, count);
    return static_cast<long>(count);
}

// Length of the reply ending with `match` in what was received, or 0 when it has not come.
size_t replyLength(const Connection& c, const char* match) {
    if (match == nullptr || *match == '\0') return c.received.size();
    size_t at = c.received.find(match);
    return at == std::string::npos ? 0 : at + std::strlen(match);
}

// Stores the reply up to and including `endText`, or maxBytes bytes; at the timeout, what
// came so far when `partialAtTimeout` is set. Returns the count stored or an InetError.
int readReplyInto(Connection* c, char* buffer, long maxBytes, const char* endText, double timeoutSeconds,
                  bool partialAtTimeout) {
    if (buffer == nullptr || maxBytes <= 0) return kInetBadArgument;
    if (maxBytes > INT_MAX) maxBytes = INT_MAX;  // the count is returned as an int
    timespec deadline = DeadlineAfter(timeoutSeconds);
    for (;;) {
        size_t length = replyLength(*c, endText);
        if (length > 0 && static_cast<long>(length) <= maxBytes) return static_cast<int>(take(*c, buffer, maxBytes, length));
        if (static_cast<long>(c->received.size()) >= maxBytes)
            return static_cast<int>(take(*c, buffer, maxBytes, static_cast<size_t>(maxBytes)));
        int got = receiveMore(*c, deadline);
        if (got < 0) return got;
        if (got == 0) {
            if (!partialAtTimeout || c->received.empty()) return kInetTimeout;
            return static_cast<int>(take(*c, buffer, maxBytes, c->received.size()));
        }
    }
}

int readReply(int handle, char* buffer, long maxBytes, const char* endText, double timeoutSeconds,
              bool partialAtTimeout) {
    Connection* c = find(handle);
    if (c == nullptr) return kInetBadHandle;
    int r = readReplyInto(c, buffer, maxBytes, endText, timeoutSeconds, partialAtTimeout);
    c->lastReadCount = r > 0 ? r : 0;
    return r;
}

}  // namespace

extern "C" {

int InetTelnetOpen(const char* host, unsigned short port, int connectTimeoutMs) {
    if (host == nullptr) return kInetBadArgument;
    timespec deadline = DeadlineAfter((connectTimeoutMs > 0 ? connectTimeoutMs : kDefaultConnectTimeoutMs) / 1000.0);
    Socket socket = kNoSocket;
    int r = ConnectSocket(host, port, deadline, socket);
    if (r < 0) return r;
    auto connection = std::make_unique<Connection>();
    connection->socket = socket;
    std::lock_guard<std::mutex> guard(connectionsLock);
    connections.push_back(std::move(connection));
    return static_cast<int>(connections.size() - 1);
}

int InetTelnetWrite(int handle, const char* data, const char* lineTerminator, long count,
                    long* bytesWritten, double timeoutSeconds) {
    Connection* c = find(handle);
    if (c == nullptr) return kInetBadHandle;
    if (data == nullptr && count != 0) return kInetBadArgument;
    if (count < 0) count = static_cast<long>(std::strlen(data));
    c->sendDeadline = DeadlineAfter(timeoutSeconds);
    c->sendError = 0;
    std::string line(data != nullptr ? data : "", static_cast<size_t>(count));
    if (lineTerminator != nullptr) line += lineTerminator;
    std::string wire = telnet::Codec::escape(line);
    sendToSocket(*c, wire.data(), wire.size());
    if (bytesWritten != nullptr) *bytesWritten = c->sendError == 0 ? count : 0;
    return c->sendError;
}

int InetTelnetReadUntil(int handle, char* buffer, long maxBytes, const char* match,
                        double timeoutSeconds) {
    return readReply(handle, buffer, maxBytes, match, timeoutSeconds, false);
}

int InetTelnetRead(int handle, char* buffer, long maxBytes, const char* endText, double timeoutSeconds) {
    int r = readReply(handle, buffer, maxBytes, endText, timeoutSeconds, true);
    return r > 0 ? 0 : r;
}

int InetTelnetLastReadCount(int handle) {
    Connection* c = find(handle);
    return c == nullptr ? kInetBadHandle : c->lastReadCount;
}

int InetTelnetClose(int handle) {
    std::lock_guard<std::mutex> guard(connectionsLock);
    if (handle < 0 || static_cast<size_t>(handle) >= connections.size() || !connections[static_cast<size_t>(handle)])
        return kInetBadHandle;
    connections[static_cast<size_t>(handle)].reset();
    return 0;
}

const char* InetGetErrorMessage(int error) {
    switch (error) {
        case 0: return "No error";
        case kInetUnknownHost: return "Unknown host";
        case kInetConnectFailed: return "Could not connect to the host";
        case kInetTimeout: return "Timed out";
        case kInetConnectionClosed: return "The connection was closed by the host";
        case kInetBadHandle: return "Invalid connection handle";
        case kInetBadArgument: return "Invalid argument";
        case kInetOutOfResources: return "Out of resources";
        case kInetNetworkError: return "Network error";
        case kInetLoadFailed: return "Failed to load library DLL";
        case kInetMissingFunction: return "Failed to find a function in library DLL";
        case kInetLockFailed: return "Failed to create necessary lock object";
        default: return "Unknown error";
    }
}

}  // extern "C"
