// The gui popup back end on Windows: a small dialog window of our own (a stock MessageBox
// answers Yes to Enter and Space). It is a DLL that a program loads at its first gui popup,
// so a step without popups never loads user32.
//
// The same rules as the GTK popups: kept on top (topmost, foreground, flashing when it
// loses the focus), no key or click acts for a guard time after it shows or gets the focus
// back, keys held since before it appeared act only once pressed again, long texts scroll
// with the buttons on screen.
#include <windows.h>

#include <set>
#include <string>

#include "popup/popup.h"
#include "popup/popup_gui.h"

namespace {

constexpr UINT_PTR kGuardTimer = 1;
constexpr UINT_PTR kTopTimer = 2;
constexpr int kYes = 101, kNo = 102, kOk = 103;
constexpr int kTextWidthPoints = 330;  // about 44 characters of the 15 pt body text
constexpr const wchar_t* kClassName = L"steptools";
// The system's icons and cursor, by number (the IDI_ and IDC_ names are the narrow ones here).
const wchar_t* const kQuestionIcon = MAKEINTRESOURCEW(32514);
const wchar_t* const kErrorIcon = MAKEINTRESOURCEW(32513);
const wchar_t* const kInformationIcon = MAKEINTRESOURCEW(32516);
const wchar_t* const kArrowCursor = MAKEINTRESOURCEW(32512);

std::wstring wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    UINT codePage = CP_UTF8;
    if (n == 0) {  // not UTF-8: the console's code page
        codePage = CP_ACP;
        n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    }
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// An edit control wants CR LF line ends.
std::wstring withCrLf(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
        out += text[i];
    }
    return out;
}

struct Dialog {
    bool question = false;
    bool failure = false;
    HWND window = nullptr;
    HWND buttons[2] = {};
    int buttonCount = 0;
    DWORD guardUntil = 0;
    std::set<WPARAM> heldKeys;  // virtual keys down before the guard ended
    bool answered = false;
    int answer = 0;
};

bool guarded(const Dialog& d) {
    return static_cast<LONG>(GetTickCount() - d.guardUntil) < 0;
}

void enableButtons(Dialog& d, bool on) {
    for (int i = 0; i < d.buttonCount; ++i) EnableWindow(d.buttons[i], on);
}

// (Re)starts the guard: the buttons wait, keys down now must be released first.
void startGuard(Dialog& d) {
    d.guardUntil = GetTickCount() + kInputGuardMilliseconds;
    for (int vk = 0x08; vk <= 0xFE; ++vk)
        if (GetAsyncKeyState(vk) & 0x8000) d.heldKeys.insert(static_cast<WPARAM>(vk));
    enableButtons(d, false);
    SetTimer(d.window, kGuardTimer, 50, nullptr);
}

void finish(Dialog& d, int answer) {
    if (d.answered) return;
    d.answered = true;
    d.answer = answer;
    DestroyWindow(d.window);
}

// The answer a key gives, or -1 for none. Enter and Space answer no question.
int answerForKey(const Dialog& d, WPARAM key) {
    if (d.question) {
        if (key == 'Y') return 1;
        if (key == 'N' || key == VK_ESCAPE) return 0;
        return -1;
    }
    return key == VK_RETURN || key == VK_ESCAPE ? 0 : -1;
}

// Keys, wherever the focus is in the dialog; none reaches a button.
void onKeyDown(Dialog& d, WPARAM key) {
    if (d.heldKeys.count(key)) return;  // held since before: auto-repeat
    if (guarded(d)) {
        // Typing is still going on: it was meant for another window. Keep waiting.
        d.heldKeys.insert(key);
        startGuard(d);
        return;
    }
    int answer = answerForKey(d, key);
    if (answer >= 0) finish(d, answer);
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* d = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_NCCREATE:
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
            break;
        case WM_ACTIVATE:
            if (d == nullptr) break;
            if (LOWORD(wParam) == WA_INACTIVE) {
                FLASHWINFO flash{sizeof flash, window, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
                FlashWindowEx(&flash);
            } else {
                startGuard(*d);
            }
            break;
        case WM_TIMER:
            if (d == nullptr) break;
            if (wParam == kGuardTimer && !guarded(*d)) {
                KillTimer(window, kGuardTimer);
                enableButtons(*d, true);
            } else if (wParam == kTopTimer) {
                SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            }
            return 0;
        case WM_COMMAND:
            if (d != nullptr && HIWORD(wParam) == BN_CLICKED && !guarded(*d)) {
                int id = LOWORD(wParam);
                if (id == kYes) finish(*d, 1);
                else if (id == kNo || id == kOk) finish(*d, 0);
            }
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_MINIMIZE || (wParam & 0xFFF0) == SC_MAXIMIZE) return 0;
            break;
        case WM_CLOSE:
            if (d != nullptr && !guarded(*d)) finish(*d, 0);  // the message is dismissed, the question is No
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HFONT bodyFont(int points, int weight) {
    HDC screen = GetDC(nullptr);
    int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");
}

int scaled(int points) {
    HDC screen = GetDC(nullptr);
    int pixels = MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    return pixels;
}

HWND child(const wchar_t* cls, const std::wstring& text, DWORD style, int id, HWND parent, HFONT font) {
    HWND w = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return w;
}

}  // namespace

