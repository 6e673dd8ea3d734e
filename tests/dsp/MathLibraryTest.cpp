#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "MathLib.h"
#include "Mixbuf.h"

namespace {

MathLibrary& lib() {
    return *GetFloatLibrary();
}

// Float sums and products of two floats are exact in double (or close enough
// that rounding once gives the float result): a model of float arithmetic.
float fadd(float a, float b) {
    return static_cast<float>(static_cast<double>(a) + b);
}
float fmul(float a, float b) {
    return static_cast<float>(static_cast<double>(a) * b);
}

// dst[i] (+)= g_i * s[i], g_0 = gain, g_{i+1} = g_i + step, compared bit for bit.
void expectRamp(const std::vector<float>& before, const std::vector<float>& after,
                const std::vector<float>& s, float gain, float step, bool add) {
    for (size_t i = 0; i < s.size(); ++i, gain = fadd(gain, step)) {
        const float expected = add ? fadd(before[i], fmul(gain, s[i])) : fmul(gain, s[i]);
        ASSERT_EQ(std::memcmp(&after[i], &expected, sizeof expected), 0) << i << ": " << after[i];
    }
}

std::vector<float> noise(size_t n, unsigned seed) {
    std::vector<float> v(n);
    for (float& x : v)
        x = static_cast<float>(static_cast<int>((seed = seed * 1664525u + 1013904223u) >> 8)) * 1e-7f;
    return v;
}

}  // namespace

TEST(RampedMix, everySourceTypeFollowsTheFloatModelOfARampBuiltByAddition) {
    std::vector<unsigned char> pcm8(256);
    std::vector<short> pcm16(65536);
    std::vector<float> on8(256), on16(65536);  // values on the 16-bit scale
    for (int b = 0; b < 256; ++b)
        on8[b] = static_cast<float>((b - 128) * 256), pcm8[b] = static_cast<unsigned char>(b);
    for (int v = 0; v < 65536; ++v)
        on16[v] = static_cast<float>(v - 32768), pcm16[v] = static_cast<short>(v - 32768);
    const std::vector<float> floats = noise(4000, 3);

    for (const auto& gs :
         std::vector<std::pair<float, float>>{{1.0f, 0.0f}, {0.3f, 7.1e-5f}, {-1.7f, 1e-9f}}) {
        const float g = gs.first, st = gs.second, g15 = fmul(g, 0x1p-15f), st15 = fmul(st, 0x1p-15f);
        for (bool add : {false, true}) {
            std::vector<float> before = noise(65536, 5), dst = before;
            const Buffer out(dst.data(), kMonoFloat);
            add ? lib().AddRamped(out, Buffer(pcm8.data(), kMono8), g, st, 256)
                : lib().CopyRamped(out, Buffer(pcm8.data(), kMono8), g, st, 256);
            expectRamp(before, dst, on8, g15, st15, add);
            dst = before;
            add ? lib().AddRamped(out, Buffer(pcm16.data(), kMono16), g, st, 65536)
                : lib().CopyRamped(out, Buffer(pcm16.data(), kMono16), g, st, 65536);
            expectRamp(before, dst, on16, g15, st15, add);
            dst = before;
            add ? lib().AddRamped(out, Buffer(floats.data(), kMonoFloat), g, st, 4000)
                : lib().CopyRamped(out, Buffer(floats.data(), kMonoFloat), g, st, 4000);
            expectRamp(before, dst, floats, g, st, add);
            dst = before;
            (add ? ffAddRamped : ffCopyRamped)(dst.data(), floats.data(), g, st, 4000);
            expectRamp(before, dst, floats, g, st, add);
        }
    }
}

