#include <windows.h>

#include "record/kill_watch.h"

namespace {

void (*killed)(const char*, long long) = nullptr;

// Windows runs console control handlers on a thread of their own.
BOOL WINAPI onControl(DWORD event) {
    const char* name = event == CTRL_C_EVENT       ? "CTRL_C_EVENT"
                       : event == CTRL_BREAK_EVENT ? "CTRL_BREAK_EVENT"
                       : event == CTRL_CLOSE_EVENT ? "CTRL_CLOSE_EVENT"
                                                   : nullptr;
    if (name == nullptr || killed == nullptr) return FALSE;
    killed(name, static_cast<long long>(STATUS_CONTROL_C_EXIT));
    return FALSE;  // the default handler ends the process, as without us
}

}  // namespace

void WatchForKill(void (*onKill)(const char*, long long)) {
    killed = onKill;
    SetConsoleCtrlHandler(onControl, TRUE);
}
