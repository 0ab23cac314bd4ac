// The sockets under the Telnet client: connecting within a deadline, sending and receiving
// with deadlines, closing. socket_posix.cpp and socket_win32.cpp implement it; results
// are 0, counts or InetErrors (inet.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// Resolves `host` and connects to its `port` by `deadline` (commands are short lines: no
// Nagle delay). Returns 0 and the socket, or an InetError.
int ConnectSocket(const char* host, unsigned short port, const timespec& deadline, Socket& socket);

// Sends all of `data` by `deadline`. Returns 0 or an InetError; a reset peer never raises
// a signal.
int SendAll(Socket socket, const char* data, size_t size, const timespec& deadline);

// Waits until `deadline` for bytes and receives what came into `buffer`. Returns the count,
// 0 when the deadline passed first, or an InetError (kInetConnectionClosed when the peer
// closed or reset).
int ReceiveSome(Socket socket, char* buffer, size_t size, const timespec& deadline);

void CloseSocket(Socket socket);