TEST(RampedMix, startsAtTheGainStepsEachFrameAndANegativeZeroGainSignsOnlyTheFirstSample) {
    float dst[3];
    const float ones[3] = {1, 1, 1};
    lib().CopyRamped(Buffer(dst, kMonoFloat), Buffer(ones, kMonoFloat), 1.0f, 0.25f, 3);
    EXPECT_EQ(std::vector<float>(dst, dst + 3), (std::vector<float>{1.0f, 1.25f, 1.5f}));
    const unsigned char pcm8[3] = {0, 128, 255};
    lib().CopyRamped(Buffer(dst, kMonoFloat), Buffer(pcm8, kMono8), 1.0f, 0.0f, 3);
    EXPECT_EQ(std::vector<float>(dst, dst + 3), (std::vector<float>{-1.0f, 0.0f, 0.9921875f}));
    // -0 + 0 is +0: only the first sample keeps the negative zero.
    lib().CopyRamped(Buffer(dst, kMonoFloat), Buffer(ones, kMonoFloat), -0.0f, 0.0f, 3);
    EXPECT_TRUE(std::signbit(dst[0]));
    EXPECT_FALSE(std::signbit(dst[1]));
}

TEST(RampedMix, unsupportedTypesAndEmptyOrNegativeCountsWriteNothing) {
    const float src[4] = {1, 2, 3, 4};
    float dst[4] = {9, 9, 9, 9};
    short dst16[4] = {7, 7, 7, 7};
    lib().CopyRamped(Buffer(dst16, kMono16), Buffer(src, kMonoFloat), 1.0f, 0.0f, 4);
    for (int type : {kNoFormat, kStereo16, kStereoFloat})
        lib().AddRamped(Buffer(dst, kMonoFloat), Buffer(src, type), 2.0f, 0.5f, 4);
    for (Samples n : {0, -5}) {
        lib().CopyRamped(Buffer(dst, kMonoFloat), Buffer(src, kMonoFloat), 1.0f, 0.0f, n);
        lib().AddRamped(Buffer(dst, kMonoFloat), Buffer(src, kMono16), 1.0f, 0.0f, n);
        ffAddRamped(dst, src, 1.0f, 0.5f, n);
    }
    EXPECT_EQ(std::vector<short>(dst16, dst16 + 4), std::vector<short>(4, 7));
    EXPECT_EQ(std::vector<float>(dst, dst + 4), std::vector<float>(4, 9.0f));
}

TEST(VectorStatistics, sumsAreWideAndEmptyBlocksAnswerTheStartingValues) {
    const float x[5] = {-16777216.0f, 1, 1, -1, 1};  // float accumulation would lose every 1
    const Buffer b(x, kMonoFloat);
    EXPECT_EQ(lib().Sum(b, 5), -16777214.0f);
    EXPECT_EQ(lib().SumAbs(b, 5), 16777220.0f);
    EXPECT_EQ(lib().SumSquare(b + 1, 4), 4.0f);
    EXPECT_EQ(lib().Max(b, 5), 1.0f);
    EXPECT_EQ(lib().Min(b + 1, 4), -1.0f);
    EXPECT_EQ(lib().Max(b, 0), -3.4028235e+38f);
    EXPECT_EQ(lib().Min(b, 0), 3.4028235e+38f);
    EXPECT_EQ(lib().Sum(b, 0) + lib().SumAbs(b, 0) + lib().SumSquare(b, 0), 0.0f);
}

TEST(VectorStatistics, quietMeansTheAbsoluteTotalIsAtMostOneSixteenBitStep) {
    const float s = 3.0518509e-05f;
    const float one[3] = {0, s, 0}, two[2] = {s, s}, cancelling[2] = {s, -s};
    for (bool wrapped : {true, false}) {
        auto quiet = [wrapped](const float* p, Samples n) {
            return wrapped ? lib().IsQuiet(Buffer(p, kMonoFloat), n) : IsQuiet(p, n);
        };
        EXPECT_TRUE(quiet(one, 3));
        EXPECT_FALSE(quiet(two, 2));
        EXPECT_FALSE(quiet(cancelling, 2));
        EXPECT_TRUE(quiet(two, 0));
    }
}

