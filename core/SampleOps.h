// The processor's per-sample passes over float blocks. Those that gather a
// result (a check, a peak) keep kLanes independent running results, so the
// compiler can turn the loops into vector code without reordering any float
// arithmetic.
#pragma once

#include <cfloat>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kesta {

constexpr int kLanes = 8;

// What a block of input holds: every sample within [-limit, limit]; some
// beyond it, all finite; or something not finite.
enum class InputKind { kClean, kLoud, kNotFinite };

namespace detail {

// The kind of samples some of which (over) were not within [-limit, limit]:
// x[0..n) at stride.
inline InputKind KindOver(bool over, const float* x, int n, int stride) {
    if (!over) return InputKind::kClean;
    for (int k = 0; k < n; ++k)
        if (!std::isfinite(x[k * stride])) return InputKind::kNotFinite;
    return InputKind::kLoud;
}

}  // namespace detail

// Copies src[0..n) to dst and answers their kind; the clean case costs one
// comparison a sample beside the copy.
inline InputKind CopyClassify(const float* __restrict src, float* __restrict dst, int n, float limit) {
    int over[kLanes] = {};
    int i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        for (int j = 0; j < kLanes; ++j) {
            const float x = src[i + j];
            dst[i + j] = x;
            over[j] |= !(std::fabs(x) <= limit);  // a NaN is over too
        }
    }
    for (; i < n; ++i) {
        dst[i] = src[i];
        over[0] |= !(std::fabs(src[i]) <= limit);
    }
    int any = 0;
    for (int o : over) any |= o;
    return detail::KindOver(any != 0, src, n, 1);
}

