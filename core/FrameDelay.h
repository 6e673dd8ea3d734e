// A fixed whole-frame delay for one channel, used to line up the processor's
// paths with the slowest of them. The storage is made by prepare; process
// allocates nothing.
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
    int delay() const { return delay_; }

    // Delays n frames (at most prepare's maxBlock) in place. history_ holds
    // the last delay_ frames before the block, oldest first.
    void process(float* data, int n) {
        if (delay_ == 0 || n <= 0) return;
        float* h = history_.data();
        const size_t bytes = static_cast<size_t>(n) * sizeof(float);
        std::memcpy(h + delay_, data, bytes);
        std::memcpy(data, h, bytes);
        std::memmove(h, h + n, static_cast<size_t>(delay_) * sizeof(float));
    }

  private:
    int delay_ = 0;
    std::vector<float> history_;
};

}  // namespace kesta
