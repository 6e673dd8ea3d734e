// Loudness matching on its own: the gain it settles at is the ratio of
// BS.1770 loudness (K-weighted, from the published 48 kHz coefficients),
// it moves no faster than it may, holds through silence and quiet passages,
// starts from a path's preset and glides on a change, and leaves the
// output's bits alone when off.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <vector>

#include "CoreSignal.h"
#include "LoudnessMatch.h"

namespace {

using kesta::LoudnessMatch;

constexpr unsigned kRate = 48000;

// A stretch of a test stream: its input (the same on both channels) and
// the output before the gain, as functions of the frame.
struct Stretch {
    double seconds;
    std::function<float(long long)> in, out;
};

// Runs the stretches through m in calls of block frames, as the processor
// does (metering a hop's frames before its end); answers the gain in dB at
// each call.
std::vector<float> Gains(LoudnessMatch& m, const std::vector<Stretch>& stretches, int block = 480) {
    std::vector<float> gains, in(static_cast<size_t>(block)), out(2 * static_cast<size_t>(block));
    long long t = 0;
    for (const Stretch& s : stretches) {
        const long long end = t + static_cast<long long>(s.seconds * kRate);
        while (t < end) {
            const int n = static_cast<int>(std::min<long long>({block, end - t, m.toHopEnd()}));
            for (int i = 0; i < n; ++i) {
                in[static_cast<size_t>(i)] = s.in(t + i);
                out[2 * static_cast<size_t>(i)] = out[2 * static_cast<size_t>(i) + 1] = s.out(t + i);
            }
            int first;
            const int count = m.wanted(n, &first);
            float* frames = m.slice();
            for (int k = 0; k < count; ++k) {
                const size_t at = static_cast<size_t>(first + k);
                frames[4 * k] = frames[4 * k + 1] = in[at];
                frames[4 * k + 2] = out[2 * at];
                frames[4 * k + 3] = out[2 * at + 1];
            }
            if (count > 0) m.measure(count, true);
            m.apply(out.data(), n);
            if (m.toHopEnd() == 0) m.endHop(0.0);
            gains.push_back(m.gainDb());
            t += n;
        }
    }
    return gains;
}

// BS.1770's K-weighting at 48 kHz, as published, at hz: |H|^2.
double KPower(double hz) {
    const std::complex<double> z = std::polar(1.0, -2.0 * core_test::kPi * hz / kRate);  // z^-1
    const auto stage = [&](double b0, double b1, double b2, double a1, double a2) {
        return (b0 + b1 * z + b2 * z * z) / (1.0 + a1 * z + a2 * z * z);
    };
    const std::complex<double> h =
        stage(1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241, 0.73248077421585) *
        stage(1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621);
    return std::norm(h);
}

float Tone(long long t, double hz, double amplitude) {
    return static_cast<float>(amplitude *
                              std::sin(2.0 * core_test::kPi * hz * static_cast<double>(t) / kRate));
}

// Deterministic white noise in [-0.5, 0.5).
float Noise(long long t) {
    uint32_t x = static_cast<uint32_t>(t) * 2654435761u + 12345u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    return static_cast<float>(x >> 8) / 16777216.0f - 0.5f;
}

LoudnessMatch Prepared(bool on) {
    LoudnessMatch m;
    m.prepare(kRate, 1024);
    m.reset(0, on);
    return m;
}

TEST(LoudnessMatch, settlesAtTheRatioOfKWeightedLoudness) {
    // The output has the treble three times as strong: the K-weighting's
    // shelf makes that count for more than it would unweighted.
    LoudnessMatch m = Prepared(true);
    const auto in = [](long long t) { return Tone(t, 100.0, 0.3) + Tone(t, 3000.0, 0.1); };
    const auto out = [](long long t) { return Tone(t, 100.0, 0.3) + Tone(t, 3000.0, 0.3); };
    const std::vector<float> gains = Gains(m, {{12.0, in, out}});
    const double pIn = 0.09 * KPower(100.0) + 0.01 * KPower(3000.0);
    const double pOut = 0.09 * KPower(100.0) + 0.09 * KPower(3000.0);
    EXPECT_NEAR(gains.back(), 10.0 * std::log10(pIn / pOut), 0.1);
}

TEST(LoudnessMatch, movesSlowlyAndHoldsThroughSilenceAndQuietPassages) {
    LoudnessMatch m = Prepared(true);
    const auto noise = [](long long t) { return 0.5f * Noise(t); };
    const auto doubled = [](long long t) { return Noise(t); };
    const auto silence = [](long long) { return 0.0f; };
    const auto quiet = [](long long t) { return 0.01f * Noise(t); };  // -34 dB
    const std::vector<float> gains =
        Gains(m, {{6.0, noise, doubled}, {4.0, silence, silence}, {4.0, quiet, quiet}, {4.0, noise, noise}});
    const size_t second = kRate / 480;  // calls
    EXPECT_NEAR(gains[6 * second - 1], -6.02, 0.1) << "settled";
    for (size_t i = 6 * second; i < 14 * second; ++i)
        ASSERT_EQ(gains[i], gains[6 * second - 1]) << "held at call " << i;
    EXPECT_GT(gains.back(), -1.0f) << "and follows again once the music is back";
    // Never more than 1 dB within 400 ms.
    const size_t window = 2 * second / 5;
    for (size_t i = 0; i + window < gains.size(); ++i)
        ASSERT_LE(std::fabs(gains[i + window] - gains[i]), 1.0f) << "at call " << i;
}

TEST(LoudnessMatch, startsFromThePresetAndGlidesToAnotherPathOrToExactlyOne) {
    LoudnessMatch m;
    m.prepare(kRate, 1024);
    m.setPreset(1, -3.0f);
    m.reset(1, true);
    EXPECT_FLOAT_EQ(m.gainDb(), -3.0f);
    m.retarget(0, true);  // whose preset is 0 dB
    std::vector<float> out(2 * 1024, 0.5f);
    m.apply(out.data(), 512);
    const double halfWay = 20.0 * std::log10(0.5 * (std::pow(10.0, -3.0 / 20.0) + 1.0));
    EXPECT_NEAR(m.gainDb(), halfWay, 0.01) << "half way through the glide, a straight line in gain";
    m.apply(out.data(), 512);
    EXPECT_FLOAT_EQ(m.gainDb(), 0.0f);

    // Off: the gain glides to exactly 1, and the samples are then untouched.
    m.retarget(1, true);
    m.apply(out.data(), 1024);
    m.retarget(1, false);
    m.apply(out.data(), 1024);
    std::vector<float> x(2 * 4096);
    for (size_t i = 0; i < x.size(); ++i) x[i] = Noise(static_cast<long long>(i));
    const std::vector<float> before = x;
    m.apply(x.data(), 4096);
    EXPECT_EQ(x, before);
}

}  // namespace
