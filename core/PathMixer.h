// The crossfades between the processor's paths: each path has a level from
// 0 to the fade's length; the target's rises a frame at a time to full and
// every other running path's falls to 0, and the output is the paths' sum,
// each times its level over the fade's length. The paths are lined up, so
// that a crossfade blends one signal.
//
// prepare allocates; nothing else does.
#pragma once

#include <algorithm>
#include <vector>

namespace kesta {

template <int Paths>
class PathMixer {
  public:
    // Fades of fadeFrames (a power of two, so that a level over it is exact),
    // sums of up to room frames.
    void prepare(int fadeFrames, int room) {
        fade_ = fadeFrames;
        for (std::vector<float>& v : sum_) v.assign(static_cast<size_t>(room), 0.0f);
    }
    // The target alone at full level, nothing else running.
    void reset(int target) {
        std::fill(level_, level_ + Paths, 0);
        std::fill(running_, running_ + Paths, false);
        target_ = target;
        level_[target] = fade_;
        running_[target] = true;
    }

    // A new target; start(p) for each path that is wanted now and was not
    // running (it must be made ready to enter the fade). Answers the frames
    // until the target plays alone.
    template <class Start>
    int retarget(int target, const Start& start) {
        target_ = target;
        int fading = fade_ - level_[target];
        for (int p = 0; p < Paths; ++p) {
            const bool wanted = level_[p] > 0 || p == target;
            if (wanted && !running_[p]) start(p);
            running_[p] = wanted;
            if (p != target) fading = std::max(fading, level_[p]);
        }
        return fading;
    }

    // The running paths' sum over n frames of their lined-up outputs
    // (left(p), right(p)), with the fades moved on; the target alone is not
    // copied. Leaves the result's channels in *left and *right.
    template <class Out>
    void mix(int n, const Out& out, const float** left, const float** right) {
        if (alone()) {
            *left = out(target_, 0);
            *right = out(target_, 1);
            return;
        }
        float* sumL = sum_[0].data();
        float* sumR = sum_[1].data();
        std::fill(sumL, sumL + n, 0.0f);
        std::fill(sumR, sumR + n, 0.0f);
        const float scale = 1.0f / static_cast<float>(fade_);
        for (int p = 0; p < Paths; ++p) {
            if (!running_[p]) continue;
            const int step = p == target_ ? 1 : -1;
            int l = level_[p];
            const float* inL = out(p, 0);
            const float* inR = out(p, 1);
            for (int i = 0; i < n; ++i) {
                l = std::min(std::max(l + step, 0), fade_);
                const float g = static_cast<float>(l) * scale;
                sumL[i] += g * inL[i];
                sumR[i] += g * inR[i];
            }
            level_[p] = l;
        }
        *left = sumL;
        *right = sumR;
    }
    // After a piece: a path whose fade is over stops running.
    void settle() {
        for (int p = 0; p < Paths; ++p) running_[p] = level_[p] > 0 || p == target_;
    }

    int target() const { return target_; }
    bool running(int p) const { return running_[p]; }
    // Whether the target plays alone, at full level.
    bool alone() const {
        if (level_[target_] != fade_) return false;
        for (int p = 0; p < Paths; ++p)
            if (p != target_ && level_[p] != 0) return false;
        return true;
    }

  private:
    int fade_ = 1024;
    int target_ = 0;
    int level_[Paths] = {};
    bool running_[Paths] = {};
    std::vector<float> sum_[2];
};

}  // namespace kesta
