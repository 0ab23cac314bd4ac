#include <windows.h>

#include <string>

#include "os/library_loader.h"
#include "os/module_path_win32.h"

namespace {

// A full path that LoadLibrary takes past MAX_PATH: such a path goes through \\?\.
std::wstring loadablePath(const std::wstring& path) {
    if (path.size() < MAX_PATH || path.compare(0, 4, L"\\\\?\\") == 0) return path;
    if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

}  // namespace

// Only from the program's own folder, by full path: never a bare name, which the DLL search
// order would look up in the current directory and on PATH, and never ..\lib, which is C:\lib
// for a program in C:\Station.
void* LoadModule(const char* name) {
    std::wstring dir = ExecutableDirectory();  // outside the code page or past MAX_PATH too
    if (dir.empty()) return nullptr;
    std::wstring file(name, name + std::char_traits<char>::length(name));  // our own ASCII names
    std::wstring path = loadablePath(dir + L"\\" + file + L".dll");
    // The module's own imports (system DLLs) are searched from its folder, not the current one.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return reinterpret_cast<void*>(module);
}

void* FindFunction(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
