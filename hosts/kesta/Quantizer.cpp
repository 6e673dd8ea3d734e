#include "Quantizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

Quantizer::Quantizer(SampleDepth depth, bool dither, std::uint32_t seed)
    : bits_(depthBits(depth)),
      lossy_(depth == SampleDepth::None),
      dither_(dither && bits_ > 0 && bits_ <= 16) {
    for (int l = 0; l < kLanes; ++l)
        lanes_[l] = (seed + 0x9E3779B9u * static_cast<std::uint32_t>(l + 1)) | 1u;
}

// Triangular noise of +-1 step for n <= kNoiseBlock samples: the difference
// of two uniform values in [0, 1), the two halves of one step of a 32-bit
// xorshift generator. Eight generators side by side, so that the loop runs
// on vectors.
void Quantizer::fillNoise(size_t n) {
    // The eight generators as one vector (GCC's and clang's vector
    // extensions), which the compiler keeps in registers across the loop.
    typedef std::uint32_t Lanes __attribute__((vector_size(4 * kLanes)));
    typedef std::int32_t Ints __attribute__((vector_size(4 * kLanes)));
    typedef float Floats __attribute__((vector_size(4 * kLanes)));
    Lanes x;
    std::memcpy(&x, lanes_, sizeof x);
    for (size_t k = 0; k < n; k += kLanes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const Ints difference = (Ints)(x & 0xFFFFu) - (Ints)(x >> 16);
        const Floats noise = __builtin_convertvector(difference, Floats) * (1.0f / 65536.0f);
        std::memcpy(noise_ + k, &noise, sizeof noise);
    }
    std::memcpy(lanes_, &x, sizeof x);
}

