// Text conversions of the serial checker: upper-casing, and the MAC address
// normalisation that lets "00:1a:2b:..." and "00-1A-2B-..." compare equal.
#pragma once

// Upper-cases "a"-"z" of the text in place.
void stringToUpper(char* sPtr);

// When the text after its first blank has separators (bytes neither alphanumeric nor
// whitespace) at five of the positions 2, 5, 8, ..., writes `in` to `out` with everything
// after the first whitespace upper-cased and every separator there turned into "-";
// otherwise copies `in` unchanged. Prints "Checking %c\n" on standard output for each
// position it examines. `out` may be `in`. Returns the length of `in`.
int MACConvert(const char* in, char* out);
