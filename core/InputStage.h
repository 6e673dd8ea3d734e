// The processor's input stage: the frames a host handed in that the engines
// have not run on yet (the scratch: left, or mono; right; and a third
// channel for their mean, which the processor makes), and the last history
// frames the engines ran on (a ring), for pre-rolls and for what reaches
// back before a piece.
//
// A sample beyond the input limit is clipped to it; one that is not finite
// is replaced by zero, alone, and counted: the stream goes on.
//
// prepare allocates; nothing else does.
#pragma once

#include <cstddef>
#include <vector>

namespace kesta {

class InputStage {
  public:
    // Samples beyond this are clipped (60 dB over full scale), so that no
    // finite input can overflow the filters.
    static constexpr float kLimit = 1000.0f;

    // For channels (1 or 2) channels, a scratch of room frames and history
    // frames kept. Starts silent, with nothing counted.
    void prepare(int channels, int room, int history);
    // Forgets the history (the counts stay).
    void reset();

    // n frames of input into the scratch from frame at on: from separate
    // channels (stride 1) or from interleaved stereo (stride 2, in[1] being
    // in[0] + 1); frame is the first one's number in the stream.
    void read(const float* const* in, int stride, int n, int at, long long frame);
    // Scratch channel c: 0 left (or mono), 1 right, 2 their mean.
    float* scratch(int c) { return scratch_[c].data(); }
    const float* scratch(int c) const { return scratch_[c].data(); }
    // Scratch channel 2 over frames [from, from + n) of stereo input: the
    // mean of the channels lined up at lag (left[i] with right[i - lag]; at
    // most most frames either way): the earlier channel read that many
    // frames late, from the history where it reaches back before the
    // scratch.
    void mean(int from, int n, int lag, int most);
    // The engines have run on scratch frames [from, from + n): they join the
    // history.
    void remember(int from, int n);
    // The m frames at the scratch's front are done; the next count move up.
    void drop(int m, int count);
    // Frame i (0 oldest) of the history of channel c.
    float past(int c, int i) const {
        int at = recentAt_ + i;
        if (at >= history_) at -= history_;
        return recent_[c][static_cast<std::size_t>(at)];
    }
    int history() const { return history_; }

    // Samples replaced since prepare, and the stream frame of the first (-1
    // for none).
    long long replaced() const { return replaced_; }
    long long firstReplaced() const { return firstReplaced_; }

  private:
    int channels_ = 1;
    int history_ = 1;
    std::vector<float> scratch_[3];
    std::vector<float> recent_[2];  // the history, a ring
    int recentAt_ = 0;              // its oldest frame
    long long replaced_ = 0;
    long long firstReplaced_ = -1;
};

}  // namespace kesta
