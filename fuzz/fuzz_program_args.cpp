// A program's whole run on any command line: the input's NUL-separated parts are the
// arguments. The program's main is compiled in as steptools_program_main. No device is
// reachable: ports are looked up in an empty directory, the Telnet library and the gui
// popups are not beside the fuzzer, and standard output goes to /dev/null.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

int steptools_program_main(int argc, char** argv);

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/steptools-fuzz-XXXXXX";
    setenv("STEPTOOLS_PORT_DIR", mkdtemp(dir), 1);
    setenv("STEPTOOLS_POPUP", "gui", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    dup2(open("/dev/null", O_WRONLY), 1);  // run with -close_fd_mask=2 to hide the programs' messages
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args = {PROGRAM_NAME};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    args.push_back(current);
    // Keep clear of the machine's real devices: no paths, and no COM<n> fallback to ttyS.
    size_t port = PORT_ARGUMENT;
    while (args.size() <= MIN_ARGUMENTS) args.push_back("");
    for (char& ch : args[port]) if (ch == '/') ch = '_';
    if (args[port].compare(0, 3, "COM") == 0) args[port][1] = 'Q';
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    steptools_program_main(static_cast<int>(args.size()), argv.data());
    return 0;
}
