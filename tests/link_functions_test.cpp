#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_functions.h"

namespace {

struct HexCase {
    std::string text;
    std::vector<unsigned char> bytes;
    std::string textAfter;  // the text as ToBinary leaves it
};

class ToBinaryTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(ToBinaryTest, DecodesAndUpperCasesFirstCharacters) {
    const HexCase& c = GetParam();
    std::string text = c.text;
    std::vector<unsigned char> output(text.size() / 2 + 2, 0xEE);
    int n = ToBinary(text.data(), output.data());
    ASSERT_EQ(n, static_cast<int>(c.bytes.size()));
    EXPECT_EQ(std::vector<unsigned char>(output.begin(), output.begin() + n), c.bytes);
    EXPECT_EQ(output[static_cast<size_t>(n)], 0xEE) << "wrote past the decoded bytes";
    EXPECT_EQ(text, c.textAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ToBinaryTest,
    ::testing::Values(HexCase{"1A2B", {0x1A, 0x2B}, "1A2B"},
                      HexCase{"0d0a", {0x00, 0x00}, "0d0a"},    // lower case is no digit in second place
                      HexCase{"a1", {0xA1}, "A1"},
                      HexCase{"1a", {0x10}, "1a"},
                      HexCase{"ff", {0xF0}, "Ff"},
                      HexCase{"ABG1", {0xAB, 0xB1}, "ABG1"},    // non-digit first: previous low nibble
                      HexCase{"G1", {0x01}, "G1"},
                      HexCase{"A", {0xA0}, "A"},                // odd length pairs with the terminator
                      HexCase{"123", {0x12, 0x30}, "123"},
                      HexCase{"", {}, ""},
                      HexCase{"00FF00", {0x00, 0xFF, 0x00}, "00FF00"},
                      HexCase{"\xC1" "1", {0x01}, "\xC1" "1"}));  // bytes of 0x80 and above are no digits

struct BaudCase {
    std::string portText;
    int number;
    std::string name;
};

class GetBaudTest : public ::testing::TestWithParam<BaudCase> {};

TEST_P(GetBaudTest, SplitsAtTheFirstComma) {
    const BaudCase& c = GetParam();
    std::string portText = c.portText;
    EXPECT_EQ(GetBaud(portText.data()), c.number);
    EXPECT_STREQ(portText.c_str(), c.name.c_str());
}

INSTANTIATE_TEST_SUITE_P(Rules, GetBaudTest,
                         ::testing::Values(BaudCase{"COM3,300", 300, "COM3"},
                                           BaudCase{"COM3", 9600, "COM3"},
                                           BaudCase{"COM3,", 0, "COM3"},
                                           BaudCase{"COM3,abc", 0, "COM3"},
                                           BaudCase{"A,B,C", 0, "A"},
                                           BaudCase{"COM1, 600", 600, "COM1"},
                                           BaudCase{"host,99999999999999999999", 2147483647, "host"},
                                           BaudCase{"host,-5", -5, "host"}));

TEST(ProgramName, WithoutDirectoryOrExe) {
    struct Case {
        const char* argv0;
        std::string name;
    };
    for (const Case& c : {Case{"serial", "serial"}, Case{"/usr/bin/serial", "serial"}, Case{"build/bin/opquery", "opquery"},
                          Case{"Z:\\work\\bin\\serial.exe", "serial"}, Case{"C:/st/opquery_multi.exe", "opquery_multi"},
                          Case{".exe", ".exe"}, Case{nullptr, ""}}) {
        EXPECT_EQ(ProgramName(c.argv0), c.name) << (c.argv0 != nullptr ? c.argv0 : "null");
    }
}

}  // namespace
