#include "os/command_line.h"

namespace {

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
    size_t i = 0;
    // The program: up to the first blank outside quotes, with no backslash rule (a path).
    for (bool quoted = false; i < line.size() && (quoted || !isBlank(line[i])); ++i)
        if (line[i] == L'"') quoted = !quoted;

    std::vector<std::wstring> args;
    for (;;) {
        while (i < line.size() && isBlank(line[i])) ++i;
        if (i == line.size()) return args;
        std::wstring arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !isBlank(line[i]))) {
            if (line[i] == L'\\') {
                size_t run = 0;
                while (i < line.size() && line[i] == L'\\') ++run, ++i;
                if (i < line.size() && line[i] == L'"' && run % 2 == 1) {
                    arg.append(run - 1, L'\\');  // the last backslash becomes the quote
                    arg += L'"';
                    ++i;
                } else {
                    arg.append(run, L'\\');
                }
            } else if (line[i] == L'"') {
                quoted = !quoted;
                ++i;
            } else {
                arg += line[i++];
            }
        }
        args.push_back(std::move(arg));
    }
}
