#include "LoudnessMatch.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kesta {

namespace {

constexpr double kPi = 3.14159265358979323846;

float FromDb(float decibels) {
    return static_cast<float>(std::pow(10.0, decibels / 20.0));
}

// A number in [0, 2^32) drawn from the hop's number.
uint32_t Scramble(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return static_cast<uint32_t>(x);
}

}  // namespace

void LoudnessMatch::prepare(unsigned rate, int fadeFrames) {
    rate_ = rate;
    fade_ = std::max(fadeFrames, 1);
    hop_ = std::max(static_cast<int>(std::lround(kHopSeconds * rate)), 4);
    slice_ = std::max(static_cast<int>(std::lround(kSliceSeconds * rate)), 1);
    warm_ = std::max(static_cast<int>(std::lround(kWarmSeconds * rate)), 1);
    if (slice_ + warm_ > hop_) slice_ = warm_ = hop_ / 2;
    slewDb_ = static_cast<float>(kSlewDbPerSecond * static_cast<double>(hop_) / static_cast<double>(rate));
    // BS.1770's two stages from their analog prototypes (the published
    // coefficients at 48 kHz), for any rate; a corner at or past Nyquist
    // is held just under it.
    const double nyquist = 0.49 * rate;
    double f0 = std::min(1681.974450955533, nyquist), q = 0.7071752369554196;
    double k = std::tan(kPi * f0 / rate);
    const double vh = std::pow(10.0, 3.999843853973347 / 20.0), vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + k / q + k * k;
    stage_[0] = {
        static_cast<float>((vh + vb * k / q + k * k) / a0), static_cast<float>(2.0 * (k * k - vh) / a0),
        static_cast<float>((vh - vb * k / q + k * k) / a0), static_cast<float>(2.0 * (k * k - 1.0) / a0),
        static_cast<float>((1.0 - k / q + k * k) / a0)};
    f0 = std::min(38.13547087602444, nyquist);
    q = 0.5003270373238773;
    k = std::tan(kPi * f0 / rate);
    a0 = 1.0 + k / q + k * k;
    stage_[1] = {1.0f, -2.0f, 1.0f, static_cast<float>(2.0 * (k * k - 1.0) / a0),
                 static_cast<float>((1.0 - k / q + k * k) / a0)};
    for (int p = 0; p < kMaxPaths; ++p) preset_[p] = 0.0f;
    reset(0, false);
}

void LoudnessMatch::setPreset(int path, float decibels) {
    preset_[path] = std::min(std::max(decibels, kMinDb), kMaxDb);
}

void LoudnessMatch::reset(int path, bool on) {
    for (int p = 0; p < kMaxPaths; ++p) gain_[p] = preset_[p];
    path_ = path;
    on_ = on;
    from_ = to_ = on ? FromDb(gain_[path]) : 1.0f;
    length_ = at_ = 0;
    for (Hop& h : window_) h = Hop{};
    windowAt_ = 0;
    frame_ = 0;
    hopStart_ = 0;
    startHop();
}

void LoudnessMatch::retarget(int path, bool on) {
    if (path == path_ && on == on_) return;
    path_ = path;
    on_ = on;
    for (Hop& h : window_) h = Hop{};
    steady_ = false;
    glideTo(on ? FromDb(gain_[path]) : 1.0f, fade_);
}

void LoudnessMatch::shift(int path, float decibels) {
    gain_[path] = std::min(std::max(gain_[path] + decibels, kMinDb), kMaxDb);
    if (path != path_) return;
    for (Hop& h : window_) h = Hop{};
    steady_ = false;
    if (on_) glideTo(FromDb(gain_[path]), fade_);
}

float LoudnessMatch::now() const {
    if (at_ >= length_) return to_;
    return from_ + (to_ - from_) / static_cast<float>(length_) * static_cast<float>(at_);
}

float LoudnessMatch::gainDb() const {
    return static_cast<float>(20.0 * std::log10(now()));
}

void LoudnessMatch::startHop() {
    const int room = hop_ - slice_ - warm_ + 1;
    windowStart_ =
        hopStart_ + static_cast<long long>(Scramble(static_cast<uint64_t>(hopStart_ / hop_)) % room);
    measured_ = 0;
    steady_ = true;
    in_ = out_ = 0.0;
}

void LoudnessMatch::glideTo(float target, int frames) {
    if (at_ >= length_ && to_ == target) return;
    from_ = now();
    to_ = target;
    length_ = frames;
    at_ = 0;
}

int LoudnessMatch::wanted(long long frame, int n, int* first) const {
    const long long from = std::max(frame, windowStart_);
    const long long to = std::min(frame + n, windowStart_ + warm_ + slice_);
    *first = static_cast<int>(from - frame);
    return static_cast<int>(std::max(to - from, 0LL));
}

