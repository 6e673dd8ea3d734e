// Designs checked against their analog prototypes: the bilinear transform maps
// the digital frequency w onto the analog 2 tan(w/2), so the digital magnitude
// there must equal the prototype's, up to the float rounding of the rows.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <utility>
#include <vector>

#include "FilterDesign.h"
#include "Flt1p.h"
#include "Flt2p2z.h"
#include "MathLib.h"

namespace {

typedef std::complex<double> Complex;
const double kPi = 3.141592653589793;

double Warp(double hz, double fs) {
    return 2.0 * std::tan(kPi * hz / fs);
}

// |H(e^jw)| of a one-section record at hz, in double.
double Digital(const BiquadCoeffs& c, double hz, double fs) {
    const Complex z = std::polar(1.0, -2.0 * kPi * hz / fs);
    const float* r = c.coeffs[0];
    return std::abs(double(c.gain) * (1.0 + double(r[2]) * z + double(r[3]) * z * z) /
                    (1.0 + double(r[0]) * z + double(r[1]) * z * z));
}

struct Prototype {  // (n2 s^2 + n1 s + n0) / (s^2 + d1 s + d0)
    double n2, n1, n0, d1, d0;
    double at(double w) const {
        const Complex s(0.0, w);
        return std::abs((n2 * s * s + n1 * s + n0) / (s * s + d1 * s + d0));
    }
};

void ExpectFollows(const BiquadCoeffs& c, const Prototype& p, double fs) {
    for (double hz = fs / 400; hz < fs / 2; hz *= 1.25)
        EXPECT_NEAR(Digital(c, hz, fs), p.at(Warp(hz, fs)), 2e-5 * (1 + p.at(Warp(hz, fs)))) << hz << " Hz";
}

}  // namespace

TEST(FilterDesign, warpingIsTwiceTheTangentClampedAtPi) {
    EXPECT_NEAR(GetWarpedBilinearFrequency(11025, 44100), 2.0, 1e-12);
    const double edge = std::atan(kPi / 2) / kPi * 44100;  // where 2 tan reaches pi
    EXPECT_NEAR(GetWarpedBilinearFrequency(edge - 1, 44100), Warp(edge - 1, 44100), 1e-12);
    EXPECT_LT(GetWarpedBilinearFrequency(edge - 1, 44100), kPi);
    for (double hz : {edge + 1, 15000.0, 22050.0, 30000.0})
        EXPECT_EQ(GetWarpedBilinearFrequency(hz, 44100), kPi);
}

TEST(FilterDesign, everySecondOrderDesignFollowsItsPrototypeAndHitsItsDefiningGain) {
    BiquadCoeffs c;
    float row[1][4];
    InitLowpassCoeffs(c, row, 44100, 11025);  // warped cutoff 2: a1 = 0, b1 = 2, b2 = 1
    EXPECT_TRUE(c.coeffs == row && c.numSections == 1);
    EXPECT_NEAR(c.gain, 4 / (8 + 4 * std::sqrt(2.0)), 1e-7);
    EXPECT_TRUE(std::fabs(row[0][0]) < 1e-7f && row[0][2] == 2.0f && row[0][3] == 1.0f);
    for (long fs : {8000L, 44100L, 48000L}) {
        const double f = double(fs);
        for (long fc : {fs / 20, fs / 8, fs / 5}) {
            const double wc = Warp(fc, f), wc2 = wc * wc;
            InitLowpassCoeffs(c, row, fs, fc);
            ExpectFollows(c, {0, 0, wc2, std::sqrt(2.0) * wc, wc2}, f);
            EXPECT_NEAR(Digital(c, fc, f), std::sqrt(0.5), 1e-5);  // Butterworth: -3 dB at the cutoff

            InitHighpassCoeffs(c, row, fs, fc);
            ExpectFollows(c, {1, 0, 0, std::sqrt(2.0) * wc, wc2}, f);
            EXPECT_NEAR(Digital(c, fc, f), std::sqrt(0.5), 1e-5);

            const long width = fc / 5;
            InitBandpassCoeffs(c, row, fs, fc, width);
            const double ww = Warp(width, f);
            ExpectFollows(c, {0, ww, 0, ww, wc2}, f);
            EXPECT_NEAR(Digital(c, fc, f), 1.0, 1e-5);

            InitNotchCoeffs(c, row, fs, fc, width);
            const double b = 0.5 * (Warp(fc + width, f) - Warp(fc - width, f));
            ExpectFollows(c, {1, 0, wc2, b, wc2}, f);
            EXPECT_NEAR(Digital(c, fc, f), 0.0, 1e-5);
        }
    }
}

