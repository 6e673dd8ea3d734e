#include "Synth.h"

#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;

// Two-pole resonator y = x + 2 r cos(w) y1 - r^2 y2, normalised near its peak.
struct Resonator {
    Resonator(double hz, double bandwidth, int rate) {
        const double r = std::exp(-kPi * bandwidth / rate);
        a1 = 2 * r * std::cos(2 * kPi * hz / rate);
        a2 = -r * r;
        gain = 1 - r;
    }
    double operator()(double x) {
        const double y = gain * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
    double a1, a2, gain, y1 = 0, y2 = 0;
};

short toSample(double x) {
    const double v = std::round(x * 32767.0);
    return static_cast<short>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

}  // namespace

std::vector<short> voiceLike(int rate, double seconds) {
    const size_t n = static_cast<size_t>(rate * seconds);
    std::vector<short> out(n);
    Resonator f1(700, 90, rate), f2(1220, 110, rate), f3(2600, 160, rate);
    double phase = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double pitch = 120 + 40 * std::sin(2 * kPi * 0.7 * t);
        phase += pitch / rate;
        const double pulse = phase >= 1 ? (phase -= 1, 1.0) : 0.0;
        const double syllable = std::pow(std::sin(kPi * std::fmod(t * 3.0, 1.0)), 2);
        const double voiced = f1(pulse) * 1.0 + f2(pulse) * 0.6 + f3(pulse) * 0.3;
        out[i] = toSample(3.0 * voiced * syllable);
    }
    return out;
}

std::vector<short> musicLike(int rate, double seconds) {
    const size_t n = static_cast<size_t>(rate * seconds);
    std::vector<short> out(2 * n);
    const double chords[2][3] = {{261.63, 329.63, 392.0}, {220.0, 277.18, 329.63}};
    unsigned noise = 0x1234567u;
    Resonator hat(8000, 3000, rate);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const int bar = static_cast<int>(t / 1.0) % 2;
        const double bass = 0.15 * std::sin(2 * kPi * (bar ? 110.0 : 130.81) * t);
        double left = bass, right = bass;
        for (int k = 0; k < 3; ++k) {
            const double w = 2 * kPi * chords[bar][k] * t;
            const double tone = 0.1 * (std::sin(w) + 0.4 * std::sin(2 * w) + 0.2 * std::sin(3 * w));
            left += tone * (k == 0 ? 0.9 : 0.3);
            right += tone * (k == 2 ? 0.9 : 0.3);
        }
        noise = noise * 1664525u + 1013904223u;
        const double white = static_cast<double>(noise >> 8) / (1 << 23) - 1.0;
        const double beat = std::fmod(t * 4.0, 1.0);
        right += 0.5 * hat(white) * std::exp(-beat * 30.0);
        out[2 * i] = toSample(left);
        out[2 * i + 1] = toSample(right);
    }
    return out;
}
