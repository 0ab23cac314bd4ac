// Sockets on Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "os/deadline.h"
#include "telnet/inet.h"
#include "socket_layer.h"

namespace {

struct Winsock {
    Winsock() {
        WSADATA data;
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    bool ok = false;
};

bool started() {
    static Winsock winsock;
    return winsock.ok;
}

// Waits for `events` until the deadline: the revents, 0 when it passed, -1 on an error.
int waitFor(SOCKET s, short events, const timespec& deadline) {
    for (;;) {
        long ms = MillisecondsLeft(deadline);
        WSAPOLLFD p{s, events, 0};
        int r = WSAPoll(&p, 1, static_cast<INT>(ms));
        if (r > 0) return p.revents;
        if (r < 0) return -1;
        if (MillisecondsLeft(deadline) <= 0) return 0;
    }
}

// Waits for a connect in progress until the deadline: 1 connected, 0 when the deadline
// passed, -1 refused or failed. With select, whose except set reports a failed connect on
// every Windows version (WSAPoll reports none before Windows 10 2004, so a refused port
// would take the whole connect timeout there).
int waitForConnect(SOCKET s, const timespec& deadline) {
    for (;;) {
        long ms = MillisecondsLeft(deadline);
        if (ms < 0) ms = 0;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval wait{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
        int r = select(0, nullptr, &writable, &failed, &wait);
        if (r < 0) return -1;
        if (FD_ISSET(s, &failed)) return -1;
        int soError = 0;
        int length = sizeof soError;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0 || soError != 0)
            return -1;
        if (FD_ISSET(s, &writable)) return 1;
        if (MillisecondsLeft(deadline) <= 0) return 0;
    }
}

int connectWithin(const addrinfo* address, const timespec& deadline, int* error) {
    SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (s == INVALID_SOCKET) {
        *error = kInetOutOfResources;
        return -1;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            closesocket(s);
            *error = kInetConnectFailed;
            return -1;
        }
        int connected = waitForConnect(s, deadline);
        if (connected <= 0) {
            closesocket(s);
            *error = connected == 0 ? kInetTimeout : kInetConnectFailed;
            return -1;
        }
    }
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return static_cast<int>(s);
}

}  // namespace

int ConnectSocket(const char* host, unsigned short port, const timespec& deadline, Socket& socket) {
    if (!started()) return kInetNetworkError;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (getaddrinfo(host, std::to_string(port).c_str(), &hints, &addresses) != 0 || addresses == nullptr)
        return kInetUnknownHost;
    int error = kInetConnectFailed;
    int s = -1;
    for (addrinfo* a = addresses; a != nullptr && s < 0; a = a->ai_next) s = connectWithin(a, deadline, &error);
    freeaddrinfo(addresses);
    if (s < 0) return error;
    socket = s;
    return 0;
}

int SendAll(Socket socket, const char* data, size_t size, const timespec& deadline) {
    SOCKET s = static_cast<SOCKET>(socket);
    while (size > 0) {
        int n = send(s, data, static_cast<int>(size), 0);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            int revents = waitFor(s, POLLOUT, deadline);
            if (revents == 0) return kInetTimeout;
            if (revents < 0 || (revents & (POLLERR | POLLHUP | POLLNVAL))) return kInetConnectionClosed;
            continue;
        }
        return (error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN) ? kInetConnectionClosed
                                                                                           : kInetNetworkError;
    }
    return 0;
}

int ReceiveSome(Socket socket, char* buffer, size_t size, const timespec& deadline) {
    SOCKET s = static_cast<SOCKET>(socket);
    for (;;) {
        int revents = waitFor(s, POLLIN, deadline);
        if (revents == 0) return 0;
        if (revents < 0) return kInetNetworkError;
        int n = recv(s, buffer, static_cast<int>(size), 0);
        if (n > 0) return n;
        if (n == 0) return kInetConnectionClosed;
        int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) continue;
        return (error == WSAECONNRESET || error == WSAECONNABORTED) ? kInetConnectionClosed : kInetNetworkError;
    }
}

void CloseSocket(Socket socket) {
    closesocket(static_cast<SOCKET>(socket));
}
