// What the gui popup modules share: the kinds of popup, the texts beside the operator's
// text, the input guard, and the module's entry point (popup_gui.cpp) around each system's
// dialog (popup_gui_gtk.cpp, popup_gui_win32.cpp).
#pragma once

#include <string>

enum class PopupKind { Message, Question, Failure };

// The failure popup is the message titled "The following Test failed   ".
PopupKind KindOf(const char* title, bool question);

// The failure popup shows its title in the window too, as a heading (without the blanks).
std::string FailureHeading(const char* title);

// Under every question's buttons.
inline constexpr const char* kAnswerHint = "Y = Yes, N or Esc = No";

// No key or click acts until a popup has been on screen and focused this long (again after
// it gets the focus back). Long enough to swallow the rest of a word typed into another
// window or a barcode scan's Enter (keys come every 30 to 150 ms), and the second click of
// a double-click (at most 400 ms by default on X and Windows); short enough that an
// operator who reads the text never meets it.
inline constexpr int kInputGuardMilliseconds = 400;

// Each system's side: starts the gui once (false when there is no desktop), and shows one
// popup until it is answered: 1 Yes, 0 No or dismissed.
bool StartGui();
int RunDialog(PopupKind kind, const char* title, const char* text);