TEST(FilterDesign, gainControlledBandpassIsOneAtItsCenterInBothRegimes) {
    const double fs = 48000, wc = Warp(2000, fs);
    const double b = 0.5 * (Warp(2250, fs) - Warp(1750, fs));  // width 501 spans 2000 +- 250
    const std::pair<double, double> cases[] = {{0.0, 0.0}, {0.5, 0.5}, {0.2, 0.25}, {0.0, 2.0}, {1.5, 0.1}};
    for (const auto& gains : cases) {
        const double dc = gains.first, top = gains.second, e = (top - dc) * wc;
        BiquadCoeffs c;
        float row[1][4];
        InitBandpassCoeffs(c, row, 48000, 2000, 501, dc, top);
        const bool resonant = std::fabs(e) <= b;
        ExpectFollows(c,
                      {top, resonant ? std::sqrt(b * b - e * e) : 0.0, dc * wc * wc,
                       resonant ? b : std::fabs(e), wc * wc},
                      fs);
        EXPECT_NEAR(Digital(c, 2000, fs), 1.0, 1e-5) << dc << " " << top;
        EXPECT_NEAR(Digital(c, 0, fs), dc, 1e-5);
        EXPECT_NEAR(Digital(c, fs / 2, fs), top, 1e-5);
    }
}

TEST(FilterDesign, aNumeratorWithoutConstantTermGivesASilentSectionRatherThanNaN) {
    BiquadCoeffs c;
    float row[1][4];
    InitBandpassCoeffs(c, row, 44100, 1000, 0);
    EXPECT_EQ(c.gain, 0.0f);
    for (float v : row[0]) EXPECT_TRUE(std::isfinite(v));
    InitLowpassCoeffs(c, row, 44100, 0);
    EXPECT_EQ(c.gain, 0.0f);
    for (float v : row[0]) EXPECT_TRUE(std::isfinite(v));
    ApplyBilinear(1.0, -2.0, 0.0, 1.0, 1.0, 1.0, c);  // N0 = 4 - 4 + 0
    EXPECT_EQ(c.gain, 0.0f);
    EXPECT_EQ(row[0][2], 0.0f);
    EXPECT_EQ(row[0][3], 0.0f);
}