void LoudnessMatch::measure(const float* inL, const float* inR, const float* out, int count, bool steady) {
    steady_ &= steady;
    const Stage& a = stage_[0];
    const Stage& b = stage_[1];
    for (int i = 0; i < count; ++i, ++measured_) {
        if (measured_ == 0)
            for (auto& stage : state_)
                for (auto& s : stage)
                    for (float& lane : s) lane = 0.0f;
        const float x[4] = {inL[i], inR[i], out[2 * i], out[2 * i + 1]};
        float y[4];
#if defined(__SSE2__)
        const __m128 xv = _mm_loadu_ps(x);
        __m128 s1 = _mm_loadu_ps(state_[0][0]), s2 = _mm_loadu_ps(state_[0][1]);
        const __m128 u = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(a.c0), xv), s1);
        s1 = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(_mm_set1_ps(a.c1), xv), _mm_mul_ps(_mm_set1_ps(a.d1), u)), s2);
        s2 = _mm_sub_ps(_mm_mul_ps(_mm_set1_ps(a.c2), xv), _mm_mul_ps(_mm_set1_ps(a.d2), u));
        _mm_storeu_ps(state_[0][0], s1);
        _mm_storeu_ps(state_[0][1], s2);
        __m128 t1 = _mm_loadu_ps(state_[1][0]), t2 = _mm_loadu_ps(state_[1][1]);
        const __m128 v = _mm_add_ps(u, t1);  // the high-pass's c0 is 1
        t1 = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(_mm_set1_ps(b.c1), u), _mm_mul_ps(_mm_set1_ps(b.d1), v)), t2);
        t2 = _mm_sub_ps(u, _mm_mul_ps(_mm_set1_ps(b.d2), v));  // and its c2
        _mm_storeu_ps(state_[1][0], t1);
        _mm_storeu_ps(state_[1][1], t2);
        _mm_storeu_ps(y, v);
#else
        for (int lane = 0; lane < 4; ++lane) {
            float u = x[lane];
            for (int st = 0; st < 2; ++st) {
                const Stage& c = stage_[st];
                float* s1 = &state_[st][0][lane];
                float* s2 = &state_[st][1][lane];
                const float v = c.c0 * u + *s1;
                *s1 = c.c1 * u - c.d1 * v + *s2;
                *s2 = c.c2 * u - c.d2 * v;
                u = v;
            }
            y[lane] = u;
        }
#endif
        if (measured_ >= warm_) {
            in_ += static_cast<double>(y[0]) * y[0] + static_cast<double>(y[1]) * y[1];
            out_ += static_cast<double>(y[2]) * y[2] + static_cast<double>(y[3]) * y[3];
        }
    }
}

void LoudnessMatch::endHop() {
    Hop& h = window_[windowAt_];
    windowAt_ = (windowAt_ + 1) % kWindowHops;
    // The absolute gate (-70 LUFS) on the slice; the relative one below.
    const double absolute = slice_ * std::pow(10.0, (-70.0 + 0.691) / 10.0);
    h.in = in_;
    h.out = out_;
    h.counts = on_ && steady_ && measured_ == warm_ + slice_ && in_ > absolute;
    double loud = 0.0;
    int loudHops = 0;
    for (const Hop& w : window_)
        if (w.counts) {
            loud += w.in;
            ++loudHops;
        }
    if (loudHops == 0) return;
    const double relative = 0.1 * loud / loudHops;  // -10 LU
    double in = 0.0, out = 0.0;
    int counted = 0;
    for (const Hop& w : window_)
        if (w.counts && w.in >= relative) {
            in += w.in;
            out += w.out;
            ++counted;
        }
    if (counted < kMinHops || !(out > 0.0)) return;
    const float want = std::min(std::max(static_cast<float>(10.0 * std::log10(in / out)), kMinDb), kMaxDb);
    float& g = gain_[path_];
    g += std::min(std::max(want - g, -slewDb_), slewDb_);
    glideTo(FromDb(g), hop_);
}

void LoudnessMatch::apply(float* out, int n) {
    for (int i = 0; i < n;) {
        const int k = static_cast<int>(std::min<long long>(n - i, hopStart_ + hop_ - frame_));
        float* x = out + 2 * static_cast<long>(i);
        if (at_ >= length_) {
            if (to_ != 1.0f)
                for (int j = 0; j < 2 * k; ++j) x[j] *= to_;
        } else {
            const float step = (to_ - from_) / static_cast<float>(length_);
            for (int j = 0; j < k; ++j) {
                const float g = ++at_ >= length_ ? to_ : from_ + step * static_cast<float>(at_);
                x[2 * j] *= g;
                x[2 * j + 1] *= g;
            }
        }
        i += k;
        frame_ += k;
        if (frame_ == hopStart_ + hop_) {
            endHop();
            hopStart_ += hop_;
            startHop();
        }
    }
}

}  // namespace kesta
