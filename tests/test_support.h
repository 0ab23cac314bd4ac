// Fixtures for the end-to-end tests: run a program as a station would, play a device on a
// pseudo-terminal, run the device simulator.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

std::string BinDir();                 // where the programs are built
// With STEPTOOLS_TEST_WINDOWS_BIN set to the Windows build's bin folder, the same tests run
// the Windows programs (.exe) through Wine; the device simulator stays the Linux one.
std::string WindowsProgramsDir();
bool UnderWine();

// What a Windows program may take to start under a cold Wine (a new prefix, a machine's
// first run, a loaded CPU): no wait for a program or for what it did is shorter under Wine.
inline constexpr double kColdWineSeconds = 90;
// `seconds`, raised to kColdWineSeconds under Wine. Only for waits that end as soon as what
// they wait for happens: a check that something does not happen keeps its own time.
double WaitBound(double seconds);

// Skips the current test when the Windows programs run under Wine, which cannot show it.
#define SKIP_UNDER_WINE(reason) \
    if (UnderWine()) GTEST_SKIP() << "Wine cannot show this: " << (reason)
inline constexpr const char* kWineVanish = "Wine does not report a serial device that disappears";
inline constexpr const char* kWineExclusive = "Wine does not honour a serial port's exclusive sharing mode";
inline constexpr const char* kWineConsole = "Wine's console is not the test's pseudo-terminal";
inline constexpr const char* kWineBaud = "Wine's serial layer takes only the classic baud rates";
inline constexpr const char* kWinePaths = "a Linux device path means nothing to a Windows program";
inline constexpr const char* kWineUtf8Arguments =
    "Wine hands a Windows program its Linux arguments as UTF-8: other bytes cannot reach it";
inline constexpr const char* kWineMappedAddress = "Wine's Winsock does not connect to an IPv4-mapped IPv6 address";
std::string MakeTempDir();            // a fresh directory, removed by nobody (under /tmp)
std::string HexOf(const std::string& bytes);

struct RunResult {
    std::string out;      // standard output; under Wine with the text mode's CR LF read as LF
    std::string rawOut;   // standard output as the bytes came
    std::string err;
    int status = -1;      // exit status 0..255, or -1 when killed by a signal or the test's timeout
    int signal = 0;       // the signal that ended it, if one did
    double seconds = 0;
};

// A program run. Popups go to a pseudo-terminal that is its controlling terminal when
// withTerminal is set; otherwise it runs in a session of its own with no terminal.
class ProgramRun {
public:
    ProgramRun(const std::string& program, const std::vector<std::string>& args,
        const std::map<std::string, std::string>& env = {}, bool withTerminal = false);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Reads the terminal until `text` has appeared (anywhere since the start). False on timeout.
    bool waitTerminal(const std::string& text, double timeoutSeconds = 10);
    void typeTerminal(const std::string& keys);
    void closeTerminal();
    void sendSignal(int signal);  // as a sequencer ends a step
    const std::string& terminalText() const { return terminal_; }
    // Waits for the end of the program (killing it after timeoutSeconds).
    RunResult finish(double timeoutSeconds = 20);

private:
    void drainTerminal(int timeoutMs);
    int pid_ = -1;
    bool windows_ = false;  // a Windows program, run through Wine
    int outFd_ = -1;
    int errFd_ = -1;
    int master_ = -1;
    std::string terminal_;
    std::chrono::steady_clock::time_point start_;
};

// Starts `argv` (a full path first) in a session of its own with its output discarded, for
// servers and desktops that a test needs beside the program under test. Returns its pid.
int StartInBackground(const std::vector<std::string>& argv);

// Runs a program to its end with no terminal.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {});

// A device on a pseudo-terminal, reachable as `name` in its own port directory.
class PtyDevice {
public:
    explicit PtyDevice(const std::string& name = "COM7");
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    const std::string& portDir() const { return dir_; }
    std::map<std::string, std::string> env() const { return {{"STEPTOOLS_PORT_DIR", dir_}}; }
    void send(const std::string& bytes);
    // What the program wrote: reads until `count` bytes came or the timeout ends.
    std::string receive(size_t count, double timeoutSeconds = 5);
    // Reads until `text` came, returns everything read.
    std::string receiveUntil(const std::string& text, double timeoutSeconds = 5);
    void vanish();  // closes the device side: the port goes away
    int slaveFd() const { return slave_; }  // the port's own side, for checking its settings

private:
    std::string dir_;
    int master_ = -1;
    int slave_ = -1;
};

// The device simulator, started with `args`, with its own port directory and log.
class DevSim {
public:
    explicit DevSim(const std::vector<std::string>& args);
    ~DevSim();
    DevSim(const DevSim&) = delete;
    DevSim& operator=(const DevSim&) = delete;

    const std::string& portDir() const { return dir_; }
    int telnetPort() const { return telnetPort_; }
    std::string telnetSpec() const { return "127.0.0.1," + std::to_string(telnetPort_); }
    // The port argument of a program: its Telnet port, or its pty as COM7 at 115200 baud.
    std::string linkSpec(bool telnet) const { return telnet ? telnetSpec() : "COM7,115200"; }
    std::map<std::string, std::string> env() const { return {{"STEPTOOLS_PORT_DIR", dir_}}; }
    std::string log() const;  // what it received and sent, one event a line
    // Waits until the log holds `text`. False on timeout.
    bool waitLog(const std::string& text, double timeoutSeconds = 10) const;

private:
    std::string dir_;
    int pid_ = -1;
    int telnetPort_ = -1;
};
