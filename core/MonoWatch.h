// The mono detector at work in a stream: it measures hops of kHop frames
// counted from the stream's start (also while automatic mono is off, when
// nothing is measured but the hops keep their places), so that a verdict
// takes effect at the same frame however a host cuts the stream.
#pragma once

#include <algorithm>
#include <cstddef>

#include "MonoDetector.h"

namespace kesta {

class MonoWatch {
  public:
    static constexpr int kHop = 128;

    void prepare(unsigned rate) {
        detector_.prepare(rate, kHop);
        reset();
    }
    void reset() {
        detector_.reset();
        hopLeft_ = kHop;
    }

    // Whether the stream counts as mono, and the delay between its channels
    // (see MonoDetector).
    bool mono() const { return detector_.mono(); }
    int lag() const { return detector_.lag(); }

    // Measures (when on) up to n frames of left and right (sample i at
    // i * stride), and answers how many play with the path as it is: up to
    // the end of the first hop after which changed() holds, or all n.
    template <class Changed>
    int steady(bool on, const float* left, const float* right, int stride, int n, const Changed& changed) {
        if (!on) {
            detector_.reset();
            hopLeft_ = (hopLeft_ - n % kHop + kHop - 1) % kHop + 1;
            return n;
        }
        int done = 0;
        while (done < n) {
            const int k = std::min(n - done, hopLeft_);
            const std::size_t at = static_cast<std::size_t>(done) * static_cast<std::size_t>(stride);
            detector_.measure(left + at, right + at, k, stride);
            done += k;
            hopLeft_ -= k;
            if (hopLeft_ == 0) {
                hopLeft_ = kHop;
                detector_.endHop();
                if (changed()) break;
            }
        }
        return done;
    }

  private:
    MonoDetector detector_;
    int hopLeft_ = kHop;  // frames until the current hop ends
};

}  // namespace kesta
