// Modal operator popups. The back end is chosen at the first popup by STEPTOOLS_POPUP:
// "tty" (a prompt on the terminal), "gui" (a window, from the module steppopup_gui) or
// "auto" (the default: gui when a desktop is available and the module opens it, else tty).
// Popups never write to standard output.
#pragma once

enum PopupError {
    kPopupNoTerminal = -1,   // no controlling terminal to ask on
    kPopupEndOfInput = -2,   // the terminal closed before the operator answered
    kPopupNoDisplay = -3,    // the gui back end could not open the display
    kPopupNoGuiModule = -4,  // the gui back end is not installed beside the program
};

// Shows `message` under `title` and waits until the operator dismisses it.
// Returns 0 once dismissed, or a PopupError.
int MessagePopup(const char* title, const char* message);

// Asks a yes/no question. Returns 1 for Yes, 0 for No, or a PopupError.
int ConfirmPopup(const char* title, const char* message);

// One way of asking the operator.
class PopupBackend {
public:
    virtual ~PopupBackend() = default;
    virtual int message(const char* title, const char* text) = 0;
    virtual int confirm(const char* title, const char* text) = 0;
};

// The terminal back end: /dev/tty on Linux, the console on Windows.
PopupBackend& TtyPopupBackend();

// Whether gui popups can be expected to show: a display is set (Linux), the session is
// interactive (Windows). Used by "auto"; terminal_posix.cpp and terminal_win32.cpp.
bool DesktopAvailable();
