#include "InputStage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "SampleOps.h"

namespace kesta {

void InputStage::prepare(int channels, int room, int history) {
    channels_ = channels;
    history_ = std::max(history, 1);
    for (std::vector<float>& v : scratch_) v.assign(static_cast<size_t>(room), 0.0f);
    for (std::vector<float>& v : recent_) v.assign(static_cast<size_t>(history_), 0.0f);
    replaced_ = 0;
    firstReplaced_ = -1;
    reset();
}

void InputStage::reset() {
    for (std::vector<float>& v : recent_) std::fill(v.begin(), v.end(), 0.0f);
    recentAt_ = 0;
}

void InputStage::read(const float* const* in, int stride, int n, int at, long long frame) {
    float* dst[2] = {scratch_[0].data() + at, scratch_[1].data() + at};
    InputKind kind = InputKind::kClean;
    if (stride == 2) {
        kind = SplitClassify(in[0], dst[0], dst[1], n, kLimit);
    } else {
        for (int c = 0; c < channels_; ++c) kind = std::max(kind, CopyClassify(in[c], dst[c], n, kLimit));
    }
    if (kind == InputKind::kClean) return;
    if (kind == InputKind::kLoud) {
        for (int c = 0; c < channels_; ++c) ClipInPlace(dst[c], n, kLimit);
        return;
    }
    for (int c = 0; c < channels_; ++c) {
        for (int i = 0; i < n; ++i) {
            const float x = in[c][static_cast<size_t>(i) * static_cast<size_t>(stride)];
            if (std::isfinite(x)) {
                dst[c][i] = Clip(x, kLimit);
                continue;
            }
            dst[c][i] = 0.0f;
            if (firstReplaced_ < 0 || frame + i < firstReplaced_) firstReplaced_ = frame + i;
            ++replaced_;
        }
    }
}

void InputStage::mean(int from, int n, int lag, int most) {
    const int early = lag > 0 ? 1 : 0, shift = std::min(lag > 0 ? lag : -lag, most);
    const float* now = scratch_[1 - early].data() + from;
    const float* late = scratch_[early].data() + from;
    float* m = scratch_[2].data() + from;
    for (int i = 0; i < n; ++i) {
        const int at = i - shift;
        m[i] = 0.5f * (now[i] + (at >= 0 ? late[at] : past(early, history_ + at)));
    }
}

void InputStage::remember(int from, int n) {
    const int skip = std::max(n - history_, 0), count = n - skip;
    // Up to the end of the ring, then from its start.
    const int first = std::min(count, history_ - recentAt_);
    for (int c = 0; c < channels_; ++c) {
        const float* in = scratch_[c].data() + from;
        float* ring = recent_[c].data();
        std::memcpy(ring + recentAt_, in + skip, static_cast<size_t>(first) * sizeof(float));
        std::memcpy(ring, in + skip + first, static_cast<size_t>(count - first) * sizeof(float));
    }
    recentAt_ += count;
    if (recentAt_ >= history_) recentAt_ -= history_;
}

void InputStage::drop(int m, int count) {
    for (int c = 0; c < channels_; ++c)
        std::memmove(scratch_[c].data(), scratch_[c].data() + m, static_cast<size_t>(count) * sizeof(float));
}

}  // namespace kesta
