#include "MusicImage.h"

#include <cmath>
#include <cstddef>
#include <initializer_list>

namespace kesta {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The analog poles in Hz of the two chains, alternating (A, B, A, ...): a
// least-squares fit (in the end close to minimax) of B's lead over A to 90
// degrees (within 0.2) from 30 Hz to 110 kHz (and within 4.2 from 20 Hz).
// Poles lower down would hold the lead further into the infrasound, but
// ring for longer after a click. The bilinear transform keeps the phase of
// each section, at the warped frequency, so the lead holds up to about 0.45
// of the rate (20 kHz at 44.1 kHz).
constexpr double kPolesHz[2 * MusicImage::kSections] = {10.5604, 36.8245, 80.9929, 164.473, 327.736,
                                                        649.978, 1287.58, 2550.24, 5053.03, 10025.7,
                                                        19989.7, 40623.2, 89410.4, 311917};

}  // namespace

void MusicImage::prepare(unsigned rate, bool subtone) {
    subtone_ = subtone;
    const double k = 2.0 * rate;
    for (int i = 0; i < kSections; ++i) {
        // (p - s) / (p + s), s = k (1 - z^-1) / (1 + z^-1).
        const double pa = 2.0 * kPi * kPolesHz[2 * i], pb = 2.0 * kPi * kPolesHz[2 * i + 1];
        a_[i] = (pa - k) / (pa + k);
        b_[i] = (pb - k) / (pb + k);
    }
    // Butterworth high-pass and all-pass sections at one corner (Q = 1/sqrt 2),
    // by the same bilinear transform, so that the high-pass squared plus the
    // low-pass squared is exactly the all-pass.
    const double w0 = 2.0 * kPi * std::fmin(kSubtoneHz, 0.45 * rate) / rate;
    const double cosw = std::cos(w0), alpha = std::sin(w0) / std::sqrt(2.0), norm = 1.0 + alpha;
    Biquad hp;
    hp.c0 = hp.c2 = 0.5 * (1.0 + cosw) / norm;
    hp.c1 = -(1.0 + cosw) / norm;
    hp.d1 = -2.0 * cosw / norm;
    hp.d2 = (1.0 - alpha) / norm;
    highpass_[0] = highpass_[1] = hp;
    allpass_.c0 = allpass_.d2 = (1.0 - alpha) / norm;
    allpass_.c1 = allpass_.d1 = -2.0 * cosw / norm;
    allpass_.c2 = 1.0;
    reset();
    // The peak of the middle's impulse response (left + right).
    MusicImage probe = *this;
    float best = 0.0f;
    delay_ = 0;
    for (int t = 0; t < 64; ++t) {
        const float x = t == 0 ? 1.0f : 0.0f;
        float out[2];
        probe.process(&x, out, out + 1, 1, 1);
        if (std::fabs(out[0] + out[1]) > best) {
            best = std::fabs(out[0] + out[1]);
            delay_ = t;
        }
    }
}

void MusicImage::reset() {
    for (int i = 0; i < kSections; ++i) aIn_[i] = aOut_[i] = bIn_[i] = bOut_[i] = 0.0;
    for (Biquad* f : {&highpass_[0], &highpass_[1], &allpass_}) f->x1 = f->x2 = f->y1 = f->y2 = 0.0;
}

void MusicImage::process(const float* mono, float* left, float* right, int stride, int n) {
    for (int t = 0; t < n; ++t) {
        double m = mono[t], s = m;
        if (subtone_) {
            m = allpass_.run(m);
            s = highpass_[1].run(highpass_[0].run(s));
        }
        for (int i = 0; i < kSections; ++i) {
            const double y = a_[i] * (m - aOut_[i]) + aIn_[i];
            aIn_[i] = m;
            aOut_[i] = m = y;
            const double z = b_[i] * (s - bOut_[i]) + bIn_[i];
            bIn_[i] = s;
            bOut_[i] = s = z;
        }
        s *= kSideGain;
        const size_t at = static_cast<size_t>(t) * static_cast<size_t>(stride);
        left[at] = static_cast<float>(m + s);
        right[at] = static_cast<float>(m - s);
    }
}

}  // namespace kesta
