// The mono-to-3D engine's output, bit for bit, through its 16-bit, 8-bit and
// float entry points at every rate row, in Music and Voice, in calls of
// several sizes: one digest per rate and mode, recorded from the engine.
//
// The signal holds music, a stretch loud enough to clip, a silence long
// enough for every filter to go quiet, and music again; spread, center and
// the high-pass change mid-stream, the engine is switched off (the bypass
// fades in) and on again.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Digest.h"
#include "M2s.h"

namespace {

const unsigned kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 46050, 48000, 96000};
constexpr int kRateCount = sizeof kRates / sizeof kRates[0];
constexpr int kFrames = 6000;
// Frames at which (at the first call boundary at or after) the settings
// change, the engine is switched off and switched on again.
constexpr int kSettingsAt = 1800, kDisableAt = 4300, kEnableAt = 5200;

const std::vector<int> kCallSizes[] = {{1}, {97}, {1024}, {1500}, {5, 700, 1100, 64}};

using test_support::Fnv1a;
using test_support::kFnv1aStart;

std::vector<short> Signal() {
    std::vector<short> out(kFrames);
    uint32_t state = 4242u;
    double phase[3] = {0, 0, 0};
    for (int i = 0; i < kFrames; ++i) {
        double x = 0;
        for (int p = 0; p < 3; ++p) {
            phase[p] += 2.0 * 3.14159265358979323846 * 170.0 * (2 * p + 1) / 44100.0;
            x += std::sin(phase[p]) / (p + 1.5);
        }
        state = state * 1664525u + 1013904223u;
        x = 0.6 * x + 0.35 * ((state >> 8) / 16777216.0 - 0.5);
        const double amplitude = (i >= 1500 && i < 2200) ? 1.4 : 0.3;
        const long v = std::lround(amplitude * 32767.0 * x);
        out[static_cast<size_t>(i)] = static_cast<short>(std::clamp(v, -32768L, 32767L));
    }
    std::fill(out.begin() + 2200, out.begin() + 3900, 0);
    return out;
}

uint64_t Digest(unsigned rate, unsigned flags) {
    const std::vector<short> in16 = Signal();
    std::vector<unsigned char> in8;
    std::vector<float> inFloat;
    for (short s : in16) in8.push_back(static_cast<unsigned char>((s >> 8) + 128));
    for (short s : in16) inFloat.push_back(s / 32768.0f);
    uint64_t hash = kFnv1aStart;
    for (const std::vector<int>& calls : kCallSizes) {
        for (int entry = 0; entry < 3; ++entry) {
            std::vector<short> out16(2 * kFrames);
            std::vector<unsigned char> out8(2 * kFrames);
            std::vector<float> outFloat(2 * kFrames);
            M2S* h = nullptr;
            EXPECT_EQ(m2sOpen(&h, rate, flags), 0);
            int stage = 0;
            size_t next = 0;
            for (int done = 0; done < kFrames;) {
                if (stage == 0 && done >= kSettingsAt) {
                    m2sSetSpread(h, -6.0f);
                    m2sSetCenter(h, -3.0f);
                    m2sEnableHipass(h, 0);
                    ++stage;
                } else if (stage == 1 && done >= kDisableAt) {
                    m2sEnable(h, 0);
                    ++stage;
                } else if (stage == 2 && done >= kEnableAt) {
                    m2sEnable(h, 1);
                    m2sEnableHipass(h, 1);
                    ++stage;
                }
                const int n = std::min(calls[next++ % calls.size()], kFrames - done);
                const unsigned k = static_cast<unsigned>(n);
                if (entry == 0)
                    m2sProcess16(h, in16.data() + done, reinterpret_cast<short(*)[2]>(out16.data()) + done,
                                 k);
                else if (entry == 1)
                    m2sProcess8(h, in8.data() + done,
                                reinterpret_cast<unsigned char(*)[2]>(out8.data()) + done, k);
                else
                    m2sProcessFloat(h, inFloat.data() + done,
                                    reinterpret_cast<float(*)[2]>(outFloat.data()) + done, k);
                done += n;
            }
            m2sClose(h);
            if (entry == 0) hash = Fnv1a(hash, out16.data(), out16.size() * sizeof(short));
            if (entry == 1) hash = Fnv1a(hash, out8.data(), out8.size());
            if (entry == 2) hash = Fnv1a(hash, outFloat.data(), outFloat.size() * sizeof(float));
        }
    }
    return hash;
}

// One row per rate of kRates: Voice, then Music.
const uint64_t kGolden[kRateCount][2] = {
    {0x7ad4e1ad95fa2e9bull, 0xdbd69c14ef7aff87ull},  // 8000 Hz
    {0xf4e69b8a03680e19ull, 0x46fd12a3413f113cull},  // 11025 Hz
    {0xb1218c9191d0b655ull, 0xf8efb271e146db4eull},  // 12000 Hz
    {0x813862494ea8c3b9ull, 0x5b46125238f8de11ull},  // 16000 Hz
    {0x14abe94b28da8797ull, 0xa0e00ee9b15f7256ull},  // 22050 Hz
    {0xcae1290692f04da7ull, 0x9e8b382ab006b416ull},  // 24000 Hz
    {0x2f69b1826334b34full, 0xa137d027ef72ff8full},  // 32000 Hz
    {0x2b480b0ae0abccb3ull, 0xb4707b8c44052bd3ull},  // 44100 Hz
    {0x93793ccb12879d87ull, 0x561b2c51ef1c1158ull},  // 46050 Hz
    {0x4717e631d989218dull, 0xd432433d3f9555deull},  // 48000 Hz
    {0xfbd5656b7bf280a1ull, 0xdd7c619c0c154820ull},  // 96000 Hz
};

}  // namespace

#if defined(__x86_64__)
// The digests hold where float arithmetic is SSE without fused multiply-add,
// as on every x86-64 build of this project.
TEST(M2SGoldenOutput, everyEntryPointRateRowModeAndCallSizeGivesTheRecordedBits) {
    // KESTA_PRINT_GOLDEN=1 prints the table instead of checking it.
    const bool print = std::getenv("KESTA_PRINT_GOLDEN") != nullptr;
    for (int r = 0; r < kRateCount; ++r) {
        uint64_t hash[2];
        for (int mode = 0; mode < 2; ++mode) {
            hash[mode] = Digest(kRates[r], mode ? M2S_MUSIC : 0u);
            if (!print) {
                EXPECT_EQ(hash[mode], kGolden[r][mode]) << kRates[r] << " Hz, mode " << mode;
            }
        }
        if (print)
            std::printf("    {0x%016llxull, 0x%016llxull},  // %u Hz\n",
                        static_cast<unsigned long long>(hash[0]), static_cast<unsigned long long>(hash[1]),
                        kRates[r]);
    }
}
#endif
