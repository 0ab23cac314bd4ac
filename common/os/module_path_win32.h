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
