// Telnet client operations. The programs call the binding functions of these names
// (inet_binding.cpp), which load libstepinet.so at the first call and forward to it;
// the library defines the same functions.
#pragma once

#include <cstddef>

enum InetError {
    kInetUnknownHost = -1,        // the host name does not resolve
    kInetConnectFailed = -2,      // refused or unreachable
    kInetTimeout = -3,            // nothing (or not enough) arrived within the timeout
    kInetConnectionClosed = -4,   // the peer closed or reset the connection
    kInetBadHandle = -5,          // no open connection has this handle
    kInetBadArgument = -6,        // a null buffer or text, or a negative size
    kInetOutOfResources = -7,     // no socket or memory for a new connection
    kInetNetworkError = -8,       // any other socket failure
    kInetLoadFailed = -18,        // the binding could not load libstepinet.so
    kInetMissingFunction = -19,   // the library lacks the function called
    kInetLockFailed = -20,        // the binding could not create its lock
};

extern "C" {

// Connects to `host`:`port`. `connectTimeoutMs` bounds the connect (0: 5000 ms).
// Starts no option negotiation; answers the server's. Returns a handle (0 or more) or an
// InetError.
int InetTelnetOpen(const char* host, unsigned short port, int connectTimeoutMs);

// Sends `count` bytes of `data` (count < 0: up to its NUL) and then the text
// `lineTerminator` (null or "" for none), 0xFF escaped. `bytesWritten`, when not null,
// receives the count of data bytes sent. Returns 0 or an InetError.
int InetTelnetWrite(int handle, const char* data, const char* lineTerminator, long count,
                    long* bytesWritten, double timeoutSeconds);

// Stores received data up to and including `match` (null or "": any data), or `maxBytes`
// bytes, whichever comes first; later data stays for the next read. A NUL follows the
// stored bytes when they are fewer than maxBytes. Returns the count stored (> 0) or an
// InetError (kInetTimeout when the match did not arrive in time).
int InetTelnetReadUntil(int handle, char* buffer, long maxBytes, const char* match,
                        double timeoutSeconds);

// Stores the reply up to and including `endText`, or `maxBytes` bytes, or what arrived
// within the timeout. Returns 0 when anything was stored, else an InetError (nothing
// arrived in time, or the connection broke).
int InetTelnetRead(int handle, char* buffer, long maxBytes, const char* endText,
                   double timeoutSeconds);

// The count of bytes that the last read on the connection stored (0 after a failed read),
// for the step records: InetTelnetRead returns 0, not the count.
int InetTelnetLastReadCount(int handle);

// Closes the connection. Returns 0 or an InetError.
int InetTelnetClose(int handle);

// A readable text for an InetError.
const char* InetGetErrorMessage(int error);

}  // extern "C"
