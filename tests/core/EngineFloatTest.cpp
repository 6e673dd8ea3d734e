// The engines' entry points the float core stands on: the mono-to-3D
// engine's float processing and both engines' latency queries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "M2s.h"
#include "MathLib.h"
#include "Vastor.h"

namespace {

struct Case {
    unsigned rate;
    unsigned flags;
};

class M2SFloat : public ::testing::TestWithParam<Case> {};

// 16-bit material reaching both ends of the range, as floats x / 32768 too.
std::vector<short> Loud(int n) {
    std::vector<short> x(static_cast<size_t>(n));
    uint32_t state = 7;
    for (int i = 0; i < n; ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
        const double v = 52000.0 * std::sin(0.021 * i) + 9000.0 * noise;
        x[static_cast<size_t>(i)] = static_cast<short>(std::max(-32768.0, std::min(32767.0, v)));
    }
    return x;
}

TEST_P(M2SFloat, storedAs16BitItIsExactlyTheSixteenBitOutput) {
    const Case c = GetParam();
    const int n = 6000;
    const std::vector<short> in16 = Loud(n);
    std::vector<float> inF(in16.size());
    for (size_t i = 0; i < in16.size(); ++i) inF[i] = in16[i] / 32768.0f;

    M2S* a = nullptr;
    M2S* b = nullptr;
    ASSERT_EQ(m2sOpen(&a, c.rate, c.flags), 0);
    ASSERT_EQ(m2sOpen(&b, c.rate, c.flags), 0);
    std::vector<short> out16(2 * n);
    std::vector<float> outF(2 * n);
    // The same calls, with settings changed between them, so that glides and
    // fades are compared too.
    const int cut[] = {0, 700, 1500, 1501, 3333, n};
    for (int k = 0; k + 1 < 6; ++k) {
        for (M2S* e : {a, b}) {
            if (k == 2) m2sEnable(e, 0);
            if (k == 3) m2sSetSpread(e, -9.0f);
            if (k == 4) m2sEnable(e, 1);
        }
        const int from = cut[k], count = cut[k + 1] - cut[k];
        m2sProcess16(a, in16.data() + from, reinterpret_cast<short(*)[2]>(out16.data() + 2 * from),
                     static_cast<unsigned>(count));
        m2sProcessFloat(b, inF.data() + from, reinterpret_cast<float(*)[2]>(outF.data() + 2 * from),
                        static_cast<unsigned>(count));
    }
    m2sClose(a);
    m2sClose(b);

    std::vector<short> stored(2 * n);
    Samples clips = 0;
    GetFloatLibrary()->Save(Buffer(stored.data(), kMono16), Buffer(outF.data(), kMonoFloat), 2 * n, &clips);
    float largest = 0.0f;
    for (size_t i = 0; i < stored.size(); ++i) {
        ASSERT_EQ(stored[i], out16[i]) << "sample " << i;
        largest = std::max(largest, std::fabs(outF[i]));
    }
    EXPECT_GT(clips, 0) << "the material should drive the 16-bit path into saturation";
    EXPECT_GT(largest, 1.0f) << "float output is not clipped";
}

INSTANTIATE_TEST_SUITE_P(RatesAndModes, M2SFloat,
                         ::testing::Values(Case{44100, M2S_MUSIC}, Case{44100, 0}, Case{48000, M2S_MUSIC},
                                           Case{22050, 0}, Case{8000, M2S_MUSIC}));

// Index of the largest |left + right| of interleaved stereo.
size_t PeakOfSum(const std::vector<float>& stereo) {
    size_t at = 0;
    for (size_t i = 0; i < stereo.size() / 2; ++i)
        if (std::fabs(stereo[2 * i] + stereo[2 * i + 1]) > std::fabs(stereo[2 * at] + stereo[2 * at + 1]))
            at = i;
    return at;
}

TEST(EngineLatency, theMonoTo3DPathPeaksAtTheReportedDelay) {
    // The sum of the two sides is the direct path: the unfiltered bus (and,
    // in Music, the FIR's centre) arrives at the reported frame.
    for (unsigned flags : {M2S_MUSIC, 0u}) {
        for (unsigned rate : {8000u, 32000u, 44100u, 48000u}) {
            M2S* e = nullptr;
            ASSERT_EQ(m2sOpen(&e, rate, flags), 0);
            std::vector<float> in(256, 0.0f), out(512);
            in[0] = 0.5f;
            m2sProcessFloat(e, in.data(), reinterpret_cast<float(*)[2]>(out.data()), 256);
            EXPECT_EQ(static_cast<int>(PeakOfSum(out)), m2sGetLatency(e))
                << "flags " << flags << " rate " << rate;
            if (flags == 0) {
                EXPECT_EQ(m2sGetLatency(e), (rate > 32000 ? 4 : 1) + static_cast<int>(rate * 0.0005 + 0.5));
            } else {
                EXPECT_EQ(m2sGetLatency(e), 22);
            }
            m2sClose(e);
        }
    }
}

TEST(EngineLatency, theWidenersDirectPathArrivesAtTheReportedDelayAndFollowsItsSettings) {
    for (unsigned flags : {VASTOR_HIPASS_ON, VASTOR_SINGLE_NETWORK | VASTOR_HIPASS_ON}) {
        for (unsigned rate : {11025u, 44100u, 48000u}) {
            Vastor* e = nullptr;
            ASSERT_EQ(vastorOpen(&e, rate, flags), 0);
            vastorEnable(e, 0);  // the direct path alone
            std::vector<float> left(128, 0.0f), right(128, 0.0f), outL(128), outR(128);
            left[0] = 0.5f;
            right[0] = -0.25f;
            vastorMonoFloat(e, left.data(), right.data(), outL.data(), outR.data(), 128);
            const int d = vastorGetLatency(e);
            for (int i = 0; i < 128; ++i) {
                EXPECT_EQ(outL[i], i == d ? 0.5f : 0.0f) << "frame " << i;
                EXPECT_EQ(outR[i], i == d ? -0.25f : 0.0f) << "frame " << i;
            }
            vastorSetDirectDelay(e, 7);
            EXPECT_EQ(vastorGetLatency(e), 7);
            vastorSetInputDelay(e, 5, 3);
            EXPECT_EQ(vastorGetLatency(e), 10) << "the earlier side counts";
            vastorClose(e);
        }
    }
}

}  // namespace