namespace {

// trunc(x * 32768) in double; NaN is taken as negative overload.
double truncated(float x) {
    return std::isnan(x) ? -1e9 : std::trunc(static_cast<double>(x) * 32768.0);
}
short reference16(float x) {
    return static_cast<short>(std::fmax(-32768.0, std::fmin(32767.0, truncated(x))));
}
bool clips16(float x) {
    return truncated(x) > 32767.0 || truncated(x) < -32768.0;
}
int reference8(float x) {
    return static_cast<int>(std::fmax(0.0, std::fmin(65535.0, truncated(x) + 32896.0))) >> 8;
}

// Every float within 3000 ulps of each clamp and rounding point, a coarse walk
// over the whole range, and values far out of it.
std::vector<float> clampSweep() {
    std::vector<float> v;
    for (double c : {32768.0, 32767.0, -32768.0, -32769.0, 32640.0, -32896.0, -32897.0, 0.0, 1.0, -1.0}) {
        float x = static_cast<float>(c / 32768);
        for (int i = 0; i < 3000; ++i) x = std::nextafter(x, -10.0f);
        for (int i = 0; i < 6000; ++i, x = std::nextafter(x, 10.0f)) v.push_back(x);
    }
    for (int k = -40000; k <= 40000; k += 7) v.push_back(static_cast<float>(k) / 32768);
    const float inf = std::numeric_limits<float>::infinity();
    for (float x : {1e10f, -1e10f, inf, -inf, std::numeric_limits<float>::quiet_NaN()}) v.push_back(x);
    return v;
}

}  // namespace

TEST(ClipCountingStores, sweepsAroundTheClampPointsTruncateSaturateAndCount) {
    const std::vector<float> left = clampSweep(), right(left.rbegin(), left.rend());
    const Samples n = static_cast<Samples>(left.size());
    const Buffer a(left.data(), kMonoFloat), b(right.data(), kMonoFloat);
    std::vector<short> mono16(n);
    std::vector<unsigned char> mono8(n);
    std::vector<Stereo<short>> stereo16(n);
    std::vector<Stereo<unsigned char>> stereo8(n);
    Samples saveClips = 999;
    unsigned int mergeClips[2] = {3, 5};
    lib().Save(Buffer(mono16.data(), kMono16), a, n, &saveClips);
    lib().Save(Buffer(mono8.data(), kMono8), a, n, nullptr);
    lib().Merge(Buffer(stereo16.data(), kStereo16), a, b, n, mergeClips);
    lib().Merge(Buffer(stereo8.data(), kStereo8), a, b, n, mergeClips);  // 8-bit counts nothing

    Samples expectedClips = 0;
    for (Samples i = 0; i < n; ++i) {
        ASSERT_EQ(mono16[i], reference16(left[i])) << left[i];
        ASSERT_EQ(mono8[i], reference8(left[i])) << left[i];
        ASSERT_EQ(stereo16[i].c[0], reference16(left[i]));
        ASSERT_EQ(stereo16[i].c[1], reference16(right[i]));
        ASSERT_EQ(stereo8[i].c[1], reference8(right[i]));
        expectedClips += clips16(left[i]);
    }
    EXPECT_GT(expectedClips, 10000);
    EXPECT_EQ(saveClips, expectedClips);  // assigned, not added to 999
    EXPECT_EQ(mergeClips[0], 3u + expectedClips);
    EXPECT_EQ(mergeClips[1], 5u + expectedClips);
}

TEST(ClipCountingStores, fullHalfAndZeroScaleGiveTheirIntegerCodesAndClipCounts) {
    const float edge[4] = {1.0f, -1.0f, -1.00002f, 1.00003f};
    short out16[4];
    Samples clips = 0;
    lib().Save(Buffer(out16, kMono16), Buffer(edge, kMonoFloat), 4, &clips);
    EXPECT_EQ(std::vector<short>(out16, out16 + 4), (std::vector<short>{32767, -32768, -32768, 32767}));
    EXPECT_EQ(clips, 2);
    const float levels[6] = {0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 0.001f};
    unsigned char out8[6];
    lib().Save(Buffer(out8, kMono8), Buffer(levels, kMonoFloat), 6, &clips);
    EXPECT_EQ(std::vector<int>(out8, out8 + 6), (std::vector<int>{128, 192, 64, 255, 0, 128}));
    EXPECT_EQ(clips, 2);
}