namespace {

// The bits of |x|, or 0 for a NaN. For other values the order of these
// integers is the order of the magnitudes, so a peak kept as the largest of
// them is the largest magnitude, and integer maxima run on vectors where
// floating-point ones would not.
inline std::int32_t magnitudeBits(float x) {
    std::int32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits &= 0x7FFFFFFF;
    return bits <= 0x7F800000 ? bits : 0;
}

inline float fromMagnitudeBits(std::int32_t bits) {
    float x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// Rounds x * scale + noise to integers in [-scale, scale - 1], counting what
// clips, and stores them times step (a sample in the top bits of its word);
// scale <= 2^15, so float holds every step and x * scale + 0.5 exactly.
// floor(v) is v truncated, less one where that went up (below zero); v is
// first held to +-2^17, which also turns a NaN into a clipped sample. (An
// offset to make v positive before truncating would cost its fraction the
// bits below 2^-7, and round values within that of a half step the wrong
// way.) Answers the bits of the largest |x|. Written without branches, so
// that it runs on vectors.
template <typename Word>
std::int32_t quantizeShort(const float* __restrict x, Word* __restrict out, size_t n,
                           const float* __restrict noise, float scale, float step, long& clipped) {
    const float top = scale - 1.0f, bottom = -scale;
    std::int32_t peak = 0;
    int clips = 0;
    for (size_t k = 0; k < n; ++k) {
        const std::int32_t a = magnitudeBits(x[k]);
        peak = a > peak ? a : peak;
        float v = x[k] * scale + 0.5f + noise[k];
        v = v < 131072.0f ? v : 131072.0f;
        v = v > -131072.0f ? v : -131072.0f;
        const float t = static_cast<float>(static_cast<int>(v));
        v = t > v ? t - 1.0f : t;
        clips += (v >= top) | (v <= bottom);
        v = v < top ? v : top;
        v = v > bottom ? v : bottom;
        out[k] = static_cast<Word>(static_cast<int>(v * step));
    }
    clipped += clips;
    return peak;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define KESTA_QUANTIZE_AVX2 1
// One step of the eight xorshift generators of Quantizer::fillNoise, and the
// triangular noise it makes, as that function computes it.
__attribute__((target("avx2"))) inline __m256 nextNoise(__m256i& x) {
    x = _mm256_xor_si256(x, _mm256_slli_epi32(x, 13));
    x = _mm256_xor_si256(x, _mm256_srli_epi32(x, 17));
    x = _mm256_xor_si256(x, _mm256_slli_epi32(x, 5));
    const __m256i difference =
        _mm256_sub_epi32(_mm256_and_si256(x, _mm256_set1_epi32(0xFFFF)), _mm256_srli_epi32(x, 16));
    return _mm256_mul_ps(_mm256_cvtepi32_ps(difference), _mm256_set1_ps(1.0f / 65536.0f));
}

// quantizeShort into shorts with the noise made as it goes (from the eight
// generators in lanes, which it moves on as fillNoise does: one step for
// every eight samples or part of eight), or none without Dither. Each
// lane does the scalar loop's operations in its order, so the bits are the
// same; the floor is taken in one rounding, which for the held values is
// the scalar loop's truncation less one where that went up. Sixteen: the
// step is one (16-bit words), which leaves out work.
template <bool Dither, bool Sixteen>
__attribute__((target("avx2"))) std::int32_t quantizeShortAvx2(const float* x, short* out, size_t n,
                                                               std::uint32_t* lanes, float scale, float step,
                                                               long& clipped) {
    const __m256 top = _mm256_set1_ps(scale - 1.0f), bottom = _mm256_set1_ps(-scale);
    const __m256 scales = _mm256_set1_ps(scale), steps = _mm256_set1_ps(step), half = _mm256_set1_ps(0.5f);
    const __m256 high = _mm256_set1_ps(131072.0f), low = _mm256_set1_ps(-131072.0f);
    const __m256i magnitude = _mm256_set1_epi32(0x7FFFFFFF), infinity = _mm256_set1_epi32(0x7F800000);
    // Sixteen (a step of one): a word at or beyond full scale is above topWord or below bottomWord.
    const __m256i topWord = _mm256_set1_epi32(static_cast<int>(scale) - 2);
    const __m256i bottomWord = _mm256_set1_epi32(1 - static_cast<int>(scale));
    __m256i peaks = _mm256_setzero_si256(), clips = _mm256_setzero_si256();
    __m256i state = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
    size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m256 xs = _mm256_loadu_ps(x + k);
        // magnitudeBits: |x| as bits, or 0 for a NaN (bits above infinity's).
        __m256i a = _mm256_and_si256(_mm256_castps_si256(xs), magnitude);
        a = _mm256_andnot_si256(_mm256_cmpgt_epi32(a, infinity), a);
        peaks = _mm256_max_epi32(peaks, a);
        __m256 v = _mm256_add_ps(_mm256_mul_ps(xs, scales), half);
        if (Dither) v = _mm256_add_ps(v, nextNoise(state));
        v = _mm256_min_ps(v, high);  // v < high ? v : high
        __m256i words;
        if (Sixteen) {
            // A step of one: the floor converted is the word itself, which the
            // saturating pack holds to the range as the scalar loop's holds
            // do. The lower hold is left out: what lies below it converts to
            // the smallest integer (as -infinity does), which is still below
            // the range, and packs to its bottom.
            words = _mm256_cvttps_epi32(_mm256_round_ps(v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
            const __m256i beyond =
                _mm256_or_si256(_mm256_cmpgt_epi32(words, topWord), _mm256_cmpgt_epi32(bottomWord, words));
            clips = _mm256_sub_epi32(clips, beyond);
        } else {
            v = _mm256_max_ps(v, low);  // v > low ? v : low
            v = _mm256_round_ps(v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
            const __m256 beyond =
                _mm256_or_ps(_mm256_cmp_ps(v, top, _CMP_GE_OQ), _mm256_cmp_ps(v, bottom, _CMP_LE_OQ));
            clips = _mm256_sub_epi32(clips, _mm256_castps_si256(beyond));
            v = _mm256_min_ps(v, top);     // v < top ? v : top
            v = _mm256_max_ps(v, bottom);  // v > bottom ? v : bottom
            // In range for a short, so the saturating pack truncates nothing.
            words = _mm256_cvttps_epi32(_mm256_mul_ps(v, steps));
        }
        const __m128i packed =
            _mm_packs_epi32(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), packed);
    }
    std::int32_t lane[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lane), peaks);
    std::int32_t peak = 0;
    for (std::int32_t l : lane) peak = l > peak ? l : peak;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lane), clips);
    for (std::int32_t l : lane) clipped += l;
    // The last n % 8 samples take the scalar loop, with a whole step of noise.
    float noise[8] = {};
    if (Dither && k < n) _mm256_storeu_ps(noise, nextNoise(state));
    if (Dither) _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), state);
    const std::int32_t rest = quantizeShort(x + k, out + k, n - k, noise, scale, step, clipped);
    return rest > peak ? rest : peak;
}

bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

}  // namespace

template <typename Word>
void Quantizer::quantizeSmall(const float* in, Word* out, size_t n, int wordBits) {
    // One step of the written depth is 2^-(bits-1) of full scale; the value is
    // then moved into the top bits of the word.
    const float scale = std::ldexp(1.0f, bits_ - 1);
    const float step = std::ldexp(1.0f, wordBits - bits_);
    std::int32_t peak = 0;
    long clipped = 0;
#if defined(KESTA_QUANTIZE_AVX2)
    if constexpr (std::is_same<Word, short>::value) {
        if (HaveAvx2()) {
            // The noise is made in the same loop, and never stored.
            auto quantize = step != 1.0f
                                ? (dither_ ? quantizeShortAvx2<true, false> : quantizeShortAvx2<false, false>)
                                : (dither_ ? quantizeShortAvx2<true, true> : quantizeShortAvx2<false, true>);
            peak = quantize(in, out, n, lanes_, scale, step, clipped);
            n = 0;
        }
    }
#endif
    for (size_t start = 0; start < n; start += kNoiseBlock) {
        const size_t count = std::min(kNoiseBlock, n - start);
        if (dither_) fillNoise(count);
        peak = std::max(peak, quantizeShort(in + start, out + start, count, dither_ ? noise_ : zeros_, scale,
                                            step, clipped));
    }
    peak_ = std::max(peak_, fromMagnitudeBits(peak));
    clipped_ += clipped;
}

void Quantizer::toShort(const float* in, short* out, size_t n) {
    quantizeSmall(in, out, n, 16);
}

void Quantizer::toInt(const float* in, int* out, size_t n) {
    if (bits_ <= 16) return quantizeSmall(in, out, n, 32);
    const int shift = 32 - bits_;
    float peak = peak_;
    long clipped = 0;
    const double scale = std::ldexp(1.0, bits_ - 1);
    const double top = scale - 1.0, bottom = -scale;
    for (size_t k = 0; k < n; ++k) {
        const float x = in[k];
        peak = std::max(peak, std::fabs(x));
        double v = std::floor(static_cast<double>(x) * scale + 0.5);
        if (!(v < top && v > bottom)) {
            ++clipped;
            v = v >= top ? top : v <= bottom ? bottom : 0.0;
        }
        out[k] = static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)) << shift);
    }
    peak_ = peak;
    clipped_ += clipped;
}

void Quantizer::toFloat(const float* in, float* out, size_t n) {
    std::int32_t peak = 0;
    int clips = 0;
    if (lossy_) {
        // Held to +-1.0; a NaN passes as it is, as it always has.
        for (size_t k = 0; k < n; ++k) {
            const float x = in[k];
            const std::int32_t a = magnitudeBits(x);
            peak = a > peak ? a : peak;
            const float held = x > 1.0f ? 1.0f : x < -1.0f ? -1.0f : x;
            clips += (x >= 1.0f) | (x <= -1.0f);
            out[k] = held;
        }
    } else {
        for (size_t k = 0; k < n; ++k) {
            const std::int32_t a = magnitudeBits(in[k]);
            peak = a > peak ? a : peak;
        }
        if (out != in) std::memcpy(out, in, n * sizeof *out);
    }
    peak_ = std::max(peak_, fromMagnitudeBits(peak));
    clipped_ += clips;
}
