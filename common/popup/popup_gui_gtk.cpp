// The gui popup back end: GTK 3 dialogs. It is a module of its own that a program loads at
// its first gui popup, so a step that shows no popup never loads GTK.
//
// An answer to a question is a verdict, so a popup must be seen before it can be answered:
// it stays above every window, and it ignores keys and clicks for a guard time after it
// shows (and after it gets the focus back), as well as keys that were already held down.
#include <cstdio>

#include <gdk/gdkkeysyms.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <set>
#include <string>

#include "popup/popup.h"
#include "popup/popup_gui.h"

namespace {

constexpr gint64 kInputGuardMicroseconds = kInputGuardMilliseconds * 1000;

// Body text size: 15 pt is 20 px at 96 dpi; it grows with Xft.dpi and GDK_SCALE.
constexpr const char* kStyle =
    "label.steptools-text { font-size: 15pt; }"
    "label.steptools-heading { font-size: 17pt; font-weight: bold; }"
    "label.steptools-hint { font-size: 11pt; }"
    "button.steptools-answer label { font-size: 15pt; }";

constexpr int kTextWidthChars = 44;       // wrapped text width; CJK characters count double
constexpr int kMargin = 18;
constexpr int kOutsideHeight = 230;       // title bar, heading, buttons and hint beside the text

struct Dialog {
    PopupKind kind;
    GtkWidget* window = nullptr;
    GtkWidget* buttons = nullptr;
    GMainLoop* loop = nullptr;
    int answer = 0;
    bool answered = false;
    gint64 guardUntil = 0;         // monotonic microseconds; no input acts before it
    std::set<guint16> heldKeys;    // hardware keycodes down before the guard ended
    guint guardTimer = 0;
    gint64 lastRaise = 0;
};

gint64 now() {
    return g_get_monotonic_time();
}

bool guarded(const Dialog& d) {
    return now() < d.guardUntil;
}

void finish(Dialog& d, int answer) {
    if (d.answered) return;
    d.answered = true;
    d.answer = answer;
    g_main_loop_quit(d.loop);
}

// Keys held down right now, by hardware keycode (X11 only; elsewhere the guard alone acts).
void rememberHeldKeys(Dialog& d) {
    GdkDisplay* display = gtk_widget_get_display(d.window);
    if (!GDK_IS_X11_DISPLAY(display)) return;
    char keys[32];
    XQueryKeymap(gdk_x11_display_get_xdisplay(display), keys);
    for (int code = 0; code < 256; ++code)
        if (keys[code / 8] & (1 << (code % 8))) d.heldKeys.insert(static_cast<guint16>(code));
}

gboolean endGuard(gpointer data) {
    Dialog& d = *static_cast<Dialog*>(data);
    if (guarded(d)) return G_SOURCE_CONTINUE;  // input during the guard restarted it
    d.guardTimer = 0;
    gtk_widget_set_sensitive(d.buttons, TRUE);
    return G_SOURCE_REMOVE;
}

// (Re)starts the guard: the buttons wait, keys down now must be released first.
void startGuard(Dialog& d) {
    d.guardUntil = now() + kInputGuardMicroseconds;
    rememberHeldKeys(d);
    gtk_widget_set_sensitive(d.buttons, FALSE);
    if (d.guardTimer == 0) d.guardTimer = g_timeout_add(50, endGuard, &d);
}

// The answer a key gives, or -1 for none. Enter and Space answer no question.
int answerForKey(PopupKind kind, guint keyval) {
    if (kind == PopupKind::Question) {
        switch (keyval) {
            case GDK_KEY_y: case GDK_KEY_Y: return 1;
            case GDK_KEY_n: case GDK_KEY_N: case GDK_KEY_Escape: return 0;
            default: return -1;
        }
    }
    switch (keyval) {
        case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter: case GDK_KEY_Escape: return 0;
        default: return -1;
    }
}

gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
    Dialog& d = *static_cast<Dialog*>(data);
    if (d.heldKeys.count(event->hardware_keycode)) return TRUE;  // held since before: auto-repeat
    if (guarded(d)) {
        // Typing is still going on: it was meant for another window. Keep waiting.
        d.heldKeys.insert(event->hardware_keycode);
        d.guardUntil = now() + kInputGuardMicroseconds;
        gtk_widget_set_sensitive(d.buttons, FALSE);
        if (d.guardTimer == 0) d.guardTimer = g_timeout_add(50, endGuard, &d);
        return TRUE;
    }
    int answer = answerForKey(d.kind, event->keyval);
    if (answer >= 0) finish(d, answer);
    return TRUE;  // no key reaches the buttons: Enter or Space never press one
}

gboolean onKeyRelease(GtkWidget*, GdkEventKey* event, gpointer data) {
    static_cast<Dialog*>(data)->heldKeys.erase(event->hardware_keycode);
    return TRUE;
}

gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data) {
    Dialog& d = *static_cast<Dialog*>(data);
    if (!guarded(d)) finish(d, 0);  // closing: the message is dismissed, the question is No
    return TRUE;                     // the window goes when the dialog ends
}

void raiseAgain(Dialog& d) {
    if (now() - d.lastRaise < 200000) return;  // never fight another window in a tight loop
    d.lastRaise = now();
    GdkWindow* w = gtk_widget_get_window(d.window);
    if (w != nullptr) gdk_window_raise(w);
    gtk_window_present(GTK_WINDOW(d.window));
}

// Covered by another window (one that is kept on top too, or a window manager that let it
// through): back to the top.
gboolean onVisibility(GtkWidget*, GdkEventVisibility* event, gpointer data) {
    if (event->state != GDK_VISIBILITY_UNOBSCURED) raiseAgain(*static_cast<Dialog*>(data));
    return FALSE;
}

// Minimized anyway (a window manager that ignores the hints): shown again.
gboolean onWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
    if (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) {
        Dialog& d = *static_cast<Dialog*>(data);
        gtk_window_deiconify(GTK_WINDOW(d.window));
        raiseAgain(d);
    }
    return FALSE;
}

// Input that arrives as the popup gets the focus was meant for the window that had it.
gboolean onFocusIn(GtkWidget*, GdkEventFocus*, gpointer data) {
    Dialog& d = *static_cast<Dialog*>(data);
    gtk_window_set_urgency_hint(GTK_WINDOW(d.window), FALSE);
    startGuard(d);
    return FALSE;
}

// Waiting without the focus: the task bar and the window manager show that it needs the
// operator.
gboolean onFocusOut(GtkWidget*, GdkEventFocus*, gpointer data) {
    gtk_window_set_urgency_hint(GTK_WINDOW(static_cast<Dialog*>(data)->window), TRUE);
    return FALSE;
}