TEST(FilterDesign, eachDesignProgramsABiquadWithTheRecordOfItsInitTwin) {
    typedef int (*Design)(BiquadFilter*);
    typedef void (*Init)(BiquadCoeffs&, float[][4]);
    const std::pair<Design, Init> twins[] = {
        {[](BiquadFilter* f) { return DesignLowpass(f, 48000, 3000); },
         [](BiquadCoeffs& c, float r[][4]) { InitLowpassCoeffs(c, r, 48000, 3000); }},
        {[](BiquadFilter* f) { return DesignHighpass(f, 48000, 3000); },
         [](BiquadCoeffs& c, float r[][4]) { InitHighpassCoeffs(c, r, 48000, 3000); }},
        {[](BiquadFilter* f) { return DesignBandpass(f, 48000, 3000, 700); },
         [](BiquadCoeffs& c, float r[][4]) { InitBandpassCoeffs(c, r, 48000, 3000, 700); }},
        {[](BiquadFilter* f) { return DesignBandpass(f, 48000, 3000, 700, 0.3, 0.6); },
         [](BiquadCoeffs& c, float r[][4]) { InitBandpassCoeffs(c, r, 48000, 3000, 700, 0.3, 0.6); }},
        {[](BiquadFilter* f) { return CreateNotch(f, 48000, 3000, 700); },
         [](BiquadCoeffs& c, float r[][4]) { InitNotchCoeffs(c, r, 48000, 3000, 700); }},
    };
    for (const auto& twin : twins) {
        BiquadCoeffs c;
        float row[1][4];
        twin.second(c, row);
        FloatBiquad filter;
        ASSERT_EQ(twin.first(&filter), 0);
        ASSERT_EQ(filter.sectionCount_, 1);
        const FloatBiquad::Section& s = filter.sections_[0];
        EXPECT_EQ(filter.gain_, c.gain);
        EXPECT_TRUE(s.a1 == row[0][0] && s.a2 == row[0][1] && s.b1 == row[0][2] && s.b2 == row[0][3]);
    }
}

namespace {

std::vector<BiquadRoots> MakeRoots(int count) {
    std::vector<BiquadRoots> roots;
    for (int i = 0; i < count; ++i)
        roots.push_back({{500.0f + 100 * i, 0.9f}, {20.0f + i, 0.5f + 0.01f * i}});
    return roots;
}

FloatBiquad* AsFloat(BiquadFilter* filter) {
    return dynamic_cast<FloatBiquad*>(filter);
}

// A library whose biquads refuse their coefficients and count their deletion.
int deletedBiquads = 0;
struct RefusingBiquad : FloatBiquad {
    int SetFilter(const BiquadCoeffs&) override { return 1; }
    ~RefusingBiquad() override { ++deletedBiquads; }
};
struct RefusingLibrary : FloatLibrary {
    BiquadFilter* CreateBiquad() override { return new RefusingBiquad; }
};

}  // namespace

TEST(RootCascade, aRecordBecomesAQuietBiquadWithTheDirectFormsOfItsRoots) {
    const std::vector<BiquadRoots> roots = MakeRoots(3);
    const BiquadCoeffs2 record = {22050, -0.48f, 3, roots.data()};
    std::unique_ptr<BiquadFilter> filter(GetFloatLibrary()->CreateFilter(&record));
    FloatBiquad* biquad = AsFloat(filter.get());
    ASSERT_NE(biquad, nullptr);
    EXPECT_TRUE(biquad->IsQuiet());
    EXPECT_EQ(biquad->gain_, -0.48f);
    ASSERT_EQ(biquad->sectionCount_, 3);
    for (int i = 0; i < 3; ++i) {
        float p[2], z[2];
        roots[i].poles.getDirectForm(22050, &p[0], &p[1]);
        roots[i].zeros.getDirectForm(22050, &z[0], &z[1]);
        const FloatBiquad::Section& s = biquad->sections_[i];
        EXPECT_TRUE(s.a1 == p[0] && s.a2 == p[1] && s.b1 == z[0] && s.b2 == z[1]) << i;
    }
}

TEST(RootCascade, oversizedMalformedOrRefusedRecordsGiveNull) {
    const std::vector<BiquadRoots> roots = MakeRoots(21);
    BiquadCoeffs2 record = {44100, 1.0f, 21, roots.data()};
    EXPECT_EQ(GetFloatLibrary()->CreateFilter(&record), nullptr);
    record.numSections = 20;
    std::unique_ptr<BiquadFilter> twenty(GetFloatLibrary()->CreateFilter(&record));
    ASSERT_NE(twenty, nullptr);
    EXPECT_EQ(AsFloat(twenty.get())->sectionCount_, 20);
    record.numSections = -1;
    EXPECT_EQ(GetFloatLibrary()->CreateFilter(&record), nullptr);
    EXPECT_EQ(GetFloatLibrary()->CreateFilter(static_cast<const BiquadCoeffs2*>(nullptr)), nullptr);

    record.numSections = 2;
    RefusingLibrary refusing;
    deletedBiquads = 0;
    EXPECT_EQ(refusing.CreateFilter(&record), nullptr);
    EXPECT_EQ(deletedBiquads, 1);
}

