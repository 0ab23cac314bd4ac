#include "arguments.h"

#include <climits>
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
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}
