// Sockets on POSIX (Linux).
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "os/deadline.h"
#include "telnet/inet.h"
#include "socket_layer.h"

namespace {

// Acknowledges received segments at once: a server that sent a small segment (a
// negotiation answer) holds its next one under Nagle until that ACK arrives. The kernel
// clears the flag again by itself, so it is set after every receive.
void acknowledgeAtOnce(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

int connectWithin(const addrinfo* address, const timespec& deadline, int* error) {
    int fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    address->ai_protocol);
    if (fd < 0) {
        *error = kInetOutOfResources;
        return -1;
    }
    if (connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            close(fd);
            *error = kInetConnectFailed;
            return -1;
        }
        int revents = WaitFor(fd, POLLOUT, deadline);
        int soError = 0;
        socklen_t length = sizeof soError;
        if (revents <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0 || soError != 0) {
            close(fd);
            *error = revents == 0 ? kInetTimeout : kInetConnectFailed;
            return -1;
        }
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    acknowledgeAtOnce(fd);
    return fd;
}

}  // namespace

int ConnectSocket(const char* host, unsigned short port, const timespec& deadline, Socket& socket) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (getaddrinfo(host, std::to_string(port).c_str(), &hints, &addresses) != 0 || addresses == nullptr)
        return kInetUnknownHost;
    int error = kInetConnectFailed;
    int fd = -1;
    for (addrinfo* a = addresses; a != nullptr && fd < 0; a = a->ai_next) fd = connectWithin(a, deadline, &error);
    freeaddrinfo(addresses);
    if (fd < 0) return error;
    socket = fd;
    return 0;
}

int SendAll(Socket socket, const char* data, size_t size, const timespec& deadline) {
    int fd = static_cast<int>(socket);
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);  // a reset peer must not raise SIGPIPE
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            int revents = WaitFor(fd, POLLOUT, deadline);
            if (revents == 0) return kInetTimeout;
            if (revents < 0 || (revents & (POLLERR | POLLHUP | POLLNVAL))) return kInetConnectionClosed;
            continue;
        }
        return (errno == EPIPE || errno == ECONNRESET) ? kInetConnectionClosed : kInetNetworkError;
    }
    return 0;
}

int ReceiveSome(Socket socket, char* buffer, size_t size, const timespec& deadline) {
    int fd = static_cast<int>(socket);
    for (;;) {
        int revents = WaitFor(fd, POLLIN, deadline);
        if (revents == 0) return 0;
        if (revents < 0) return kInetNetworkError;
        ssize_t n = recv(fd, buffer, size, 0);
        acknowledgeAtOnce(fd);
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return kInetConnectionClosed;
        if (errno == EAGAIN || errno == EINTR) continue;  // a spurious wake-up: look again
        return errno == ECONNRESET ? kInetConnectionClosed : kInetNetworkError;
    }
}

void CloseSocket(Socket socket) {
    close(static_cast<int>(socket));
}
