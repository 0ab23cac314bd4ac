#include <windows.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "os/command_line.h"
#include "os/module_path_win32.h"
#include "os/program_args.h"

namespace {

struct Argument {
    std::string ansi;  // what main gets
    std::string utf8;  // what the operator and the record see
};

std::vector<Argument> arguments;
std::vector<char*> pointers;

// The text in `codePage`; false when it cannot be converted.
bool convert(const std::wstring& wide, UINT codePage, std::string& out) {
    out.clear();
    if (wide.empty()) return true;
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    return WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                               nullptr) == n;
}

bool build() {
    const wchar_t* line = GetCommandLineW();
    if (line == nullptr) return false;
    // Split first, convert each argument after: a character that the code page turns into
    // a quote or a blank never splits or joins arguments.
    std::vector<std::wstring> wide = SplitCommandLine(line);
    wide.insert(wide.begin(), ExecutableFileName());
    for (const std::wstring& w : wide) {
        Argument a;
        if (!convert(w, CP_ACP, a.ansi) || !convert(w, CP_UTF8, a.utf8)) return false;
        arguments.push_back(std::move(a));
    }
    for (Argument& a : arguments) pointers.push_back(a.ansi.data());
    pointers.push_back(nullptr);
    return true;
}

}  // namespace

void TakeArguments(int& argc, char**& argv) {
    bool built = false;
    try {
        built = build();
    } catch (const std::bad_alloc&) {
    }
    if (!built) ExitProcess(static_cast<UINT>(-1));
    argc = static_cast<int>(arguments.size());
    argv = pointers.data();
}

std::string ArgumentText(const char* text) {
    if (text == nullptr) return "";
    for (const Argument& a : arguments)
        if (a.ansi.data() == text) return a.utf8;
    return text;
}
