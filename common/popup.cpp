// Chooses the popup back end once per process and forwards the popups to it.
#include "popup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

bool displaySet() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

PopupBackend& guiBackend() {
    static UnavailableBackend unavailable(kPopupNoGuiModule);
    std::fprintf(stderr, "popups: the gui back end is not available\n");
    return unavailable;
}

PopupBackend& chooseBackend() {
    const char* choice = std::getenv("STEPTOOLS_POPUP");
    if (choice == nullptr || *choice == '\0') choice = "auto";
    if (std::strcmp(choice, "tty") == 0) return TtyPopupBackend();
    if (std::strcmp(choice, "gui") == 0) return guiBackend();
    if (std::strcmp(choice, "auto") != 0)
        std::fprintf(stderr, "popups: unknown STEPTOOLS_POPUP \"%s\", using auto\n", choice);
    (void)displaySet;  // the gui back end is not built yet: auto always means tty
    return TtyPopupBackend();
}

PopupBackend& backend() {
    static PopupBackend& chosen = chooseBackend();
    return chosen;
}

}  // namespace

int MessagePopup(const char* title, const char* message) {
    return backend().message(title, message);
}

int ConfirmPopup(const char* title, const char* message) {
    return backend().confirm(title, message);
}
