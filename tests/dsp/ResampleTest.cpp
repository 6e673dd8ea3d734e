#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "MathLib.h"
#include "Resample.h"

namespace {

// Position of output frame j from its closed form in 64-bit integers, reduced modulo 2^32.
std::uint32_t positionOf(std::int64_t j, std::uint32_t phase, std::uint32_t step, std::int32_t stepDelta) {
    const std::uint64_t glide = static_cast<std::uint64_t>(std::int64_t{stepDelta}) * (j * (j - 1) / 2);
    return static_cast<std::uint32_t>(phase + static_cast<std::uint64_t>(j) * step + glide);
}

struct Prediction {
    Samples in, out;
};

Prediction predict(Samples in, Samples out, unsigned long phase, unsigned long step, long stepDelta) {
    PredictResampling(&in, &out, phase, step, stepDelta);
    return {in, out};
}

// Brute force for positive steps and positions below 2^32: the first output
// frame at or past the end of the input, or all of them.
Prediction predictByWalking(Samples in, Samples out, std::uint32_t phase, std::uint32_t step,
                            std::int32_t stepDelta) {
    if (in <= static_cast<Samples>(phase >> 16)) return {in, 0};
    std::int64_t position = phase, s = step;
    for (Samples k = 0;; ++k) {
        if (position >= std::int64_t{in} << 16) return {in, k};
        if (k == out) return {static_cast<Samples>(position >> 16), out};
        position += s;
        s += stepDelta;
    }
}

MathLibrary& library() {
    return *GetFloatLibrary();
}

}  // namespace

TEST(CalculateLastIndex, givesTheWorkedPositionsWithoutLosingTheTopBit) {
    EXPECT_EQ(CalculateLastIndex(4, 0x8000, 0x10000, 0), 0x48000u);
    EXPECT_EQ(CalculateLastIndex(3, 0, 0x10000, 0x1000), 0x33000u);
    EXPECT_EQ(CalculateLastIndex(4, 0x100008000ul, 0x10000, 0), 0x48000u);  // low 32 bits only
    // Steps 0x1000, 0, -0x1000, -0x2000 end 0x2000 before the start.
    EXPECT_EQ(CalculateLastIndex(4, 0x10000, 0x1000, -0x1000), 0xE000u);
    // 40000 frames a little faster than the same rate end beyond input frame 32768.
    EXPECT_EQ(CalculateLastIndex(40000, 0, 0x10000, 1), positionOf(40000, 0, 0x10000, 1));
}

TEST(CalculateLastIndex, agreesWithFrameByFrameSteppingIncludingWrapAround) {
    std::mt19937 random(5);
    std::uniform_int_distribution<std::uint32_t> word;
    for (int i = 0; i < 300; ++i) {
        const Samples n = std::uniform_int_distribution<Samples>(0, 100000)(random);
        const std::uint32_t phase = word(random), step = word(random) >> (i % 17);
        const std::int32_t stepDelta = i % 3 == 0 ? 0 : static_cast<std::int32_t>(word(random)) >> (i % 29);
        std::uint32_t p = phase, s = step;
        for (Samples j = 0; j < n; ++j, s += static_cast<std::uint32_t>(stepDelta)) p += s;
        ASSERT_EQ(CalculateLastIndex(n, phase, step, stepDelta), p) << n << " " << step << " " << stepDelta;
    }
}

TEST(PredictResampling, trimsTheRequestToTheInput) {
    auto expect = [](Prediction p, Samples in, Samples out) {
        EXPECT_EQ(p.in, in);
        EXPECT_EQ(p.out, out);
    };
    expect(predict(100, 50, 0, 0x10000, 0), 50, 50);
    expect(predict(100, 150, 0, 0x10000, 0), 100, 100);
    expect(predict(10, 20, 0xA0000, 0x10000, 0), 10, 0);     // already past the input
    expect(predict(100, 40, 0, 0x28000, 0), 100, 40);        // ends exactly at the limit
    expect(predict(50, 80, 0, 0x10000, 0x100), 50, 46);      // frame 45 at 48.87, 46 at 50.04
    expect(predict(1000, 40, 0, 0x200000, 0x10), 1000, 32);  // 32 frames per step: Newton cannot settle
    expect(predict(100, -5, 0, 0x10000, 0), 0, 0);
}

