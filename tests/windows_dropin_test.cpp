// The Windows programs as a test executive starts them: from an exact raw command line
// through CreateProcessW or CreateProcessA (build-win/tests/launcher.exe) under Wine. They
// must do with that line what the programs they replace did: the same split, the same
// bytes on the link, the same outputs and exit statuses.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "test_support.h"

namespace {

constexpr double kWineStartSeconds = kColdWineSeconds;

std::string windowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& ch : path)
        if (ch == '/') ch = '\\';
    return path;
}

struct Launch {
    std::string raw;              // the command line after the program
    std::string program = "opquery_multi";
    std::string dir;              // the program's folder (default: the Windows build's)
    bool ansi = false;            // CreateProcessA
    std::string flag;             // --no-window or --detached
    std::string cwd = "/";
    std::map<std::string, std::string> env;
};

// Starts the launch; the caller plays the device and then finishes the run.
std::unique_ptr<ProgramRun> start(const Launch& l) {
    std::string dir = l.dir.empty() ? WindowsProgramsDir() : l.dir;
    std::string file = MakeTempDir() + "/line";
    std::ofstream(file, std::ios::binary) << "\"" << windowsPath(dir + "/" + l.program + ".exe") << "\" " << l.raw;
    std::string launcher = WindowsProgramsDir() + "/../tests/launcher.exe";
    std::string script = "cd '" + l.cwd + "' && exec wine '" + launcher + "' " + (l.ansi ? "--ansi " : "") + l.flag +
                         " '" + file + "'";
    return std::make_unique<ProgramRun>("/bin/sh", std::vector<std::string>{"-c", script}, l.env);
}

RunResult run(const Launch& l) {
    return start(l)->finish(kWineStartSeconds);
}

#define SKIP_UNLESS_WINDOWS() \
    if (!UnderWine()) GTEST_SKIP() << "needs the Windows programs (tests/windows_test.sh)"

std::map<std::string, std::string> merged(std::map<std::string, std::string> a, const std::map<std::string, std::string>& b) {
    a.insert(b.begin(), b.end());
    return a;
}

// What reaches the device for each raw token, and the verdict it then gives.
TEST(WindowsDropIn, SplitsTheCommandLineByTheSystemsOwnRules) {
    SKIP_UNLESS_WINDOWS();
    struct Row {
        const char* raw;
        const char* sent;
    };
    const Row rows[] = {
        {R"(a\\"b c")", R"(a\\b c)"},
        {R"(a\\\"b)", R"(a\\"b)"},
        {R"("C:\dir\\")", R"(C:\dir\\)"},
        {R"("a""b")", "ab"},
        {R"(a\b\\c)", R"(a\b\\c)"},
        {R"(a\"b)", "a\"b"},
        {"\"a\tb\"", "a\tb"},
        {"*.exe", "*.exe"},
    };
    for (const Row& row : rows) {
        PtyDevice device;
        auto program = start({"! ! OK " + std::string(row.raw) + " COM7 5", "opquery_multi", "", false, "", "/", device.env()});
        EXPECT_EQ(device.receiveUntil("\r", kWineStartSeconds), std::string(row.sent) + "\r") << row.raw;
        device.send("OK\r");
        RunResult r = program->finish(kWineStartSeconds);
        EXPECT_EQ(r.rawOut, "1\r\n") << row.raw;  // text mode: CR LF
        EXPECT_EQ(r.status, 1) << row.raw;
    }
}

