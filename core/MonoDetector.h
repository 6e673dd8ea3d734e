// Tells stereo material whose two channels carry the same signal (a mono
// recording stored as stereo) from real stereo.
//
// The stream is measured in hops of a fixed number of frames; each finished
// hop is classed as
//   equal    the channels differ by at most half a 16-bit step in every frame,
//   different they differ by more than two 16-bit steps somewhere,
//   neither  in between, or too quiet to tell (both channels below -78 dBFS).
// The detector turns to mono after half a second of equal hops with no
// different hop among them (hops of neither kind neither count nor break the
// run), and back to stereo at the first different hop. The two thresholds
// and the long run make a hysteresis: material near either threshold, or
// silence between songs, never makes it switch back and forth.
#pragma once

#include "SampleOps.h"

namespace kesta {

class MonoDetector {
  public:
    static constexpr float kEqualLimit = 1.0f / 65536.0f;      // half a 16-bit step
    static constexpr float kDifferentLimit = 1.0f / 16384.0f;  // two 16-bit steps
    static constexpr float kQuietLimit = 4.0f / 32768.0f;      // about -78 dBFS
    static constexpr double kEnterSeconds = 0.5;

    // For a stream of rate Hz measured in hops of hopFrames frames. Resets.
    void prepare(unsigned rate, int hopFrames);
    // Back to stereo, with nothing measured.
    void reset();

    // Adds n frames of the two channels (sample i of each at i * stride) to
    // the current hop's measures. Once the hop is known to differ the rest of
    // it is not looked at, so real stereo costs next to nothing.
    void measure(const float* left, const float* right, int n, int stride = 1) {
        constexpr int kRun = 8;
        for (int i = 0; i < n && difference_ <= kDifferentLimit; i += kRun)
            DifferenceAndPeak(left + i * stride, right + i * stride, n - i < kRun ? n - i : kRun, stride,
                              &difference_, &peak_);
    }

    // Classes the hop just measured, updates the state, starts the next hop,
    // and answers whether the stream counts as mono now.
    bool endHop();
    bool mono() const { return mono_; }

  private:
    long enterHops_ = 1;  // equal hops that make the stream mono
    long equalRun_ = 0;   // equal hops since the last different one
    bool mono_ = false;
    float difference_ = 0.0f;  // largest |left - right| of the hop
    float peak_ = 0.0f;        // largest |left| or |right| of the hop
};

}  // namespace kesta
