#include <windows.h>

#include <string>
#include <vector>

#include "os/program_args.h"

// The C run-time's own split of the wide command line, by the same rules as main's.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expandWildcards, int* startInfo);

void TakeUtf8Arguments(int& argc, char**& argv) {
    int wideCount = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    int startInfo = 0;
    if (__wgetmainargs(&wideCount, &wide, &environment, 0, &startInfo) != 0 || wide == nullptr) return;
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    for (int i = 0; i < wideCount; ++i) {
        int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), n, nullptr, nullptr);
        texts.push_back(std::move(text));
    }
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    argc = wideCount;
    argv = pointers.data();
}
