// Real and integer powers.
#include <cmath>
#include <cstdint>

#include "Assert.h"
#include "Mathutil.h"

namespace {

// x^n by left-to-right binary exponentiation, every product in long double.
long double powInteger(long double x, int n) {
    if (n == 0) return 1.0L;
    // The magnitude as unsigned, so that the smallest int negates too.
    std::uint32_t m = static_cast<std::uint32_t>(n);
    if (n < 0) {
        m = 0u - m;
        x = 1.0L / x;
    }
    std::uint32_t bit = 1;  // the bit below the top bit of m, then each lower bit in turn
    while (bit <= (m >> 2)) bit <<= 1;
    if (m < 2) bit = 0;
    long double r = x;
    for (; bit != 0; bit >>= 1) {
        r *= r;
        if ((m & bit) != 0) r *= x;
    }
    return r;
}

}  // namespace

double Math::pow2(double y) {
    return Math::pow(2.0, y);
}

float Math::pow2(float y) {
    return static_cast<float>(Math::pow(2.0, static_cast<double>(y)));
}

float Math::pow(float x, float y) {
    KESTA_ASSERT(x >= 0.0f, "x>=0.0f", "static float Math::pow(float, float)");
    return static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(y)));
}

double Math::pow(double x, double y) {
    KESTA_ASSERT(x >= 0.0, "x>=0.0", "static double Math::pow(double, double)");
    return std::pow(x, y);
}

double Math::pow(double x, int n) {
    return static_cast<double>(powInteger(x, n));
}

float Math::pow(float x, int n) {
    return static_cast<float>(powInteger(x, n));
}
