// Planning of resampled blocks: where a block of output frames ends in the
// input, and how many output frames a given input can feed.
#include "Resample.h"

#include <algorithm>
#include <cstdint>

namespace {

// More than enough for the quadratic; the exact walk that follows corrects
// whatever distance is left.
const int kMaxNewtonSteps = 32;
// Newton stops within this distance of the end of the input (15 frames).
const std::int64_t kNewtonTolerance = 0xF0000;

}  // namespace

unsigned long CalculateLastIndex(Samples n, unsigned long phase, unsigned long step, long stepDelta) {
    const std::uint32_t frames = static_cast<std::uint32_t>(n);
    const std::uint32_t start = static_cast<std::uint32_t>(phase);
    const std::uint32_t s = static_cast<std::uint32_t>(step);
    const std::uint32_t d = static_cast<std::uint32_t>(stepDelta);
    if (d == 0) return start + frames * s;
    // n * (n - 1) / 2 is exact in 64 bits for every Samples n; only its low 32 bits count.
    const std::int64_t wide = n;
    const std::uint32_t pairs = static_cast<std::uint32_t>(wide * (wide - 1) / 2);
    return start + frames * s + d * pairs;
}

void PredictResampling(Samples* inCount, Samples* outCount, unsigned long phase, unsigned long step,
                       long stepDelta) {
    const Samples in = *inCount;
    const Samples out = std::max<Samples>(*outCount, 0);
    const std::uint32_t start = static_cast<std::uint32_t>(phase);
    const std::uint32_t s = static_cast<std::uint32_t>(step);
    const std::int32_t d = static_cast<std::int32_t>(static_cast<std::uint32_t>(stepDelta));
    const std::uint32_t ud = static_cast<std::uint32_t>(d);

    if (in <= static_cast<Samples>(start >> 16)) {
        *outCount = 0;
        return;
    }
    *outCount = out;
    const std::uint32_t end = static_cast<std::uint32_t>(CalculateLastIndex(out, start, s, d));
    if (static_cast<Samples>(end >> 16) < in) {
        *inCount = static_cast<Samples>(end >> 16);
        return;
    }
    // Here in <= 65535, since every position lies below frame 65536.
    const std::uint32_t limit = static_cast<std::uint32_t>(in) << 16;
    if (end <= limit) return;

    // k: a first guess at the smallest output count whose position reaches limit, kept in 0 .. out.
    std::int64_t k;
    if (d == 0) {
        k = std::min<std::int64_t>((limit - start) / s, out);
    } else {
        k = out;
        for (int i = 0; i < kMaxNewtonSteps; ++i) {
            const std::uint32_t position =
                static_cast<std::uint32_t>(CalculateLastIndex(static_cast<Samples>(k), start, s, d));
            const std::int64_t over = static_cast<std::int64_t>(position) - limit;
            if (over >= -kNewtonTolerance && over <= kNewtonTolerance) break;
            // Slope of the position at k - 1/2: the mean of the steps into and out of frame k.
            const std::int64_t slope = k * d + static_cast<std::int64_t>(s) - (d >> 1);
            if (slope <= 0) break;
            const std::int64_t move = over / slope;
            if (move == 0) break;
            k = std::clamp<std::int64_t>(k - move, 0, out);
        }
    }

    // Exact walk: back while the position reaches limit, then forward to the first frame that does.
    std::uint32_t position =
        static_cast<std::uint32_t>(CalculateLastIndex(static_cast<Samples>(k), start, s, d));
    while (position >= limit && k > 0) {
        --k;
        position -= s + static_cast<std::uint32_t>(k) * ud;
    }
    while (position < limit && k <= out) {
        position += s + static_cast<std::uint32_t>(k) * ud;
        ++k;
    }
    if (k > out) {
        // Only steps that are not all positive get here.
        *inCount = 0;
        *outCount = 0;
        return;
    }
    *outCount = static_cast<Samples>(k);
    *inCount = std::min(static_cast<Samples>(position >> 16), in);
}
