#include "arguments.h"

#include <cmath>
#include <cstdlib>

double NumberArgument(const char* text, double fallback) {
    return text == nullptr ? fallback : std::atof(text);
}

int CountArgument(const char* text, int fallback) {
    return TruncatedCount(NumberArgument(text, fallback));
}

int TruncatedCount(double value) {
    if (std::isnan(value)) return 0;
    if (value >= kMaxCount) return kMaxCount;
    if (value <= -kMaxCount) return -kMaxCount;
    return static_cast<int>(value);
}
