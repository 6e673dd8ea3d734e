// Stateless numeric helpers shared by the library and the engines: constants,
// level conversions (linear gain, decibels, millibels), powers, a sine table of
// whole degrees with an equal-power crossfade, a real-root quadratic solver and
// a few integer routines.
//
// Conversions from a floating value to an integer truncate toward zero; a value
// outside the integer's range saturates to its nearest end, and NaN gives 0.
#pragma once

class Math {
  public:
    static constexpr double Pi = 3.141592653589793;
    static constexpr double Pi2 = 6.283185307179586;  // two pi
    static constexpr double E = 2.718281828459045;
    static constexpr double Sqrt2 = 1.4142135623730951;
    static constexpr double Sqrt_2 = 0.7071067811865476;  // one over the square root of two
    static constexpr double Ln10 = 2.302585092994046;
    static constexpr double Ln2 = 0.6931471805599453;

    // Angles in radians. Both assert -1 <= r <= 1 (NaN fails).
    static float acos(float r);
    static float asin(float r);
    // Angle of the point (x, y), in -pi .. pi.
    static float atan(float y, float x);
    // sqrt(a*a + b*b), formed in double so that no float argument overflows it.
    static float hypot(float a, float b);

    // Linear gain to millibels (hundredths of a decibel), rounded toward zero
    // for gains below 1; a gain that is not positive (or NaN) gives -10000.
    static int to_mb(float gain);
    // Millibels to linear gain; 0 gives exactly 1.0, 100 one decibel.
    static float from_mb(int mb);

    // x to the power y as the C library computes it. Assert x >= 0 (NaN fails).
    static double pow(double x, double y);
    static float pow(float x, float y);
    // x to an integer power by binary exponentiation in long double; pow(x, 0)
    // is 1 for every x, negative n raise 1/x.
    static double pow(double x, int n);
    static float pow(float x, int n);
    // 2 to the power y.
    static double pow2(double y);
    static float pow2(float y);
};

// Decibels to linear gain: 10^(dB/20).
float from_db(float dB);

// Sine of a whole number of degrees (any int) from a 91-entry table of
// sin(0..90 degrees); angles that wrap to 360 give -0.0.
float sin_deg(int degrees);
// Equal-power pair for an angle in degrees: a = cos, b = sin.
void crossfade_degrees(int degrees, float& a, float& b);
// The same for a fraction x in 0..1 taken to the nearest degree of 0..90:
// x = 0 gives a = 1, b = 0; x = 1 gives a = 0, b = 1.
void crossfade(float x, float& a, float& b);

// Real roots of a*t^2 + b*t + c = 0 (a != 0). Returns false and writes nothing
// when there are none; otherwise root1 = (-b + sqrt(D)) / 2a and
// root2 = (-b - sqrt(D)) / 2a, each written only if its pointer is not null.
bool solve_quadratic(float a, float b, float c, float* root1, float* root2);

// Number of 1 bits in v.
int CountBits(unsigned long v);
// Greatest common divisor by Euclid's remainders; gcd(0, b) is b, and the sign
// follows C++'s truncating remainder.
long gcd(long a, long b);
// Fixed-point quantiser: truncate(x * 2^bits + 0.5), bits taken modulo 32.
// round(0.3, 8) is 77.
long round(double x, int bits);
// x truncated toward zero.
long ftol(float x);

// Processor feature queries; no special code paths exist, so both are false.
bool IsMMX();
bool IsPentium();
