#include <gtest/gtest.h>

#include <string>

#include "mac_convert.h"

namespace {

struct MacCase {
    std::string in;
    std::string out;
    std::string printed;  // the "Checking" lines
};

std::string checking(const std::string& chars) {
    std::string lines;
    for (char ch : chars) lines += std::string("Checking ") + ch + "\n";
    return lines;
}

class MACConvertTest : public ::testing::TestWithParam<MacCase> {};

TEST_P(MACConvertTest, ConvertsInPlaceAndPrintsWhatItExamines) {
    const MacCase& c = GetParam();
    std::string text = c.in;
    ::testing::internal::CaptureStdout();
    int length = MACConvert(text.data(), text.data());
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(length, static_cast<int>(c.in.size()));
    EXPECT_EQ(text, c.out);
    EXPECT_EQ(printed, c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MACConvertTest,
    ::testing::Values(
        MacCase{"SETMAC 00:1a:2b:3c:4d:5e", "SETMAC 00-1A-2B-3C-4D-5E", checking(":::::")},
        MacCase{"MAC 00:1a:2b:3c:4d:5e\r\n", "MAC 00-1A-2B-3C-4D-5E\r\n", checking(":::::")},
        // Five separators but no whitespace: nothing to convert after.
        MacCase{"00:1a:2b:3c:4d:5e", "00:1a:2b:3c:4d:5e", checking(":::::")},
        // Blanks are not separators.
        MacCase{"MAC 00 11 22 33 44 55", "MAC 00 11 22 33 44 55", checking("     ")},
        MacCase{"MAC 00:11:22:33:44", "MAC 00:11:22:33:44", checking("::::")},
        // Everything after the first whitespace is converted, not only the address.
        MacCase{"ADDR 00:11:22:33:44:55 ok.", "ADDR 00-11-22-33-44-55 OK-", checking(":::::")},
        MacCase{"MAC 00-1A-2B-3C-4D-5E", "MAC 00-1A-2B-3C-4D-5E", checking("-----")},
        MacCase{"", "", ""},
        MacCase{"VER?", "VER?", checking("R")},
        // The search stops at the fifth separator; any five examined separators count.
        MacCase{"X 00:11a22:33:44:55:66", "X 00-11A22-33-44-55-66", checking(":a::::")},
        // Detection starts after the first blank, conversion after the first whitespace.
        MacCase{"a\tb 00:11:22:33:44:55", "a\tB 00-11-22-33-44-55", checking(":::::")}));

TEST(StringToUpper, UpperCasesLettersOnly) {
    std::string text = "get mac? \xE4x";
    stringToUpper(text.data());
    EXPECT_EQ(text, "GET MAC? \xE4X");
    std::string empty;
    stringToUpper(empty.data());
    EXPECT_EQ(empty, "");
}

}  // namespace
