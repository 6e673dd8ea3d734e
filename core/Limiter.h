// The safety limiter at the end of the processor: holds every output sample
// at or under a ceiling, with one gain for both channels so that the image
// does not move.
//
// It works on blocks of block() frames of the stream (32, or 64 from
// 32 kHz up). A block's need is ceiling / its peak (or 1), the peak being
// the true peak, between the samples too (4x oversampled, as ITU-R BS.1770
// measures it; looked for beside each channel's largest sample, where a
// waveform's top lies, within 0.05 dB), which needs kLead frames after the
// block. The gain is worked out at each block's first
// frame, a control point, and moves in a straight line from one control
// point to the next. The gain at a point is the average of the last A
// values of an envelope, and each envelope value is the least need of the
// A + 1 blocks around and ahead of it, or less while the envelope holds or
// rises back towards 1: so the gain at a point is at most the need of both
// blocks it touches, the gain inside a block at most the block's need, and
// the gain comes down in A steps ahead of a loud block (the look-ahead,
// about 2 ms). It holds a reduction for kHoldSeconds after the last block
// that needed it (within 0.1 dB), longer than a period of the lowest bass,
// so that it does not follow a low note's waveform (which would distort
// it), then
// rises at kReleaseDbPerSecond, in equal steps in dB, to exactly 1. The
// output is the input delayed by delay() = (A + 2) block() frames (a block
// for the frames after it that a block's true peak needs), times that
// gain.
//
// Since a block's gain is known once the block before it has come in, a
// producer may run behind its output by up to a block: it writes frames at
// write() and push()es them, and play() gives output frames, each as soon as
// every block before its own has been pushed. Each block's gain is kept
// (where it starts, and its step a frame) when it is known, and multiplied
// in as the block is played: a copy where the gain is 1.
//
// Transparency: while the envelope of the blocks around a frame is 1, the
// frame's gain is exactly 1 and it is the delayed input, bit for bit. Off,
// every block's need counts as 1: a reduction in progress releases as it
// would, and nothing new is added.
//
// prepare may allocate; process and reset do not.
#pragma once

#include <cstddef>
#include <vector>

namespace kesta {

class Limiter {
  public:
    // -1.0 dBFS, true peak: the most the output may reach, unless setCeiling
    // says otherwise.
    static constexpr float kCeiling = 0.89125094f;
    // How long a reduction holds, and how fast it releases then.
    static constexpr double kHoldSeconds = 0.02;
    static constexpr double kReleaseDbPerSecond = 120.0;

    // For a stream of rate Hz in blocks of up to maxBlock frames. Starts
    // silent.
    void prepare(unsigned rate, int maxBlock);
    void reset();
    // The ceiling, linear (0 to 1]; from the next block on.
    void setCeiling(float ceiling);
    float ceiling() const { return ceiling_; }
    int block() const { return block_; }
    // The look-ahead and the gain's blocks, and a block more for the true
    // peaks at a block's end, which need a few frames of the next.
    int delay() const { return (steps_ + 2) * block_; }

    // n frames (up to maxBlock) in place: left and right sample i at
    // left[i * stride], right[i * stride] (stride 1 for separate channels,
    // 2 for interleaved with right = left + 1).
    void process(float* left, float* right, int stride, int n, bool on);

    // The same in steps. write(n) is where the next n frames (up to
    // maxBlock, interleaved) go; push(n, on) takes them in. play(...) gives
    // the next n output frames (up to maxBlock) into left and right as
    // process lays them out. Output frame t may be played once every block
    // before the one t falls in has been pushed, and frames may be pushed up
    // to maxBlock ahead of those played.
    float* write(int n);
    void push(int n, bool on);
    void play(float* left, float* right, int stride, int n);

    // Blocks pushed since reset whose gain (at their first frame) was more
    // than 1 dB down, with the limiter on.
    long long reducedBlocks() const { return reduced_; }

    // Taps a side of a point between two frames that true peaks are
    // interpolated from (4x oversampled).
    static constexpr int kLead = 6;

  private:
    void endBlock(bool on);
    // The largest sample or point between samples (4x oversampled) of the
    // block of the line from frame `from` on.
    float truePeak(long long from) const;

    float ceiling_ = kCeiling;
    float target_ = kCeiling;  // what the gain aims at: a hair under the ceiling (from prepare on)
    int block_ = 32;
    int steps_ = 1;               // A: blocks of look-ahead, and of the gain's average
    float release_ = 1.0f;        // the envelope's rise per block, a factor
    int hold_ = 1;                // blocks a reduction holds
    int holdLeft_ = 0;            // blocks the current one holds still
    float perStep_ = 1.0f;        // 1 / A
    float perFrame_ = 1.0f / 32;  // 1 / block_ (exact: a power of two)

    // The delayed signal, interleaved: stream frame f at line_[2 * (f - base_)],
    // from the oldest frame still to play (played_ - delay()) up to the
    // newest pushed (written_ - 1); slid back to the front when full.
    std::vector<float> line_;
    long long base_ = 0, written_ = 0, played_ = 0;
    long long counted_ = 0;  // frames whose peaks are in the blocks' needs: kLead behind written_
    // y(t + p / 4) = sum of taps_[k][p - 1] x(t - kLead + 1 + k), p = 1 to 3
    // (lane 3 is 0).
    alignas(16) float taps_[2 * kLead][4] = {};
    int capacity_ = 0;             // frames
    int at_ = 0;                   // frames of the current block pushed so far
    float peak_ = 0.0f;            // of the current block so far
    std::vector<float> needs_;     // the last A + 1 blocks' needs, a ring
    std::vector<float> envelope_;  // the last A envelope values, a ring
    int needAt_ = 0, envelopeAt_ = 0;
    float envelopeLast_ = 1.0f;     // the newest envelope value
    float gain_[2] = {1.0f, 1.0f};  // at the next output block's first frame, and the one after
    // The gain of the block that starts at stream frame f, from its first
    // frame in steps, at ramps_[((f + delay()) / block_) % ramps_.size()]:
    // for every block from the oldest still to play to the newest known.
    // (Both sizes are powers of two, so that this is a shift and a mask.)
    struct Ramp {
        float base = 1.0f, step = 0.0f;
    };
    std::vector<Ramp> ramps_;
    int blockBits_ = 5;  // block_ = 1 << blockBits_
    Ramp& rampOf(long long frame) {
        return ramps_[static_cast<std::size_t>((frame + delay()) >> blockBits_) & (ramps_.size() - 1)];
    }
    bool resting_ = true;  // every need, envelope value and gain is 1
    bool avx2_ = false;    // the hot loops may use AVX2 (the processor has it)
    long long reduced_ = 0;
};

}  // namespace kesta
