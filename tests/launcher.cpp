// Starts a program from an exact raw command line, as a test executive does, and relays its
// output and exit status: the child writes straight to the launcher's own standard output
// and error, and the launcher ends with the child's exit code.
//
//   launcher.exe [--ansi] [--application] [--no-window | --detached] FILE
//
// FILE holds the command line in UTF-8. --ansi starts it with CreateProcessA, the line in
// the ANSI code page, as a narrow caller has it; otherwise CreateProcessW. --application
// also gives the program's path (the line's first token, quoted) as lpApplicationName.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::wstring wideOf(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string ansiOf(const std::wstring& wide) {
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

HANDLE inheritable(DWORD which) {
    HANDLE h = GetStdHandle(which);
    if (h != nullptr && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return h;
}

// The child writes to the launcher's own standard handles.
template <typename StartupInfo>
StartupInfo withOurHandles() {
    StartupInfo start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = inheritable(STD_INPUT_HANDLE);
    start.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
    start.hStdError = inheritable(STD_ERROR_HANDLE);
    return start;
}

}  // namespace

int main(int argc, char** argv) {
    bool ansi = false;
    bool application = false;  // the program's path (the first token, quoted) also as lpApplicationName
    DWORD flags = 0;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (std::strcmp(argv[i], "--ansi") == 0) ansi = true;
        else if (std::strcmp(argv[i], "--no-window") == 0) flags |= CREATE_NO_WINDOW;
        else if (std::strcmp(argv[i], "--detached") == 0) flags |= DETACHED_PROCESS;
        else if (std::strcmp(argv[i], "--application") == 0) application = true;
    }
    if (i + 1 != argc) {
        std::fprintf(stderr, "usage: launcher [--ansi] [--application] [--no-window | --detached] FILE\n");
        return 2;
    }
    std::ifstream file(argv[i], std::ios::binary);
    std::string utf8((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::wstring line = wideOf(utf8);
    std::wstring program;
    if (application && line.size() > 1 && line[0] == L'"') program = line.substr(1, line.find(L'"', 1) - 1);

    PROCESS_INFORMATION process{};
    BOOL started;
    if (ansi) {
        STARTUPINFOA start = withOurHandles<STARTUPINFOA>();
        std::string narrow = ansiOf(line);
        std::string narrowProgram = ansiOf(program);
        started = CreateProcessA(program.empty() ? nullptr : narrowProgram.c_str(), narrow.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &start, &process);
    } else {
        STARTUPINFOW start = withOurHandles<STARTUPINFOW>();
        started = CreateProcessW(program.empty() ? nullptr : program.c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &start, &process);
    }
    if (!started) {
        std::fprintf(stderr, "launcher: CreateProcess failed (Windows error %lu)\n", GetLastError());
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}
