// The recursive filters against their difference equations evaluated
// independently, against block splitting, and through their tails.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "Flt1p.h"
#include "Flt2p0z.h"
#include "Flt2p2z.h"
#include "Flthigh.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace {

typedef std::vector<float> Block;
const double kPi = 3.141592653589793;

// Filters data in place in consecutive blocks of the given sizes, the last
// size repeating; 0 takes the rest at once.
void Apply(InPlaceFilter& filter, Block& data, std::vector<Samples> sizes = {0}) {
    Samples at = 0, total = Samples(data.size());
    for (size_t k = 0; at < total; k = std::min(k + 1, sizes.size() - 1)) {
        const Samples n = sizes[k] > 0 ? std::min(sizes[k], total - at) : total - at;
        MixBuffer buffer(*GetFloatLibrary(), Buffer(data.data() + at, kMonoFloat), n);
        filter.Process(buffer);
        at += n;
    }
}

Block Noise(size_t n, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    Block b(n);
    for (float& v : b) v = dist(rng);
    return b;
}

// Agreement relative to the response's peak: rounding grows with a cascade's
// internal gains, while a wrong term or lost state shows at signal size.
void ExpectClose(const Block& actual, const std::vector<double>& expected, double tolerance) {
    double peak = 1.0;
    for (double v : expected) peak = std::max(peak, std::fabs(v));
    for (size_t i = 0; i < actual.size(); ++i) ASSERT_NEAR(actual[i], expected[i], tolerance * peak) << i;
}

struct Cascade {  // a biquad record with its own rows
    std::vector<std::array<float, 4>> rows;
    float gain;
    BiquadCoeffs record() { return {gain, long(rows.size()), reinterpret_cast<float(*)[4]>(rows.data())}; }
};

Cascade MakeCascade(int sections, float gain) {
    Cascade c{{}, gain};
    for (int k = 0; k < sections; ++k) {
        const double pr = 0.55 + 0.04 * k, pw = 0.3 + 0.35 * k, zr = 0.8 - 0.05 * k, zw = 2.5 - 0.3 * k;
        c.rows.push_back(
            {float(-2 * pr * std::cos(pw)), float(pr * pr), float(-2 * zr * std::cos(zw)), float(zr * zr)});
    }
    return c;
}

std::vector<IIRRoot> MakeRoots(int sections) {
    std::vector<IIRRoot> roots;
    for (int k = 0; k < sections; ++k) roots.push_back({300.0f + 1100.0f * k, 0.75f + 0.025f * k});
    return roots;
}

// Each filter of this family as the library makes it, set up with non-trivial
// coefficients (five sections for the cascades: a pass of four and one).
std::vector<std::pair<const char*, std::function<InPlaceFilter*()>>> Kinds() {
    static std::vector<IIRRoot> roots = MakeRoots(5);
    static Cascade cascade = MakeCascade(5, 0.8f);
    MathLibrary* lib = GetFloatLibrary();
    return {{"first-order",
             [lib] {
                 FirstOrderFilter* f = lib->CreateFirstOrderFilter(44100);
                 f->SetCoeffs(0.7f, 0.3f, -0.6f);
                 return f;
             }},
            {"high-pass",
             [lib] {
                 SingleFreqFilter* f = lib->CreateHighpass(44100);
                 f->SetFrequency(2000);
                 return f;
             }},
            {"biquad",
             [lib] {
                 BiquadFilter* f = lib->CreateBiquad();
                 f->SetFilter(cascade.record());
                 return f;
             }},
            {"all-pole", [lib] {
                 const IIR2p0zCoeffs c = {44100, 0.5f, 5, roots.data()};
                 return lib->CreateFilter(&c);
             }}};
}

}  // namespace

