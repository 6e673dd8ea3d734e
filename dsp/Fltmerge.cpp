// FloatLibrary's clip-counting stores: mono float blocks into the caller's
// 8-bit, 16-bit or float samples, alone (Save) or as a stereo pair (Merge).
//
// Float to integer here truncates toward zero (x * 32768, no rounding offset):
//   16-bit: v = trunc(x * 32768), saturated to -32768 .. 32767; a sample that
//           saturates counts as one clip.
//   8-bit:  v = trunc(x * 32768) + 32896 (32768 makes it unsigned, 128 rounds
//           the shift), then 255 above 65535, 0 below 0, else v >> 8. Not counted.
// The products are clamped before the conversion, which gives the same sample
// for every finite value the integer would hold and keeps out-of-range values
// and infinities on their own side instead of overflowing the int. NaN stores
// as negative full scale and counts as a clip.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "MathLib.h"

namespace {

const float kFullScale = 32768.0f;

// x * 32768 clamped to the 16-bit range, NaN to its bottom.
inline float scaled16(float x) {
    float v = x * kFullScale;
    v = v > -32768.0f ? v : -32768.0f;
    return v < 32767.0f ? v : 32767.0f;
}

// Whether trunc(x * 32768) lies outside -32768 .. 32767.
inline bool clips16(float x) {
    const float v = x * kFullScale;
    return (v >= 32768.0f) | !(v > -32769.0f);
}

inline short to16(float x) {
    return static_cast<short>(static_cast<int>(scaled16(x)));
}

// Clamping to the 16-bit range first does not change the 8-bit result: every
// product below -32768 already gives 0, and every one from 32640 up gives 255.
inline unsigned char to8(float x) {
    const int v = static_cast<int>(scaled16(x)) + 32896;
    return static_cast<unsigned char>((v > 65535 ? 65535 : v) >> 8);
}

// Left and right into interleaved 16-bit frames, the clips of each side
// added to its counter: to16 and clips16 four frames at a time. maxps and
// minps answer their second operand for NaN, as the clamps above do, and
// the clamped values are exact integers in range, so the saturating pack
// changes nothing.
void merge16(short* out, const float* left, const float* right, Samples n, unsigned int& leftClips,
             unsigned int& rightClips) {
    Samples i = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(kFullScale), bottom = _mm_set1_ps(-32768.0f),
                 top = _mm_set1_ps(32767.0f);
    const __m128 over = _mm_set1_ps(32768.0f), under = _mm_set1_ps(-32769.0f);
    __m128i countLeft = _mm_setzero_si128(), countRight = _mm_setzero_si128();
    for (; i + 4 <= n; i += 4) {
        const __m128 l = _mm_mul_ps(_mm_loadu_ps(left + i), scale);
        const __m128 r = _mm_mul_ps(_mm_loadu_ps(right + i), scale);
        const __m128i li = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(l, bottom), top));
        const __m128i ri = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(r, bottom), top));
        const __m128i frames = _mm_packs_epi32(_mm_unpacklo_epi32(li, ri), _mm_unpackhi_epi32(li, ri));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), frames);
        // A lane that clips is all ones, -1 as an integer.
        countLeft = _mm_sub_epi32(
            countLeft, _mm_castps_si128(_mm_or_ps(_mm_cmpge_ps(l, over), _mm_cmpngt_ps(l, under))));
        countRight = _mm_sub_epi32(
            countRight, _mm_castps_si128(_mm_or_ps(_mm_cmpge_ps(r, over), _mm_cmpngt_ps(r, under))));
    }
    alignas(16) unsigned int lanes[2][4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), countLeft);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), countRight);
    leftClips += lanes[0][0] + lanes[0][1] + lanes[0][2] + lanes[0][3];
    rightClips += lanes[1][0] + lanes[1][1] + lanes[1][2] + lanes[1][3];
#endif
    for (; i < n; ++i) {
        out[2 * i] = to16(left[i]);
        out[2 * i + 1] = to16(right[i]);
        leftClips += clips16(left[i]);
        rightClips += clips16(right[i]);
    }
}

}  // namespace

void FloatLibrary::Save(const Buffer& dst, const Buffer& src, Samples n, Samples* clips) {
    if (n <= 0 || src.type_ != kMonoFloat) return;
    const float* in = src.floats();
    switch (dst.type_) {
        case kMono8: {
            unsigned char* out = dst.bytes();
            for (Samples i = 0; i < n; ++i) out[i] = to8(in[i]);
            break;
        }
        case kMono16: {
            short* out = dst.shorts();
            Samples count = 0;
            for (Samples i = 0; i < n; ++i) {
                out[i] = to16(in[i]);
                count += clips16(in[i]);
            }
            if (clips) *clips = count;
            break;
        }
        case kMonoFloat:
            std::memmove(dst.data_, in, static_cast<size_t>(n) * sizeof(float));
            break;
        default:
            src.copyTo(dst, n);
            break;
    }
}

// Stereo 16-bit adds each channel's clips to clips[0] (left, a) and clips[1]
// (right, b), so a caller can accumulate over blocks.
void FloatLibrary::Merge(const Buffer& dst, const Buffer& a, const Buffer& b, Samples n,
                         unsigned int* clips) {
    if (n <= 0) return;
    const bool floatPair = a.type_ == kMonoFloat && b.type_ == kMonoFloat;
    if (!floatPair || dst.type_ < kStereo8 || dst.type_ > kStereoFloat) {
        merge(dst, a, b, n);
        return;
    }
    const float* left = a.floats();
    const float* right = b.floats();
    switch (dst.type_) {
        case kStereo8: {
            Stereo<unsigned char>* out = static_cast<Stereo<unsigned char>*>(dst.data_);
            for (Samples i = 0; i < n; ++i) {
                out[i].c[0] = to8(left[i]);
                out[i].c[1] = to8(right[i]);
            }
            break;
        }
        case kStereo16: {
            unsigned int leftClips = 0, rightClips = 0;
            merge16(static_cast<short*>(dst.data_), left, right, n, leftClips, rightClips);
            if (clips) {
                clips[0] += leftClips;
                clips[1] += rightClips;
            }
            break;
        }
        default: {
            Stereo<float>* out = static_cast<Stereo<float>*>(dst.data_);
            for (Samples i = 0; i < n; ++i) {
                out[i].c[0] = left[i];
                out[i].c[1] = right[i];
            }
            break;
        }
    }
}
