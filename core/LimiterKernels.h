// The limiter's inner loops (Limiter.h): a block's true peak, looked for
// beside each channel's largest sample, and the gain applied as frames are
// played, with AVX2 where the processor has it. Every path does the same
// float operations in the same order, so the output is the same bits on any
// machine.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "Limiter.h"

namespace kesta {
namespace limiter_kernels {

// What the short interpolation may miss of a point between samples: 0.05 dB.
inline constexpr float kInterpolationError = 1.0057731f;

// Whether a block whose largest sample is peak needs no true peak: when it
// is under floor, or when a held reduction (by envelope) takes it there.
struct Skip {
    float floor;
    bool held;
    float envelope;
    bool operator()(float peak) const { return peak <= floor || (held && envelope * peak <= floor); }
};

// The first of the 2 kLead frames that the points beside the sample at s
// (a channel's largest) are interpolated from: the points towards the
// larger of its neighbours.
inline const float* FirstTap(const float* s) {
    return std::fabs(s[-2]) > std::fabs(s[2]) ? s - 2 * Limiter::kLead : s - 2 * (Limiter::kLead - 1);
}

#if defined(__SSE2__)

// The largest magnitude of the three points between first[c][2 (kLead - 1)]
// and the frame after it, from the 2 kLead frames at first[c][0],
// first[c][2], ..., for both channels c: taps[k] holds tap k of the three
// phases (and a zero). The channels' sums run side by side, so that
// neither waits for the other's additions.
inline float Between(const float* const first[2], const float (*taps)[4]) {
    __m128 l = _mm_setzero_ps(), r = _mm_setzero_ps();
    for (int k = 0; k < 2 * Limiter::kLead; ++k) {
        const __m128 tap = _mm_loadu_ps(taps[k]);
        l = _mm_add_ps(l, _mm_mul_ps(tap, _mm_set1_ps(first[0][2 * k])));
        r = _mm_add_ps(r, _mm_mul_ps(tap, _mm_set1_ps(first[1][2 * k])));
    }
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    float lane[4];
    _mm_storeu_ps(lane, _mm_max_ps(_mm_and_ps(l, magnitude), _mm_and_ps(r, magnitude)));
    return std::max(std::max(lane[0], lane[1]), lane[2]);
}

// first + j for frame j of a block, twice (for its two samples): whole
// numbers, so exactly the float sum first + j.
struct FrameNumbers {
    float twice[2 * 64];
    constexpr FrameNumbers() : twice() {
        for (int i = 0; i < 2 * 64; ++i) twice[i] = static_cast<float>(i / 2);
    }
};
inline constexpr FrameNumbers kFrames;

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KESTA_LIMITER_AVX2 1

// With AVX2 where the processor has it, and the same float operations lane
// by lane, so the same results (no fused multiply-add): the second half of
// TruePeak below, and GainInto and RampInto.

// For a block of N frames at x whose channels' largest samples are of
// magnitude left and right, in the quarters marked in quarters (as
// TruePeak finds them): the largest magnitude of the points between samples
// beside them, as Between.
template <int N>
inline __attribute__((target("avx2"))) float BetweenAvx2(const float* x, unsigned quarters, float left,
                                                         float right, const float (*taps)[4]) {
    constexpr int q = N / 4;
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const float* first[2];
    for (int c = 0; c < 2; ++c) {
        const int k = __builtin_ctz(quarters & (c ? 0xAAAAu : 0x5555u)) >> 2;
        const float* y = x + 2 * k * q;
        const __m256 want = _mm256_set1_ps(c ? right : left);
        // The hits of the quarter's samples in a word, without a branch
        // (and a bit past them that stands for none, which cannot be).
        unsigned long long hits = 1ull << (2 * q + c);
        for (int i = 0; i < 2 * q; i += 8) {
            const __m256 hit =
                _mm256_cmp_ps(_mm256_and_ps(_mm256_loadu_ps(y + i), magnitude), want, _CMP_EQ_OQ);
            hits |= static_cast<unsigned long long>(static_cast<unsigned>(_mm256_movemask_ps(hit))) << i;
        }
        hits &= c ? 0xAAAAAAAAAAAAAAAAull : 0x5555555555555555ull;
        first[c] = FirstTap(y + __builtin_ctzll(hits));
    }
    // Between, both channels in one register: left's phases in the low
    // half, right's in the high.
    __m256 sum = _mm256_setzero_ps();
    for (int k = 0; k < 2 * Limiter::kLead; ++k) {
        const __m256 tap = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(taps[k]));
        const __m256 sample = _mm256_blend_ps(_mm256_broadcast_ss(first[0] + 2 * k),
                                              _mm256_broadcast_ss(first[1] + 2 * k), 0xF0);
        const __m256 term = _mm256_mul_ps(tap, sample);
        // (From the first term: 0 + it is it, but for the sign of a zero.)
        sum = k == 0 ? term : _mm256_add_ps(sum, term);
    }
    sum = _mm256_and_ps(sum, magnitude);
    float lane[4];
    _mm_storeu_ps(lane, _mm_max_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1)));
    return std::max(std::max(lane[0], lane[1]), lane[2]);
}