// Splits n interleaved stereo frames into left and right and answers their
// kind, as CopyClassify.
inline InputKind SplitClassify(const float* __restrict src, float* __restrict left, float* __restrict right,
                               int n, float limit) {
    int over[kLanes] = {};
    int i = 0;
#if defined(__SSE2__)
    // Four frames at a time in registers.
    {
        const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128 most = _mm_set1_ps(limit);
        __m128 outside = _mm_setzero_ps();
        for (; i + 4 <= n; i += 4) {
            const __m128 a = _mm_loadu_ps(src + 2 * i), b = _mm_loadu_ps(src + 2 * i + 4);
            _mm_storeu_ps(left + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
            _mm_storeu_ps(right + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
            // Not within the limit: a NaN is not either.
            outside = _mm_or_ps(outside, _mm_cmpnle_ps(_mm_and_ps(a, magnitude), most));
            outside = _mm_or_ps(outside, _mm_cmpnle_ps(_mm_and_ps(b, magnitude), most));
        }
        over[0] = _mm_movemask_ps(outside) != 0;
    }
#endif
    for (; i + kLanes / 2 <= n; i += kLanes / 2) {
        for (int j = 0; j < kLanes / 2; ++j) {
            const float l = src[2 * (i + j)], r = src[2 * (i + j) + 1];
            left[i + j] = l;
            right[i + j] = r;
            over[2 * j] |= !(std::fabs(l) <= limit);
            over[2 * j + 1] |= !(std::fabs(r) <= limit);
        }
    }
    for (; i < n; ++i) {
        left[i] = src[2 * i];
        right[i] = src[2 * i + 1];
        over[0] |= !(std::fabs(src[2 * i]) <= limit);
        over[1] |= !(std::fabs(src[2 * i + 1]) <= limit);
    }
    int any = 0;
    for (int o : over) any |= o;
    return detail::KindOver(any != 0, src, 2 * n, 1);
}

// x clipped to [-limit, limit].
inline float Clip(float x, float limit) {
    const float low = x < -limit ? -limit : x;
    return low > limit ? limit : low;
}

// Clips x[0..n) to [-limit, limit] in place; for finite samples (Classify
// tells).
inline void ClipInPlace(float* x, int n, float limit) {
    for (int i = 0; i < n; ++i) x[i] = Clip(x[i], limit);
}

// dst[i] = src[i], with subnormals as zero. Answers false when a sample was
// not finite.
inline bool FlushFinite(const float* src, float* dst, int n) {
    float check[kLanes] = {};
    int i = 0;
#if defined(__SSE2__)
    // Four at a time in registers: GCC's own vector code of the loop below
    // spills its lanes.
    {
        const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128 smallest = _mm_set1_ps(FLT_MIN);
        __m128 sum = _mm_setzero_ps();
        for (; i + 4 <= n; i += 4) {
            const __m128 v = _mm_loadu_ps(src + i);
            sum = _mm_add_ps(sum, _mm_sub_ps(v, v));
            _mm_storeu_ps(dst + i, _mm_andnot_ps(_mm_cmplt_ps(_mm_and_ps(v, magnitude), smallest), v));
        }
        _mm_storeu_ps(check, sum);
    }
#endif
    for (; i + kLanes <= n; i += kLanes) {
        for (int j = 0; j < kLanes; ++j) {
            const float v = src[i + j];
            check[j] += v - v;
            const float a = v < 0.0f ? -v : v;
            dst[i + j] = a < FLT_MIN ? 0.0f : v;
        }
    }
    for (; i < n; ++i) {
        const float v = src[i];
        check[0] += v - v;
        const float a = v < 0.0f ? -v : v;
        dst[i] = a < FLT_MIN ? 0.0f : v;
    }
    float sum = 0.0f;
    for (float c : check) sum += c;
    return sum == 0.0f;
}

// The gains of a run of frames: frame j's is base + slope (first + j) for j
// under glide, then steady (for which 1 means untouched).
struct FrameGains {
    int glide = 0;
    float base = 1.0f, slope = 0.0f, first = 0.0f, steady = 1.0f;
};

// dst[2 i] = left[i] and dst[2 i + 1] = right[i], with subnormals as zero,
// times gains (the same float operations as ScaleByRamp and ScaleBy after
// it). Answers false when a sample was not finite.
inline bool FlushFiniteInterleaveScaled(const float* left, const float* right, float* dst, int n,
                                        const FrameGains& gains) {
    float check[kLanes] = {};
    int i = 0;
    auto gainOf = [&](int j) {
        return j < gains.glide ? gains.base + gains.slope * (gains.first + static_cast<float>(j))
                               : gains.steady;
    };
#if defined(__SSE2__)
    {
        const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128 smallest = _mm_set1_ps(FLT_MIN);
        const __m128 base = _mm_set1_ps(gains.base), slope = _mm_set1_ps(gains.slope);
        const __m128 steady = _mm_set1_ps(gains.steady), four = _mm_set1_ps(4.0f);
        // first + j for the four frames (whole numbers, so exactly as the
        // loop below makes them).
        __m128 frame = _mm_setr_ps(gains.first, gains.first + 1.0f, gains.first + 2.0f, gains.first + 3.0f);
        __m128 sum = _mm_setzero_ps();
        for (; i + 4 <= n; i += 4, frame = _mm_add_ps(frame, four)) {
            const __m128 l = _mm_loadu_ps(left + i), r = _mm_loadu_ps(right + i);
            sum = _mm_add_ps(sum, _mm_add_ps(_mm_sub_ps(l, l), _mm_sub_ps(r, r)));
            const __m128 g = i + 4 <= gains.glide ? _mm_add_ps(base, _mm_mul_ps(slope, frame))
                             : i >= gains.glide
                                 ? steady
                                 : _mm_setr_ps(gainOf(i), gainOf(i + 1), gainOf(i + 2), gainOf(i + 3));
            const __m128 fl =
                _mm_mul_ps(_mm_andnot_ps(_mm_cmplt_ps(_mm_and_ps(l, magnitude), smallest), l), g);
            const __m128 fr =
                _mm_mul_ps(_mm_andnot_ps(_mm_cmplt_ps(_mm_and_ps(r, magnitude), smallest), r), g);
            _mm_storeu_ps(dst + 2 * i, _mm_unpacklo_ps(fl, fr));
            _mm_storeu_ps(dst + 2 * i + 4, _mm_unpackhi_ps(fl, fr));
        }
        _mm_storeu_ps(check, sum);
    }
#endif
    for (; i < n; ++i) {
        const float l = left[i], r = right[i];
        check[0] += (l - l) + (r - r);
        const float al = l < 0.0f ? -l : l;
        const float ar = r < 0.0f ? -r : r;
        const float g = gainOf(i);
        dst[2 * i] = (al < FLT_MIN ? 0.0f : l) * g;
        dst[2 * i + 1] = (ar < FLT_MIN ? 0.0f : r) * g;
    }
    float sum = 0.0f;
    for (float c : check) sum += c;
    return sum == 0.0f;
}

// The largest |a[i] - b[i]| and the largest |a[i]| or |b[i]| over [0, n),
// raised into *difference and *peak; sample i of a channel is at i * stride.
inline void DifferenceAndPeak(const float* a, const float* b, int n, int stride, float* difference,
                              float* peak) {
    float d[kLanes] = {}, p[kLanes] = {};
    auto take = [&](int i, int j) {
        const float x = a[i * stride], y = b[i * stride];
        const float dx = x - y;
        const float ad = dx < 0.0f ? -dx : dx;
        const float ax = x < 0.0f ? -x : x;
        const float ay = y < 0.0f ? -y : y;
        const float m = ax > ay ? ax : ay;
        d[j] = ad > d[j] ? ad : d[j];
        p[j] = m > p[j] ? m : p[j];
    };
    int i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int j = 0; j < kLanes; ++j) take(i + j, j);
    for (; i < n; ++i) take(i, 0);
    for (int j = 0; j < kLanes; ++j) {
        *difference = d[j] > *difference ? d[j] : *difference;
        *peak = p[j] > *peak ? p[j] : *peak;
    }
}

// out, n frames of interleaved stereo, is x times gain (out may be x): four
// samples at a time in SSE registers (GCC keeps the portable loop scalar).
inline void ScaleByInto(const float* x, float* out, int n, float gain) {
    int i = 0;
#if defined(__SSE2__)
    const __m128 g = _mm_set1_ps(gain);
    for (; i + 4 <= 2 * n; i += 4) _mm_storeu_ps(out + i, _mm_mul_ps(_mm_loadu_ps(x + i), g));
#endif
    for (; i < 2 * n; ++i) out[i] = x[i] * gain;
}

// The same in place.
inline void ScaleBy(float* x, int n, float gain) {
    ScaleByInto(x, x, n, gain);
}

// out, n frames of interleaved stereo, is x times a gain that moves in a
// straight line: frame j's is base + slope (first + j), on both channels
// (out may be x). Two frames at a time in SSE registers (GCC keeps the
// portable loop scalar), with the same float operations as the loop, so that
// a frame's gain is the same wherever a call starts (first + j is exact up
// to 2^24).
inline void ScaleByRampInto(const float* x, float* out, int n, float base, float slope, float first) {
    int j = 0;
#if defined(__SSE2__)
    // The frame numbers count as whole numbers (a one-cycle add, where a
    // float sum carried from one step to the next would set the pace).
    const __m128 start = _mm_set1_ps(base), step = _mm_set1_ps(slope), from = _mm_set1_ps(first);
    const __m128i two = _mm_set1_epi32(2);
    __m128i frame = _mm_setr_epi32(0, 0, 1, 1);
    for (; j + 2 <= n; j += 2) {
        const __m128 g = _mm_add_ps(start, _mm_mul_ps(step, _mm_add_ps(from, _mm_cvtepi32_ps(frame))));
        _mm_storeu_ps(out + 2 * j, _mm_mul_ps(_mm_loadu_ps(x + 2 * j), g));
        frame = _mm_add_epi32(frame, two);
    }
#endif
    for (; j < n; ++j) {
        const float g = base + slope * (first + static_cast<float>(j));
        out[2 * j] = x[2 * j] * g;
        out[2 * j + 1] = x[2 * j + 1] * g;
    }
}

// The same in place.
inline void ScaleByRamp(float* x, int n, float base, float slope, float first) {
    ScaleByRampInto(x, x, n, base, slope, first);
}

}  // namespace kesta