// Only a close button and a move: no minimize, no maximize, no resize. Set before the
// window maps, when window managers read them.
void onRealize(GtkWidget* window, gpointer) {
    GdkWindow* w = gtk_widget_get_window(window);
    gdk_window_set_functions(w, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
    gdk_window_set_decorations(w, static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
}

gboolean onMap(GtkWidget*, GdkEvent*, gpointer data) {
    Dialog& d = *static_cast<Dialog*>(data);
    startGuard(d);
    raiseAgain(d);
    return FALSE;
}

void onYes(GtkButton*, gpointer data) {
    Dialog& d = *static_cast<Dialog*>(data);
    if (!guarded(d)) finish(d, 1);
}

void onNoOrOk(GtkButton*, gpointer data) {
    Dialog& d = *static_cast<Dialog*>(data);
    if (!guarded(d)) finish(d, 0);
}

GtkWidget* label(const std::string& text, const char* styleClass) {
    GtkWidget* l = gtk_label_new(text.c_str());
    gtk_style_context_add_class(gtk_widget_get_style_context(l), styleClass);
    gtk_label_set_line_wrap(GTK_LABEL(l), TRUE);
    // Words where the text has them, anywhere in a word that does not fit (a URL, a serial
    // number) or in scripts without spaces.
    gtk_label_set_line_wrap_mode(GTK_LABEL(l), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_width_chars(GTK_LABEL(l), kTextWidthChars);
    gtk_label_set_max_width_chars(GTK_LABEL(l), kTextWidthChars);
    gtk_label_set_xalign(GTK_LABEL(l), 0);
    gtk_label_set_selectable(GTK_LABEL(l), FALSE);
    return l;
}

GtkWidget* answerButton(const char* text, GCallback onClick, Dialog& d) {
    GtkWidget* b = gtk_button_new_with_label(text);
    gtk_style_context_add_class(gtk_widget_get_style_context(b), "steptools-answer");
    gtk_widget_set_can_focus(b, FALSE);  // keys never press a button
    gtk_widget_set_size_request(b, 120, -1);
    g_signal_connect(b, "clicked", onClick, &d);
    return b;
}

// The monitor that holds the pointer, where the operator is looking.
GdkMonitor* pointerMonitor(GdkDisplay* display) {
    GdkSeat* seat = gdk_display_get_default_seat(display);
    GdkDevice* pointer = seat != nullptr ? gdk_seat_get_pointer(seat) : nullptr;
    int x = 0, y = 0;
    if (pointer != nullptr) gdk_device_get_position(pointer, nullptr, &x, &y);
    GdkMonitor* m = gdk_display_get_monitor_at_point(display, x, y);
    return m != nullptr ? m : gdk_display_get_primary_monitor(display);
}

}  // namespace

int RunDialog(PopupKind kind, const char* title, const char* text) {
    Dialog d;
    d.kind = kind;
    bool question = kind == PopupKind::Question;
    d.loop = g_main_loop_new(nullptr, FALSE);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    d.window = window;
    GtkWindow* w = GTK_WINDOW(window);
    gtk_window_set_title(w, title);
    gtk_window_set_keep_above(w, TRUE);
    gtk_window_set_modal(w, TRUE);
    gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_urgency_hint(w, TRUE);
    gtk_window_set_resizable(w, FALSE);
    gtk_window_set_skip_taskbar_hint(w, FALSE);
    gtk_window_set_icon_name(w, question ? "dialog-question" : d.kind == PopupKind::Failure ? "dialog-error" : "dialog-information");
    gtk_widget_add_events(window, GDK_VISIBILITY_NOTIFY_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK);

    GdkDisplay* display = gtk_widget_get_display(window);
    GdkMonitor* monitor = pointerMonitor(display);
    GdkRectangle area{0, 0, 1024, 768};
    if (monitor != nullptr) gdk_monitor_get_workarea(monitor, &area);

    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(outer), kMargin);
    gtk_container_add(GTK_CONTAINER(window), outer);

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    const char* icon = question ? "dialog-question" : d.kind == PopupKind::Failure ? "dialog-error" : "dialog-information";
    GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);

    GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    if (d.kind == PopupKind::Failure) {
        // The failure says so in the window itself, not only in a title bar that may be absent.
        gtk_box_pack_start(GTK_BOX(texts), label(FailureHeading(title), "steptools-heading"), FALSE, FALSE, 0);
    }
    // Long texts scroll; the buttons stay on screen below them.
    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroller), TRUE);
    gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scroller), TRUE);
    gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scroller), std::max(120, area.height - kOutsideHeight));
    gtk_container_add(GTK_CONTAINER(scroller), label(text, "steptools-text"));
    gtk_box_pack_start(GTK_BOX(texts), scroller, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), texts, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(outer), row, TRUE, TRUE, 0);

    d.buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_widget_set_halign(d.buttons, GTK_ALIGN_END);
    if (question) {
        gtk_box_pack_start(GTK_BOX(d.buttons), answerButton("Yes", G_CALLBACK(onYes), d), FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(d.buttons), answerButton("No", G_CALLBACK(onNoOrOk), d), FALSE, FALSE, 0);
    } else {
        gtk_box_pack_start(GTK_BOX(d.buttons), answerButton("OK", G_CALLBACK(onNoOrOk), d), FALSE, FALSE, 0);
    }
    gtk_box_pack_start(GTK_BOX(outer), d.buttons, FALSE, FALSE, 0);
    if (question) {
        GtkWidget* hint = label(kAnswerHint, "steptools-hint");
        gtk_label_set_xalign(GTK_LABEL(hint), 1);
        gtk_box_pack_start(GTK_BOX(outer), hint, FALSE, FALSE, 0);
    }

    g_signal_connect(window, "key-press-event", G_CALLBACK(onKeyPress), &d);
    g_signal_connect(window, "key-release-event", G_CALLBACK(onKeyRelease), &d);
    g_signal_connect(window, "delete-event", G_CALLBACK(onDelete), &d);
    g_signal_connect(window, "visibility-notify-event", G_CALLBACK(onVisibility), &d);
    g_signal_connect(window, "window-state-event", G_CALLBACK(onWindowState), &d);
    g_signal_connect(window, "focus-in-event", G_CALLBACK(onFocusIn), &d);
    g_signal_connect(window, "focus-out-event", G_CALLBACK(onFocusOut), &d);
    g_signal_connect(window, "map-event", G_CALLBACK(onMap), &d);
    g_signal_connect(window, "realize", G_CALLBACK(onRealize), &d);

    // Centred on the pointer's monitor.
    gtk_widget_show_all(outer);
    GtkRequisition size;
    gtk_widget_get_preferred_size(window, nullptr, &size);
    gtk_window_move(w, area.x + std::max(0, (area.width - size.width) / 2),
                    area.y + std::max(0, (area.height - size.height) / 2));
    gtk_widget_set_sensitive(d.buttons, FALSE);
    d.guardUntil = now() + kInputGuardMicroseconds;  // until it maps, and from then on
    gtk_widget_show(window);

    g_main_loop_run(d.loop);

    if (d.guardTimer != 0) g_source_remove(d.guardTimer);
    gtk_widget_destroy(window);
    while (gtk_events_pending()) gtk_main_iteration();  // gone from the screen before the step goes on
    g_main_loop_unref(d.loop);
    return d.answer;
}

// Opened here once: the window class, so station integrators can write window-manager
// rules for it, and the popups' style.
bool StartGui() {
    g_set_prgname("steptools");
    // X11 wherever an X server answers, Xwayland in a GNOME session included: only there can
    // the popup be kept above other windows and ask the server about held keys. Wayland
    // only where there is no X server (GDK_BACKEND, when set, still decides).
    gdk_set_allowed_backends("x11,wayland");
    if (!gtk_init_check(nullptr, nullptr)) return false;
    if (!GDK_IS_X11_DISPLAY(gdk_display_get_default()))
        std::fprintf(stderr, "popups: no X server in this Wayland session: the popup cannot be kept above other windows\n");
    gdk_set_program_class("steptools");
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    return true;
}
