// Numeric command-line arguments, read as the programs always have (atof rules), but
// without undefined behaviour on absurd values.
#pragma once

// The leading decimal number of `text` (none reads as 0), or `fallback` when the argument
// is absent (null).
double NumberArgument(const char* text, double fallback);

// The largest count taken (reads, tests, result size); a larger one is bad input, and
// taking it whole would keep a station busy for days.
inline constexpr int kMaxCount = 10000;

// `value` truncated toward zero and clamped to -kMaxCount..kMaxCount; a NaN gives 0.
int TruncatedCount(double value);

// A number read as NumberArgument and taken as TruncatedCount.
int CountArgument(const char* text, int fallback);