TEST(ClipCountingStores, otherCombinationsFallBackOrDoNothingAndLeaveTheCounts) {
    const float a[2] = {2.0f, 0.5f}, b[2] = {-2.0f, 0.25f};
    const short a16[2] = {1000, -1000};
    Samples clips = 7;
    unsigned int pair[2] = {6, 6};
    short out[4] = {1, 1, 1, 1}, expected[4];
    lib().Save(Buffer(out, kStereo16), Buffer(a, kMonoFloat), 2, &clips);
    Buffer(a, kMonoFloat).copyTo(Buffer(expected, kStereo16), 2);
    EXPECT_EQ(std::memcmp(out, expected, sizeof out), 0);
    lib().Merge(Buffer(out, kStereo16), Buffer(a16, kMono16), Buffer(a16, kMono16), 2, pair);
    merge(Buffer(expected, kStereo16), Buffer(a16, kMono16), Buffer(a16, kMono16), 2);
    EXPECT_EQ(std::memcmp(out, expected, sizeof out), 0);
    lib().Merge(Buffer(out, kMono16), Buffer(a, kMonoFloat), Buffer(b, kMonoFloat), 2, pair);
    merge(Buffer(expected, kMono16), Buffer(a, kMonoFloat), Buffer(b, kMonoFloat), 2);
    EXPECT_EQ(std::memcmp(out, expected, 2 * sizeof(short)), 0);

    std::memset(out, 0, sizeof out);
    lib().Save(Buffer(out, kMono16), Buffer(a16, kMono16), 2, &clips);
    lib().Save(Buffer(out, kMono16), Buffer(a, kMonoFloat), 0, &clips);
    lib().Merge(Buffer(out, kStereo16), Buffer(a, kMonoFloat), Buffer(b, kMonoFloat), 0, pair);
    EXPECT_EQ(std::vector<short>(out, out + 4), std::vector<short>(4, 0));
    EXPECT_EQ(clips, 7);
    EXPECT_EQ(pair[0] + pair[1], 12u);
}

TEST(MixBufferMerges, extendEveryBufferAndMergePairsAndQuadsWithoutCounting) {
    MixBuffer m[4];
    for (int k = 0; k < 4; ++k) {
        lib().CreateBuffer(m[k], 4);
        m[k].floats()[0] = 2.0f * (k + 1);
        for (int i = 1; i < 4; ++i) m[k].floats()[i] = 99.0f;  // past the used part: reads as silence
        m[k].used_ = 1;
    }
    Quad<float> quad[3];
    lib().Merge(Buffer(quad, kQuadFloat), m, 4, 3);
    EXPECT_EQ(quad[0].c[3], 8.0f);
    EXPECT_EQ(quad[2].c[3], 0.0f);
    EXPECT_EQ(m[3].used_, 3);

    MixBuffer* pointers[3] = {&m[0], &m[1], &m[2]};
    Stereo<short> stereo[4];
    lib().Merge(Buffer(stereo, kStereo16), pointers, 2, 4);
    EXPECT_EQ(stereo[0].c[0], 32767);
    EXPECT_EQ(stereo[3].c[1], 0);
    EXPECT_EQ(m[0].GetClips() + m[1].GetClips(), 0u);
    lib().Merge(Buffer(stereo, kStereo16), pointers, 3, 4);  // only extends
    EXPECT_EQ(stereo[0].c[0], 32767);
    EXPECT_EQ(m[2].used_, 4);
    lib().Merge(Buffer(stereo, kStereo16), m[0], m[1], 2);  // the counting form
    EXPECT_EQ(m[0].GetClips(), 1u);
}
