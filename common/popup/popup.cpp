// Chooses the popup back end once per process and forwards the popups to it.
#include "popup/popup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/library_loader.h"
#include "os/program_args.h"
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

const char* guiFailure(int error) {
    return error == kPopupNoDisplay ? "cannot open the display" : "the gui module is missing";
}

PopupBackend& chooseBackend() {
    const char* choice = std::getenv("STEPTOOLS_POPUP");
    if (choice == nullptr || *choice == '\0') choice = "auto";
    if (std::strcmp(choice, "tty") == 0) return TtyPopupBackend();
    int error = 0;
    if (std::strcmp(choice, "gui") == 0) {
        if (PopupBackend* gui = loadGuiBackend(error)) return *gui;
        std::fprintf(stderr, "popups: %s\n", guiFailure(error));
        static UnavailableBackend unavailable(error);
        return unavailable;
    }
    if (std::strcmp(choice, "auto") != 0)
        std::fprintf(stderr, "popups: unknown STEPTOOLS_POPUP \"%s\", using auto\n", choice);
    if (DesktopAvailable()) {
        if (PopupBackend* gui = loadGuiBackend(error)) return *gui;
        std::fprintf(stderr, "popups: %s, asking on the terminal\n", guiFailure(error));
    }
    return TtyPopupBackend();
}

PopupBackend& backend() {
    static PopupBackend& chosen = chooseBackend();
    return chosen;
}

}  // namespace

// The operator reads an argument as the caller wrote it (os/program_args.h).
int MessagePopup(const char* title, const char* message) {
    double start = RecordClock();
    std::string text = ArgumentText(message);
    RecordPopupShown(start, title, text.c_str());
    int r = backend().message(title, text.c_str());
    RecordPopup(start, title, text.c_str(), r == 0 ? 1 : r);  // a dismissed message: OK
    return r;
}

int ConfirmPopup(const char* title, const char* message) {
    double start = RecordClock();
    std::string text = ArgumentText(message);
    RecordPopupShown(start, title, text.c_str());
    int r = backend().confirm(title, text.c_str());
    RecordPopup(start, title, text.c_str(), r);
    return r;
}
