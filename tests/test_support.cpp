#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

void readAvailable(int fd, std::string& into) {
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) into.append(buf, static_cast<size_t>(n));
        else break;
    }
}

int spawn(const std::string& program, const std::vector<std::string>& args,
          const std::map<std::string, std::string>& env, int outFd, int errFd, const std::string& ttyPath) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    setsid();  // no controlling terminal unless ttyPath gives one
    if (!ttyPath.empty()) {
        int tty = open(ttyPath.c_str(), O_RDWR);  // becomes the controlling terminal
        ioctl(tty, TIOCSCTTY, 0);
        if (tty > 2) close(tty);
    }
    int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("STEPTOOLS_POPUP", "tty", 1);
    for (const auto& [key, value] : env) {
        if (value.empty()) unsetenv(key.c_str());
        else setenv(key.c_str(), value.c_str(), 1);
    }
    std::vector<char*> argv;
    std::string path = program.find('/') == std::string::npos ? BinDir() + "/" + program : program;
    // The Windows programs under test run through Wine; the simulator stays the Linux one.
    std::string windowsPath = WindowsProgramsDir() + "/" + program + ".exe";
    bool windows = UnderWine() && program.find('/') == std::string::npos && program != "devsim";
    static char wine[] = "wine";
    if (windows) {
        argv.push_back(wine);
        path = windowsPath;
    }
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (windows) execvp("wine", argv.data());
    else execv(path.c_str(), argv.data());
    _exit(127);
}

std::string runCommandOutput(int fd, double timeoutSeconds, const std::string& until) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (got.find(until) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

}  // namespace

std::string BinDir() { return STEPTOOLS_BIN_DIR; }

std::string WindowsProgramsDir() {
    const char* dir = std::getenv("STEPTOOLS_TEST_WINDOWS_BIN");
    return dir != nullptr ? dir : "";
}

bool UnderWine() {
    return !WindowsProgramsDir().empty();
}

double WaitBound(double seconds) {
    return UnderWine() && seconds < kColdWineSeconds ? kColdWineSeconds : seconds;
}

std::string MakeTempDir() {
    char pattern[] = "/tmp/steptools-test-XXXXXX";
    char* dir = mkdtemp(pattern);
    if (dir == nullptr) throw std::runtime_error("mkdtemp failed");
    return dir;
}

std::string HexOf(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char ch : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", ch);
        out += buf;
    }
    return out;
}

ProgramRun::ProgramRun(const std::string& program, const std::vector<std::string>& args,
         const std::map<std::string, std::string>& env, bool withTerminal)
    : start_(std::chrono::steady_clock::now()) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::string ttyPath;
    if (withTerminal) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(master_);
        unlockpt(master_);
        ttyPath = ptsname(master_);
    }
    pid_ = spawn(program, args, env, out[1], err[1], ttyPath);
    windows_ = UnderWine() && program.find('/') == std::string::npos && program != "devsim";
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    fcntl(outFd_, F_SETFL, O_NONBLOCK);
    fcntl(errFd_, F_SETFL, O_NONBLOCK);
    if (master_ >= 0) fcntl(master_, F_SETFL, O_NONBLOCK);
}

ProgramRun::~ProgramRun() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {outFd_, errFd_, master_})
        if (fd >= 0) close(fd);
}

void ProgramRun::drainTerminal(int timeoutMs) {
    if (master_ < 0) return;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) > 0) readAvailable(master_, terminal_);
}

bool ProgramRun::waitTerminal(const std::string& text, double timeoutSeconds) {
    timeoutSeconds = WaitBound(timeoutSeconds);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (terminal_.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        drainTerminal(50);
    }
    return true;
}

void ProgramRun::typeTerminal(const std::string& keys) {
    if (write(master_, keys.data(), keys.size()) < 0) throw std::runtime_error("terminal write failed");
}

void ProgramRun::sendSignal(int signal) {
    kill(pid_, signal);
}

void ProgramRun::closeTerminal() {
    // Sending the terminal's end-of-file character ends the operator's input.
    typeTerminal("\x04");
}

RunResult ProgramRun::finish(double timeoutSeconds) {
    RunResult result;
    auto deadline = start_ + std::chrono::duration<double>(WaitBound(timeoutSeconds));
    int status = 0;
    bool exited = false;
    while (!exited) {
        readAvailable(outFd_, result.out);
        readAvailable(errFd_, result.err);
        drainTerminal(0);
        if (waitpid(pid_, &status, WNOHANG) == pid_) exited = true;
        else if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            exited = true;
            result.err += "[killed by the test's timeout]";
        } else usleep(2000);
    }
    pid_ = -1;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    fcntl(outFd_, F_SETFL, 0);
    fcntl(errFd_, F_SETFL, 0);
    readAvailable(outFd_, result.out);
    readAvailable(errFd_, result.err);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.rawOut = result.out;
    if (windows_) {
        // A Windows console program writes in text mode: LF goes out as CR LF. The tests
        // compare what the station reads after the C library undoes that.
        for (std::string* text : {&result.out, &result.err}) {
            std::string lf;
            for (size_t i = 0; i < text->size(); ++i)
                if (!((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n')) lf += (*text)[i];
            *text = lf;
        }
    }
    return result;
}

int StartInBackground(const std::vector<std::string>& argv) {
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env) {
    ProgramRun run(program, args, env);
    return run.finish();
}

PtyDevice::PtyDevice(const std::string& name) : dir_(MakeTempDir()) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    grantpt(master_);
    unlockpt(master_);
    std::string slavePath = ptsname(master_);
    slave_ = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // keeps the line up between runs
    termios tio;
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    if (symlink(slavePath.c_str(), (dir_ + "/" + name).c_str()) != 0) throw std::runtime_error("symlink failed");
}

PtyDevice::~PtyDevice() { vanish(); }

void PtyDevice::send(const std::string& bytes) {
    if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("device write failed");
}

std::string PtyDevice::receive(size_t count, double timeoutSeconds) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (got.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[4096];
        ssize_t n = read(master_, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

std::string PtyDevice::receiveUntil(const std::string& text, double timeoutSeconds) {
    return runCommandOutput(master_, timeoutSeconds, text);
}

void PtyDevice::vanish() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = master_ = -1;
}

DevSim::DevSim(const std::vector<std::string>& args) : dir_(MakeTempDir()) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--log", dir_ + "/devsim.log"});
    int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = spawn("devsim", all, {{"STEPTOOLS_PORT_DIR", dir_}}, out[1], devNull, "");
    close(out[1]);
    close(devNull);
    std::string ready = runCommandOutput(out[0], 10, "\n");
    close(out[0]);
    if (ready.compare(0, 5, "ready") != 0) throw std::runtime_error("devsim did not start: " + ready);
    size_t at = ready.find("telnet=");
    if (at != std::string::npos) telnetPort_ = std::atoi(ready.c_str() + at + 7);
}

DevSim::~DevSim() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string DevSim::log() const {
    std::ifstream in(dir_ + "/devsim.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool DevSim::waitLog(const std::string& text, double timeoutSeconds) const {
    timeoutSeconds = WaitBound(timeoutSeconds);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (log().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        usleep(10000);
    }
    return true;
}
