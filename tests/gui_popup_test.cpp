// The gui popups as an operator meets them: real windows on an X server (Xvfb) under a real
// window manager (openbox), and under GNOME's compositor (mutter, headless, with Xwayland),
// answered with the keyboard and the mouse through xdotool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <sstream>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;
constexpr useconds_t kPastGuard = 800000;  // well past the popups' input guard

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};

class GuiPopupTest : public ::testing::Test {
protected:
    // Starts Xvfb on a display number it picks itself, then openbox on it. Xvfb must not
    // reset when a program closes its last window: the next program could not connect.
    void SetUp() override {
        for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/openbox", "/usr/bin/xprop", "/usr/bin/wmctrl"})
            if (!fs::exists(tool)) GTEST_SKIP() << "needs " << tool;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        std::string size = std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
        server_ = start({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", size, "-dpi", "96",
                         "-nolisten", "tcp", "-noreset"});
        close(fds[1]);
        char number[16] = {};
        ssize_t n = read(fds[0], number, sizeof number - 1);
        close(fds[0]);
        ASSERT_GT(n, 0) << "Xvfb did not start";
        display_ = ":";  // built up: GCC 12 warns falsely on ":" + std::string
        display_ += std::to_string(std::atoi(number));
        setenv("DISPLAY", display_.c_str(), 1);
        windowManager_ = start({"/usr/bin/openbox"});
        waitForWindowManager();
    }
    void TearDown() override {
        for (pid_t pid : {windowManager_, server_}) {
            if (pid <= 0) continue;
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }

    pid_t start(const std::vector<std::string>& argv) { return StartInBackground(argv); }
    // Until the window manager has taken the display, for up to 30 s (a cold start).
    void waitForWindowManager() const {
        for (int i = 0; i < 600 && tool("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).out.find("window id") == std::string::npos; ++i)
            usleep(50000);
    }

    // The environment of a step: popups in windows, a port that opens.
    std::map<std::string, std::string> guiEnv(const std::string& mode = "gui") const {
        auto env = device_.env();
        env["DISPLAY"] = display_;
        env["STEPTOOLS_POPUP"] = mode;
        return env;
    }
    RunResult tool(const std::string& name, const std::vector<std::string>& args) const {
        return RunProgram("/usr/bin/" + name, args, {{"DISPLAY", display_}});
    }
    // The id of the window titled exactly `title`, waiting up to 10 s for it.
    std::string waitWindow(const std::string& title) const {
        for (int i = 0; i < 200; ++i) {
            RunResult r = tool("xdotool", {"search", "--name", "^" + title + "$"});
            if (r.status == 0 && !r.out.empty()) return r.out.substr(0, r.out.find('\n'));
            usleep(50000);
        }
        return "";
    }
    // Waits for the window and then for its input guard to pass, as an operator who reads it.
    std::string waitAnswerable(const std::string& title) const {
        std::string window = waitWindow(title);
        usleep(kPastGuard);
        return window;
    }
    bool windowOpen(const std::string& title) const {
        RunResult r = tool("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
        return r.status == 0 && !r.out.empty();
    }
    void key(const std::string& name) const { tool("xdotool", {"key", name}); }
    std::string property(const std::string& window, const std::string& name) const {
        return tool("xprop", {"-id", window, name}).out;
    }
    // Outer geometry, window-manager frame included.
    Geometry geometry(const std::string& window) const {
        std::istringstream out(tool("xwininfo", {"-id", window, "-frame"}).out);
        Geometry g;
        for (std::string line; std::getline(out, line);) {
            auto value = [&](const char* label, int& into) {
                if (line.find(label) != std::string::npos) into = std::atoi(line.substr(line.find(':') + 1).c_str());
            };
            value("Absolute upper-left X", g.x);
            value("Absolute upper-left Y", g.y);
            value("Width", g.width);
            value("Height", g.height);
        }
        return g;
    }
    // Windows from bottom to top, as the window manager stacks them.
    std::string topWindow() const {
        std::string list = tool("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}).out;
        return list.substr(list.rfind("0x"), list.find_last_not_of("\n") - list.rfind("0x") + 1);
    }
    void click(int x, int y, int repeat = 1) const {
        tool("xdotool", {"mousemove", std::to_string(x), std::to_string(y), "click", "--repeat", std::to_string(repeat),
                         "--delay", "120", "1"});
    }
    void screenshot(const std::string& window, const std::string& file) const {
        if (!fs::exists("/usr/bin/import")) return;
        fs::create_directories(STEPTOOLS_SCREENSHOT_DIR);
        tool("import", {"-window", window, "-frame", std::string(STEPTOOLS_SCREENSHOT_DIR) + "/" + file});
    }

    // A y held down since before the popup appeared answers nothing; pressed again, it does.
    void expectHeldKeyIgnored(const std::vector<std::string>& question, const std::map<std::string, std::string>& env) const {
        ProgramRun run("opquery_multi", question, env);
        tool("xdotool", {"keydown", "y"});
        ASSERT_NE(waitWindow("Question"), "");
        usleep(1200000);  // past the guard and the keyboard's auto-repeat delay
        tool("xdotool", {"keyup", "y"});
        usleep(300000);
        EXPECT_TRUE(windowOpen("Question")) << "a held y answered the question";
        key("y");  // pressed again: a deliberate answer
        EXPECT_EQ(run.finish().out, "1\n");
    }

    PtyDevice device_{"COM8"};
    pid_t server_ = -1;
    pid_t windowManager_ = -1;
    std::string display_;
};

std::string Hex(const std::string& decimalId) {
    std::ostringstream out;
    out << "0x" << std::hex << std::stoul(decimalId);
    return out.str();
}

// No reads and no expected text: the verdict is the operator's answer alone.
std::vector<std::string> QuestionOnly(const std::string& question = "Is the lamp lit? Look at the front panel.") {
    return {question, "!m", "", "!", "COM8", "0.1", "0"};
}
const std::vector<std::string> kMessageOnly = {"!q", "Look at the lamp on the front panel, then close this message.", "",
                                               "!", "COM8", "0.1", "0"};

TEST_F(GuiPopupTest, QuestionIsAnsweredWithTheKeyboard) {
    struct Case {
        std::string key, out;
    };
    for (const Case& c : {Case{"y", "1\n"}, Case{"n", "0\n"}, Case{"Escape", "0\n"}}) {
        ProgramRun run("opquery_multi", QuestionOnly(), guiEnv());
        ASSERT_NE(waitAnswerable("Question"), "") << c.key;
        key(c.key);
        RunResult r = run.finish();
        EXPECT_EQ(r.out, c.out) << c.key << r.err;
    }
}

TEST_F(GuiPopupTest, EnterAndSpaceNeverAnswerAQuestion) {
    ProgramRun run("opquery_multi", QuestionOnly(), guiEnv());
    std::string window = waitAnswerable("Question");
    ASSERT_NE(window, "") << run.finish().err;
    screenshot(window, "question.png");
    key("Return");
    key("space");
    usleep(300000);
    EXPECT_TRUE(windowOpen("Question")) << "Enter or Space answered the question";
    key("n");
    EXPECT_EQ(run.finish().out, "0\n");
}

TEST_F(GuiPopupTest, MessageIsDismissedByEnterOrEscape) {
    for (const std::string k : {"Return", "Escape"}) {
        ProgramRun run("opquery_multi", kMessageOnly, guiEnv());
        std::string window = waitAnswerable("Message");
        ASSERT_NE(window, "");
        if (k == "Return") screenshot(window, "message.png");
        key(k);
        EXPECT_EQ(run.finish().out, "1\n") << k;  // a dismissed message counts as acceptance
    }
}

TEST_F(GuiPopupTest, ButtonsAnswerAndClosingIsNo) {
    ProgramRun yes("opquery_multi", QuestionOnly(), guiEnv());
    std::string window = waitAnswerable("Question");
    Geometry g = geometry(window);
    click(g.x + g.width - 200, g.y + g.height - 65);  // Yes: left of No, at the right
    EXPECT_EQ(yes.finish().out, "1\n");
    ProgramRun closed("opquery_multi", QuestionOnly(), guiEnv());
    window = waitAnswerable("Question");
    tool("wmctrl", {"-i", "-c", Hex(window)});
    EXPECT_EQ(closed.finish().out, "0\n");
}

TEST_F(GuiPopupTest, MessageThenQuestionInOrder) {
    ProgramRun run("opquery_multi", {"Lamp lit?", "Look at the lamp", "", "!", "COM8", "0.1", "0"}, guiEnv("auto"));
    ASSERT_NE(waitAnswerable("Message"), "");
    EXPECT_FALSE(windowOpen("Question"));
    key("Return");
    ASSERT_NE(waitAnswerable("Question"), "");
    key("y");
    EXPECT_EQ(run.finish().out, "1\n");
}

TEST_F(GuiPopupTest, FailurePopupCarriesItsTitleExactly) {
    DevSim device({"--pty", "COM8", "PING=>say:Y"});
    auto env = guiEnv();
    env.merge(device.env());
    env["STEPTOOLS_PORT_DIR"] = device.portDir();
    ProgramRun run("opquery_multi_responses", {"Boot", "!m", "X_", "PING", "COM8,9600", "2", "1", "1"}, env);
    std::string window = waitAnswerable("The following Test failed   ");
    ASSERT_NE(window, "") << run.finish().err;
    screenshot(window, "failure.png");
    key("Return");
    EXPECT_EQ(run.finish().out, "0\n");
}

TEST_F(GuiPopupTest, WindowIsKeptAboveModalUrgentAndNamedForRules) {
    ProgramRun run("opquery_multi", QuestionOnly(), guiEnv());
    std::string window = waitWindow("Question");
    ASSERT_NE(window, "");
    EXPECT_NE(property(window, "WM_CLASS").find("\"steptools\", \"steptools\""), std::string::npos);
    std::string state = property(window, "_NET_WM_STATE");
    EXPECT_NE(state.find("_NET_WM_STATE_ABOVE"), std::string::npos) << state;
    EXPECT_NE(state.find("_NET_WM_STATE_MODAL"), std::string::npos) << state;
    EXPECT_NE(property(window, "_NET_WM_WINDOW_TYPE").find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos);
    // Motif hints: functions move and close only (no minimize, no maximize).
    EXPECT_NE(property(window, "_MOTIF_WM_HINTS").find("0x3, 0x24"), std::string::npos);
    usleep(kPastGuard);
    key("n");
    EXPECT_EQ(run.finish().out, "0\n");
}

TEST_F(GuiPopupTest, StaysOnTopOfOtherWindowsEvenWhenClickedAwayOrMinimized) {
    // Another application that keeps itself on top too, over the centre of the screen.
    pid_t other = start({"/usr/bin/xmessage", "-geometry", "900x700+190+160", "another application"});
    std::string otherWindow = waitWindow("xmessage");
    ASSERT_NE(otherWindow, "");
    tool("wmctrl", {"-i", "-r", Hex(otherWindow), "-b", "add,above"});

    ProgramRun run("opquery_multi", QuestionOnly(), guiEnv());
    std::string window = waitAnswerable("Question");
    ASSERT_NE(window, "");
    EXPECT_EQ(topWindow(), Hex(window)) << "hidden by an always-on-top window from the start";

    click(250, 200);  // on the other window
    usleep(500000);
    EXPECT_EQ(topWindow(), Hex(window)) << "buried by a click on another window";
    // Without the focus it asks for attention.
    tool("xdotool", {"windowfocus", otherWindow});
    usleep(300000);
    EXPECT_NE(property(window, "WM_HINTS").find("urgency hint bit is set"), std::string::npos) << property(window, "WM_HINTS");

    tool("xdotool", {"windowminimize", window});
    usleep(500000);
    EXPECT_TRUE(windowOpen("Question")) << "minimized out of sight";

    tool("xdotool", {"windowactivate", window});
    usleep(kPastGuard);
    key("y");
    EXPECT_EQ(run.finish().out, "1\n");
    kill(other, SIGTERM);
    waitpid(other, nullptr, 0);
}

TEST_F(GuiPopupTest, TypingThatBeganBeforeThePopupDoesNotAnswerIt) {
    struct Case {
        std::vector<std::string> args;
        std::string title, typed, answer, out;
    };
    // A sentence with y in it typed into a terminal, a barcode scan ending in Enter.
    for (const Case& c : {Case{QuestionOnly(), "Question", "echo today yes yes yes yes yes yes", "n", "0\n"},
                          Case{kMessageOnly, "Message", "4006381333931\n4006381333931\n4006381333931\n", "Return", "1\n"}}) {
        ProgramRun run("opquery_multi", c.args, guiEnv());
        tool("xdotool", {"type", "--delay", "60", c.typed});  // from before the popup shows until after
        ASSERT_NE(waitWindow(c.title), "");
        usleep(500000);
        EXPECT_TRUE(windowOpen(c.title)) << "type-ahead answered the " << c.title;
        usleep(kPastGuard);
        key(c.answer);
        EXPECT_EQ(run.finish().out, c.out) << c.title;
    }
}

TEST_F(GuiPopupTest, KeyHeldSinceBeforeThePopupDoesNotAnswerIt) {
    expectHeldKeyIgnored(QuestionOnly(), guiEnv());
}

TEST_F(GuiPopupTest, DoubleClickOnThePreviousPopupDoesNotAnswerTheNext) {
    // A message and then a question, in the same step: a double-click on OK closes the
    // message and must not answer the question that appears where OK was.
    ProgramRun run("opquery_multi", {"Lamp lit?", "Look at the lamp", "", "!", "COM8", "0.1", "0"}, guiEnv());
    std::string window = waitAnswerable("Message");
    ASSERT_NE(window, "");
    Geometry g = geometry(window);
    click(g.x + g.width - 80, g.y + g.height - 40, 2);  // OK, at the bottom right, where No will be
    ASSERT_NE(waitWindow("Question"), "");
    usleep(kPastGuard);
    EXPECT_TRUE(windowOpen("Question")) << "the second click answered the question";
    key("y");
    EXPECT_EQ(run.finish().out, "1\n");
}

TEST_F(GuiPopupTest, LongQuestionKeepsItsButtonsOnScreen) {
    std::string longText;
    while (longText.size() < 3000) longText += "Check every connector on the harness, one after the other. ";
    longText += "https://station.example/very/long/unbreakable/path/" + std::string(200, 'x');
    ProgramRun run("opquery_multi", QuestionOnly(longText), guiEnv());
    std::string window = waitAnswerable("Question");
    ASSERT_NE(window, "");
    Geometry g = geometry(window);
    EXPECT_GE(g.y, 0);
    EXPECT_LE(g.y + g.height, kScreenHeight) << "taller than the screen";
    EXPECT_LE(g.x + g.width, kScreenWidth) << "wider than the screen: a token was not wrapped";
    screenshot(window, "long-question.png");
    click(g.x + g.width - 70, g.y + g.height - 65);  // No, at the bottom right
    EXPECT_EQ(run.finish().out, "0\n");
}

TEST_F(GuiPopupTest, MixedScriptsAndDisplayScaling) {
    const std::string text =
        "Prüfen Sie die Lampe. Sprawdź, czy lampka świeci. 请检查指示灯是否亮起。ランプが点灯しているか確認してください。"
        "Проверьте, горит ли лампа.";
    ProgramRun run("opquery_multi", QuestionOnly(text), guiEnv());
    std::string window = waitAnswerable("Question");
    ASSERT_NE(window, "");
    screenshot(window, "mixed-scripts.png");
    int normalWidth = geometry(window).width;
    key("y");
    EXPECT_EQ(run.finish().out, "1\n");

    auto scaled = guiEnv();
    scaled["GDK_SCALE"] = "2";
    ProgramRun big("opquery_multi", QuestionOnly(text), scaled);
    window = waitAnswerable("Question");
    EXPECT_GT(geometry(window).width, normalWidth * 3 / 2) << "GDK_SCALE=2 did not scale the popup";
    key("y");
    EXPECT_EQ(big.finish().out, "1\n");

    // Xft.dpi, as a desktop at 192 dpi sets it.
    RunProgram("/bin/sh", {"-c", "echo 'Xft.dpi: 192' | xrdb -merge"}, {{"DISPLAY", display_}});
    ProgramRun dense("opquery_multi", QuestionOnly(text), guiEnv());
    window = waitAnswerable("Question");
    EXPECT_GT(geometry(window).width, normalWidth * 3 / 2) << "Xft.dpi 192 did not scale the popup";
    key("y");
    EXPECT_EQ(dense.finish().out, "1\n");
}

// A step that shows no popup never loads GTK: its start-up stays that of a console program.
TEST(GuiModule, IsLoadedOnlyAtTheFirstGuiPopup) {
    PtyDevice device("COM8");
    auto env = device.env();
    env["LD_DEBUG"] = "files";
    env["DISPLAY"] = ":9999";
    env["STEPTOOLS_POPUP"] = "gui";
    RunResult quiet = RunProgram("opquery_multi", {"!q", "!m", "", "!", "COM8", "0.1", "0"}, env);
    EXPECT_EQ(quiet.out, "1\n");
    EXPECT_EQ(quiet.err.find("libgtk-3"), std::string::npos) << "a step without popups loaded GTK";
    RunResult asked = RunProgram("opquery_multi", QuestionOnly(), env);
    EXPECT_NE(asked.err.find("libgtk-3"), std::string::npos) << "the check above would not see GTK";
}

TEST_F(GuiPopupTest, NoUsableDisplay) {
    // gui with a display that does not open: every popup fails at once.
    RunResult gui = RunProgram("opquery_multi", QuestionOnly(), {{"DISPLAY", ":9999"}, {"STEPTOOLS_POPUP", "gui"},
                                                                 {"STEPTOOLS_PORT_DIR", device_.portDir()}});
    EXPECT_EQ(gui.out, "-1\n");  // a question that cannot be asked, with no read after it
    EXPECT_NE(gui.err.find("cannot open the display"), std::string::npos) << gui.err;
    // auto falls back to the terminal.
    ProgramRun run("opquery_multi", QuestionOnly(), {{"DISPLAY", ":9999"}, {"STEPTOOLS_POPUP", "auto"},
                                                     {"STEPTOOLS_PORT_DIR", device_.portDir()}}, true);
    ASSERT_TRUE(run.waitTerminal("Answer y"));
    run.typeTerminal("y\n");
    EXPECT_EQ(run.finish().out, "1\n");
}

TEST_F(GuiPopupTest, MissingGuiModule) {
    std::string program = MakeTempDir() + "/opquery_multi";
    fs::copy_file(BinDir() + "/opquery_multi", program);
    RunResult gui = RunProgram(program, QuestionOnly(), guiEnv());
    EXPECT_EQ(gui.out, "-1\n");
    EXPECT_NE(gui.err.find("gui module is missing"), std::string::npos) << gui.err;
    ProgramRun run(program, QuestionOnly(), guiEnv("auto"), true);
    ASSERT_TRUE(run.waitTerminal("Answer y"));
    run.typeTerminal("n\n");
    EXPECT_EQ(run.finish().out, "0\n");
}

// GNOME on Wayland, as a Debian station runs it: mutter headless, in a D-Bus session of its
// own, with Xwayland for X11 programs (or without, for a pure Wayland session). The helpers
// of GuiPopupTest work on Xwayland's display.
class MutterPopupTest : public GuiPopupTest {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/mutter", "/usr/bin/Xwayland", "/usr/bin/dbus-run-session", "/usr/bin/xdotool",
                                 "/usr/bin/xprop", "/usr/bin/xterm", "/usr/bin/xwininfo"})
            if (!fs::exists(tool)) GTEST_SKIP() << "needs " << tool;
        runtime_ = MakeTempDir();
        chmod(runtime_.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        std::vector<std::string> mutter = {"/usr/bin/dbus-run-session", "--", "/usr/bin/mutter", "--wayland", "--headless",
                                           "--virtual-monitor", "1280x1024"};
        if (!x11_) mutter.push_back("--no-x11");
        server_ = start(mutter);
        // mutter names its Wayland socket wayland-0 in its own runtime folder; Xwayland takes
        // a free display and an authority file there.
        for (int i = 0; i < 600 && !fs::exists(runtime_ + "/wayland-0"); ++i) usleep(50000);
        ASSERT_TRUE(fs::exists(runtime_ + "/wayland-0")) << "mutter did not start";
        if (!x11_) return;
        for (int i = 0; i < 600 && display_.empty(); ++i) {
            findXwayland();
            if (display_.empty()) usleep(50000);
        }
        ASSERT_FALSE(display_.empty()) << "Xwayland did not start";
        setenv("DISPLAY", display_.c_str(), 1);
        setenv("XAUTHORITY", authority_.c_str(), 1);
        waitForWindowManager();
    }
    void TearDown() override {
        if (server_ > 0) {
            kill(-server_, SIGTERM);  // its session: dbus, mutter and Xwayland
            waitpid(server_, nullptr, 0);
        }
        server_ = -1;
        unsetenv("XAUTHORITY");
        unsetenv("XDG_RUNTIME_DIR");
    }
    // Xwayland's display and authority file, from the command line mutter gave it.
    void findXwayland() {
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::ifstream in(entry.path() / "cmdline", std::ios::binary);
            std::vector<std::string> args;
            for (std::string arg; std::getline(in, arg, '\0');) args.push_back(arg);
            if (args.empty() || args[0].find("Xwayland") == std::string::npos) continue;
            for (size_t i = 0; i + 1 < args.size(); ++i) {
                if (args[i] == "-auth" && args[i + 1].rfind(runtime_, 0) == 0) {
                    authority_ = args[i + 1];
                    for (const std::string& a : args)
                        if (a.size() > 1 && a[0] == ':') display_ = a;
                }
            }
        }
    }
    // A step's environment in the session: both displays, as GNOME sets them.
    std::map<std::string, std::string> sessionEnv() const {
        auto env = guiEnv();
        env["WAYLAND_DISPLAY"] = "wayland-0";
        env["XDG_RUNTIME_DIR"] = runtime_;
        if (x11_) env["XAUTHORITY"] = authority_;
        else env["DISPLAY"] = "";
        return env;
    }

    bool x11_ = true;
    std::string runtime_;
    std::string authority_;
};

class PureWaylandPopupTest : public MutterPopupTest {
protected:
    PureWaylandPopupTest() { x11_ = false; }
};

// With Xwayland there, the popup is an X11 window: kept above a maximized window that the
// operator clicks, answered by y after the guard and not by type-ahead.
TEST_F(MutterPopupTest, QuestionIsAnX11WindowKeptAboveAMaximizedWindow) {
    pid_t other = start({"/usr/bin/xterm", "-maximized", "-T", "terminal"});
    ASSERT_NE(waitWindow("terminal"), "");
    ProgramRun run("opquery_multi", QuestionOnly(), sessionEnv());
    tool("xdotool", {"type", "--delay", "60", "yyyyyyyyyyyyyyyyyyyy"});  // typing in the terminal
    std::string window = waitWindow("Question");
    ASSERT_NE(window, "") << "no X11 popup: " << run.finish().err;
    usleep(300000);
    EXPECT_TRUE(windowOpen("Question")) << "type-ahead answered the question";
    EXPECT_NE(property(window, "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE"), std::string::npos);
    click(40, 300);  // the operator clicks the terminal
    usleep(kPastGuard);
    EXPECT_EQ(topWindow(), Hex(window));
    screenshot(window, "mutter-question.png");
    key("Return");
    usleep(300000);
    EXPECT_TRUE(windowOpen("Question")) << "Enter answered the question";
    tool("xdotool", {"windowactivate", "--sync", window});
    usleep(kPastGuard);
    key("y");
    RunResult r = run.finish();
    EXPECT_EQ(r.out, "1\n") << r.err;
    EXPECT_EQ(r.err.find("cannot be kept above"), std::string::npos) << r.err;
    kill(other, SIGTERM);
    waitpid(other, nullptr, 0);
}

TEST_F(MutterPopupTest, ButtonsAndEnterAnswerAfterTheGuard) {
    ProgramRun yes("opquery_multi", QuestionOnly(), sessionEnv());
    std::string window = waitAnswerable("Question");
    ASSERT_NE(window, "") << yes.finish().err;
    Geometry g = geometry(window);
    click(g.x + g.width - 200, g.y + g.height - 65);  // Yes: left of No, at the right
    EXPECT_EQ(yes.finish().out, "1\n");
    ProgramRun no("opquery_multi", QuestionOnly(), sessionEnv());
    ASSERT_NE(waitAnswerable("Question"), "") << no.finish().err;
    key("n");
    EXPECT_EQ(no.finish().out, "0\n");
    ProgramRun message("opquery_multi", kMessageOnly, sessionEnv());
    ASSERT_NE(waitAnswerable("Message"), "") << message.finish().err;
    key("Return");
    EXPECT_EQ(message.finish().out, "1\n");
}

TEST_F(MutterPopupTest, KeyHeldSinceBeforeThePopupDoesNotAnswerIt) {
    expectHeldKeyIgnored(QuestionOnly(), sessionEnv());
}

// Without an X server the popup is a Wayland window: it says once that it cannot be kept
// above, and waits for its operator (nothing here can type into a Wayland window).
TEST_F(PureWaylandPopupTest, SaysItCannotBeKeptAboveAndWaits) {
    ProgramRun run("opquery_multi", QuestionOnly(), sessionEnv());
    RunResult r = run.finish(15);
    EXPECT_NE(r.err.find("popups: no X server in this Wayland session: the popup cannot be kept above other windows"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("[killed by the test's timeout]"), std::string::npos) << "it did not wait: " << r.err;
    EXPECT_EQ(r.out, "");
}

}  // namespace
