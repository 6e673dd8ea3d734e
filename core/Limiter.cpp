#include "Limiter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "SampleOps.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kesta {

namespace {

// The level the gain aims at is a hair under the ceiling (2e-4: the gain's
// rounding is a few 1e-7, and 16-bit TPDF dither adds up to 1.5 LSB, 5e-5
// of the ceiling), so that no sample gets past it, also once written.
constexpr float kMargin = 0.9998f;
constexpr double kLookAheadSeconds = 0.002;
constexpr float kOneDbDown = 0.89125094f;
constexpr float kNoOvershoot = 0.70794578f;  // -3 dB
// What the short interpolation may miss of a point between samples: 0.05 dB.
constexpr float kInterpolationError = 1.0057731f;
constexpr double kPi = 3.14159265358979323846;
// A need within 0.1 dB of the envelope holds it again.
constexpr float kAgain = 1.0115795f;

// The largest magnitudes of the left and right samples of n interleaved
// frames (which hold no NaN: the processor's output is finite).
inline void ChannelPeaks(const float* x, int n, float* left, float* right) {
    int i = 0;
    float l = 0.0f, r = 0.0f;
#if defined(__SSE2__)
    // Four frames at a time in two registers (lanes: left, right, left,
    // right): GCC keeps the portable loop scalar.
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 a = _mm_setzero_ps(), b = _mm_setzero_ps();
    for (; i + 4 <= n; i += 4) {
        a = _mm_max_ps(a, _mm_and_ps(_mm_loadu_ps(x + 2 * i), magnitude));
        b = _mm_max_ps(b, _mm_and_ps(_mm_loadu_ps(x + 2 * i + 4), magnitude));
    }
    float lane[4];
    _mm_storeu_ps(lane, _mm_max_ps(a, b));
    l = std::max(lane[0], lane[2]);
    r = std::max(lane[1], lane[3]);
#endif
    for (; i < n; ++i) {
        l = std::max(l, std::fabs(x[2 * i]));
        r = std::max(r, std::fabs(x[2 * i + 1]));
    }
    *left = l;
    *right = r;
}

// Where in n interleaved frames the left and right samples of magnitude
// left and right first are: top[0] and top[1], as indexes into x.
inline void Find(const float* x, int n, float left, float right, int* top) {
    top[0] = top[1] = -1;
    int i = 0;
#if defined(__SSE2__)
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 want = _mm_setr_ps(left, right, left, right);
    for (; i + 2 <= n && (top[0] < 0 || top[1] < 0); i += 2) {
        const int hit = _mm_movemask_ps(_mm_cmpeq_ps(_mm_and_ps(_mm_loadu_ps(x + 2 * i), magnitude), want));
        for (int lane = 0; lane < 4; ++lane)
            if ((hit >> lane & 1) && top[lane & 1] < 0) top[lane & 1] = 2 * i + lane;
    }
#endif
    for (; i < n; ++i)
        for (int c = 0; c < 2; ++c)
            if (top[c] < 0 && std::fabs(x[2 * i + c]) == (c ? right : left)) top[c] = 2 * i + c;
}

// The largest magnitude of the three points between first[2 (kLead - 1)]
// and the frame after it, from the 2 kLead frames at first[0], first[2],
// ...: taps[k] holds tap k of the three phases (and a zero).
inline float Between(const float* first, const float (*taps)[4]) {
#if defined(__SSE2__)
    __m128 y = _mm_setzero_ps();
    for (int k = 0; k < 2 * Limiter::kLead; ++k)
        y = _mm_add_ps(y, _mm_mul_ps(_mm_loadu_ps(taps[k]), _mm_set1_ps(first[2 * k])));
    float lane[4];
    _mm_storeu_ps(lane, _mm_and_ps(y, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF))));
    return std::max(std::max(lane[0], lane[1]), lane[2]);
#else
    float most = 0.0f;
    for (int p = 0; p < 3; ++p) {
        float y = 0.0f;
        for (int k = 0; k < 2 * Limiter::kLead; ++k) y += taps[k][p] * first[2 * k];
        most = std::max(most, std::fabs(y));
    }
    return most;