inline __attribute__((target("avx2"))) void GainIntoAvx2(const float* x, float* out, int n, float gain) {
    const __m256 g = _mm256_set1_ps(gain);
    int i = 0;
    for (; i + 8 <= 2 * n; i += 8) _mm256_storeu_ps(out + i, _mm256_mul_ps(_mm256_loadu_ps(x + i), g));
    for (; i < 2 * n; ++i) out[i] = x[i] * gain;
}

inline __attribute__((target("avx2"))) void RampIntoAvx2(const float* x, float* out, int n, float base,
                                                         float slope, int first) {
    const float* number = kFrames.twice + 2 * first;
    const __m256 start = _mm256_set1_ps(base), step = _mm256_set1_ps(slope);
    int i = 0;
    for (; i + 8 <= 2 * n; i += 8) {
        const __m256 g = _mm256_add_ps(start, _mm256_mul_ps(step, _mm256_loadu_ps(number + i)));
        _mm256_storeu_ps(out + i, _mm256_mul_ps(_mm256_loadu_ps(x + i), g));
    }
    for (; i < 2 * n; ++i) out[i] = x[i] * (base + slope * number[i]);
}

#endif

// The largest sample or point between samples of a block of N frames at x
// (N 32 or 64, with kLead frames on each side; interleaved frames, which
// hold no NaN: the processor's output is finite), or its largest sample
// where skip says. The largest magnitudes of the left and right samples are
// taken in each quarter of the block too, so that a sample of that
// magnitude is looked for in one quarter only; four frames at a time in two
// registers (GCC keeps a portable loop scalar).
template <int N>
inline float TruePeak(const float* x, const Skip& skip, const float (*taps)[4], bool avx2) {
    constexpr int q = N / 4;
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    // A quarter's in lanes: left, right, left, right.
    __m128 quarter[4];
    __m128 all = _mm_setzero_ps();
    for (int k = 0; k < 4; ++k) {
        const float* y = x + 2 * k * q;
        __m128 a = _mm_setzero_ps(), b = _mm_setzero_ps();
        for (int i = 0; i < q; i += 4) {
            a = _mm_max_ps(a, _mm_and_ps(_mm_loadu_ps(y + 2 * i), magnitude));
            b = _mm_max_ps(b, _mm_and_ps(_mm_loadu_ps(y + 2 * i + 4), magnitude));
        }
        quarter[k] = _mm_max_ps(a, b);
        all = _mm_max_ps(all, quarter[k]);
    }
    // Lanes: the block's left and right, twice.
    const __m128 both = _mm_max_ps(_mm_shuffle_ps(all, all, _MM_SHUFFLE(1, 0, 3, 2)), all);
    const float left = _mm_cvtss_f32(both), right = _mm_cvtss_f32(_mm_shuffle_ps(both, both, 1));
    const float peak = std::max(left, right);
    if (skip(peak)) return peak;
    // The quarters that hold a channel's largest sample, without a branch:
    // bit 4 k + lane (the last quarter counts for both, for where it is
    // in none of the others).
    unsigned quarters = 0xF000u;
    for (int k = 0; k < 3; ++k)
        quarters |= static_cast<unsigned>(_mm_movemask_ps(_mm_cmpeq_ps(quarter[k], both))) << (4 * k);
#if defined(KESTA_LIMITER_AVX2)
    if (avx2) return std::max(peak, kInterpolationError * BetweenAvx2<N>(x, quarters, left, right, taps));
#endif
    (void)avx2;
    const float* first[2];
    for (int c = 0; c < 2; ++c) {
        const int k = __builtin_ctz(quarters & (c ? 0xAAAAu : 0x5555u)) >> 2;
        const float* y = x + 2 * k * q;
        // Eight frames at a time: the hits of their 16 samples go into a
        // word (bit j for sample j), and the lowest of this channel's is
        // where it first is (or a frame past the quarter, which cannot be).
        const __m128 want = _mm_set1_ps(c ? right : left);
        auto hitsOf = [&](const float* p) {
            return _mm_castps_si128(_mm_cmpeq_ps(_mm_and_ps(_mm_loadu_ps(p), magnitude), want));
        };
        int i = 0;
        unsigned hits = 0;
        for (; i < 2 * q; i += 16) {
            const __m128i packed = _mm_packs_epi16(_mm_packs_epi32(hitsOf(y + i), hitsOf(y + i + 4)),
                                                   _mm_packs_epi32(hitsOf(y + i + 8), hitsOf(y + i + 12)));
            hits = static_cast<unsigned>(_mm_movemask_epi8(packed)) & (c ? 0xAAAAu : 0x5555u);
            if (hits != 0) break;
        }
        first[c] = FirstTap(y + (hits != 0 ? i + __builtin_ctz(hits) : 2 * q + c));
    }
    return std::max(peak, kInterpolationError * Between(first, taps));
}

