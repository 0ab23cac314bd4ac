// Numeric command-line arguments, read as the programs always have (atof rules), but
// without undefined behaviour on absurd values.
#pragma once

// The leading decimal number of `text` (none reads as 0), or `fallback` when the argument
// is absent (null).
double NumberArgument(const char* text, double fallback);

// `value` truncated toward zero; values beyond the int range are clamped to it, and a NaN
// gives 0.
int TruncatedCount(double value);

// A number read as NumberArgument and truncated toward zero; values beyond the int range
// are clamped to it, and a NaN reads as 0.
int CountArgument(const char* text, int fallback);
