// A fixed whole-frame delay for one channel, used to line up the processor's
// paths with the slowest of them. The storage is made by prepare; nothing
// else allocates.
//
// It is used without copying the block through it: the producer writes a
// block of n frames at in(), the consumer reads the same block delay()
// frames late at out(), then advance(n) keeps the newest delay() frames for
// the next block. With no delay in() and out() are the same place.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

namespace kesta {

class FrameDelay {
  public:
    // y[t] = x[t - delay] for blocks of up to maxBlock frames; starts silent.
    void prepare(int delay, int maxBlock) {
        delay_ = std::max(delay, 0);
        history_.assign(static_cast<size_t>(delay_ + maxBlock), 0.0f);
    }
    // Forgets the signal held; the delay stays.
    void reset() { std::fill(history_.begin(), history_.end(), 0.0f); }
    // Holds past (delay() frames, oldest first) as the signal before the next
    // block, instead of silence.
    void reset(const float* past) { std::copy(past, past + delay_, history_.begin()); }
    int delay() const { return delay_; }

    // Where the next block goes in, and where it comes out delayed.
    float* in() { return history_.data() + delay_; }
    const float* out() const { return history_.data(); }
    // After a block of n frames: the last delay_ frames move to the front.
    void advance(int n) {
        if (delay_ > 0)
            std::memmove(history_.data(), history_.data() + n, static_cast<size_t>(delay_) * sizeof(float));
    }

  private:
    int delay_ = 0;
    std::vector<float> history_;  // the last delay_ frames before the block, oldest first, then the block
};

}  // namespace kesta
