// Chooses the popup back end once per process and forwards the popups to it.
#include "popup/popup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/library_loader.h"
#include "record/step_record.h"

namespace {

// Stands in for the gui back end where it is not available: every popup fails.
class UnavailableBackend : public PopupBackend {
public:
    explicit UnavailableBackend(int error) : error_(error) {}
    int message(const char*, const char*) override { return error_; }
    int confirm(const char*, const char*) override { return error_; }

private:
    int error_;
};

// Loads the gui module and opens the display. Null, with the reason in `error`, when
// either fails.
PopupBackend* loadGuiBackend(int& error) {
    void* module = LoadModule("steppopup_gui");
    auto make = module == nullptr ? nullptr
                                  : reinterpret_cast<PopupBackend* (*)()>(FindFunction(module, "StepToolsGuiPopupBackend"));
    if (make == nullptr) {
        error = kPopupNoGuiModule;
        return nullptr;
    }
    PopupBackend* gui = make();
    if (gui == nullptr) error = kPopupNoDisplay;
    return gui;
}

PopupBackend& chooseBackend() {
    const char* choice = std::getenv("STEPTOOLS_POPUP");
    if (choice == nullptr || *choice == '\0') choice = "auto";
    if (std::strcmp(choice, "tty") == 0) return TtyPopupBackend();
    int error = 0;
    if (std::strcmp(choice, "gui") == 0) {
        if (PopupBackend* gui = loadGuiBackend(error)) return *gui;
        std::fprintf(stderr, "popups: %s\n", error == kPopupNoDisplay ? "cannot open the display" : "the gui module is missing");
        static UnavailableBackend unavailable(error);
        return unavailable;
    }
    if (std::strcmp(choice, "auto") != 0)
        std::fprintf(stderr, "popups: unknown STEPTOOLS_POPUP \"%s\", using auto\n", choice);
    if (DesktopAvailable()) {
        if (PopupBackend* gui = loadGuiBackend(error)) return *gui;
    }
    return TtyPopupBackend();
}

PopupBackend& backend() {
    static PopupBackend& chosen = chooseBackend();
    return chosen;
}

}  // namespace

int MessagePopup(const char* title, const char* message) {
    double start = RecordClock();
    int r = backend().message(title, message);
    RecordPopup(start, title, message, r == 0 ? 1 : r);  // a dismissed message: OK
    return r;
}

int ConfirmPopup(const char* title, const char* message) {
    double start = RecordClock();
    int r = backend().confirm(title, message);
    RecordPopup(start, title, message, r);
    return r;
}
