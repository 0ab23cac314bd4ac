// Hex command decoding and port specification splitting, shared by every program.
#pragma once

#include <string>
#include <vector>

// Decodes pairs of hex digits in `str` into raw bytes in `output` and returns the byte
// count. The first character of each pair is upper-cased in place; the second is
// classified as it stands. `output` needs room for (strlen(str) + 1) / 2 bytes.
int ToBinary(char* str, unsigned char* output);

// Splits "name,number" in place: cuts `comport` at its first comma and returns the number
// after it (atoi rules), or 9600 when there is no comma.
int GetBaud(char* comport);

// The bytes that ToBinary decodes from `hex`, leaving the caller's text as it is.
std::vector<unsigned char> DecodeHex(std::string hex);

// A port specification split by GetBaud: the device or host name, and the number.
struct PortSpec {
    std::string name;
    int number;
};
PortSpec SplitPortSpec(const char* text);

// A program's name as the station's platform gave it to main: its file name without the
// directory (either separator) and without a Windows ".exe".
std::string ProgramName(const char* argv0);
