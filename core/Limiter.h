// The safety limiter at the end of the processor: holds every output sample
// at or under a ceiling, with one gain for both channels so that the image
// does not move.
//
// It looks ahead: each frame's own need, ceiling / peak of the frame, is
// known window() frames before the frame plays. The gain envelope takes, for
// each frame, the least need of the window ahead of it (so it has come down
// before the loud frame arrives), rises back towards 1 with a smooth release,
// and is then averaged over the last window() frames: the gain applied moves
// in straight ramps, and never exceeds the need of any frame inside the
// average, the frame that plays among them. The output is the input delayed
// by delay() = window() - 1 frames, times that gain.
//
// Transparency: while no frame of the last two windows came above the
// ceiling and the release has come back to 1, the gain is exactly 1 and the
// output is the delayed input, bit for bit. Off, every frame's need counts as
// 1: a reduction in progress releases as it would, and nothing new is added.
//
// prepare may allocate; process and reset do not.
#pragma once

#include <vector>

namespace kesta {

class Limiter {
  public:
    // -1.0 dBFS, sample peak: the most any output sample may reach.
    static constexpr float kCeiling = 0.89125094f;

    // For a stream of rate Hz; the window is about 2 ms (at least 2
    // frames), the release about 80 ms. Starts silent.
    void prepare(unsigned rate);
    void reset();
    int delay() const { return window_ - 1; }
    int window() const { return window_; }

    // n frames in place: left and right sample i at left[i * stride],
    // right[i * stride] (stride 1 for separate channels, 2 for interleaved
    // with right = left + 1).
    void process(float* left, float* right, int stride, int n, bool on);

  private:
    bool idle() const { return minCount_ == 0 && envelope_ == 1.0f && reduced_ == 0; }
    void delayOnly(float* left, float* right, int stride, int n);
    float step(float need);

    int window_ = 2;
    float release_ = 0.0f;  // share of the way back to 1 covered per frame

    // The delayed signal, a ring of delay() frames per channel.
    std::vector<float> held_[2];
    int heldAt_ = 0;

    // The needs below 1 of the window ahead, as a ring of (frame, need) with
    // needs rising from front to back: the front is the least.
    std::vector<long long> minFrame_;
    std::vector<float> minNeed_;
    int minFront_ = 0, minCount_ = 0;
    long long frame_ = 0;  // frames taken in

    float envelope_ = 1.0f;
    // The last window() envelope values, their sum and how many are below 1.
    std::vector<float> recent_;
    int recentAt_ = 0;
    double sum_ = 0.0;
    int reduced_ = 0;
};

}  // namespace kesta
