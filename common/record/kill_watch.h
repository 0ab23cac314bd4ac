// The ends of a step that a program can catch: SIGTERM, SIGINT and SIGHUP on Linux (a
// sequencer's timeout, Ctrl-C, a closed terminal), CTRL_C, CTRL_BREAK and CTRL_CLOSE on
// Windows. kill_watch_posix.cpp and kill_watch_win32.cpp implement it. SIGKILL and
// TerminateProcess cannot be caught.
#pragma once

// From now on, such an end runs `onKill` with its name ("SIGTERM", "CTRL_C_EVENT") and the
// exit status it gives, on a thread of its own (never inside a signal handler, so it may
// take locks and allocate), and then ends the process as that signal or event would.
// Call it before any other thread starts.
void WatchForKill(void (*onKill)(const char* name, long long status));
