#include "Limiter.h"

#include <algorithm>
#include <cmath>

namespace kesta {

namespace {

// The level the gain aims at: a hair under the ceiling, so that rounding in
// the gain's average never lets a sample past it.
constexpr float kTarget = Limiter::kCeiling * 0.9999f;
constexpr double kWindowSeconds = 0.002;
constexpr double kReleaseSeconds = 0.08;
// Sub-blocks looked at as a whole for the quiet case.
constexpr int kRun = 64;

}  // namespace

void Limiter::prepare(unsigned rate) {
    window_ = std::max(2, static_cast<int>(std::lround(kWindowSeconds * rate)));
    release_ = static_cast<float>(1.0 - std::exp(-1.0 / (kReleaseSeconds * rate)));
    for (std::vector<float>& h : held_) h.assign(static_cast<size_t>(delay()), 0.0f);
    minFrame_.assign(static_cast<size_t>(window_), 0);
    minNeed_.assign(static_cast<size_t>(window_), 1.0f);
    recent_.assign(static_cast<size_t>(window_), 1.0f);
    reset();
}

void Limiter::reset() {
    for (std::vector<float>& h : held_) std::fill(h.begin(), h.end(), 0.0f);
    heldAt_ = 0;
    minFront_ = minCount_ = 0;
    frame_ = 0;
    envelope_ = 1.0f;
    std::fill(recent_.begin(), recent_.end(), 1.0f);
    recentAt_ = 0;
    sum_ = window_;
    reduced_ = 0;
}

// Takes in the newest frame's need and answers the gain of the frame that
// plays now, delay() frames older.
float Limiter::step(float need) {
    const int size = window_;
    if (need < 1.0f) {
        // Needs at the back that are no smaller can never be the least again.
        while (minCount_ > 0) {
            const int back = (minFront_ + minCount_ - 1) % size;
            if (minNeed_[static_cast<size_t>(back)] < need) break;
            --minCount_;
        }
        const int at = (minFront_ + minCount_) % size;
        minFrame_[static_cast<size_t>(at)] = frame_;
        minNeed_[static_cast<size_t>(at)] = need;
        ++minCount_;
    }
    while (minCount_ > 0 && minFrame_[static_cast<size_t>(minFront_)] <= frame_ - size) {
        minFront_ = (minFront_ + 1) % size;
        --minCount_;
    }
    ++frame_;
    const float least = minCount_ > 0 ? minNeed_[static_cast<size_t>(minFront_)] : 1.0f;
    float e = envelope_ + (1.0f - envelope_) * release_;
    if (e > 0.999999f) e = 1.0f;
    envelope_ = e = std::min(e, least);

    float& oldest = recent_[static_cast<size_t>(recentAt_)];
    if (oldest < 1.0f) --reduced_;
    if (e < 1.0f) ++reduced_;
    sum_ += static_cast<double>(e) - static_cast<double>(oldest);
    oldest = e;
    if (++recentAt_ == size) recentAt_ = 0;
    if (reduced_ == 0) {
        sum_ = size;  // no drift survives a return to rest
        return 1.0f;
    }
    return static_cast<float>(sum_ / size);
}

void Limiter::delayOnly(float* left, float* right, int stride, int n) {
    const int d = delay();
    float* heldL = held_[0].data();
    float* heldR = held_[1].data();
    int at = heldAt_;
    for (int i = 0; i < n; ++i) {
        const size_t k = static_cast<size_t>(i) * static_cast<size_t>(stride);
        const float l = left[k], r = right[k];
        left[k] = heldL[at];
        right[k] = heldR[at];
        heldL[at] = l;
        heldR[at] = r;
        if (++at == d) at = 0;
    }
    heldAt_ = at;
    frame_ += n;
}

void Limiter::process(float* left, float* right, int stride, int n, bool on) {
    const int d = delay();
    const size_t s = static_cast<size_t>(stride);
    for (int from = 0; from < n;) {
        const int k = std::min(kRun, n - from);
        float* l = left + static_cast<size_t>(from) * s;
        float* r = right + static_cast<size_t>(from) * s;
        from += k;
        float peak = 0.0f;
        if (on)
            for (int i = 0; i < k; ++i)
                peak = std::max(peak, std::max(std::fabs(l[i * s]), std::fabs(r[i * s])));
        if (idle() && peak <= kTarget) {
            delayOnly(l, r, stride, k);
            continue;
        }
        float* heldL = held_[0].data();
        float* heldR = held_[1].data();
        for (int i = 0; i < k; ++i) {
            const size_t at = static_cast<size_t>(i) * s;
            const float x = l[at], y = r[at];
            const float p = std::max(std::fabs(x), std::fabs(y));
            const float g = step(on && p > kTarget ? kTarget / p : 1.0f);
            const float outL = heldL[heldAt_] * g, outR = heldR[heldAt_] * g;
            // Rounding aside the gain keeps the ceiling; this holds it exactly.
            l[at] = on ? std::min(std::max(outL, -kCeiling), kCeiling) : outL;
            r[at] = on ? std::min(std::max(outR, -kCeiling), kCeiling) : outR;
            heldL[heldAt_] = x;
            heldR[heldAt_] = y;
            if (++heldAt_ == d) heldAt_ = 0;
        }
    }
}

}  // namespace kesta