TEST(PredictResampling, findsExactlyTheSmallestCountThatReachesTheEnd) {
    std::mt19937 random(9);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int trimmedWhileGliding = 0;
    for (int i = 0; i < 3000; ++i) {
        const Samples in = std::uniform_int_distribution<Samples>(1, 65535)(random);
        const auto phase =
            static_cast<std::uint32_t>(std::min(unit(random) * 1.05 * in * 65536.0, 4294967295.0));
        // Steps from 1/256 to 64 input frames, gliding by up to a fiftieth of the step per frame.
        const auto step = static_cast<std::uint32_t>(std::exp2(8.0 + 14.0 * unit(random)));
        const auto stepDelta = i % 4 == 0 ? 0 : static_cast<std::int32_t>((unit(random) * 2 - 1) * step / 50);
        // The most output frames whose steps stay positive and positions below 2^32.
        std::int64_t position = phase, s = step;
        Samples most = 0;
        for (; most < 20000 && s > 0 && position + s < (std::int64_t{1} << 32); ++most, s += stepDelta)
            position += s;
        const Samples out = std::uniform_int_distribution<Samples>(0, most)(random);
        const Prediction expected = predictByWalking(in, out, phase, step, stepDelta);
        const Prediction p = predict(in, out, phase, step, stepDelta);
        ASSERT_EQ(p.out, expected.out) << in << " " << out << " " << phase << " " << step << " " << stepDelta;
        ASSERT_EQ(p.in, expected.in) << in << " " << out << " " << phase << " " << step << " " << stepDelta;
        if (expected.out < out && stepDelta != 0) ++trimmedWhileGliding;
    }
    EXPECT_GT(trimmedWhileGliding, 300);
}

TEST(PredictResampling, stepsThatTurnBackStillReturnWithinTheRequest) {
    for (long stepDelta : {-0x1000l, -0x10000l, -0x7FFFFFFFl}) {
        const Prediction p = predict(10, 1000, 0x1000, 0x10000, stepDelta);
        EXPECT_TRUE(p.out >= 0 && p.out <= 1000 && p.in <= 10) << stepDelta;
    }
}

TEST(Resampling, followsTheWorkedExamples) {
    const short src16[4] = {10, 20, 30, 40};
    short dst16[6] = {};
    library().ResampleWithCopy(Buffer(dst16, kMono16), Buffer(src16, kMono16), 6, 0x8000, 0x8000, 0);
    EXPECT_EQ(std::vector<short>(dst16, dst16 + 6), (std::vector<short>{10, 20, 20, 30, 30, 40}));
    const float src[3] = {0.0f, 1.0f, 2.0f};
    float dst[3] = {};
    library().ResampleWithInterpolation(Buffer(dst, kMonoFloat), Buffer(src, kMonoFloat), 3, 0x4000, 0x8000,
                                        0);
    EXPECT_EQ(std::vector<float>(dst, dst + 3), (std::vector<float>{0.25f, 0.75f, 1.25f}));
}

// Runs the form for the channel count of src (1, 2 or 4) into dst[0 .. channels-1].
template <class Convert>
void runForm(Convert convert, Buffer* d, const Buffer& s, Samples n, std::uint32_t phase, std::uint32_t step,
             std::int32_t stepDelta) {
    switch (Buffer::channels_[s.type_]) {
        case 1:
            convert(d[0], s, n, phase, step, stepDelta);
            break;
        case 2:
            convert(d[0], d[1], s, n, phase, step, stepDelta);
            break;
        default:
            convert(d[0], d[1], d[2], d[3], s, n, phase, step, stepDelta);
            break;
    }
}

TEST(Resampling, everyFormDeinterleavesAlongAGlidingPosition) {
    const Samples n = 300;
    const std::uint32_t phase = 0x1C456, step = 0x9000;
    const std::int32_t stepDelta = 0x91;
    const Samples frames = static_cast<Samples>(positionOf(n, phase, step, stepDelta) >> 16) + 2;
    auto copy = [](auto&&... args) { library().ResampleWithCopy(args...); };
    auto interpolate = [](auto&&... args) { library().ResampleWithInterpolation(args...); };
    for (int channels : {1, 2, 4}) {
        std::vector<short> src16(frames * channels);
        std::vector<float> src(frames * channels);
        for (size_t i = 0; i < src.size(); ++i) {
            src16[i] = static_cast<short>(i * 131 - 20000);
            src[i] = std::cos(static_cast<float>(i) * 0.37f);
        }
        std::vector<short> out16(4 * n);
        std::vector<float> outCopy(4 * n), outLinear(4 * n);
        Buffer d16[4], dCopy[4], dLinear[4];
        for (int c = 0; c < 4; ++c) {
            d16[c] = Buffer(&out16[c * n], kMono16);
            dCopy[c] = Buffer(&outCopy[c * n], kMonoFloat);
            dLinear[c] = Buffer(&outLinear[c * n], kMonoFloat);
        }
        runForm(copy, d16, Buffer(src16.data(), Buffer::getType(channels, 16)), n, phase, step, stepDelta);
        runForm(copy, dCopy, Buffer(src.data(), Buffer::getType(channels, 32)), n, phase, step, stepDelta);
        runForm(interpolate, dLinear, Buffer(src.data(), Buffer::getType(channels, 32)), n, phase, step,
                stepDelta);
        for (Samples j = 0; j < n; ++j) {
            const std::uint32_t position = positionOf(j, phase, step, stepDelta);
            const size_t i = position >> 16;
            const double f = (position & 0xFFFF) / 65536.0;
            for (int c = 0; c < channels; ++c) {
                const double a = src[i * channels + c], b = src[(i + 1) * channels + c];
                ASSERT_EQ(out16[c * n + j], src16[i * channels + c]) << channels << " channels, frame " << j;
                ASSERT_EQ(outCopy[c * n + j], src[i * channels + c]) << channels << " channels, frame " << j;
                ASSERT_EQ(outLinear[c * n + j], static_cast<float>(a + (b - a) * f)) << channels << ", " << j;
            }
        }
    }
}

