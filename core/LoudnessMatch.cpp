#include "LoudnessMatch.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "SampleOps.h"

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
    frames_.assign(4 * static_cast<size_t>(warm_ + slice_), 0.0f);
    slewDb_ = static_cast<float>(kSlewDbPerSecond * static_cast<double>(hop_) / static_cast<double>(rate));
    programmeShare_ = static_cast<double>(hop_) / (kProgrammeSeconds * rate);
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
    applied_ = on ? gain_[path] : 0.0f;
    from_ = to_ = on ? FromDb(applied_) : 1.0f;
    length_ = at_ = 0;
    for (Hop& h : window_) h = Hop{};
    windowAt_ = 0;
    programme_ = 0.0;
    headroom_ = 0.0f;
    frame_ = 0;
    hopStart_ = 0;
    hopCount_ = 0;
    startHop();
}

void LoudnessMatch::wake() {
    for (Hop& h : window_) h = Hop{};
    windowAt_ = 0;
    programme_ = 0.0;
    hopStart_ = frame_;
    hopCount_ = 0;
    startHop();
}

void LoudnessMatch::retarget(int path, bool on, bool gradual) {
    if (path == path_ && on == on_) return;
    const bool wasOn = on_;
    path_ = path;
    on_ = on;
    for (Hop& h : window_) h = Hop{};
    steady_ = false;
    if (!on) {
        applied_ = 0.0f;
        glideTo(1.0f, fade_);
    } else if (!gradual || !wasOn) {
        applied_ = gain_[path] + headroom_;
        glideTo(FromDb(applied_), fade_);
    }
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
    windowStart_ = hopStart_ + static_cast<long long>(Scramble(static_cast<uint64_t>(hopCount_)) % room);
    measured_ = 0;
    steady_ = true;
    for (double& e : energy_) e = 0.0;
}

void LoudnessMatch::glideTo(float target, int frames) {
    if (at_ >= length_ && to_ == target) return;
    from_ = now();
    to_ = target;
    length_ = frames;
    at_ = 0;
}

int LoudnessMatch::wanted(int n, int* first) const {
    const long long from = std::max(frame_, windowStart_);
    const long long to = std::min(frame_ + n, windowStart_ + warm_ + slice_);
    *first = static_cast<int>(from - frame_);
    return static_cast<int>(std::max(to - from, 0LL));
}

void LoudnessMatch::measure(int count, bool steady) {
    steady_ &= steady;
    measured_ += count;
    if (measured_ == warm_ + slice_) filterSlice();
}

void LoudnessMatch::filterSlice() {
    const Stage& a = stage_[0];
    const Stage& b = stage_[1];
    const float* x = frames_.data();
    // Half one: frames [0, warm_ + half), counted from warm_ on; half two:
    // frames [half, warm_ + slice_), counted from warm_ + half on.
    const int half = slice_ / 2, length = warm_ + half, extra = slice_ - 2 * half;
#if defined(__SSE2__)
    const __m128 a0 = _mm_set1_ps(a.c0), a1 = _mm_set1_ps(a.c1), a2 = _mm_set1_ps(a.c2);
    const __m128 ad1 = _mm_set1_ps(a.d1), ad2 = _mm_set1_ps(a.d2);
    const __m128 b1 = _mm_set1_ps(b.c1), bd1 = _mm_set1_ps(b.d1), bd2 = _mm_set1_ps(b.d2);
    struct Chain {
        __m128 s1, s2, t1, t2;
        __m128d in, out;
    };
    // y = c0 x + s1; s1 = c1 x - d1 y + s2; s2 = c2 x - d2 y, twice (the
    // high-pass's c0 and c2 are 1); the energy of counted frames added
    // frame by frame.
    auto step = [&](Chain& c, const float* frame, bool counted) {
        const __m128 v0 = _mm_loadu_ps(frame);
        const __m128 u = _mm_add_ps(_mm_mul_ps(a0, v0), c.s1);
        c.s1 = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(a1, v0), _mm_mul_ps(ad1, u)), c.s2);
        c.s2 = _mm_sub_ps(_mm_mul_ps(a2, v0), _mm_mul_ps(ad2, u));
        const __m128 v = _mm_add_ps(u, c.t1);
        c.t1 = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(b1, u), _mm_mul_ps(bd1, v)), c.t2);
        c.t2 = _mm_sub_ps(u, _mm_mul_ps(bd2, v));
        if (counted) {
            const __m128d low = _mm_cvtps_pd(v), high = _mm_cvtps_pd(_mm_movehl_ps(v, v));
            c.in = _mm_add_pd(c.in, _mm_mul_pd(low, low));
            c.out = _mm_add_pd(c.out, _mm_mul_pd(high, high));
        }
    };
    const __m128 zero = _mm_setzero_ps();
    Chain one{zero, zero, zero, zero, _mm_setzero_pd(), _mm_setzero_pd()}, two = one;
    for (int i = 0; i < length; ++i) {
        step(one, x + 4 * i, i >= warm_);
        step(two, x + 4 * (half + i), i >= warm_);
    }
    for (int i = length; i < length + extra; ++i) step(two, x + 4 * (half + i), true);
    _mm_storeu_pd(energy_, _mm_add_pd(one.in, two.in));
    _mm_storeu_pd(energy_ + 2, _mm_add_pd(one.out, two.out));