TEST(RecursiveFilters, oneBlockSingleSamplesAndUnevenSplitsGiveIdenticalOutput) {
    const Block input = Noise(3000);
    for (const auto& kind : Kinds()) {
        std::vector<Block> out;
        for (const std::vector<Samples>& sizes :
             {std::vector<Samples>{0}, {1}, {7, 1, 300, 2, 1024, 5, 13}}) {
            std::unique_ptr<InPlaceFilter> filter(kind.second());
            EXPECT_TRUE(filter->IsQuiet()) << kind.first;
            out.push_back(input);
            Apply(*filter, out.back(), sizes);
        }
        EXPECT_EQ(out[1], out[0]) << kind.first << ", single samples";
        EXPECT_EQ(out[2], out[0]) << kind.first << ", uneven split";
    }
}

TEST(RecursiveFilters, afterResetSilenceGivesExactZerosAndInputTheOutputOfANewFilter) {
    for (const auto& kind : Kinds()) {
        std::unique_ptr<InPlaceFilter> filter(kind.second());
        Block fresh = Noise(500, 3), ringing = Noise(777, 4), zeros(600, 0.0f);
        Apply(*filter, fresh);
        Apply(*filter, ringing);
        filter->Reset();
        EXPECT_TRUE(filter->IsQuiet()) << kind.first;
        Apply(*filter, zeros);
        EXPECT_EQ(zeros, Block(600, 0.0f)) << kind.first;
        filter->Reset();
        Block again = Noise(500, 3);
        Apply(*filter, again);
        EXPECT_EQ(again, fresh) << kind.first;
    }
}

TEST(RecursiveFilters, tailsEndAfterExactlyTheirStatedLength) {
    for (const auto& kind : Kinds()) {
        std::unique_ptr<InPlaceFilter> filter(kind.second());
        const Samples tail = dynamic_cast<FloatFirstOrderFilter*>(filter.get()) ? 100 : 1000;
        filter->GettingInput();
        filter->NoInput(tail - 1);
        EXPECT_FALSE(filter->IsQuiet()) << kind.first;
        filter->NoInput(1);
        EXPECT_TRUE(filter->IsQuiet()) << kind.first;
        filter->GettingInput();
        filter->Reset();
        EXPECT_TRUE(filter->IsQuiet()) << kind.first;
    }
}

TEST(FirstOrderFilter, everyFormFollowsTheDifferenceEquationAcrossCoefficientChanges) {
    const Block input = Noise(400, 7);
    FloatFirstOrderFilter f(48000);
    Block data = input;
    std::vector<double> expected;
    double x1 = 0, y1 = 0;
    // Each block in another of the four loops; the history carries over. The
    // b = 0 loop leaves the previous input as it stood before it.
    const float bs[] = {1.0f, 0.0f, -1.0f, 0.37f, 0.0f, 0.5f};
    for (int block = 0; block < 6; ++block) {
        f.SetCoeffs(0.8f, bs[block], -0.9f);
        Block part(data.begin() + 50 * block, data.begin() + 50 * block + 50);
        Apply(f, part, {17});
        std::copy(part.begin(), part.end(), data.begin() + 50 * block);
        for (int i = 50 * block; i < 50 * block + 50; ++i) {
            expected.push_back(0.8 * (input[i] + bs[block] * x1) + 0.9 * y1);
            if (bs[block] != 0.0f) x1 = input[i];
            y1 = expected.back();
        }
    }
    data.resize(300);
    ExpectClose(data, expected, 1e-5);
}

TEST(Hipass, untunedItPassesItsInputUnchangedAndTunedItFollowsTheStateVariableRecursion) {
    FloatHipass f(44100);
    const Block input = Noise(2000, 11);
    Block data = input;
    Apply(f, data);
    EXPECT_EQ(data, input);

    f.SetFrequency(1500);
    EXPECT_FLOAT_EQ(f.tune_, float(2 * std::sin(kPi * 1500 / 44100)));
    data = input;
    Apply(f, data, {300});
    std::vector<double> expected;
    const double tune = f.tune_, q = std::sqrt(2.0);
    double low = 0, band = 0;
    for (float x : input) {
        low += tune * band;
        expected.push_back(x - low - q * band);
        band += tune * expected.back();
    }
    ExpectClose(data, expected, 1e-4);
}