TEST(WindowsDropIn, EmptyQuotedArgumentsAreArguments) {
    SKIP_UNLESS_WINDOWS();
    // """" and "" are empty commands: the message and question stay suppressed, the
    // expected reply is empty, so any reply passes once read.
    for (const char* empty : {R"("""")", R"("")"}) {
        PtyDevice device;
        auto program = start({std::string("! ! ") + empty + " X COM7 5", "opquery_multi", "", false, "", "/", device.env()});
        EXPECT_EQ(device.receiveUntil("\r", kWineStartSeconds), "X\r") << empty;
        device.send("anything\r");
        EXPECT_EQ(program->finish(kWineStartSeconds).rawOut, "1\r\n") << empty;
    }
}

// Commands and expected replies are the ANSI code page's bytes (cp1252 here), as a narrow
// main had them; 0xFF is doubled on Telnet and comes back single.
TEST(WindowsDropIn, LinkTextsAreTheAnsiCodePagesBytes) {
    SKIP_UNLESS_WINDOWS();
    DevSim sim({"--pty", "COM7", "--telnet", "0", "hex:54B03F=>raw:25\\xB0C\\r\\n", "hex:FF3F=>raw:\\xFFok\\r\\n"});
    for (bool ansi : {false, true}) {
        for (bool telnet : {false, true}) {
            std::string link = telnet ? sim.telnetSpec() : "COM7";
            std::string what = std::string(ansi ? "CreateProcessA" : "CreateProcessW") + (telnet ? " Telnet" : " serial");
            RunResult r = run({"! ! \"25°C\" \"T°?\" " + link + " 5", "opquery_multi", "", ansi, "", "/", sim.env()});
            EXPECT_EQ(r.rawOut, "1\r\n") << what << r.err;
            r = run({"! ! ÿok ÿ? " + link + " 5", "opquery_multi", "", ansi, "", "/", sim.env()});
            EXPECT_EQ(r.rawOut, "1\r\n") << what << r.err;
        }
    }
    EXPECT_TRUE(sim.waitLog("pty rx T\\xB0?\\r\n")) << sim.log();
    EXPECT_TRUE(sim.waitLog("telnet net \\xFF\\xFF?\\r\n")) << sim.log();  // doubled on the wire
    EXPECT_EQ(sim.log().find("\\xC2"), std::string::npos) << "UTF-8 reached the device: " << sim.log();

    // The other programs, serial and Telnet alike.
    PtyDevice device;
    auto program = start({"COM7 \"T°?\" \"25°C\" x 2", "serial", "", true, "", "/", device.env()});
    EXPECT_EQ(device.receiveUntil("\r", kWineStartSeconds), "T\xB0?\r");
    device.send("25\xB0" "C\r");
    EXPECT_EQ(program->finish(kWineStartSeconds).rawOut, "1\r\n");
    RunResult r = run({"! ! H3235B0 \"T°?\" " + sim.telnetSpec() + " 5", "opquery", "", false, "", "/", sim.env()});
    EXPECT_EQ(r.rawOut, "1\r\n") << r.err;
    r = run({"Test ! \"25°C_\" \"T°?\" " + sim.telnetSpec() + " 5", "opquery_multi_responses", "", false, "", "/", sim.env()});
    EXPECT_EQ(r.rawOut, "1\r\n") << r.err;
}

// A character that the code page turns into a quote (a fullwidth quote in cp1252 by best
// fit) is converted after the split, so it never ends or starts a quoted argument.
TEST(WindowsDropIn, ConvertedCharactersNeverSplitArguments) {
    SKIP_UNLESS_WINDOWS();
    PtyDevice device;
    auto program = start({"! ! OK \"a\xEF\xBC\x82 b\" COM7 5", "opquery_multi", "", false, "", "/", device.env()});
    std::string sent = device.receiveUntil("\r", kWineStartSeconds);
    EXPECT_TRUE(sent == "a\" b\r" || sent == "a? b\r") << sent;  // one argument, blank included
    device.send("OK\r");
    EXPECT_EQ(program->finish(kWineStartSeconds).rawOut, "1\r\n");
}

// Popups and records show what the caller wrote, in Unicode, whatever the code page lost.
TEST(WindowsDropIn, RecordsHoldTheArgumentsAsWritten) {
    SKIP_UNLESS_WINDOWS();
    PtyDevice device;
    std::string dir = MakeTempDir();
    auto env = merged(device.env(), {{"STEPTOOLS_RECORD", windowsPath(dir + "/steps.jsonl")}});
    auto program = start({"! \"Czy lampka świeci?\" OK \"T°?\" COM7 5", "opquery_multi", "", false, "", "/", env});
    EXPECT_EQ(device.receiveUntil("\r", kWineStartSeconds), "T\xB0?\r");
    device.send("OK\r");
    program->finish(kWineStartSeconds);
    std::ifstream in(dir + "/steps.jsonl");
    std::string line;
    std::getline(in, line);
    EXPECT_NE(line.find("\"args\":[\"!\",\"Czy lampka świeci?\",\"OK\",\"T°?\",\"COM7\",\"5\"]"), std::string::npos) << line;
    EXPECT_NE(line.find("\"program\":\"opquery_multi\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"hex\":\"54b03f0d\""), std::string::npos) << line;  // the bytes as they went
}

// The modules load only from the program's own folder, by full path.
TEST(WindowsDropIn, PlantedLibrariesAreNeverLoaded) {
    SKIP_UNLESS_WINDOWS();
    DevSim sim({"--pty", "COM7", "--telnet", "0", "ID?=>raw:DEV\\r\\n"});
    std::string root = MakeTempDir();
    for (const char* d : {"/station", "/cwd", "/onpath", "/lib"}) mkdir((root + d).c_str(), 0755);
    std::string bin = WindowsProgramsDir();
    ASSERT_EQ(system(("cp '" + bin + "/opquery_multi.exe' '" + root + "/station/'").c_str()), 0);
    for (const char* d : {"/cwd", "/onpath", "/lib"})
        ASSERT_EQ(system(("cp '" + bin + "/stepinet.dll' '" + bin + "/steppopup_gui.dll' '" + root + d + "/'").c_str()), 0);
    auto env = merged(sim.env(), {{"WINEPATH", windowsPath(root + "/onpath")}});
    RunResult r = run({"! ! DEV ID? " + sim.telnetSpec() + " 5", "opquery_multi", root + "/station", false, "", root + "/cwd", env});
    EXPECT_EQ(r.rawOut, "-1\r\n") << r.err;  // the Telnet library is not there
    EXPECT_EQ(sim.log().find("telnet connect"), std::string::npos) << sim.log();
    r = run({"Lamp? ! DEV ! COM7 5", "opquery_multi", root + "/station", false, "", root + "/cwd",
             merged(env, {{"STEPTOOLS_POPUP", "gui"}})});
    EXPECT_NE(r.err.find("the gui module is missing"), std::string::npos) << r.err;
    EXPECT_NE(r.rawOut, "1\r\n");
}

// An install folder outside the code page, or past MAX_PATH, still finds its modules.
TEST(WindowsDropIn, ModulesLoadFromAnyInstallFolder) {
    SKIP_UNLESS_WINDOWS();
    DevSim sim({"--pty", "COM7", "--telnet", "0", "ID?=>raw:DEV\\r\\n"});
    std::string root = MakeTempDir();
    std::string deep = root;
    while (deep.size() < 300) deep += "/" + std::string(40, 'd');
    std::string bin = WindowsProgramsDir();
    for (const std::string& dir : {root + "/Stationen/Ωμέγα", deep}) {
        ASSERT_EQ(system(("mkdir -p '" + dir + "' && cp '" + bin + "/opquery_multi.exe' '" + bin + "/stepinet.dll' '" + bin +
                          "/steppopup_gui.dll' '" + dir + "/'").c_str()),
                  0);
    }
    auto telnet = "! ! DEV ID? " + sim.telnetSpec() + " 5";
    auto gui = merged(sim.env(), {{"STEPTOOLS_POPUP", "gui"}});
    RunResult r = run({telnet, "opquery_multi", root + "/Stationen/Ωμέγα", false, "", "/", sim.env()});
    EXPECT_EQ(r.rawOut, "1\r\n") << r.err;
    r = run({"Lamp? ! DEV ! COM7 0", "opquery_multi", root + "/Stationen/Ωμέγα", false, "", "/", gui});
    EXPECT_EQ(r.err.find("the gui module is missing"), std::string::npos) << r.err;
    // CreateProcess itself takes no program past MAX_PATH (nor does Wine's): started from its
    // folder, the program's own module path is the long one.
    auto fromDeep = [&](const std::string& args, const std::map<std::string, std::string>& env) {
        return ProgramRun("/bin/sh", {"-c", "cd '" + deep + "' && exec wine ./opquery_multi.exe " + args}, env)
            .finish(kWineStartSeconds);
    };
    r = fromDeep(telnet, sim.env());
    EXPECT_EQ(r.rawOut, "1\r\n") << r.err;
    r = fromDeep("Lamp? ! DEV ! COM7 0", gui);
    EXPECT_EQ(r.err.find("the gui module is missing"), std::string::npos) << r.err;
}

// A console that no one can see fails a console popup at once, never waits.
TEST(WindowsDropIn, ConsolePopupsNeverWaitForNobody) {
    SKIP_UNLESS_WINDOWS();
    DevSim sim({"--pty", "COM7"});
    for (const char* flag : {"--no-window", "--detached"}) {
        RunResult r = run({"Lamp? ! DEV ! COM7 5", "opquery_multi", "", false, flag, "/",
                           merged(sim.env(), {{"STEPTOOLS_POPUP", "tty"}})});
        EXPECT_EQ(r.rawOut, "0\r\n") << flag << r.err;
        EXPECT_EQ(r.err.find("[killed by the test's timeout]"), std::string::npos) << flag;
    }
}

TEST(WindowsDropIn, ComNamesInAnyCaseWithOrWithoutAColon) {
    SKIP_UNLESS_WINDOWS();
    for (const char* name : {"COM7", "COM12"}) {
        DevSim sim({"--pty", name, "ID?=>raw:OK\\r"});
        std::string lower = "com" + std::string(name + 3);
        for (const std::string& port : {std::string(name), lower, std::string(name) + ":", lower + ":"}) {
            RunResult r = run({port + " ID? OK x 0.5", "serial", "", false, "", "/", sim.env()});
            EXPECT_EQ(r.rawOut, "1\r\n") << port << "\n" << r.err;
        }
    }
}

// A command goes out whole, whatever the read timeout.
TEST(WindowsDropIn, LongCommandsGoOutWholeEvenWithTimeoutZero) {
    SKIP_UNLESS_WINDOWS();
    PtyDevice device;
    std::string command(2046, 'C');
    auto program = start({"COM7,9600 " + command + " ! x 0", "serial", "", false, "", "/", device.env()});
    EXPECT_EQ(device.receiveUntil("\r", kWineStartSeconds), command + "\r");
    program->finish(kWineStartSeconds);
}

// A refused port is a failed connect, seen at once, not the connect timeout's end.
TEST(WindowsDropIn, RefusedTelnetPortIsAFailedConnect) {
    SKIP_UNLESS_WINDOWS();
    std::string dir = MakeTempDir();
    RunResult r = run({"! ! DEV ID? 127.0.0.1,1 5", "opquery_multi", "", false, "", "/",
                       {{"STEPTOOLS_RECORD", windowsPath(dir + "/steps.jsonl")}}});
    EXPECT_EQ(r.rawOut, "-1\r\n") << r.err;
    std::ifstream in(dir + "/steps.jsonl");
    std::string line;
    std::getline(in, line);
    EXPECT_NE(line.find("\"open\":-2"), std::string::npos) << line;  // refused, not -3 (timed out)
}

}  // namespace