#endif
}

}  // namespace

void Limiter::prepare(unsigned rate, int maxBlock) {
    setCeiling(ceiling_);
    block_ = rate >= 32000 ? 64 : 32;
    steps_ = std::max(1, static_cast<int>(std::lround(kLookAheadSeconds * rate / block_)));
    hold_ = static_cast<int>(std::ceil(kHoldSeconds * rate / block_));
    release_ = static_cast<float>(std::pow(10.0, kReleaseDbPerSecond * block_ / rate / 20.0));
    // Room for the delay, frames pushed ahead and a block coming in, and as
    // much again so that the line slides back seldom.
    maxBlock = std::max(maxBlock, 1);
    capacity_ = delay() + 2 * maxBlock + std::max(maxBlock, 2048);
    line_.assign(2 * static_cast<size_t>(capacity_), 0.0f);
    needs_.assign(static_cast<size_t>(steps_ + 1), 1.0f);
    envelope_.assign(static_cast<size_t>(steps_), 1.0f);
    perStep_ = 1.0f / static_cast<float>(steps_);
    // Windowed sinc (Kaiser, beta 6) over 2 kLead taps a phase, each phase
    // summing to 1.
    for (int p = 1; p <= 3; ++p) {
        double tap[2 * kLead], sum = 0.0;
        for (int k = 0; k < 2 * kLead; ++k) {
            const double u = p / 4.0 - (k - kLead + 1);  // from the point to the tap, in frames
            const double r = u / kLead,
                         w = std::cyl_bessel_i(0.0, 6.0 * std::sqrt(std::max(0.0, 1.0 - r * r)));
            sum += tap[k] = std::sin(kPi * u) / (kPi * u) * w;
        }
        for (int k = 0; k < 2 * kLead; ++k) taps_[k][p - 1] = static_cast<float>(tap[k] / sum);
    }
    reset();
}

void Limiter::setCeiling(float ceiling) {
    ceiling_ = std::min(std::max(ceiling, 1e-3f), 1.0f);
    target_ = ceiling_ * kMargin;
}

void Limiter::reset() {
    std::fill(line_.begin(), line_.end(), 0.0f);
    std::fill(needs_.begin(), needs_.end(), 1.0f);
    std::fill(envelope_.begin(), envelope_.end(), 1.0f);
    base_ = -delay();
    written_ = played_ = counted_ = 0;
    at_ = needAt_ = envelopeAt_ = 0;
    peak_ = 0.0f;
    gain_[0] = gain_[1] = 1.0f;
    envelopeLast_ = 1.0f;
    holdLeft_ = 0;
    resting_ = true;
    reduced_ = 0;
}

// A block of input is complete: its need goes in, the gain at the next
// control point comes out, and the block of delayed frames that plays next
// takes its gains.
void Limiter::endBlock(bool on) {
    const float blockNeed = on && peak_ > target_ ? target_ / peak_ : 1.0f;
    peak_ = 0.0f;
    // At rest every value is 1, wherever the rings stand.
    if (blockNeed == 1.0f && resting_) return;
    needs_[static_cast<size_t>(needAt_)] = blockNeed;
    if (++needAt_ == steps_ + 1) needAt_ = 0;
    float least = 1.0f;
    for (float need : needs_) least = std::min(least, need);
    // Down at once to what the blocks ahead need; held there; then up in
    // equal steps in dB, the last of them to exactly 1.
    float e;
    if (least < envelopeLast_) {
        e = least;
        holdLeft_ = hold_;
    } else if (least < 1.0f && least < envelopeLast_ * kAgain) {
        // Needed again (a sine's next crest): held from here.
        e = envelopeLast_;
        holdLeft_ = hold_;
    } else if (holdLeft_ > 0) {
        e = envelopeLast_;
        --holdLeft_;
    } else {
        e = std::min(std::min(envelopeLast_ * release_, 1.0f), least);
    }
    envelopeLast_ = e;
    envelope_[static_cast<size_t>(envelopeAt_)] = e;
    if (++envelopeAt_ == steps_) envelopeAt_ = 0;
    float sum = 0.0f;
    for (float v : envelope_) sum += v;
    gain_[0] = gain_[1];
    gain_[1] = sum == static_cast<float>(steps_) ? 1.0f : sum * perStep_;
    resting_ = least == 1.0f && gain_[0] == 1.0f && gain_[1] == 1.0f;
    if (on && gain_[1] < kOneDbDown) ++reduced_;
    if (gain_[0] == 1.0f && gain_[1] == 1.0f) return;
    // The gain stays under target_ / peak by far more than rounding can add,
    // so nothing goes past the ceiling. Each frame's gain comes from its
    // place in the block alone, so that it is the same however the stream
    // is cut.
    float* y = line_.data() + 2 * (counted_ - (steps_ + 1) * block_ - base_);
    ScaleByRamp(y, block_, gain_[0], (gain_[1] - gain_[0]) / static_cast<float>(block_), 0.0f);
}