#else
    for (double& e : energy_) e = 0.0;
    for (int from : {0, half}) {
        const int frames = from == 0 ? length : length + extra;
        for (int lane = 0; lane < 4; ++lane) {
            float state[2][2] = {};
            for (int i = 0; i < frames; ++i) {
                float u = x[4 * (from + i) + lane];
                for (int st = 0; st < 2; ++st) {
                    const Stage& c = stage_[st];
                    const float v = c.c0 * u + state[st][0];
                    state[st][0] = c.c1 * u - c.d1 * v + state[st][1];
                    state[st][1] = c.c2 * u - c.d2 * v;
                    u = v;
                }
                if (i >= warm_) energy_[lane] += static_cast<double>(u) * u;
            }
        }
    }
#endif
}

void LoudnessMatch::endHop(double limited) {
    Hop& h = window_[windowAt_];
    windowAt_ = (windowAt_ + 1) % kWindowHops;
    // The absolute gate (-70 LUFS) on the slice; the relative one below.
    const double absolute = slice_ * std::pow(10.0, (-70.0 + 0.691) / 10.0);
    h.in = energy_[0] + energy_[1];
    h.out = energy_[2] + energy_[3];
    const bool whole = steady_ && measured_ == warm_ + slice_;
    // The programme's loudness: the input's, of the hops over the absolute
    // gate, over the last kProgrammeSeconds or so.
    if (whole && h.in > absolute)
        programme_ = programme_ > 0.0 ? programme_ + programmeShare_ * (h.in - programme_) : h.in;
    h.counts = on_ && whole && h.in > absolute && h.in >= 0.1 * programme_;  // -10 LU
    h.limited = limited;
    hopStart_ += hop_;
    ++hopCount_;
    startHop();
    if (!on_) return;
    double in = 0.0, out = 0.0, share = 0.0;
    int counted = 0;
    for (const Hop& w : window_) {
        share += w.limited / kWindowHops;
        if (w.counts) {
            in += w.in;
            out += w.out;
            ++counted;
        }
    }
    if (share > 0.03) headroom_ = std::max(headroom_ - 0.1f, -kHeadroomDb);
    if (share < 0.01) headroom_ = std::min(headroom_ + 0.05f, 0.0f);
    float& g = gain_[path_];
    if (counted >= kMinHops && out > 0.0) {
        const float want =
            std::min(std::max(static_cast<float>(10.0 * std::log10(in / out)), kMinDb), kMaxDb);
        g += std::min(std::max(want - g, -slewDb_), slewDb_);
    }
    // All together move no faster than one alone.
    const float target = std::min(std::max(g + headroom_, kMinDb - kHeadroomDb), kMaxDb);
    applied_ += std::min(std::max(target - applied_, -slewDb_), slewDb_);
    glideTo(FromDb(applied_), hop_ / 4);
}

FrameGains LoudnessMatch::take(int n) {
    FrameGains g;
    if (at_ < length_) {
        // The gain at the glide's frame a (1 to length_) is from_ + step a.
        g.glide = std::min(n, length_ - at_);
        g.base = from_;
        g.slope = (to_ - from_) / static_cast<float>(length_);
        g.first = static_cast<float>(at_ + 1);
        at_ += g.glide;
    }
    g.steady = to_;
    frame_ += n;
    return g;
}

void LoudnessMatch::apply(float* out, int n) {
    const FrameGains g = take(n);
    if (g.glide > 0) ScaleByRamp(out, g.glide, g.base, g.slope, g.first);
    if (g.steady != 1.0f) ScaleBy(out + 2 * g.glide, n - g.glide, g.steady);
}

}  // namespace kesta
