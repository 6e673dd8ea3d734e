// The mono-to-3D engine at every sample rate: without M2S_ALL_RATES the
// output is pinned bit for bit by fingerprints (what the player plug-in hears);
// with it, the high rates' FIR tables and the whole engine respond as they do
// at 48000 Hz, and speech comes out as decorrelated.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "Digest.h"
#include "Filter.h"
#include "M2s.h"
#include "M2sfir.h"
#include "MathLib.h"
#include "Mixbuf.h"
#include "ResponseDeviation.h"

namespace {

const unsigned kGoldenRates[] = {8000,  11025, 22050, 32000,  44100, 46050,
                                 48000, 88200, 96000, 176400, 192000};
constexpr int kGoldenRateCount = sizeof kGoldenRates / sizeof kGoldenRates[0];
constexpr int kGoldenFrames = 3000;

using test_support::Fnv1a;
using test_support::kFnv1aStart;

// Partials with vibrato plus noise, below amplitude * 32768. Deterministic.
std::vector<short> Music(int n, double amplitude = 0.3) {
    std::vector<short> out(static_cast<size_t>(n));
    uint32_t state = 777u;
    double phase[3] = {0, 0, 0};
    for (int i = 0; i < n; ++i) {
        double x = 0;
        for (int p = 0; p < 3; ++p) {
            phase[p] += 2.0 * 3.14159265358979323846 * 150.0 * (2 * p + 1) *
                        (1.0 + 0.02 * std::sin(i * 0.001)) / 44100.0;
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
    uint64_t hash = kFnv1aStart;
    hash = Fnv1a(hash, out16.data(), out16.size() * sizeof(short));
    return Fnv1a(hash, out8.data(), out8.size());
}

// Recorded from the engine as the player plug-in uses it; one row per rate of
// kGoldenRates: Voice, then Music.
// clang-format off
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
// clang-format on

constexpr double kPi = 3.14159265358979323846;
const unsigned kHighRates[] = {88200, 96000, 176400, 192000};
using Complex = std::complex<double>;
using Response = std::function<Complex(double f)>;

// 10 Hz .. 24 kHz: log-spaced below 1 kHz, then every step Hz.
std::vector<double> Grid(double step) {
    std::vector<double> grid;
    for (double f = 10.0; f < 1000.0; f *= 1.05) grid.push_back(f);
    for (double f = 1000.0; f < 24000.0; f += step) grid.push_back(f);
    return grid;
}

using test_support::Compare;
using test_support::Deviation;

// A FIR table's response at rate, relative to its centre tap's delay.
Response FirResponse(const FIRCoeffs& table, double rate) {
    return [table, rate](double f) {
        const long centre = (table.numTaps - 1) / 2;
        Complex h = 0.0;
        for (long n = 0; n < table.numTaps; ++n)
            h += static_cast<double>(table.coeffs[n]) * std::polar(1.0, -2.0 * kPi * f * (n - centre) / rate);
        return h;
    };
}

// An open engine, closed at the end of the scope.
class Engine {
  public:
    Engine(unsigned rate, unsigned flags) : rate_(rate) { EXPECT_EQ(m2sOpen(&handle_, rate, flags), 0); }
    ~Engine() { m2sClose(handle_); }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    std::vector<float> Run(const std::vector<float>& in) {
        std::vector<float> out(2 * in.size());
        m2sProcessFloat(handle_, in.data(), reinterpret_cast<float(*)[2]>(out.data()),
                        static_cast<unsigned>(in.size()));
        return out;
    }

    // The steady-state response of output channel side to a sine of f Hz,
    // relative to the engine's latency. Resets the engine first.
    Complex SineResponse(double f, int side) {
        m2sReset(handle_);
        const int settle = static_cast<int>(0.06 * rate_);
        const int cycles = std::max(8, static_cast<int>(0.04 * f));
        const int measure = static_cast<int>(std::lround(cycles * rate_ / f));
        const double w = 2.0 * kPi * f / rate_;
        std::vector<float> in(static_cast<size_t>(settle + measure));
        for (size_t n = 0; n < in.size(); ++n)
            in[n] = static_cast<float>(0.5 * std::sin(w * static_cast<double>(n)));
        const std::vector<float> out = Run(in);
        Complex sum = 0.0;
        for (int n = settle; n < settle + measure; ++n)
            sum += static_cast<double>(out[2 * n + side]) * std::polar(1.0, -w * n);
        // y = Im(H e^(jwn)) / 2: H = 4j / count * sum.
        return Complex(0.0, 4.0) / static_cast<double>(measure) * sum *
               std::polar(1.0, w * m2sGetLatency(handle_));
    }

  private:
    M2S* handle_ = nullptr;
    double rate_;
};

// Speech-like material defined in continuous time, so that every rate gets
// the same sound: a voiced part (harmonics of a gliding 95..150 Hz pitch
// shaped by three formants moving between vowels) under a syllable envelope,
// and an unvoiced part (fixed partials of 3..7 kHz) between syllables.
std::vector<float> Speech(double rate, double seconds = 1.5) {
    const int n = static_cast<int>(seconds * rate);
    std::vector<float> x(static_cast<size_t>(n));
    double phase = 0;
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        const double f0 = 120.0 + 25.0 * std::sin(2.0 * kPi * 0.7 * t) + 8.0 * std::sin(2.0 * kPi * 5.0 * t);
        phase += 2.0 * kPi * f0 / rate;
        const double vowel = 0.5 + 0.5 * std::sin(2.0 * kPi * 1.3 * t);
        const double formants[3] = {400.0 + 400.0 * vowel, 2200.0 - 1000.0 * vowel, 2700.0};
        const double syllable = std::sin(kPi * std::fmod(t * 4.0, 1.0));
        double voiced = 0;
        for (int k = 1; k * f0 < 8000.0; ++k) {
            double a = 0;
            for (double formant : formants) a += 1.0 / (1.0 + std::pow((k * f0 - formant) / 120.0, 2.0));
            voiced += a / k * std::sin(k * phase);
        }
        double unvoiced = 0;
        for (int k = 0; k < 24; ++k) {
            const double fk = 3000.0 + 4000.0 * ((k * 0.618034) - std::floor(k * 0.618034));
            unvoiced += std::sin(2.0 * kPi * fk * t + 1.7 * k);
        }
        x[static_cast<size_t>(i)] = static_cast<float>(0.08 * voiced * syllable * syllable +
                                                       0.01 * unvoiced * (1.0 - syllable) * (1.0 - syllable));
    }
    return x;
}

// The correlation of the output's left and right channels.
double Correlation(const std::vector<float>& out) {
    double sl = 0, sr = 0, sll = 0, srr = 0, slr = 0;
    const double n = static_cast<double>(out.size() / 2);
    for (size_t i = 0; i + 1 < out.size(); i += 2) {
        const double l = out[i], r = out[i + 1];
        sl += l;
        sr += r;
        sll += l * l;
        srr += r * r;
        slr += l * r;
    }
    const double ml = sl / n, mr = sr / n;
    return (slr / n - ml * mr) / std::sqrt((sll / n - ml * ml) * (srr / n - mr * mr));
}

const char* Figures() {
    return std::getenv("KESTA_PRINT_FIGURES");
}

}  // namespace

TEST(M2SRates, everyHighRateTableTurnsTheBandAsThe48000HzTableDoes) {
    const std::vector<double> grid = Grid(25.0);
    const struct {
        const M2SFIRRate* table;
        const M2SFIRRate* high;
        const char* name;
    } sets[] = {{m2sShortFIRTable, m2sShortFIRHighTable, "short"},
                {m2sLongFIRTable, m2sLongFIRHighTable, "long"}};
    for (const auto& set : sets) {
        const Response reference = FirResponse(set.table[kM2SFIRRates - 1].coeffs, 48000.0);
        for (int i = 0; i < kM2SFIRHighRates; ++i) {
            const M2SFIRRate& entry = set.high[i];
            EXPECT_EQ(entry.sampleRate, static_cast<long>(kHighRates[i]));
            ASSERT_EQ(entry.coeffs.numTaps % 2, 1);
            // As long in seconds as the 48000 Hz table, so it reaches as low.
            EXPECT_GE((entry.coeffs.numTaps - 1) * 48000,
                      (set.table[kM2SFIRRates - 1].coeffs.numTaps - 1) * entry.sampleRate);
            const Deviation d =
                Compare(reference, FirResponse(entry.coeffs, static_cast<double>(entry.sampleRate)), grid);
            EXPECT_LE(d.db, 0.5) << set.name << " " << entry.sampleRate;
            EXPECT_LE(d.rad, 0.1) << set.name << " " << entry.sampleRate;
            if (Figures())
                std::printf("%s FIR at %ld Hz, %ld taps: %.3f dB, %.4f rad\n", set.name, entry.sampleRate,
                            entry.coeffs.numTaps, d.db, d.rad);
        }
    }
}

TEST(M2SRates, theFactoriesTakeTheHighRatesTablesOnlyWhenAskedAndReportTheirCentreTap) {
    MathLibrary& lib = *GetFloatLibrary();
    const struct {
        long rate;
        long withFlag;  // the table's rate chosen with allRates; 48000 above without it
    } cases[] = {{44100, 44100}, {48000, 48000},  {68100, 48000},   {68101, 88200},   {92100, 88200},
                 {92101, 96000}, {136200, 96000}, {150000, 176400}, {192000, 192000}, {768000, 192000}};
    for (const auto& c : cases) {
        EXPECT_EQ(NearestM2SFIRRate(m2sShortFIRTable, m2sShortFIRHighTable, c.rate).sampleRate, c.withFlag)
            << c.rate;
        EXPECT_EQ(NearestM2SFIRRate(m2sShortFIRTable, c.rate).sampleRate, std::min(c.rate, 48000L)) << c.rate;
    }
    // The factories build the chosen table and report its centre tap as the delay.
    for (int i = 0; i < kM2SFIRHighRates; ++i) {
        const long rate = kHighRates[i];
        for (bool allRates : {false, true}) {
            for (const M2SFIRRate* set : {m2sShortFIRHighTable, m2sLongFIRHighTable}) {
                const bool isShort = set == m2sShortFIRHighTable;
                const FIRCoeffs& chosen =
                    allRates ? set[i].coeffs
                             : (isShort ? m2sShortFIRTable : m2sLongFIRTable)[kM2SFIRRates - 1].coeffs;
                long delay = -1;
                InPlaceFilter* filter = isShort ? CreateShortM2SFilter(lib, rate, &delay, allRates)
                                                : CreateLongM2SFilter(lib, rate, &delay, allRates);
                ASSERT_NE(filter, nullptr);
                EXPECT_EQ(delay, (chosen.numTaps - 1) / 2) << rate;
                MixBuffer buffer;
                lib.CreateBuffer(buffer, static_cast<Samples>(chosen.numTaps));
                std::fill(buffer.floats(), buffer.floats() + chosen.numTaps, 0.0f);
                buffer.floats()[0] = 1.0f;
                buffer.used_ = static_cast<Samples>(chosen.numTaps);
                filter->Process(buffer);
                EXPECT_TRUE(std::equal(chosen.coeffs, chosen.coeffs + chosen.numTaps, buffer.floats()))
                    << rate;
                buffer.free();
                delete filter;
            }
        }
    }
}

// Music against 48000 Hz; Voice, whose direct delay is whole frames, against
// the rate it doubles or quadruples.
TEST(M2SRates, withTheFlagTheEngineRespondsAsAt44100Or48000HzInBothModes) {
    const std::vector<double> grid = {30,   60,   100,  150,   250,   400,   600,   900,   1300,  2000, 3000,
                                      4500, 6000, 8000, 10000, 12500, 15000, 17500, 20000, 22000, 23500};
    for (unsigned mode : {M2S_MUSIC, 0u}) {
        for (int side = 0; side < (mode ? 2 : 1); ++side) {
            for (unsigned rate : kHighRates) {
                Engine reference(mode || rate % 44100 ? 48000 : 44100, mode | M2S_ALL_RATES);
                const Response ref = [&](double f) { return reference.SineResponse(f, side); };
                Engine engine(rate, mode | M2S_ALL_RATES);
                const Deviation d = Compare(
                    ref, [&](double f) { return engine.SineResponse(f, side); }, grid);
                EXPECT_LE(d.db, 0.5) << rate << " Hz, mode " << mode << ", side " << side;
                EXPECT_LE(d.rad, 0.1) << rate << " Hz, mode " << mode << ", side " << side;
                if (Figures())
                    std::printf("%s side %d at %u Hz: %.3f dB, %.4f rad\n", mode ? "Music" : "Voice", side,
                                rate, d.db, d.rad);
            }
        }
    }
}

TEST(M2SRates, speechComesOutAsDecorrelatedAt96000And192000HzAsAt48000Hz) {
    const double at48000 = Correlation(Engine(48000, M2S_MUSIC | M2S_ALL_RATES).Run(Speech(48000)));
    for (unsigned rate : {96000u, 192000u}) {
        const std::vector<float> speech = Speech(rate);
        const double with = Correlation(Engine(rate, M2S_MUSIC | M2S_ALL_RATES).Run(speech));
        const double without = Correlation(Engine(rate, M2S_MUSIC).Run(speech));
        // (Without the flag the figure is off by more than 0.05 at both rates.)
        EXPECT_NEAR(with, at48000, 0.05) << rate;
        if (Figures())
            std::printf("speech correlation: %.4f at 48000 Hz; at %u Hz %.4f with the flag, %.4f without\n",
                        at48000, rate, with, without);
    }
}

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
            std::printf("    {0x%016llxull, 0x%016llxull},  // %u Hz\n",
                        static_cast<unsigned long long>(hash[0]), static_cast<unsigned long long>(hash[1]),
                        kGoldenRates[r]);
    }
}

TEST(M2SRates, theAllRatesFlagChangesNothingUpTo48000HzAndBothModesAbove) {
    for (int r = 0; r < kGoldenRateCount; ++r) {
        for (int mode = 0; mode < 2; ++mode) {
            const uint64_t hash = Fingerprint(kGoldenRates[r], (mode ? M2S_MUSIC : 0u) | M2S_ALL_RATES);
            if (kGoldenRates[r] <= 48000)
                EXPECT_EQ(hash, kGolden[r][mode]) << kGoldenRates[r] << " Hz, mode " << mode;
            else
                EXPECT_NE(hash, kGolden[r][mode]) << kGoldenRates[r] << " Hz, mode " << mode;
        }
    }
}
#endif