float* Limiter::write(int n) {
    if (written_ + n - base_ > capacity_) {
        // Keep from the oldest frame still to play.
        const long long keep = played_ - delay();
        std::memmove(line_.data(), line_.data() + 2 * (keep - base_),
                     2 * static_cast<size_t>(written_ - keep) * sizeof(float));
        base_ = keep;
    }
    return line_.data() + 2 * (written_ - base_);
}

void Limiter::push(int n, bool on) {
    written_ += n;
    // A frame's peaks count once kLead frames after it are in.
    while (counted_ < written_ - kLead) {
        const int k = static_cast<int>(std::min<long long>(block_ - at_, written_ - kLead - counted_));
        at_ += k;
        counted_ += k;
        if (at_ == block_) {
            // Whole blocks only, so that the peak is the same however the
            // stream is cut.
            at_ = 0;
            peak_ = on ? truePeak(counted_ - block_, block_) : 0.0f;
            endBlock(on);
        }
    }
}

float Limiter::truePeak(long long from, int n) const {
    const float* x = line_.data() + 2 * (from - base_);
    float left, right;
    ChannelPeaks(x, n, &left, &right);
    float peak = std::max(left, right);
    // Between samples a waveform passes them only beside a crest, by up to
    // about 3 dB in music (more only near the Nyquist rate) and mostly by a
    // fraction of a dB: for a block within 3 dB of the target, the points
    // between each channel's largest sample and the larger of its
    // neighbours, where that channel's top lies.
    if (peak <= target_ * kNoOvershoot) return peak;
    // Nor where a held reduction already takes even that under the target
    // for as long as this block's need counts (the envelope cannot rise
    // before it has left the look-ahead).
    if (holdLeft_ > steps_ && envelopeLast_ * peak <= target_ * kNoOvershoot) return peak;
    int top[2];
    Find(x, n, left, right, top);
    for (int c = 0; c < 2; ++c) {
        const float* s = x + top[c];
        const float* first = std::fabs(s[-2]) > std::fabs(s[2]) ? s - 2 * kLead : s - 2 * (kLead - 1);
        peak = std::max(peak, kInterpolationError * Between(first, taps_));
    }
    return peak;
}

void Limiter::play(float* left, float* right, int stride, int n) {
    const float* y = line_.data() + 2 * (played_ - delay() - base_);
    if (stride == 2) {
        std::memcpy(left, y, 2 * static_cast<size_t>(n) * sizeof(float));
    } else {
        for (int i = 0; i < n; ++i) {
            left[i] = y[2 * i];
            right[i] = y[2 * i + 1];
        }
    }
    played_ += n;
}

void Limiter::process(float* left, float* right, int stride, int n, bool on) {
    float* fresh = write(n);
    if (stride == 2) {
        std::memcpy(fresh, left, 2 * static_cast<size_t>(n) * sizeof(float));
    } else {
        for (int i = 0; i < n; ++i) {
            fresh[2 * i] = left[i];
            fresh[2 * i + 1] = right[i];
        }
    }
    push(n, on);
    play(left, right, stride, n);
}

}  // namespace kesta