TEST(Hipass, cornersBeyondTheUsableRangeAreHeldWhereTheRecursionStaysBounded) {
    const float limit = float(2.0 - std::sqrt(2.0));
    for (Samples hz : {5000, 7350, 10000, 22050, 30000, -100, 50000}) {
        FloatHipass f(44100);
        f.SetFrequency(hz);
        EXPECT_TRUE(f.tune_ >= 0.0f && f.tune_ <= limit) << hz;
        Block nyquist(4000);  // where this recursion's gain is largest
        for (size_t i = 0; i < nyquist.size(); ++i) nyquist[i] = i % 2 ? -1.0f : 1.0f;
        Apply(f, nyquist);
        EXPECT_LE(std::fabs(nyquist.back()), 2.0001f) << hz;
    }
    FloatHipass f(48000);
    f.SetFrequency(4500);
    EXPECT_FLOAT_EQ(f.tune_, float(2 * std::sin(kPi * 4500 / 48000)));
}

TEST(Biquad, anyNumberOfSectionsGivesTheBitsOfASectionBySectionRunAndTheDoubleResponse) {
    const Block input = Noise(1500, 9);
    for (int sections = 1; sections <= 9; ++sections) {
        Cascade c = MakeCascade(sections, 1.3f);
        FloatBiquad f;
        ASSERT_EQ(f.SetFilter(c.record()), 0);
        Block data = input;
        Apply(f, data, {1024});
        Block expected = input;
        std::vector<double> exact(input.begin(), input.end());
        for (float& v : expected) v = c.gain * v;
        for (double& v : exact) v = c.gain * v;
        for (const auto& r : c.rows) {
            float w1 = 0, w2 = 0;
            double u1 = 0, u2 = 0;
            for (size_t i = 0; i < input.size(); ++i) {
                const float w = expected[i] - r[0] * w1 - r[1] * w2;
                expected[i] = w + r[2] * w1 + r[3] * w2;
                w2 = w1;
                w1 = w;
                const double u = exact[i] - r[0] * u1 - r[1] * u2;
                exact[i] = u + r[2] * u1 + r[3] * u2;
                u2 = u1;
                u1 = u;
            }
        }
        EXPECT_EQ(data, expected) << sections << " sections";
        // Longer cascades of these sections peak inside far above their
        // output, where float rounding alone exceeds this tolerance.
        if (sections <= 5) ExpectClose(data, exact, 2e-6);
    }
}

TEST(Biquad, theGainIsAppliedOnceAndSkippedWhenExactlyOne) {
    float rows[1][4] = {{0, 0, 0, 0}};
    FloatBiquad f;
    ASSERT_EQ(f.SetFilter({2.0f, 1, rows}), 0);
    Block data = {0.25f, -0.5f, 3.0f};
    Apply(f, data);
    EXPECT_EQ(data, (Block{0.5f, -1.0f, 6.0f}));
    ASSERT_EQ(f.SetFilter({1.0f, 1, rows}), 0);
    EXPECT_FALSE(f.applyGain_);
    Apply(f, data);
    EXPECT_EQ(data, (Block{0.5f, -1.0f, 6.0f}));
}

TEST(Biquad, newCoefficientsKeepASameSizedArrayButRestartFromSilence) {
    Cascade c = MakeCascade(3, 1.0f);
    FloatBiquad f;
    f.SetFilter(c.record());
    const FloatBiquad::Section* array = f.sections_;
    Block data = Noise(100);
    Apply(f, data);
    f.GettingInput();
    c.rows[1][0] = 0.1f;
    ASSERT_EQ(f.SetFilter(c.record()), 0);
    EXPECT_EQ(f.sections_, array);
    EXPECT_EQ(f.sections_[1].a1, 0.1f);
    EXPECT_TRUE(f.IsQuiet());
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(f.sections_[k].z1 == 0.0f && f.sections_[k].z2 == 0.0f);

    BiquadCoeffs bad = c.record();
    bad.numSections = -2;
    EXPECT_EQ(f.SetFilter(bad), 1);
    EXPECT_EQ(f.sectionCount_, 0);
    EXPECT_EQ(f.sections_, nullptr);
}

