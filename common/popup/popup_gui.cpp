#include "popup/popup_gui.h"

#include "popup/popup.h"

namespace {

constexpr const char* kFailureTitle = "The following Test failed";

class GuiBackend : public PopupBackend {
public:
    int message(const char* title, const char* text) override {
        return RunDialog(KindOf(title, false), title, text);
    }
    int confirm(const char* title, const char* text) override { return RunDialog(PopupKind::Question, title, text); }
};

}  // namespace

PopupKind KindOf(const char* title, bool question) {
    if (question) return PopupKind::Question;
    return std::string(title).rfind(kFailureTitle, 0) == 0 ? PopupKind::Failure : PopupKind::Message;
}

std::string FailureHeading(const char* title) {
    std::string heading = title;
    heading.erase(heading.find_last_not_of(' ') + 1);
    return heading;
}

// The module's entry point: the back end, or null when no desktop can be opened.
extern "C" PopupBackend* StepToolsGuiPopupBackend() {
    static GuiBackend backend;
    static bool opened = StartGui();
    return opened ? &backend : nullptr;
}
