#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "AssertionMessage.h"
#include "Mathutil.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

using test_support::assertionMessage;

// Whole-degree sine by repeated wrapping and the identities sin(180 - x) = sin x, sin(180 + x) = -sin x.
float sinDegreesModel(long n) {
    while (n < 0) n += 360;
    while (n > 360) n -= 360;
    const long m = n <= 180 ? n : n - 180;
    const float s =
        static_cast<float>(std::sin(static_cast<double>(m <= 90 ? m : 180 - m) * Math::Pi / 180.0));
    return n <= 180 ? s : -s;
}

bool sameBits(float a, float b) {
    return std::signbit(a) == std::signbit(b) && a == b;
}

}  // namespace

TEST(MathAssertions, domainErrorsAbortWithConditionAndFunctionText) {
    const std::string acos = assertionMessage("static float Math::acos(float)", "r>=-1.0f && r<=1.0f");
    const std::string asin = assertionMessage("static float Math::asin(float)", "r>=-1.0f && r<=1.0f");
    const std::string powDouble = assertionMessage("static double Math::pow(double, double)", "x>=0.0");
    const std::string powFloat = assertionMessage("static float Math::pow(float, float)", "x>=0.0f");
    EXPECT_DEATH(Math::acos(1.0001f), acos);
    EXPECT_DEATH(Math::acos(kNaN), acos);
    EXPECT_DEATH(Math::asin(-1.5f), asin);
    EXPECT_DEATH(Math::asin(kNaN), asin);
    EXPECT_DEATH(Math::pow(-1.0, 2.0), powDouble);
    EXPECT_DEATH(Math::pow(static_cast<double>(kNaN), 2.0), powDouble);
    EXPECT_DEATH(Math::pow(-0.5f, 2.0f), powFloat);
    EXPECT_DEATH(Math::pow(kNaN, 1.0f), powFloat);
}

TEST(MathAngles, inverseSinesAndCosinesMatchTheCLibraryOverTheirDomain) {
    for (int i = -1000; i <= 1000; ++i) {
        const float r = static_cast<float>(i) / 1000.0f;
        EXPECT_NEAR(Math::acos(r), std::acos(static_cast<double>(r)), 2.5e-7) << r;
        EXPECT_NEAR(Math::asin(r), std::asin(static_cast<double>(r)), 2.5e-7) << r;
    }
    EXPECT_FLOAT_EQ(Math::atan(-1.0f, -1.0f), static_cast<float>(-3 * Math::Pi / 4));
    EXPECT_FLOAT_EQ(Math::hypot(3e30f, 4e30f), 5e30f);  // no overflow for large floats
}

TEST(MathPower, realPowersAcceptZeroBasesAndPowersOfTwoNegativeExponents) {
    EXPECT_EQ(Math::pow(-0.0, 2.0), 0.0);
    EXPECT_EQ(Math::pow(10.0f, -1.5f), static_cast<float>(std::pow(10.0, -1.5)));
    EXPECT_EQ(Math::pow2(10.0), 1024.0);
    EXPECT_EQ(Math::pow2(-1.0), 0.5);
    EXPECT_EQ(Math::pow2(-3.0f), 0.125f);
}

TEST(MathPower, integerPowersHandleZeroNegativeAndExtremeExponents) {
    EXPECT_EQ(Math::pow(2.0, 10), 1024.0);
    EXPECT_EQ(Math::pow(3.0, -2), 1.0 / 9.0);
    EXPECT_EQ(Math::pow(0.0, 0), 1.0);
    EXPECT_EQ(Math::pow(0.0, -1), std::numeric_limits<double>::infinity());
    EXPECT_EQ(Math::pow(-3.0f, 5), -243.0f);
    EXPECT_EQ(Math::pow(2.0, INT_MIN), 0.0);
    EXPECT_EQ(Math::pow(-1.0, INT_MAX), -1.0);
}

