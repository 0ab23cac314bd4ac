// The programs' side of the Telnet operations: loads the Telnet library at the first call
// (library_loader.h) and forwards each call to it. The load is kept single by a lock; a
// failed load is tried again at the next call.
#include <mutex>
#include <string>

#include "telnet/inet.h"
#include "os/library_loader.h"
#include "record/step_record.h"

namespace {

struct Library {
    decltype(&InetTelnetOpen) open = nullptr;
    decltype(&InetTelnetWrite) write = nullptr;
    decltype(&InetTelnetReadUntil) readUntil = nullptr;
    decltype(&InetTelnetRead) read = nullptr;
    decltype(&InetTelnetLastReadCount) lastReadCount = nullptr;
    decltype(&InetTelnetClose) close = nullptr;
    decltype(&InetGetErrorMessage) errorMessage = nullptr;
};

std::mutex loadLock;
bool loaded = false;
Library library;

template <typename Function>
void lookUp(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(FindFunction(handle, name));
}

// Returns 0 once the library is loaded, or kInetLoadFailed.
int loadLibrary() {
    std::lock_guard<std::mutex> guard(loadLock);
    if (loaded) return 0;
    void* handle = LoadModule("stepinet");
    if (handle == nullptr) return kInetLoadFailed;
    lookUp(handle, "InetTelnetOpen", library.open);
    lookUp(handle, "InetTelnetWrite", library.write);
    lookUp(handle, "InetTelnetReadUntil", library.readUntil);
    lookUp(handle, "InetTelnetRead", library.read);
    lookUp(handle, "InetTelnetLastReadCount", library.lastReadCount);
    lookUp(handle, "InetTelnetClose", library.close);
    lookUp(handle, "InetGetErrorMessage", library.errorMessage);
    loaded = true;  // never unloaded
    return 0;
}

// Runs the load step and finds the entry point: 0 when `function` can be called.
template <typename Function>
int ready(Function& function) {
    int r = loadLibrary();
    if (r < 0) return r;
    return function == nullptr ? kInetMissingFunction : 0;
}

}  // namespace

extern "C" {

int InetTelnetOpen(const char* host, unsigned short port, int connectTimeoutMs) {
    int r = ready(library.open);
    return r < 0 ? r : library.open(host, port, connectTimeoutMs);
}

int InetTelnetWrite(int handle, const char* data, const char* lineTerminator, long count,
                    long* bytesWritten, double timeoutSeconds) {
    double start = RecordClock();
    int r = ready(library.write);
    if (r == 0) r = library.write(handle, data, lineTerminator, count, bytesWritten, timeoutSeconds);
    if (Recording()) {
        // The data and its line end as handed over (before 0xFF is escaped on the wire).
        std::string bytes = data == nullptr ? "" : count < 0 ? std::string(data) : std::string(data, static_cast<size_t>(count));
        if (lineTerminator != nullptr) bytes += lineTerminator;
        RecordSend(start, bytes, r);
    }
    return r;
}

int InetTelnetReadUntil(int handle, char* buffer, long maxBytes, const char* match, double timeoutSeconds) {
    double start = RecordClock();
    int r = ready(library.readUntil);
    if (r == 0) r = library.readUntil(handle, buffer, maxBytes, match, timeoutSeconds);
    if (Recording()) RecordRead(start, std::string_view(buffer, static_cast<size_t>(r > 0 ? r : 0)), r);
    return r;
}

int InetTelnetRead(int handle, char* buffer, long maxBytes, const char* endText, double timeoutSeconds) {
    double start = RecordClock();
    int r = ready(library.read);
    if (r == 0) r = library.read(handle, buffer, maxBytes, endText, timeoutSeconds);
    if (Recording()) {
        int count = r == 0 && library.lastReadCount != nullptr ? library.lastReadCount(handle) : 0;
        RecordRead(start, std::string_view(buffer, static_cast<size_t>(count > 0 ? count : 0)), r);
    }
    return r;
}

int InetTelnetLastReadCount(int handle) {
    int r = ready(library.lastReadCount);
    return r < 0 ? r : library.lastReadCount(handle);
}

int InetTelnetClose(int handle) {
    int r = ready(library.close);
    return r < 0 ? r : library.close(handle);
}

const char* InetGetErrorMessage(int error) {
    // While the library cannot be used, the text tells why instead of the library's.
    int r = ready(library.errorMessage);
    if (r < 0) error = r;
    switch (error) {
        case kInetLoadFailed: return "Failed to load library DLL";
        case kInetMissingFunction: return "Failed to find a function in library DLL";
        case kInetLockFailed: return "Failed to create necessary lock object";
        default: return library.errorMessage(error);
    }
}

}  // extern "C"
