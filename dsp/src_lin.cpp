// Resampling by linear interpolation, float only: with i = phase_j >> 16 and
// f = (phase_j & 0xFFFF) / 65536, output j = x[i] + (x[i + 1] - x[i]) * f,
// formed in double. Every output frame reads input frame i + 1, so the input
// must hold one frame beyond the last index used. The stereo and quad forms
// de-interleave on the way, channel c into destination c.
#include <cstddef>
#include <cstdint>

#include "MathLib.h"

namespace {

const double kFractionScale = 1.0 / 65536.0;

template <int C>
void resampleLinear(float* const (&dst)[C], const float* src, Samples n, std::uint32_t phase,
                    std::uint32_t step, std::uint32_t stepDelta) {
    for (Samples j = 0; j < n; ++j) {
        const float* frame = src + static_cast<std::size_t>(phase >> 16) * C;
        const double f = static_cast<double>(phase & 0xFFFFu) * kFractionScale;
        for (int c = 0; c < C; ++c) {
            const double x0 = frame[c];
            dst[c][j] = static_cast<float>(x0 + (static_cast<double>(frame[c + C]) - x0) * f);
        }
        phase += step;
        step += stepDelta;
    }
}

// Checks that src is the float format of C channels and every destination
// mono float, then resamples; otherwise writes nothing.
template <int C>
void resampleLinear(const Buffer (&dst)[C], const Buffer& src, Samples n, unsigned long phase,
                    unsigned long step, long stepDelta) {
    const int srcType = C == 1 ? kMonoFloat : C == 2 ? kStereoFloat : kQuadFloat;
    if (n <= 0 || src.type_ != srcType) return;
    float* out[C];
    for (int c = 0; c < C; ++c) {
        if (dst[c].type_ != kMonoFloat) return;
        out[c] = dst[c].floats();
    }
    resampleLinear<C>(out, src.floats(), n, static_cast<std::uint32_t>(phase),
                      static_cast<std::uint32_t>(step), static_cast<std::uint32_t>(stepDelta));
}

}  // namespace

void MathLibrary::ResampleWithInterpolation(const Buffer& dst, const Buffer& src, Samples n,
                                            unsigned long phase, unsigned long step, long stepDelta) {
    const Buffer out[1] = {dst};
    resampleLinear(out, src, n, phase, step, stepDelta);
}

void MathLibrary::ResampleWithInterpolation(const Buffer& dst0, const Buffer& dst1, const Buffer& src,
                                            Samples n, unsigned long phase, unsigned long step,
                                            long stepDelta) {
    const Buffer out[2] = {dst0, dst1};
    resampleLinear(out, src, n, phase, step, stepDelta);
}

void MathLibrary::ResampleWithInterpolation(const Buffer& dst0, const Buffer& dst1, const Buffer& dst2,
                                            const Buffer& dst3, const Buffer& src, Samples n,
                                            unsigned long phase, unsigned long step, long stepDelta) {
    const Buffer out[4] = {dst0, dst1, dst2, dst3};
    resampleLinear(out, src, n, phase, step, stepDelta);
}