TEST(Resampling, continuesAcrossBlocksFromTheComputedPositionAndStep) {
    const Samples n = 400;
    const std::uint32_t phase = 0x2800, step = 0xC000;
    const std::int32_t stepDelta = -0x21;
    std::vector<float> src(400);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<float>(i % 17) - 8.0f;
    std::vector<short> src16(src.begin(), src.end());
    const Buffer in(src.data(), kMonoFloat), in16(src16.data(), kMono16);

    std::vector<float> whole(n), pieces(n);
    std::vector<short> whole16(n), pieces16(n);
    library().ResampleWithInterpolation(Buffer(whole.data(), kMonoFloat), in, n, phase, step, stepDelta);
    library().ResampleWithCopy(Buffer(whole16.data(), kMono16), in16, n, phase, step, stepDelta);
    std::uint32_t p = phase, s = step;
    Samples done = 0;
    for (Samples length : {1, 7, 150, 3, 239}) {
        library().ResampleWithInterpolation(Buffer(&pieces[done], kMonoFloat), in, length, p, s, stepDelta);
        library().ResampleWithCopy(Buffer(&pieces16[done], kMono16), in16, length, p, s, stepDelta);
        p = static_cast<std::uint32_t>(CalculateLastIndex(length, p, s, stepDelta));
        s += static_cast<std::uint32_t>(length * stepDelta);
        done += length;
    }
    ASSERT_EQ(done, n);
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(pieces16, whole16);
}

TEST(Resampling, mismatchedTypesOrEmptyCountsWriteNothing) {
    float src[64] = {1.0f, 2.0f, 3.0f};
    unsigned char dst[4][64];
    std::memset(dst, 0x5A, sizeof dst);
    auto b = [&](int channel, int type) { return Buffer(dst[channel], type); };
    MathLibrary& lib = library();
    lib.ResampleWithInterpolation(b(0, kMono16), Buffer(src, kMono16), 8, 0, 0x10000, 0);
    lib.ResampleWithInterpolation(b(0, kMonoFloat), Buffer(src, kMono16), 8, 0, 0x10000, 0);
    lib.ResampleWithInterpolation(b(0, kMonoFloat), b(1, kMonoFloat), Buffer(src, kStereo16), 8, 0, 0x10000,
                                  0);
    lib.ResampleWithInterpolation(b(0, kMonoFloat), b(1, kMono16), Buffer(src, kStereoFloat), 8, 0, 0x10000,
                                  0);
    lib.ResampleWithInterpolation(b(0, kMonoFloat), b(1, kMonoFloat), b(2, kMonoFloat), b(3, kStereoFloat),
                                  Buffer(src, kQuadFloat), 8, 0, 0x10000, 0);
    lib.ResampleWithInterpolation(b(0, kMonoFloat), Buffer(src, kMonoFloat), 0, 0, 0x10000, 0);
    lib.ResampleWithCopy(b(0, kMono16), Buffer(src, kMono8), 8, 0, 0x10000, 0);
    lib.ResampleWithCopy(b(0, kStereo16), Buffer(src, kStereo16), 8, 0, 0x10000, 0);
    lib.ResampleWithCopy(b(0, kMonoFloat), b(1, kMonoFloat), Buffer(src, kStereo16), 8, 0, 0x10000, 0);
    lib.ResampleWithCopy(b(0, kMono16), b(1, kMono16), Buffer(src, kMono16), 8, 0, 0x10000, 0);
    lib.ResampleWithCopy(b(0, kMono8), b(1, kMono8), b(2, kMono16), b(3, kMono8), Buffer(src, kQuad8), 8, 0,
                         0x10000, 0);
    lib.ResampleWithCopy(b(0, kMono8), Buffer(src, kMono8), -3, 0, 0x10000, 0);
    for (auto& block : dst)
        for (unsigned char byte : block) ASSERT_EQ(byte, 0x5A);
}
