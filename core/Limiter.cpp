#include "Limiter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "LimiterKernels.h"

namespace kesta {

using namespace limiter_kernels;

namespace {

// The level the gain aims at is a hair under the ceiling (2e-4: the gain's
// rounding is a few 1e-7, and 16-bit TPDF dither adds up to 1.5 LSB, 5e-5
// of the ceiling), so that no sample gets past it, also once written.
constexpr float kMargin = 0.9998f;
constexpr double kLookAheadSeconds = 0.002;
constexpr float kOneDbDown = 0.89125094f;
constexpr float kNoOvershoot = 0.70794578f;  // -3 dB
constexpr double kPi = 3.14159265358979323846;
// A need within 0.1 dB of the envelope holds it again.
constexpr float kAgain = 1.0115795f;

}  // namespace

void Limiter::prepare(unsigned rate, int maxBlock) {
    avx2_ = HasAvx2();
    setCeiling(ceiling_);
    blockBits_ = rate >= 32000 ? 6 : 5;
    block_ = 1 << blockBits_;
    steps_ = std::max(1, static_cast<int>(std::lround(kLookAheadSeconds * rate / block_)));
    hold_ = static_cast<int>(std::ceil(kHoldSeconds * rate / block_));
    release_ = static_cast<float>(std::pow(10.0, kReleaseDbPerSecond * block_ / rate / 20.0));
    // Room for the delay, frames pushed ahead and a block coming in, and as
    // much again so that the line slides back seldom.
    maxBlock = std::max(maxBlock, 1);
    capacity_ = delay() + 2 * maxBlock + std::max(maxBlock, 2048);
    line_.assign(2 * static_cast<size_t>(capacity_), 0.0f);
    size_t ramps = 1;
    while (ramps < static_cast<size_t>(capacity_ / block_ + 3)) ramps *= 2;
    ramps_.assign(ramps, Ramp());
    needs_.assign(static_cast<size_t>(steps_ + 1), 1.0f);
    envelope_.assign(static_cast<size_t>(steps_), 1.0f);
    perStep_ = 1.0f / static_cast<float>(steps_);
    perFrame_ = 1.0f / static_cast<float>(block_);
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
    std::fill(ramps_.begin(), ramps_.end(), Ramp());
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
    Ramp& next = rampOf(counted_ - (steps_ + 1) * block_);
    // At rest every value is 1, wherever the rings stand.
    if (blockNeed == 1.0f && resting_) {
        next = Ramp();
        return;
    }
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
    // The gain stays under target_ / peak by far more than rounding can add,
    // so nothing goes past the ceiling. Each frame's gain comes from its
    // place in the block alone, so that it is the same however the stream
    // is cut.
    next.base = gain_[0];
    next.step = gain_[0] == 1.0f && gain_[1] == 1.0f ? 0.0f : (gain_[1] - gain_[0]) * perFrame_;
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
            peak_ = on ? truePeak(counted_ - block_) : 0.0f;
            endBlock(on);
        }
    }
}

float Limiter::truePeak(long long from) const {
    const float* x = line_.data() + 2 * (from - base_);
    // Between samples a waveform passes them only beside a crest, by up to
    // about 3 dB in music (more only near the Nyquist rate) and mostly by a
    // fraction of a dB: for a block within 3 dB of the target, the points
    // between each channel's largest sample and the larger of its
    // neighbours, where that channel's top lies. Nor where a held reduction
    // already takes even that under the target for as long as this block's
    // need counts (the envelope cannot rise before it has left the
    // look-ahead).
    const Skip skip{target_ * kNoOvershoot, holdLeft_ > steps_, envelopeLast_};
    // (The two sizes a block has, spelt out so that the loops unroll.)
    return block_ == 64 ? TruePeak<64>(x, skip, taps_, avx2_) : TruePeak<32>(x, skip, taps_, avx2_);
}

void Limiter::play(float* left, float* right, int stride, int n) {
    for (int done = 0; done < n;) {
        // A run of blocks whose gain is 1 is copied; a block whose gain is
        // not, scaled.
        const long long t = played_ + done - delay();
        const int offset = static_cast<int>((t + delay()) & (block_ - 1));
        int k = std::min(block_ - offset, n - done);
        const Ramp ramp = rampOf(t);
        const bool one = ramp.base == 1.0f && ramp.step == 0.0f;
        if (one)
            while (done + k < n && rampOf(t + k).base == 1.0f && rampOf(t + k).step == 0.0f)
                k += std::min(block_, n - done - k);
        const float* y = line_.data() + 2 * (t - base_);
        float* l = left + static_cast<size_t>(done) * stride;
        float* r = right + static_cast<size_t>(done) * stride;
        if (stride == 2) {
            if (one)
                std::memcpy(l, y, 2 * static_cast<size_t>(k) * sizeof(float));
            else if (ramp.step == 0.0f)  // held: base + 0 (offset + i) is base
                GainInto(avx2_, y, l, k, ramp.base);
            else
                RampInto(avx2_, y, l, k, ramp.base, ramp.step, offset);
        } else {
            for (int i = 0; i < k; ++i) {
                const float g =
                    one ? 1.0f : ramp.base + ramp.step * (static_cast<float>(offset) + static_cast<float>(i));
                l[i] = y[2 * i] * g;
                r[i] = y[2 * i + 1] * g;
            }
        }
        done += k;
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
