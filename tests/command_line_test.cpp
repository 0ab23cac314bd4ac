// The split of a Windows command line into arguments, by the rules the replaced programs
// were started with.
#include <gtest/gtest.h>

#include "os/command_line.h"

namespace {

struct Case {
    const wchar_t* raw;  // what follows the program
    std::vector<std::wstring> args;
};

TEST(SplitCommandLine, TakesTheSystemsOwnRules) {
    const Case cases[] = {
        {LR"(a\\"b c")", {LR"(a\\b c)"}},
        {LR"(a\\\"b)", {LR"(a\\"b)"}},
        {LR"("C:\dir\\")", {LR"(C:\dir\\)"}},
        {LR"("a""b")", {L"ab"}},
        {LR"("""")", {L""}},
        {LR"(a\b\\c)", {LR"(a\b\\c)"}},
        {LR"(a\"b)", {L"a\"b"}},
        {LR"("")", {L""}},
        {L"\"a\tb\"", {L"a\tb"}},
        {L"*.exe", {L"*.exe"}},
        {L"  one\t two  \t", {L"one", L"two"}},
        {LR"(x "" y)", {L"x", L"", L"y"}},
        {LR"(a\\\\"b c" d)", {LR"(a\\\\b c)", L"d"}},
        {LR"("unclosed quote)", {L"unclosed quote"}},
        {LR"(tail\)", {LR"(tail\)"}},
        {L"", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitCommandLine(std::wstring(L"prog.exe ") + c.raw), c.args) << "raw: " << testing::PrintToString(std::wstring(c.raw));
    }
}

TEST(SplitCommandLine, SkipsTheProgramQuotedOrNot) {
    using Args = std::vector<std::wstring>;
    EXPECT_EQ(SplitCommandLine(LR"("C:\Program Files\serial.exe" COM7 ID?)"), (Args{L"COM7", L"ID?"}));
    EXPECT_EQ(SplitCommandLine(LR"(C:\Station\serial.exe COM7)"), (Args{L"COM7"}));
    // A trailing backslash in the program's path is a path, not an escape.
    EXPECT_EQ(SplitCommandLine(LR"("C:\odd\"x y)"), (Args{L"y"}));
    EXPECT_EQ(SplitCommandLine(L"serial.exe"), Args{});
    EXPECT_EQ(SplitCommandLine(L""), Args{});
}

}  // namespace
