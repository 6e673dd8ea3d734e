// The mono-to-3D engine at every sample rate: without M2S_ALL_RATES the
// output is pinned bit for bit by fingerprints (what the player plug-in hears).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "M2s.h"

namespace {

const unsigned kGoldenRates[] = {8000, 11025, 22050, 32000, 44100, 46050, 48000, 88200, 96000, 176400, 192000};
constexpr int kGoldenRateCount = sizeof kGoldenRates / sizeof kGoldenRates[0];
constexpr int kGoldenFrames = 3000;

uint64_t Fnv1a(uint64_t hash, const void* data, size_t bytes) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < bytes; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

// Partials with vibrato plus noise, below amplitude * 32768. Deterministic.
std::vector<short> Music(int n, double amplitude = 0.3) {
    std::vector<short> out(static_cast<size_t>(n));
    uint32_t state = 777u;
    double phase[3] = {0, 0, 0};
    for (int i = 0; i < n; ++i) {
        double x = 0;
        for (int p = 0; p < 3; ++p) {
            phase[p] += 2.0 * 3.14159265358979323846 * 150.0 * (2 * p + 1) * (1.0 + 0.02 * std::sin(i * 0.001)) /
                        44100.0;
            x += std::sin(phase[p]) / (p + 1.5);
        }
        state = state * 1664525u + 1013904223u;
        x = 0.6 * x + 0.35 * ((state >> 8) / 16777216.0 - 0.5);
        out[static_cast<size_t>(i)] = static_cast<short>(std::lround(amplitude * 32767.0 * x));
    }
    return out;
}

// Runs the signal through a 16-bit and an 8-bit engine in calls of 700
// frames, changing spread, center and the high-pass at frame 1400 and
// disabling at 2100; answers one fingerprint of both outputs.
uint64_t Fingerprint(unsigned rate, unsigned flags) {
    const std::vector<short> in = Music(kGoldenFrames);
    std::vector<unsigned char> in8(in.size());
    for (size_t i = 0; i < in.size(); ++i) in8[i] = static_cast<unsigned char>((in[i] >> 8) + 128);
    std::vector<short> out16(2 * in.size());
    std::vector<unsigned char> out8(2 * in.size());
    M2S* h16 = nullptr;
    M2S* h8 = nullptr;
    EXPECT_EQ(m2sOpen(&h16, rate, flags), 0);
    EXPECT_EQ(m2sOpen(&h8, rate, flags), 0);
    for (int done = 0; done < kGoldenFrames; done += 700) {
        for (M2S* h : {h16, h8}) {
            if (done == 1400) {
                m2sSetSpread(h, -6.0f);
                m2sSetCenter(h, -3.0f);
                m2sEnableHipass(h, 0);
            } else if (done == 2100) {
                m2sEnable(h, 0);
            }
        }
        const unsigned n = static_cast<unsigned>(std::min(700, kGoldenFrames - done));
        m2sProcess16(h16, in.data() + done, reinterpret_cast<short(*)[2]>(out16.data()) + done, n);
        m2sProcess8(h8, in8.data() + done, reinterpret_cast<unsigned char(*)[2]>(out8.data()) + done, n);
    }
    m2sClose(h16);
    m2sClose(h8);
    uint64_t hash = 14695981039346656037ull;
    hash = Fnv1a(hash, out16.data(), out16.size() * sizeof(short));
    return Fnv1a(hash, out8.data(), out8.size());
}

// Recorded from the engine as the player plug-in uses it; one row per rate of
// kGoldenRates: Voice, then Music.
const uint64_t kGolden[kGoldenRateCount][2] = {
    {0xc85f5d86858306bdull, 0x8c77599f2c7c69b7ull},  // 8000 Hz
    {0xd4398959cc31baafull, 0x3d584a3e5f3719eaull},  // 11025 Hz
    {0x554781241c1ac813ull, 0xf730b3b36b5ed2aeull},  // 22050 Hz
    {0xab863c160e3b7c23ull, 0x54f6f3cb9154c0fdull},  // 32000 Hz
    {0x3b21aef11ddf8b19ull, 0xdea90374a56c470aull},  // 44100 Hz
    {0x7b60de454e9bde83ull, 0xf1eef3a863bd678bull},  // 46050 Hz
    {0x0b0fc72ab515dbe9ull, 0x8cc217b941a95747ull},  // 48000 Hz
    {0x7cfd900e89e1adf1ull, 0xd382937df945112bull},  // 88200 Hz
    {0x12cafb4eb611c4e3ull, 0x245ba037a0054958ull},  // 96000 Hz
    {0xe52504e90226fef5ull, 0xcb568e730fc1fdaeull},  // 176400 Hz
    {0x1351520d3ea7917bull, 0x8b75a83cf0b63389ull},  // 192000 Hz
};

}  // namespace

#if defined(__x86_64__)
// The fingerprints hold where float arithmetic is plain SSE (no fused multiply-add).
TEST(M2SRates, withoutTheAllRatesFlagEveryRateAndModeGivesTheRecordedOutput) {
    // KESTA_PRINT_GOLDEN=1 prints the table instead of checking it.
    const bool print = std::getenv("KESTA_PRINT_GOLDEN") != nullptr;
    for (int r = 0; r < kGoldenRateCount; ++r) {
        uint64_t hash[2];
        for (int mode = 0; mode < 2; ++mode) {
            hash[mode] = Fingerprint(kGoldenRates[r], mode ? M2S_MUSIC : 0u);
            if (!print) {
                EXPECT_EQ(hash[mode], kGolden[r][mode]) << kGoldenRates[r] << " Hz, mode " << mode;
            }
        }
        if (print)
            std::printf("    {0x%016llxull, 0x%016llxull},  // %u Hz\n", static_cast<unsigned long long>(hash[0]),
                        static_cast<unsigned long long>(hash[1]), kGoldenRates[r]);
    }
}
#endif