// out, n frames of interleaved stereo, is x times gain: four samples at a
// time.
inline void GainInto(const float* x, float* out, int n, float gain) {
    const __m128 g = _mm_set1_ps(gain);
    int i = 0;
    for (; i + 4 <= 2 * n; i += 4) _mm_storeu_ps(out + i, _mm_mul_ps(_mm_loadu_ps(x + i), g));
    for (; i < 2 * n; ++i) out[i] = x[i] * gain;
}

// out, n frames of interleaved stereo within a block from its frame first
// on, is x times a gain that moves in a straight line: frame j's is base +
// slope (first + j), on both channels. Two frames at a time.
inline void RampInto(const float* x, float* out, int n, float base, float slope, int first) {
    const float* number = kFrames.twice + 2 * first;
    const __m128 start = _mm_set1_ps(base), step = _mm_set1_ps(slope);
    int i = 0;
    for (; i + 4 <= 2 * n; i += 4) {
        const __m128 g = _mm_add_ps(start, _mm_mul_ps(step, _mm_loadu_ps(number + i)));
        _mm_storeu_ps(out + i, _mm_mul_ps(_mm_loadu_ps(x + i), g));
    }
    for (; i < 2 * n; ++i) out[i] = x[i] * (base + slope * number[i]);
}

#else

// The largest magnitudes of a block's left and right samples (interleaved
// frames, which hold no NaN: the processor's output is finite), of the
// whole block and of each quarter of it, so that a sample of that
// magnitude is looked for in one quarter only. A quarter's are in lanes:
// left, right, left, right.
struct BlockPeaks {
    float all[2];
    float quarter[4][4];
};

// The quarter of a block (as PeaksOf saw it) where channel c's largest
// sample first is, without a branch: the first quarter whose lanes hold
// it, or the last.
inline int QuarterOf(const BlockPeaks& peaks, int c) {
    unsigned hits = 8u;
    for (int k = 0; k < 3; ++k)
        hits |= static_cast<unsigned>(std::max(peaks.quarter[k][c], peaks.quarter[k][c + 2]) == peaks.all[c])
                << k;
    return __builtin_ctz(hits);
}

