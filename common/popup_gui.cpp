// The gui popup back end: FLTK modal dialogs. It is a module of its own that a program
// loads at its first gui popup, so a step that shows no popup never loads FLTK or X11.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <string>

#include "popup.h"

namespace {

constexpr int kFontSize = 20;      // readable at arm's length
constexpr int kTextWidth = 520;
constexpr int kMargin = 24;
constexpr int kButtonWidth = 120;
constexpr int kButtonHeight = 44;

// FLTK reads "@" in labels as a symbol; "@@" shows the character itself.
std::string literalLabel(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        out += *p;
        if (*p == '@') out += '@';
    }
    return out;
}

// Puts the dialog above other windows and gives it the keyboard once it is on screen.
void raiseAndFocus(Fl_Window& window) {
    for (int i = 0; i < 200 && window.shown(); ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(fl_display, fl_xid(&window), &attributes) && attributes.map_state == IsViewable) {
            XRaiseWindow(fl_display, fl_xid(&window));
            XSetInputFocus(fl_display, fl_xid(&window), RevertToParent, CurrentTime);
            XFlush(fl_display);
            return;
        }
        Fl::wait(0.01);
    }
}

struct Answer {
    Fl_Window* window;
    int value;
};

void answerWith(Answer& answer, int value) {
    answer.value = value;
    answer.window->hide();
}

// Shows one modal dialog and returns its answer: 1 Yes, 0 No or dismissed.
int runDialog(const char* title, const char* text, bool question) {
    std::string label = literalLabel(text);
    fl_font(FL_HELVETICA, kFontSize);
    int textWidth = kTextWidth;
    int textHeight = 0;
    fl_measure(label.c_str(), textWidth, textHeight);
    textWidth = kTextWidth;
    if (textHeight < kFontSize) textHeight = kFontSize;
    int width = kTextWidth + 2 * kMargin;
    int height = kMargin + textHeight + kMargin + kButtonHeight + kMargin;

    Fl_Double_Window window(width, height);
    window.copy_label(title);
    window.set_modal();
    Answer answer{&window, 0};
    // Escape and the window's close button: the message is dismissed, the question is No.
    window.callback([](Fl_Widget*, void* a) { answerWith(*static_cast<Answer*>(a), 0); }, &answer);

    Fl_Box box(kMargin, kMargin, textWidth, textHeight);
    box.copy_label(label.c_str());
    box.labelsize(kFontSize);
    box.align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_WRAP);

    int buttonY = height - kMargin - kButtonHeight;
    if (question) {
        // Plain buttons that never take the keyboard focus: Enter and Space answer nothing,
        // only "y", "n", Escape or a click do.
        auto* yes = new Fl_Button(width - 2 * (kButtonWidth + kMargin), buttonY, kButtonWidth, kButtonHeight, "Yes");
        auto* no = new Fl_Button(width - kButtonWidth - kMargin, buttonY, kButtonWidth, kButtonHeight, "No");
        yes->shortcut('y');
        no->shortcut('n');
        for (Fl_Button* b : {yes, no}) {
            b->labelsize(kFontSize);
            b->clear_visible_focus();
        }
        yes->callback([](Fl_Widget*, void* a) { answerWith(*static_cast<Answer*>(a), 1); }, &answer);
        no->callback([](Fl_Widget*, void* a) { answerWith(*static_cast<Answer*>(a), 0); }, &answer);
    } else {
        auto* ok = new Fl_Return_Button(width - kButtonWidth - kMargin, buttonY, kButtonWidth, kButtonHeight, "OK");
        ok->labelsize(kFontSize);
        ok->callback([](Fl_Widget*, void* a) { answerWith(*static_cast<Answer*>(a), 0); }, &answer);
    }
    window.end();
    window.position((Fl::w() - width) / 2, (Fl::h() - height) / 2);
    window.show();
    raiseAndFocus(window);
    while (window.shown()) Fl::wait();
    Fl::flush();
    return answer.value;
}

class GuiBackend : public PopupBackend {
public:
    int message(const char* title, const char* text) override { return runDialog(title, text, false); }
    int confirm(const char* title, const char* text) override { return runDialog(title, text, true); }
};

}  // namespace

// The back end, or null when the X display cannot be opened.
extern "C" PopupBackend* StepToolsGuiPopupBackend() {
    static GuiBackend backend;
    static bool opened = false;
    if (!opened) {
        // Opened here first: FLTK ends the process when it cannot open the display itself.
        Display* display = XOpenDisplay(nullptr);
        if (display == nullptr) return nullptr;
        fl_open_display(display);
        opened = true;
    }
    return &backend;
}