TEST(MathPower, integerPowersAgreeWithALongDoubleReference) {
    // Every squaring doubles the relative error of long double, so the bound grows with |n|.
    const int exponents[] = {-999999, -65537, -300, -17, -1, 1, 2, 3, 31, 32, 255, 4096, 100000, 999999};
    for (double x : {1.00001, 0.9988493699365052, 1.5, -1.1}) {
        for (int n : exponents) {
            const long double exact = std::pow(static_cast<long double>(x), n);
            const double relative = 2.3e-16 + 2.0 * std::abs(n) * 0x1p-64;
            if (std::isfinite(static_cast<double>(exact)) && std::fabs(exact) > 1e-300) {
                EXPECT_NEAR(Math::pow(x, n), exact, relative * std::fabs(exact)) << x << "^" << n;
            }
            const float xf = static_cast<float>(x);
            const float exactF = static_cast<float>(std::pow(static_cast<long double>(xf), n));
            if (std::isfinite(exactF) && std::fabs(exactF) > 1e-30f) {
                EXPECT_NEAR(Math::pow(xf, n), exactF, 1.2e-7f * std::fabs(exactF)) << xf << "^" << n;
            }
        }
    }
}

TEST(MathLevels, millibelsAndDecibelsConvertToGain) {
    EXPECT_EQ(Math::from_mb(0), 1.0f);
    EXPECT_FLOAT_EQ(Math::from_mb(2000), 10.0f);
    EXPECT_FLOAT_EQ(Math::from_mb(-2000), 0.1f);
    EXPECT_EQ(Math::from_mb(INT_MIN), 0.0f);
    for (int mb = -12000; mb <= 12000; mb += 37)
        EXPECT_NEAR(Math::from_mb(mb), std::pow(10.0, mb / 2000.0), std::pow(10.0, mb / 2000.0) * 2e-7) << mb;
    EXPECT_EQ(from_db(0.0f), 1.0f);
    EXPECT_EQ(from_db(20.0f), 10.0f);
    EXPECT_NEAR(from_db(-6.0f), 0.501f, 0.001f);
    for (int i = -1200; i <= 1200; ++i) {
        const float dB = static_cast<float>(i) / 10.0f;
        const float expected = static_cast<float>(std::pow(10.0, static_cast<double>(dB) / 20.0));
        EXPECT_NEAR(from_db(dB), expected, expected * 1.2e-7f) << dB;
    }
}

TEST(MathLevels, gainConvertsToMillibelsTruncatingTowardZero) {
    EXPECT_EQ(Math::to_mb(1.0f), 0);
    EXPECT_EQ(Math::to_mb(10.0f), 2000);
    EXPECT_EQ(Math::to_mb(0.5f), -601);  // -602.06 + 0.5 truncates toward zero
    EXPECT_EQ(Math::to_mb(static_cast<float>(std::pow(10.0, -6.3 / 2000.0))), -5);
    for (int mb = -9000; mb <= 9000; mb += 53)
        EXPECT_LE(std::abs(Math::to_mb(Math::from_mb(mb)) - mb), 1) << mb;
    // Gains that are not positive give the floor.
    EXPECT_EQ(Math::to_mb(0.0f), -10000);
    EXPECT_EQ(Math::to_mb(-1.0f), -10000);
    EXPECT_EQ(Math::to_mb(kNaN), -10000);
    EXPECT_EQ(Math::to_mb(std::numeric_limits<float>::infinity()), INT_MAX);
}

TEST(SineOfDegrees, wrapsAnyAngleIntoTheTable) {
    EXPECT_EQ(sin_deg(-90), -1.0f);
    EXPECT_EQ(sin_deg(450), 1.0f);
    EXPECT_EQ(sin_deg(180), 0.0f);
    EXPECT_EQ(sin_deg(270), -1.0f);
    EXPECT_TRUE(sameBits(sin_deg(720), -0.0f));
    EXPECT_TRUE(sameBits(sin_deg(-360), 0.0f));
    for (int n = -5000; n <= 5000; ++n) ASSERT_TRUE(sameBits(sin_deg(n), sinDegreesModel(n))) << n;
    for (int n : {INT_MIN, INT_MIN + 359, -1000000000, 1000000000, INT_MAX - 360, INT_MAX})
        EXPECT_TRUE(sameBits(sin_deg(n), sinDegreesModel(n))) << n;
}

