// The running program's own path, from its wide module path: of any length and in any
// script, as the ANSI call (MAX_PATH bytes of the code page) cannot give it. Windows only.
#pragma once

#include <windows.h>

#include <string>

// Empty when the system cannot tell.
inline std::wstring ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return L"";
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The folder that holds the program (empty when unknown), and its file name ("serial.exe").
inline std::wstring ExecutableDirectory() {
    std::wstring path = ExecutablePath();
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"" : path.substr(0, slash);
}

inline std::wstring ExecutableFileName() {
    std::wstring path = ExecutablePath();
    return path.substr(path.find_last_of(L"\\/") + 1);  // npos + 1 is 0: the whole path
}
