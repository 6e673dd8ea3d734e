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
// A need within 0.1 dB of the envelope holds it again.
constexpr float kAgain = 1.0115795f;

// The largest magnitude among x[0..n) (which holds no NaN: the processor's
// output is finite).
inline float Peak(const float* x, int n) {
    int i = 0;
    float peak = 0.0f;
#if defined(__SSE2__)
    // Eight at a time in two registers: GCC keeps the portable loop scalar.
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 a = _mm_setzero_ps(), b = _mm_setzero_ps();
    for (; i + 8 <= n; i += 8) {
        a = _mm_max_ps(a, _mm_and_ps(_mm_loadu_ps(x + i), magnitude));
        b = _mm_max_ps(b, _mm_and_ps(_mm_loadu_ps(x + i + 4), magnitude));
    }
    float lane[4];
    _mm_storeu_ps(lane, _mm_max_ps(a, b));
    peak = std::max(std::max(lane[0], lane[1]), std::max(lane[2], lane[3]));
#endif
    for (; i < n; ++i) peak = std::max(peak, std::fabs(x[i]));
    return peak;
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
    written_ = played_ = 0;
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
    float* y = line_.data() + 2 * (written_ - delay() - base_);
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
    const float* fresh = line_.data() + 2 * (written_ - base_);
    for (int from = 0; from < n;) {
        const int k = std::min(block_ - at_, n - from);
        if (on) peak_ = std::max(peak_, Peak(fresh + 2 * from, 2 * k));
        at_ += k;
        from += k;
        written_ += k;
        if (at_ == block_) {
            at_ = 0;
            endBlock(on);
        }
    }
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
