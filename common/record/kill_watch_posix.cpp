#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "record/kill_watch.h"

namespace {

const char* signalName(int signal) {
    switch (signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    default: return "SIGHUP";
    }
}

}  // namespace

// The signals are blocked in every thread and taken by one thread that waits for them, so
// whatever the program is doing when one comes, the record is written by ordinary code.
void WatchForKill(void (*onKill)(const char*, long long)) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, s);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
    std::thread([set, onKill] {
        int s = 0;
        if (sigwait(&set, &s) != 0) return;
        onKill(signalName(s), 128 + s);
        // Ended as the signal ends it: the parent sees the signal, the shell 128+n.
        signal(s, SIG_DFL);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, s);
        pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        raise(s);
        _exit(128 + s);
    }).detach();
}
