// Music mode of the float core: one mono signal into a wide stereo image that
// stays centred and mono-compatible.
//
// Two chains of first-order all-pass sections, A and B, whose phases differ
// by 90 degrees (within 0.2 from 30 Hz up) over the audio band, make the image:
//   left  = A(m) + g B(s),   right = A(m) - g B(s),
// with m = s = x when flat. With Subtone, s is x through a fourth-order
// Linkwitz-Riley high-pass at kSubtoneHz and m is x through the all-pass
// that the crossover's two halves add up to, so that the bass stays in the
// middle and A(m) and B(s) stay in quadrature at every frequency.
//
// Since the middle and the side are in quadrature, the two outputs have the
// same spectrum (the image is centred, band by band), and (left + right) / 2
// is A(m): the input, all-passed (the mono sum keeps the input's spectrum).
// The side's gain g sets the width: the correlation of left and right is
// (1 - g^2) / (1 + g^2) where the side is not filtered away.
//
// The output has no delay in whole frames (the all-passes lag only in
// phase). Nothing here allocates.
#pragma once

namespace kesta {

class MusicImage {
  public:
    // The side's gain: about -0.38 correlation above the Subtone corner.
    static constexpr double kSideGain = 1.5;
    // The Subtone corner in Hz: the mono-to-3D engine's own.
    static constexpr double kSubtoneHz = 125.0;
    static constexpr int kSections = 7;  // per chain

    // For a stream of rate Hz, with Subtone on or not. Starts silent.
    void prepare(unsigned rate, bool subtone);
    // Silences every filter; the coefficients stay.
    void reset();
    // The frame at which an impulse's middle A(m) peaks: the delay to line
    // the image up with other paths by.
    int delay() const { return delay_; }
    // n frames of mono into left[i * stride] and right[i * stride] (stride 1
    // for separate channels, 2 for interleaved with right = left + 1).
    void process(const float* mono, float* left, float* right, int stride, int n);

  private:
    // The two chains side by side: lane 0 the middle (A), lane 1 the side
    // (B), so that one pass of double pairs runs both.
    struct Lanes {
        double v[2];
    };
    // A biquad on each lane, transposed direct form II:
    // y = c0 x + s1; s1 = c1 x - d1 y + s2; s2 = c2 x - d2 y.
    struct Biquad {
        Lanes c0, c1, c2, d1, d2;
        Lanes s1, s2;
    };

    bool subtone_ = true;
    int delay_ = 0;
    // With Subtone: the middle's all-pass and the side's first high-pass,
    // then nothing and the side's second high-pass.
    Biquad front_[2] = {};
    // First-order all-passes (c + z^-1) / (1 + c z^-1), and their last input
    // and output.
    Lanes c_[kSections] = {}, in_[kSections] = {}, out_[kSections] = {};
};

}  // namespace kesta
