#include <windows.h>

#include "record/record_file.h"

namespace {

std::string lastErrorText() {
    char text[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0,
                             text, sizeof text, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
    return out.empty() ? "Windows error " + std::to_string(GetLastError()) : out;
}

}  // namespace

bool AppendWhole(const std::string& path, const std::string& line, std::string& error) {
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = lastErrorText();
        return false;
    }
    OVERLAPPED whole{};
    LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    DWORD written = 0;
    bool ok = WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
    if (!ok) error = written == 0 ? lastErrorText() : "short write";
    UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(h);
    return ok;
}