TEST(AllPole, anyNumberOfSectionsGivesTheBitsOfASectionBySectionRunAndTheDoubleResponse) {
    const Block input = Noise(1500, 13);
    for (int sections = 1; sections <= 9; ++sections) {
        const std::vector<IIRRoot> roots = MakeRoots(sections);
        const IIR2p0zCoeffs c = {48000, 0.75f, sections, roots.data()};
        std::unique_ptr<IIR2p0zFilter> f(GetFloatLibrary()->CreateFilter(&c));
        Block data = input;
        Apply(*f, data, {1024});
        Block expected = input;
        std::vector<double> exact(input.begin(), input.end());
        for (float& v : expected) v = 0.75f * v;
        for (double& v : exact) v = 0.75 * v;
        for (const IIRRoot& r : roots) {
            float a1, a2, y1 = 0, y2 = 0;
            r.getDirectForm(48000, &a1, &a2);
            const double b1 = -2 * r.radius * std::cos(2 * kPi * r.frequency / 48000),
                         b2 = double(r.radius) * r.radius;
            double u1 = 0, u2 = 0;
            for (size_t i = 0; i < input.size(); ++i) {
                expected[i] = expected[i] - (a1 * y1 + a2 * y2);
                y2 = y1;
                y1 = expected[i];
                exact[i] = exact[i] - (b1 * u1 + b2 * u2);
                u2 = u1;
                u1 = exact[i];
            }
        }
        EXPECT_EQ(data, expected) << sections << " sections";
        ExpectClose(data, exact, 2e-4);  // the poles near the unit circle magnify coefficient rounding
    }
}

TEST(AllPole, aQuarterRateRootRingsAsWorkedOut) {
    const IIRRoot quarter = {12000.0f, 0.5f};
    const IIR2p0zCoeffs c = {48000, 1.0f, 1, &quarter};
    std::unique_ptr<IIR2p0zFilter> f(GetFloatLibrary()->CreateFilter(&c));
    Block data = {1, 0, 0, 0, 0};
    Apply(*f, data);
    ExpectClose(data, {1, 0, -0.25, 0, 0.0625}, 1e-7);
}

TEST(AllPole, newRootsKeepTheStateOfASameSizedCascadeAndNewSectionsStartSilent) {
    std::vector<IIRRoot> roots = MakeRoots(2), three = MakeRoots(3);
    IIR2p0zCoeffs c = {44100, 1.0f, 2, roots.data()};
    FloatIIR2p0z f;
    ASSERT_EQ(f.setFilter(&c), 0);
    Block data = Noise(50);
    Apply(f, data);
    const float y1 = f.sections_[1].z1;
    roots[1].radius = 0.5f;
    ASSERT_EQ(f.setFilter(&c), 0);
    EXPECT_TRUE(y1 != 0.0f && f.sections_[1].z1 == y1);
    EXPECT_EQ(f.sections_[1].a2, 0.25f);
    c = {44100, 2.0f, 3, three.data()};
    ASSERT_EQ(f.setFilter(&c), 0);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(f.sections_[k].z1, 0.0f);

    c.numSections = -1;
    EXPECT_EQ(f.setFilter(&c), 1);
    EXPECT_EQ(f.sectionCount_, 0);
    EXPECT_EQ(GetFloatLibrary()->CreateFilter(&c), nullptr);
    EXPECT_EQ(GetFloatLibrary()->CreateFilter(static_cast<const IIR2p0zCoeffs*>(nullptr)), nullptr);
}