int RunDialog(PopupKind kind, const char* title, const char* text) {
    Dialog d;
    bool question = kind == PopupKind::Question;
    d.question = question;
    d.failure = kind == PopupKind::Failure;

    HFONT font = bodyFont(15, FW_NORMAL);
    HFONT heading = bodyFont(17, FW_BOLD);
    HFONT hintFont = bodyFont(11, FW_NORMAL);
    DWORD exStyle = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;  // a close button; no minimize, no maximize
    d.window = CreateWindowExW(exStyle, kClassName, wide(title).c_str(), style, 0, 0, 100, 100, nullptr, nullptr,
                               GetModuleHandleW(nullptr), &d);
    if (d.window == nullptr) return kPopupNoDisplay;

    // The monitor that holds the pointer, where the operator is looking.
    POINT pointer{};
    GetCursorPos(&pointer);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT work = monitor.rcWork;

    int margin = scaled(14);
    int iconSize = GetSystemMetrics(SM_CXICON);
    int textWidth = scaled(kTextWidthPoints);
    int buttonWidth = scaled(70), buttonHeight = scaled(24);

    // The body text, measured as the edit control will wrap it.
    std::wstring body = withCrLf(wide(text));
    HDC dc = GetDC(d.window);
    HGDIOBJ old = SelectObject(dc, font);
    RECT measure{0, 0, textWidth, 0};
    DrawTextW(dc, body.c_str(), -1, &measure, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(d.window, dc);
    int headingHeight = d.failure ? scaled(28) : 0;
    int hintHeight = question ? scaled(18) : 0;
    int outside = margin * 4 + headingHeight + buttonHeight + hintHeight + GetSystemMetrics(SM_CYCAPTION);
    int textHeight = static_cast<int>(measure.bottom) + scaled(4);
    int maxText = static_cast<int>(work.bottom - work.top) - outside - 2 * GetSystemMetrics(SM_CYFIXEDFRAME);
    bool scrolls = textHeight > maxText;
    if (scrolls) textHeight = maxText;

    const wchar_t* icon = question ? kQuestionIcon : d.failure ? kErrorIcon : kInformationIcon;
    HWND image = child(L"STATIC", L"", SS_ICON, 0, d.window, font);
    SendMessageW(image, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, icon)), 0);
    MoveWindow(image, margin, margin, iconSize, iconSize, FALSE);
    int x = margin * 2 + iconSize;
    int y = margin;
    if (d.failure) {
        // The failure says so in the window itself, not only in its title bar.
        MoveWindow(child(L"STATIC", wide(FailureHeading(title)), SS_NOPREFIX, 0, d.window, heading), x, y, textWidth, headingHeight,
                   FALSE);
        y += headingHeight;
    }
    // A read-only edit control: wraps at words (and inside a word too long for a line) and
    // scrolls a text taller than the screen.
    HWND textBox = child(L"EDIT", body, ES_MULTILINE | ES_READONLY | (scrolls ? WS_VSCROLL : 0), 0, d.window, font);
    MoveWindow(textBox, x, y, textWidth + (scrolls ? GetSystemMetrics(SM_CXVSCROLL) : 0), textHeight, FALSE);
    y += textHeight + margin;

    int clientWidth = x + textWidth + (scrolls ? GetSystemMetrics(SM_CXVSCROLL) : 0) + margin;
    if (question) {
        d.buttons[0] = child(L"BUTTON", L"Yes", BS_PUSHBUTTON, kYes, d.window, font);
        d.buttons[1] = child(L"BUTTON", L"No", BS_PUSHBUTTON, kNo, d.window, font);
        d.buttonCount = 2;
    } else {
        d.buttons[0] = child(L"BUTTON", L"OK", BS_PUSHBUTTON, kOk, d.window, font);
        d.buttonCount = 1;
    }
    for (int i = 0; i < d.buttonCount; ++i) {
        int bx = clientWidth - margin - (d.buttonCount - i) * (buttonWidth + margin / 2);
        MoveWindow(d.buttons[i], bx, y, buttonWidth, buttonHeight, FALSE);
    }
    y += buttonHeight + margin / 2;
    if (question) {
        HWND hint = child(L"STATIC", wide(kAnswerHint), SS_RIGHT, 0, d.window, hintFont);
        MoveWindow(hint, margin, y, clientWidth - 2 * margin, hintHeight, FALSE);
        y += hintHeight;
    }
    RECT outer{0, 0, clientWidth, y + margin};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    int width = outer.right - outer.left, height = outer.bottom - outer.top;
    SetWindowPos(d.window, HWND_TOPMOST, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, 0);

    d.guardUntil = GetTickCount() + kInputGuardMilliseconds;
    enableButtons(d, false);
    ShowWindow(d.window, SW_SHOWNORMAL);
    SetForegroundWindow(d.window);
    SetFocus(d.window);
    startGuard(d);
    SetTimer(d.window, kTopTimer, 500, nullptr);  // back on top if another topmost window came over it

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
            if (!d.answered) onKeyDown(d, msg.wParam);
            continue;  // keys never reach the buttons
        }
        if (msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP) {
            d.heldKeys.erase(msg.wParam);
            continue;
        }
        if (msg.message == WM_CHAR) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DeleteObject(font);
    DeleteObject(heading);
    DeleteObject(hintFont);
    return d.answer;
}

// Registered once; sharp text on high-dpi screens (the sizes above follow the system's dpi).
bool StartGui() {
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll"))
        if (auto aware = reinterpret_cast<BOOL(WINAPI*)()>(
                reinterpret_cast<void (*)()>(GetProcAddress(user32, "SetProcessDPIAware"))))
            aware();
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = windowProcedure;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.hCursor = LoadCursorW(nullptr, kArrowCursor);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kClassName;
    cls.hIcon = LoadIconW(nullptr, kQuestionIcon);
    return RegisterClassExW(&cls) != 0;
}
