// The gui popups as an operator sees them: real windows on an X server (Xvfb), answered
// with the keyboard through xdotool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class GuiPopupTest : public ::testing::Test {
protected:
    // Starts Xvfb on a display number it picks itself and waits until it accepts clients.
    // It must not reset when a program closes its last window: the next program could not
    // connect meanwhile.
    void SetUp() override {
        if (!fs::exists("/usr/bin/Xvfb") || !fs::exists("/usr/bin/xdotool")) GTEST_SKIP() << "needs Xvfb and xdotool";
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        server_ = fork();
        if (server_ == 0) {
            setsid();
            int devNull = open("/dev/null", O_RDWR);
            dup2(devNull, 1);
            dup2(devNull, 2);
            std::string fd = std::to_string(fds[1]);
            execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                  "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char number[16] = {};
        ssize_t n = read(fds[0], number, sizeof number - 1);
        close(fds[0]);
        ASSERT_GT(n, 0) << "Xvfb did not start";
        display_ = ":";  // built up: GCC 12 warns falsely on ":" + std::string
        display_ += std::to_string(std::atoi(number));
    }
    void TearDown() override {
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
        }
    }

    std::map<std::string, std::string> guiEnv(const std::string& mode = "gui") const {
        return {{"DISPLAY", display_}, {"STEPTOOLS_POPUP", mode}};
    }
    RunResult xdotool(const std::vector<std::string>& args) const {
        return RunProgram("/usr/bin/xdotool", args, {{"DISPLAY", display_}});
    }
    // The id of the window titled exactly `title`, waiting up to 10 s for it.
    std::string waitWindow(const std::string& title) const {
        for (int i = 0; i < 200; ++i) {
            RunResult r = xdotool({"search", "--name", "^" + title + "$"});
            if (r.status == 0 && !r.out.empty()) return r.out.substr(0, r.out.find('\n'));
            usleep(50000);
        }
        return "";
    }
    bool windowOpen(const std::string& title) const {
        RunResult r = xdotool({"search", "--name", "^" + title + "$"});
        return r.status == 0 && !r.out.empty();
    }
    void key(const std::string& name) const { xdotool({"key", name}); }
    void screenshot(const std::string& window, const std::string& file) const {
        if (!fs::exists("/usr/bin/import")) return;
        fs::create_directories(STEPTOOLS_SCREENSHOT_DIR);
        RunProgram("/usr/bin/import", {"-window", window, std::string(STEPTOOLS_SCREENSHOT_DIR) + "/" + file},
                   {{"DISPLAY", display_}});
    }

    pid_t server_ = -1;
    std::string display_;
};

// No reads and no expected text: the verdict is the operator's answer alone.
const std::vector<std::string> kQuestionOnly = {"Is the lamp lit? Look at the front panel.", "!m", "", "!", "COM99", "0.1", "0"};
const std::vector<std::string> kMessageOnly = {"!q", "Look at the lamp on the front panel, then close this message.", "",
                                               "!", "COM99", "0.1", "0"};

TEST_F(GuiPopupTest, QuestionIsAnsweredWithTheKeyboard) {
    struct Case {
        std::string key, out;
    };
    for (const Case& c : {Case{"y", "1\n"}, Case{"n", "0\n"}, Case{"Escape", "0\n"}}) {
        ProgramRun run("opquery_multi", kQuestionOnly, guiEnv());
        ASSERT_NE(waitWindow("Question"), "") << c.key;
        key(c.key);
        RunResult r = run.finish();
        EXPECT_EQ(r.out, c.out) << c.key << r.err;
    }
}

TEST_F(GuiPopupTest, EnterNeverAnswersAQuestion) {
    ProgramRun run("opquery_multi", kQuestionOnly, guiEnv());
    std::string window = waitWindow("Question");
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
        std::string window = waitWindow("Message");
        ASSERT_NE(window, "");
        if (k == "Return") screenshot(window, "message.png");
        key(k);
        EXPECT_EQ(run.finish().out, "1\n") << k;  // a dismissed message counts as acceptance
    }
}

TEST_F(GuiPopupTest, MessageThenQuestionInOrder) {
    ProgramRun run("opquery_multi", {"Lamp lit?", "Look at the lamp", "", "!", "COM99", "0.1", "0"}, guiEnv("auto"));
    ASSERT_NE(waitWindow("Message"), "");
    EXPECT_FALSE(windowOpen("Question"));
    key("Return");
    ASSERT_NE(waitWindow("Question"), "");
    key("y");
    EXPECT_EQ(run.finish().out, "1\n");
}

TEST_F(GuiPopupTest, FailurePopupCarriesItsTitleExactly) {
    DevSim device({"--pty", "COM8", "PING=>say:Y"});
    auto env = guiEnv();
    env.merge(device.env());
    ProgramRun run("opquery_multi_responses", {"Boot", "!m", "X_", "PING", "COM8,9600", "2", "1", "1"}, env);
    ASSERT_NE(waitWindow("The following Test failed   "), "") << run.finish().err;
    key("Return");
    EXPECT_EQ(run.finish().out, "0\n");
}

TEST_F(GuiPopupTest, NoUsableDisplay) {
    // gui with a display that does not open: every popup fails at once.
    RunResult gui = RunProgram("opquery_multi", kQuestionOnly, {{"DISPLAY", ":9999"}, {"STEPTOOLS_POPUP", "gui"}});
    EXPECT_EQ(gui.out, "-1\n");
    EXPECT_EQ(gui.status, 255);
    EXPECT_NE(gui.err.find("cannot open the display"), std::string::npos) << gui.err;
    // auto falls back to the terminal.
    ProgramRun run("opquery_multi", kQuestionOnly, {{"DISPLAY", ":9999"}, {"STEPTOOLS_POPUP", "auto"}}, true);
    ASSERT_TRUE(run.waitTerminal("Answer y"));
    run.typeTerminal("y\n");
    EXPECT_EQ(run.finish().out, "1\n");
}

TEST_F(GuiPopupTest, MissingGuiModule) {
    std::string program = MakeTempDir() + "/opquery_multi";
    fs::copy_file(BinDir() + "/opquery_multi", program);
    RunResult gui = RunProgram(program, kQuestionOnly, guiEnv());
    EXPECT_EQ(gui.out, "-1\n");
    EXPECT_NE(gui.err.find("gui module is missing"), std::string::npos) << gui.err;
    ProgramRun run(program, kQuestionOnly, guiEnv("auto"), true);
    ASSERT_TRUE(run.waitTerminal("Answer y"));
    run.typeTerminal("n\n");
    EXPECT_EQ(run.finish().out, "0\n");
}

}  // namespace