TEST(Crossfade, givesCosineAndSineOfTheNearestDegree) {
    float a = -1, b = -1;
    for (int n = -720; n <= 720; ++n) {
        crossfade_degrees(n, a, b);
        ASSERT_EQ(a, sin_deg(n + 90)) << n;
        ASSERT_EQ(b, sin_deg(n)) << n;
    }
    crossfade_degrees(INT_MAX, a, b);
    EXPECT_EQ(a, sin_deg(INT_MAX - 270));
    crossfade(1.0f, a, b);
    EXPECT_EQ(a, 0.0f);
    EXPECT_EQ(b, 1.0f);
    crossfade(0.5f, a, b);
    EXPECT_EQ(a, sin_deg(45));
    EXPECT_EQ(b, sin_deg(45));
    crossfade(-0.004f, a, b);
    EXPECT_EQ(a, 1.0f);
    EXPECT_EQ(b, 0.0f);
    crossfade(1e30f, a, b);  // far outside 0..1: still a point of the table
    EXPECT_NEAR(a * a + b * b, 1.0f, 2e-7f);
}

TEST(Quadratic, writesTheRealRootsThroughWhicheverPointersAreGiven) {
    float r1 = 0, r2 = 0;
    ASSERT_TRUE(solve_quadratic(1.0f, -3.0f, 2.0f, &r1, &r2));
    EXPECT_EQ(r1, 2.0f);
    EXPECT_EQ(r2, 1.0f);
    ASSERT_TRUE(solve_quadratic(-2.0f, 0.0f, 8.0f, &r1, nullptr));
    EXPECT_EQ(r1, -2.0f);
    ASSERT_TRUE(solve_quadratic(1.0f, 2.0f, 1.0f, nullptr, &r2));
    EXPECT_EQ(r2, -1.0f);
}

TEST(Quadratic, noRealRootsLeavesTheOutputsAlone) {
    float r1 = 7.0f, r2 = 8.0f;
    EXPECT_FALSE(solve_quadratic(1.0f, 0.0f, 1.0f, &r1, &r2));
    EXPECT_FALSE(solve_quadratic(1.0f, kNaN, 1.0f, &r1, &r2));
    EXPECT_EQ(r1, 7.0f);
    EXPECT_EQ(r2, 8.0f);
}

TEST(IntegerRoutines, countBitsAndGcd) {
    EXPECT_EQ(CountBits(0), 0);
    EXPECT_EQ(CountBits(0xFFFFFFFFul), 32);
    EXPECT_EQ(CountBits(~0ul), 64);
    EXPECT_EQ(gcd(12, 18), 6);
    EXPECT_EQ(gcd(0, 7), 7);
    EXPECT_EQ(gcd(0, 0), 0);
    EXPECT_EQ(gcd(12, -18), -6);  // the sign of the truncating remainder
    EXPECT_EQ(gcd(-1, LONG_MIN), -1);
    EXPECT_EQ(gcd(LONG_MIN, -1), -1);
}

TEST(IntegerRoutines, roundAndFtolTruncateAndSaturate) {
    EXPECT_EQ(round(0.3, 8), 77);
    EXPECT_EQ(round(-1.7, 0), -1);
    EXPECT_EQ(round(1.0, 32), 1);  // bits wrap at 32
    EXPECT_EQ(round(0.5, 31), 1l << 30);
    EXPECT_EQ(round(1e300, 8), LONG_MAX);
    EXPECT_EQ(round(std::nan(""), 8), 0);
    EXPECT_EQ(round(2.5), 3.0);  // the C library's one-argument form stays reachable
    EXPECT_EQ(ftol(-2.9f), -2);
    EXPECT_EQ(ftol(1e30f), LONG_MAX);
    EXPECT_EQ(ftol(-1e30f), LONG_MIN);
    EXPECT_EQ(ftol(kNaN), 0);
    EXPECT_FALSE(IsMMX());
    EXPECT_FALSE(IsPentium());
}
