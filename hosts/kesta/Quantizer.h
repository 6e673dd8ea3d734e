// Float samples (1.0 full scale) to the integer samples of a file, with
// optional TPDF dither, counting what clips.
#pragma once

#include <cstddef>
#include <cstdint>

#include "AudioFile.h"

class Quantizer {
  public:
    // depth: the written depth. Integer depths are rounded to the nearest
    // step, 16 and 8 bits after triangular dither of +-1 step when dither is
    // set; float and double pass unchanged; None (a lossy format) is held to
    // +-1.0.
    Quantizer(SampleDepth depth, bool dither, std::uint32_t seed = 0x2545F491u);

    // n samples of in to out, a b-bit sample in the top b bits of an int.
    void toInt(const float* in, int* out, size_t n);
    // The same for depths of 16 bits and less, in the top bits of a short.
    void toShort(const float* in, short* out, size_t n);
    // n samples of in to out for float, double and lossy depths.
    void toFloat(const float* in, float* out, size_t n);

    bool integer() const { return bits_ > 0; }
    // Samples written at full scale (the largest or smallest value of the
    // depth), having gone beyond it or landed on it: a file read back cannot
    // tell the two apart, so both count.
    long clipped() const { return clipped_; }
    float peak() const { return peak_; }  // largest magnitude handed in

  private:
    static constexpr int kLanes = 8;
    static constexpr size_t kNoiseBlock = 512;  // a multiple of kLanes
    void fillNoise(size_t n);
    template <typename Word>
    void quantizeSmall(const float* in, Word* out, size_t n, int wordBits);

    int bits_;
    bool lossy_;
    bool dither_;
    std::uint32_t lanes_[kLanes];
    float noise_[kNoiseBlock];
    float zeros_[kNoiseBlock] = {};
    long clipped_ = 0;
    float peak_ = 0.0f;
};
