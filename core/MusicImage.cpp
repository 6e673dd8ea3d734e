#include "MusicImage.h"

#include <cmath>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
        for (int lane = 0; lane < 2; ++lane) {
            const double p = 2.0 * kPi * kPolesHz[2 * i + lane];
            c_[i].v[lane] = (p - k) / (p + k);
        }
    }
    // Butterworth high-pass and all-pass sections at one corner (Q = 1/sqrt 2),
    // by the same bilinear transform, so that the high-pass squared plus the
    // low-pass squared is exactly the all-pass.
    const double w0 = 2.0 * kPi * std::fmin(kSubtoneHz, 0.45 * rate) / rate;
    const double cosw = std::cos(w0), alpha = std::sin(w0) / std::sqrt(2.0), norm = 1.0 + alpha;
    const double hp[5] = {0.5 * (1.0 + cosw) / norm, -(1.0 + cosw) / norm, 0.5 * (1.0 + cosw) / norm,
                          -2.0 * cosw / norm, (1.0 - alpha) / norm};
    const double ap[5] = {(1.0 - alpha) / norm, -2.0 * cosw / norm, 1.0, -2.0 * cosw / norm,
                          (1.0 - alpha) / norm};
    const double none[5] = {1.0, 0.0, 0.0, 0.0, 0.0};
    auto set = [](Biquad& f, int lane, const double* c) {
        f.c0.v[lane] = c[0];
        f.c1.v[lane] = c[1];
        f.c2.v[lane] = c[2];
        f.d1.v[lane] = c[3];
        f.d2.v[lane] = c[4];
    };
    set(front_[0], 0, ap);
    set(front_[0], 1, hp);
    set(front_[1], 0, none);
    set(front_[1], 1, hp);
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
    for (int i = 0; i < kSections; ++i) in_[i] = out_[i] = Lanes{};
    for (Biquad& f : front_) f.s1 = f.s2 = Lanes{};
}

#if defined(__SSE2__)

namespace {

inline __m128d Load(const double* v) {
    return _mm_loadu_pd(v);
}

}  // namespace

void MusicImage::process(const float* mono, float* left, float* right, int stride, int n) {
    __m128d c[kSections], in[kSections], out[kSections];
    for (int i = 0; i < kSections; ++i) {
        c[i] = Load(c_[i].v);
        in[i] = Load(in_[i].v);
        out[i] = Load(out_[i].v);
    }
    __m128d s1[2], s2[2];
    for (int f = 0; f < 2; ++f) {
        s1[f] = Load(front_[f].s1.v);
        s2[f] = Load(front_[f].s2.v);
    }
    const __m128d gain = _mm_setr_pd(1.0, kSideGain);
    for (int t = 0; t < n; ++t) {
        __m128d x = _mm_set1_pd(static_cast<double>(mono[t]));
        if (subtone_) {
            for (int f = 0; f < 2; ++f) {
                const Biquad& q = front_[f];
                const __m128d y = _mm_add_pd(_mm_mul_pd(Load(q.c0.v), x), s1[f]);
                s1[f] =
                    _mm_add_pd(_mm_sub_pd(_mm_mul_pd(Load(q.c1.v), x), _mm_mul_pd(Load(q.d1.v), y)), s2[f]);
                s2[f] = _mm_sub_pd(_mm_mul_pd(Load(q.c2.v), x), _mm_mul_pd(Load(q.d2.v), y));
                x = y;
            }
        }
        for (int i = 0; i < kSections; ++i) {
            const __m128d y = _mm_add_pd(_mm_mul_pd(c[i], _mm_sub_pd(x, out[i])), in[i]);
            in[i] = x;
            out[i] = x = y;
        }
        x = _mm_mul_pd(x, gain);
        const __m128d swapped = _mm_shuffle_pd(x, x, 1);
        const double sum = _mm_cvtsd_f64(_mm_add_sd(x, swapped));
        const double difference = _mm_cvtsd_f64(_mm_sub_sd(x, swapped));
        const size_t at = static_cast<size_t>(t) * static_cast<size_t>(stride);
        left[at] = static_cast<float>(sum);
        right[at] = static_cast<float>(difference);
    }
    for (int i = 0; i < kSections; ++i) {
        _mm_storeu_pd(in_[i].v, in[i]);
        _mm_storeu_pd(out_[i].v, out[i]);
    }
    for (int f = 0; f < 2; ++f) {
        _mm_storeu_pd(front_[f].s1.v, s1[f]);
        _mm_storeu_pd(front_[f].s2.v, s2[f]);
    }
}

#else

void MusicImage::process(const float* mono, float* left, float* right, int stride, int n) {
    for (int t = 0; t < n; ++t) {
        double x[2] = {mono[t], mono[t]};
        for (int lane = 0; lane < 2; ++lane) {
            if (subtone_) {
                for (Biquad& q : front_) {
                    const double y = q.c0.v[lane] * x[lane] + q.s1.v[lane];
                    q.s1.v[lane] = q.c1.v[lane] * x[lane] - q.d1.v[lane] * y + q.s2.v[lane];
                    q.s2.v[lane] = q.c2.v[lane] * x[lane] - q.d2.v[lane] * y;
                    x[lane] = y;
                }
            }
            for (int i = 0; i < kSections; ++i) {
                const double y = c_[i].v[lane] * (x[lane] - out_[i].v[lane]) + in_[i].v[lane];
                in_[i].v[lane] = x[lane];
                out_[i].v[lane] = x[lane] = y;
            }
        }
        const double side = kSideGain * x[1];
        const size_t at = static_cast<size_t>(t) * static_cast<size_t>(stride);
        left[at] = static_cast<float>(x[0] + side);
        right[at] = static_cast<float>(x[0] - side);
    }
}

#endif

}  // namespace kesta
