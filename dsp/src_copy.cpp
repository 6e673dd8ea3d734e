// Resampling by copying the input frame at each position's integer part:
// output j = input frame (phase_j >> 16), with no rounding of the position and
// no conversion of the samples. The stereo and quad forms de-interleave on the
// way, channel c into destination c.
#include <cstddef>
#include <cstdint>

#include "MathLib.h"

namespace {

template <class T, int C>
void resampleCopy(T* const (&dst)[C], const T* src, Samples n, std::uint32_t phase, std::uint32_t step,
                  std::uint32_t stepDelta) {
    for (Samples j = 0; j < n; ++j) {
        const T* frame = src + static_cast<std::size_t>(phase >> 16) * C;
        for (int c = 0; c < C; ++c) dst[c][j] = frame[c];
        phase += step;
        step += stepDelta;
    }
}

// Runs resampleCopy with the sample type of mono format monoType (1, 2 or 3).
template <int C>
void resampleCopy(int monoType, const Buffer (&dst)[C], const Buffer& src, Samples n, unsigned long phase,
                  unsigned long step, long stepDelta) {
    const auto p = static_cast<std::uint32_t>(phase);
    const auto s = static_cast<std::uint32_t>(step);
    const auto d = static_cast<std::uint32_t>(stepDelta);
    switch (monoType) {
        case kMono8: {
            unsigned char* out[C];
            for (int c = 0; c < C; ++c) out[c] = dst[c].bytes();
            resampleCopy<unsigned char, C>(out, src.bytes(), n, p, s, d);
            break;
        }
        case kMono16: {
            short* out[C];
            for (int c = 0; c < C; ++c) out[c] = dst[c].shorts();
            resampleCopy<short, C>(out, src.shorts(), n, p, s, d);
            break;
        }
        case kMonoFloat: {
            float* out[C];
            for (int c = 0; c < C; ++c) out[c] = dst[c].floats();
            resampleCopy<float, C>(out, src.floats(), n, p, s, d);
            break;
        }
        default:
            break;
    }
}

// True when src has C channels and every destination is the mono format of its width.
template <int C>
bool typesMatch(const Buffer (&dst)[C], const Buffer& src) {
    const int firstType = C == 1 ? kMono8 : C == 2 ? kStereo8 : kQuad8;
    if (src.type_ < firstType || src.type_ > firstType + 2) return false;
    for (const Buffer& d : dst)
        if (d.type_ != src.type_ - firstType + kMono8) return false;
    return true;
}

}  // namespace

void MathLibrary::ResampleWithCopy(const Buffer& dst, const Buffer& src, Samples n, unsigned long phase,
                                   unsigned long step, long stepDelta) {
    const Buffer out[1] = {dst};
    if (n <= 0 || !typesMatch(out, src)) return;
    resampleCopy(src.type_, out, src, n, phase, step, stepDelta);
}

void MathLibrary::ResampleWithCopy(const Buffer& dst0, const Buffer& dst1, const Buffer& src, Samples n,
                                   unsigned long phase, unsigned long step, long stepDelta) {
    const Buffer out[2] = {dst0, dst1};
    if (n <= 0 || !typesMatch(out, src)) return;
    resampleCopy(dst0.type_, out, src, n, phase, step, stepDelta);
}

void MathLibrary::ResampleWithCopy(const Buffer& dst0, const Buffer& dst1, const Buffer& dst2,
                                   const Buffer& dst3, const Buffer& src, Samples n, unsigned long phase,
                                   unsigned long step, long stepDelta) {
    const Buffer out[4] = {dst0, dst1, dst2, dst3};
    if (n <= 0 || !typesMatch(out, src)) return;
    resampleCopy(dst0.type_, out, src, n, phase, step, stepDelta);
}
