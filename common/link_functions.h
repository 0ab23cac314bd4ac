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

// A program's file name as the station's platform gave it to main, without the directory
// (either separator): "serial", or "serial.exe" on Windows.
std::string ProgramFileName(const char* argv0);

// The same name without a Windows ".exe": one name for a program on both systems.
std::string ProgramName(const char* argv0);
