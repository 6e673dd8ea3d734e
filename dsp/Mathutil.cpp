// Angles, the whole-degree sine table, the quadratic solver and the integer
// routines of Mathutil.h.
#include "Mathutil.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "Assert.h"

namespace {

// sin(i degrees) for i = 0 .. 90.
const float sin_table[91] = {
    0.0f,         0.0174524058f, 0.0348994955f, 0.0523359552f, 0.0697564706f, 0.0871557444f, 0.104528464f,
    0.121869341f, 0.139173105f,  0.156434461f,  0.173648179f,  0.190808997f,  0.207911685f,  0.224951059f,
    0.241921902f, 0.258819044f,  0.275637358f,  0.29237169f,   0.309017003f,  0.325568169f,  0.342020154f,
    0.35836795f,  0.37460658f,   0.390731126f,  0.406736642f,  0.42261827f,   0.438371152f,  0.453990489f,
    0.469471574f, 0.484809607f,  0.5f,          0.515038073f,  0.529919267f,  0.544639051f,  0.559192896f,
    0.57357645f,  0.587785244f,  0.601815045f,  0.615661502f,  0.629320383f,  0.642787635f,  0.656059027f,
    0.669130623f, 0.681998372f,  0.694658399f,  0.707106769f,  0.719339788f,  0.7313537f,    0.74314481f,
    0.754709601f, 0.766044438f,  0.777145982f,  0.788010776f,  0.798635483f,  0.809017003f,  0.819152057f,
    0.829037547f, 0.838670552f,  0.848048091f,  0.857167304f,  0.866025388f,  0.874619722f,  0.882947564f,
    0.891006529f, 0.898794055f,  0.906307817f,  0.91354543f,   0.920504868f,  0.927183867f,  0.933580399f,
    0.939692616f, 0.945518553f,  0.95105654f,   0.956304729f,  0.96126169f,   0.965925813f,  0.970295727f,
    0.974370062f, 0.978147626f,  0.981627166f,  0.98480773f,   0.987688363f,  0.990268052f,  0.992546141f,
    0.994521916f, 0.99619472f,   0.997564077f,  0.99862951f,   0.999390841f,  0.99984771f,   1.0f,
};

// Truncation toward zero that saturates outside the range of I; NaN gives 0.
template <class I>
I truncateSaturated(double v) {
    constexpr double limit = -static_cast<double>(std::numeric_limits<I>::min());  // 2^(bits-1)
    if (std::isnan(v)) return 0;
    if (v >= limit) return std::numeric_limits<I>::max();
    if (v <= -limit) return std::numeric_limits<I>::min();
    return static_cast<I>(v);
}

}  // namespace

float Math::acos(float r) {
    KESTA_ASSERT(r >= -1.0f && r <= 1.0f, "r>=-1.0f && r<=1.0f", "static float Math::acos(float)");
    const long double x = r;
    return static_cast<float>(static_cast<double>(std::atan2(std::sqrt(1.0L - x * x), x)));
}

float Math::asin(float r) {
    KESTA_ASSERT(r >= -1.0f && r <= 1.0f, "r>=-1.0f && r<=1.0f", "static float Math::asin(float)");
    const long double x = r;
    return static_cast<float>(static_cast<double>(std::atan2(x, std::sqrt(1.0L - x * x))));
}

float Math::atan(float y, float x) {
    return static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
}

float Math::hypot(float a, float b) {
    const double da = a, db = b;
    return static_cast<float>(std::sqrt(da * da + db * db));
}

float sin_deg(int degrees) {
    // Into 0 .. 360, where a positive multiple of 360 stays 360 (and so gives -0.0).
    int n = degrees;
    if (n < 0) {
        n %= 360;
        if (n < 0) n += 360;
    } else if (n > 360) {
        n %= 360;
        if (n == 0) n = 360;
    }
    if (n <= 180) return sin_table[n <= 90 ? n : 180 - n];
    const int m = n - 180;
    return -sin_table[m <= 90 ? m : 180 - m];
}

void crossfade_degrees(int degrees, float& a, float& b) {
    // degrees + 90 computed without overflow at the top of the int range.
    a = sin_deg(degrees > std::numeric_limits<int>::max() - 90 ? degrees - 270 : degrees + 90);
    b = sin_deg(degrees);
}

void crossfade(float x, float& a, float& b) {
    crossfade_degrees(truncateSaturated<int>(static_cast<double>(90.0f * x) + 0.5), a, b);
}

bool solve_quadratic(float a, float b, float c, float* root1, float* root2) {
    const long double la = a, lb = b, lc = c;
    const long double d = lb * lb - 4.0L * la * lc;
    if (!(d >= 0.0L)) return false;
    const float s = static_cast<float>(std::sqrt(d));
    if (root1 != nullptr) *root1 = (-b + s) / (2.0f * a);
    if (root2 != nullptr) *root2 = (-b - s) / (2.0f * a);
    return true;
}

int CountBits(unsigned long v) {
    int count = 0;
    for (; v != 0; v &= v - 1) ++count;
    return count;
}

long gcd(long a, long b) {
    while (a != 0) {
        // b % -1 is 0, but LONG_MIN % -1 traps, so that case is answered directly.
        const long r = a == -1 ? 0 : b % a;
        b = a;
        a = r;
    }
    return b;
}

long round(double x, int bits) {
    const double scale = static_cast<double>(std::uint32_t{1} << (static_cast<unsigned>(bits) & 31u));
    return truncateSaturated<long>(x * scale + 0.5);
}

long ftol(float x) {
    return truncateSaturated<long>(x);
}
