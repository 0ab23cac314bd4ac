#include <windows.h>

#include <string>

#include "os/library_loader.h"

void* LoadModule(const char* name) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path, n < MAX_PATH ? n : 0);
    size_t slash = exe.find_last_of("\\/");
    std::string dir = slash == std::string::npos ? "." : exe.substr(0, slash);
    std::string file = std::string(name) + ".dll";
    for (const std::string& candidate : {dir + "\\" + file, dir + "\\..\\lib\\" + file}) {
        if (HMODULE module = LoadLibraryA(candidate.c_str())) return reinterpret_cast<void*>(module);
    }
    return nullptr;
}

void* FindFunction(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