TEST(RootCascade, theExactOrElseNearestRateIsUsedAndTiesGoToTheEarlierEntry) {
    std::vector<BiquadRoots> roots = MakeRoots(1);
    std::vector<BiquadCoeffs2> table;
    for (long rate : {8000L, 11025L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
        table.push_back({rate, float(rate), 1, roots.data()});  // each gain names its rate
    auto chosen = [&](Samples rate, bool exactOnly, int count = 8) {
        std::unique_ptr<BiquadFilter> f(
            GetFloatLibrary()->CreateFilter(table.data(), count, rate, exactOnly));
        return f ? AsFloat(f.get())->gain_ : 0.0f;
    };
    EXPECT_EQ(chosen(44100, false), 44100.0f);
    EXPECT_EQ(chosen(45000, false), 44100.0f);  // 900 against 3000
    EXPECT_EQ(chosen(46050, false), 44100.0f);  // 1950 either way
    EXPECT_EQ(chosen(46051, false), 48000.0f);
    EXPECT_EQ(chosen(0, false), 8000.0f);
    EXPECT_EQ(chosen(96000, false), 48000.0f);
    EXPECT_EQ(chosen(48000, false, 7), 44100.0f);
    EXPECT_EQ(chosen(45000, true), 0.0f);
    EXPECT_EQ(chosen(11025, true), 11025.0f);
    EXPECT_EQ(chosen(44100, false, 0), 0.0f);
}

TEST(FirstOrderDesign, highpassAndLowpassPlaceTheirPoleByTheirEquations) {
    const double fs = 44100;
    for (long hz : {200L, 2000L, 8000L}) {
        for (float g : {0.3f, 0.5f, 0.7f}) {
            const double k = std::cos(2 * kPi * hz / fs), q = double(g) * g;
            FloatFirstOrderFilter f(44100);
            f.DesignHighpass(hz, g);
            double p = f.c();
            EXPECT_TRUE(f.b() == -1.0f && f.a0() == 0.5f * (1.0f - f.c()));
            EXPECT_NEAR(q * (1 + 2 * k * p + p * p), (1 - k) * (1 - p), 1e-5) << hz << " " << g;
            EXPECT_LT(std::fabs(p), 1.0);

            f.DesignLowpass(hz, g);
            p = f.c();
            EXPECT_TRUE(f.b() == 1.0f && f.a0() == 0.5f * (1.0f + f.c()));
            EXPECT_NEAR(q * (1 + 2 * k * p + p * p), (1 + k) * (1 + p), 1e-5) << hz << " " << g;
            EXPECT_LT(std::fabs(p), 1.0);
        }
    }
}

TEST(FirstOrderDesign, withoutARealRootOrWithZeroGThePoleStaysAtZero) {
    FloatFirstOrderFilter f(44100);
    f.DesignHighpass(11025, 2.0f);  // discriminant 1 + 4q - 4q^2 < 0
    EXPECT_TRUE(f.a0() == 0.5f && f.b() == -1.0f && f.c() == 0.0f);
    f.DesignLowpass(11025, 2.0f);
    EXPECT_TRUE(f.a0() == 0.5f && f.b() == 1.0f && f.c() == 0.0f);
    f.DesignHighpass(1000, 0.0f);  // no longer a quadratic: not a division by zero
    EXPECT_EQ(f.c(), 0.0f);
    f.DesignLowpass(1000, 0.0f);
    EXPECT_EQ(f.c(), 0.0f);
}
