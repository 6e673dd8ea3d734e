#include "Quantizer.h"

#include <algorithm>
#include <cmath>

Quantizer::Quantizer(SampleDepth depth, bool dither, std::uint32_t seed)
    : bits_(depthBits(depth)), lossy_(depth == SampleDepth::None), dither_(dither && bits_ > 0), state_(seed | 1u) {}

// Triangular noise of +-1 step: the difference of two uniform values in
// [0, 1), the two halves of one step of a 32-bit xorshift generator.
float Quantizer::noise() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<float>(static_cast<int>(state_ & 0xFFFFu) - static_cast<int>(state_ >> 16)) *
           (1.0f / 65536.0f);
}

void Quantizer::toInt(const float* in, int* out, size_t n) {
    // One step of the written depth is 2^-(bits-1) of full scale; the value is
    // then shifted into the top bits of the int.
    const int shift = 32 - bits_;
    float peak = peak_;
    long clipped = 0;
    if (bits_ <= 16) {
        // In float, exactly: |x * scale| < 2^15 leaves 8 bits for the fraction.
        // floor(v) as the truncation of v + 2^16, which is positive (v held to
        // +-2^17 first; that also turns a NaN into a clipped sample).
        const float scale = std::ldexp(1.0f, bits_ - 1);
        const float top = scale - 1.0f, bottom = -scale;
        for (size_t k = 0; k < n; ++k) {
            const float x = in[k];
            peak = std::max(peak, std::fabs(x));
            float v = x * scale + 0.5f;
            if (dither_) v += noise();
            v = static_cast<float>(static_cast<int>(std::max(-131072.0f, std::min(v, 131072.0f)) + 65536.0f)) -
                65536.0f;
            if (!(v <= top && v >= bottom)) {
                ++clipped;
                v = v > top ? top : v < bottom ? bottom : 0.0f;  // NaN input: silence
            }
            out[k] = static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)) << shift);
        }
    } else {
        const double scale = std::ldexp(1.0, bits_ - 1);
        const double top = scale - 1.0, bottom = -scale;
        for (size_t k = 0; k < n; ++k) {
            const float x = in[k];
            peak = std::max(peak, std::fabs(x));
            double v = std::floor(static_cast<double>(x) * scale + 0.5);
            if (!(v <= top && v >= bottom)) {
                ++clipped;
                v = v > top ? top : v < bottom ? bottom : 0.0;
            }
            out[k] = static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)) << shift);
        }
    }
    peak_ = peak;
    clipped_ += clipped;
}

void Quantizer::toFloat(const float* in, float* out, size_t n) {
    float peak = peak_;
    long clipped = 0;
    for (size_t k = 0; k < n; ++k) {
        float x = in[k];
        peak = std::max(peak, std::fabs(x));
        if (lossy_ && std::fabs(x) > 1.0f) {
            ++clipped;
            x = x > 0 ? 1.0f : -1.0f;
        }
        out[k] = x;
    }
    peak_ = peak;
    clipped_ += clipped;
}