// Where a channel's sample of magnitude peak first is in a quarter of q
// frames at y, as the index of the sample (2 frame + c) from y.
inline int FirstIn(const float* y, int q, int c, float peak) {
    int i = 0;
    while (i < q - 1 && std::fabs(y[2 * i + c]) != peak) ++i;
    return 2 * i + c;
}

template <int N>
inline void PeaksOf(const float* x, BlockPeaks* peaks) {
    constexpr int q = N / 4;
    peaks->all[0] = peaks->all[1] = 0.0f;
    for (int k = 0; k < 4; ++k) {
        float* most = peaks->quarter[k];
        most[0] = most[1] = most[2] = most[3] = 0.0f;
        for (int i = k * q; i < (k + 1) * q; ++i)
            for (int c = 0; c < 2; ++c) most[c] = std::max(most[c], std::fabs(x[2 * i + c]));
        for (int c = 0; c < 2; ++c) peaks->all[c] = std::max(peaks->all[c], most[c]);
    }
}

template <int N>
inline void Find(const float* x, const BlockPeaks& peaks, int* top) {
    constexpr int q = N / 4;
    for (int c = 0; c < 2; ++c) {
        const int k = QuarterOf(peaks, c);
        top[c] = 2 * k * q + FirstIn(x + 2 * k * q, q, c, peaks.all[c]);
    }
}

inline float Between(const float* const first[2], const float (*taps)[4]) {
    float most = 0.0f;
    for (int c = 0; c < 2; ++c)
        for (int p = 0; p < 3; ++p) {
            float y = 0.0f;
            for (int k = 0; k < 2 * Limiter::kLead; ++k) y += taps[k][p] * first[c][2 * k];
            most = std::max(most, std::fabs(y));
        }
    return most;
}

// The largest sample or point between samples of a block of N frames at x
// (and kLead frames on each side), or its largest sample where skip says.
template <int N>
inline float TruePeak(const float* x, const Skip& skip, const float (*taps)[4], bool) {
    BlockPeaks peaks;
    PeaksOf<N>(x, &peaks);
    const float peak = std::max(peaks.all[0], peaks.all[1]);
    if (skip(peak)) return peak;
    int top[2];
    Find<N>(x, peaks, top);
    const float* first[2];
    for (int c = 0; c < 2; ++c) first[c] = FirstTap(x + top[c]);
    return std::max(peak, kInterpolationError * Between(first, taps));
}

inline void GainInto(const float* x, float* out, int n, float gain) {
    for (int i = 0; i < 2 * n; ++i) out[i] = x[i] * gain;
}

inline void RampInto(const float* x, float* out, int n, float base, float slope, int first) {
    for (int j = 0; j < n; ++j) {
        const float g = base + slope * static_cast<float>(first + j);
        out[2 * j] = x[2 * j] * g;
        out[2 * j + 1] = x[2 * j + 1] * g;
    }
}

#endif

// The gain of a block, with AVX2 where avx2 says the processor has it.
inline void GainInto(bool avx2, const float* x, float* out, int n, float gain) {
#if defined(KESTA_LIMITER_AVX2)
    if (avx2) return GainIntoAvx2(x, out, n, gain);
#endif
    (void)avx2;
    GainInto(x, out, n, gain);
}

inline void RampInto(bool avx2, const float* x, float* out, int n, float base, float slope, int first) {
#if defined(KESTA_LIMITER_AVX2)
    if (avx2) return RampIntoAvx2(x, out, n, base, slope, first);
#endif
    (void)avx2;
    RampInto(x, out, n, base, slope, first);
}

inline bool HasAvx2() {
#if defined(KESTA_LIMITER_AVX2)
    __builtin_cpu_init();  // (for a prepare before main)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace limiter_kernels
}  // namespace kesta
