// Panners: the last step between a processed signal and an output mix buffer.
//
// A panner adds a block into a MixBuffer under a gain that glides linearly to
// each new target, so that gain changes never click; the delay variants read
// their input through a delay line and move the delay one frame at a time.
// Which gain each side gets (the pan law) is the caller's business.
//
// Plain classes: no virtual operations, no allocation, no locks. They point to
// the mix buffers and the delay line they use and own neither; the owner sets
// them before the first mix. All per-sample work is done by MixBuffer::Mix.
#pragma once

#include "DelayBuffer.h"
#include "Mixbuf.h"
#include "Wavedata.h"

class DelayMixBuffer;

// The recent past of one input and its current block end to end in one
// array, for the steady reads of the delay panners of a small block: a read
// delayed d frames is then one run at now() - d instead of a run of the line
// (or two, where the ring wraps) and one of the block. An input stage gathers
// each input's window once per block, before its panners mix it.
class DelayWindow {
  public:
    // Blocks longer than this are read from the line and the block as they are.
    static constexpr Samples kMaxFrames = 256;

    DelayWindow() : line_(nullptr), ring_(nullptr), frames_(0), depth_(0) {}
    // The line whose past the window gathers; not owned.
    void setDelayBuffer(DelayMixBuffer* line);
    // Copies the newest min(n, line size) frames of the line, then the n
    // frames of in (mono float). Answers false, and leaves the window unused
    // for this block, for another format or a block over kMaxFrames frames.
    bool gather(const Buffer& in, Samples n);
    // Whether a read of count frames delayed delay frames lies in the window.
    bool holds(Samples count, int delay) const { return count == frames_ && delay <= depth_; }
    // Frame 0 of the block; now()[-d] is the frame d frames before it.
    const float* now() const { return store_ + depth_; }

  private:
    DelayMixBuffer* line_;
    DelayBuffer<float>* ring_;  // line_'s ring when it is the float line, else null
    Samples frames_;            // frames of the gathered block; 0 when none
    Samples depth_;             // frames of the past before it
    float store_[2 * kMaxFrames];
};

class Panner {
  public:
    Panner()
        : rampSamples_(0),
          gain_(0.0f),
          targetGain_(0.0f),
          gainStep_(0.0f),
          chained_(false),
          mixBuffer_(nullptr) {
        pan(0.0f, 0);
    }

    // New target gain (linear), reached after rampLength frames; 0 = at once.
    void pan(float gain, Samples rampLength);
    void setMixBuffer(MixBuffer& buffer) { mixBuffer_ = &buffer; }
    // Chained ramps: a ramp's gain moves by one float addition per frame
    // across calls as well as within them (GainAfter), so that the output
    // does not depend on how the stream is cut into calls. Off, a call moves
    // the gain on by one multiplication (the player's ramps).
    void setChainedRamps(bool on) { chained_ = on; }
    // Adds count frames of in (mono 8-bit, 16-bit or float) to the mix buffer
    // from its frame offset on, under the ramping gain, and advances the ramp.
    // A steady gain of exactly 0 adds nothing and needs no mix buffer.
    void mix(const Buffer& in, Samples count, Samples offset = 0);
    // mix, with a steady float mix deferred into plan (HeldMixPlan, which
    // gives the same bits); anything else flushes plan first and mixes now.
    void mix(const Buffer& in, Samples count, Samples offset, HeldMixPlan& plan);
    // Adds what mix would add and leaves the ramp where it is.
    void mix_noUpdate(const Buffer& in, Samples count, Samples offset = 0) const;

    // The ramp's state, for inspection.
    Samples rampSamples() const { return rampSamples_; }
    float gain() const { return gain_; }
    float targetGain() const { return targetGain_; }
    float gainStep() const { return gainStep_; }

  protected:
    // Panner::mix while steady at a gain other than 0.
    void mixHeld(const Buffer& in, Samples count, Samples offset);
    // mixHeld deferred into plan, or done now after flushing plan.
    void mixHeld(const Buffer& in, Samples count, Samples offset, HeldMixPlan& plan);
    MixBuffer* mixBuffer() const { return mixBuffer_; }

  private:
    Samples rampSamples_;   // frames left in the ramp; 0 when steady
    float gain_;            // gain of the next frame
    float targetGain_;      // gain the ramp ends on
    float gainStep_;        // gain increment per frame while ramping, else 0
    bool chained_;          // ramps run as one chain of additions across calls
    MixBuffer* mixBuffer_;  // not owned
};

// A panner whose output frame i is its input delayed by delay_ frames. Frames
// from before the current block come from the delay line, which the owner
// pushes each block into after every panner has mixed it.
class DelayPanner : public Panner {
  public:
    DelayPanner()
        : delay_(0),
          targetDelay_(0),
          delayStepPeriod_(0),
          delayCountdown_(0),
          delayBuffer_(nullptr),
          ring_(nullptr) {}

    // Moves to a delay of delay frames (negative counts as 0; the line must
    // hold at least delay frames), one frame at a time spread over about
    // transitionTime output frames; 0 = at once.
    void setDelay(int delay, Samples transitionTime);
    void setDelayBuffer(DelayMixBuffer* buffer);
    // Panner::mix of the delayed input. While the delay glides, one input
    // frame is repeated (growing) or skipped (shrinking) per step.
    void mix(const Buffer& in, Samples count, Samples offset = 0);
    // mix, with the steady reads of a float block deferred into plan as in Panner.
    void mix(const Buffer& in, Samples count, Samples offset, HeldMixPlan& plan);
    // The same, a steady read taken as one run of window (in's window, gathered
    // for this block) where it holds it.
    void mix(const DelayWindow& window, const Buffer& in, Samples count, Samples offset, HeldMixPlan& plan) {
        if (delay_ == targetDelay_ && rampSamples() == 0 && window.holds(count, delay_) && mixBuffer() &&
            plan.AddFloats(*mixBuffer(), window.now() - delay_, gain(), count, offset))
            return;
        mix(in, count, offset, plan);
    }

    // Frames of delay applied now.
    int delay() const { return delay_; }

  private:
    // The run of the delay line from back frames ago, of at most *chunk
    // frames and none newer than the line's newest: *chunk is cut to it.
    Buffer past(Samples back, Samples* chunk);
    // The steady reads of a block: each run of input at the delay, from the
    // line or from in, handed to use(run, frames, offset).
    template <class Use>
    void steadyRuns(const Buffer& in, Samples count, Samples offset, Use use);

    int delay_;                    // frames of delay applied now
    int targetDelay_;              // frames of delay being moved to
    int delayStepPeriod_;          // output frames between one-frame steps while gliding
    int delayCountdown_;           // output frames left until the next step
    DelayMixBuffer* delayBuffer_;  // the input's past; not owned
    DelayBuffer<float>* ring_;     // delayBuffer_'s ring when it is the float line, else null
};

// Two panners of one kind, left_ into pair[0] and right_ into pair[1]: what
// both stereo panners share. Side is Panner or DelayPanner; mix goes through
// the side's own mix, mix_noUpdate through Panner's (without any delay).
template <class Side>
class PannerPair {
  public:
    void pan(float gain, Samples ramp) {
        left_.pan(gain, ramp);
        right_.pan(gain, ramp);
    }
    // left_ to gains[0] * scale, right_ to gains[1] * scale.
    void pan(const float* gains, float scale, Samples ramp) {
        left_.pan(gains[0] * scale, ramp);
        right_.pan(gains[1] * scale, ramp);
    }
    void setMixBuffers(MixBuffer* pair) {
        left_.setMixBuffer(pair[0]);
        right_.setMixBuffer(pair[1]);
    }
    void setChainedRamps(bool on) {
        left_.setChainedRamps(on);
        right_.setChainedRamps(on);
    }
    void mix(const Buffer& in, Samples count, Samples offset = 0) { mix(in, in, count, offset); }
    void mix(const Buffer& inLeft, const Buffer& inRight, Samples count, Samples offset = 0) {
        left_.mix(inLeft, count, offset);
        right_.mix(inRight, count, offset);
    }
    void mix(const Buffer& in, Samples count, Samples offset, HeldMixPlan& plan) {
        left_.mix(in, count, offset, plan);
        right_.mix(in, count, offset, plan);
    }
    void mix_noUpdate(const Buffer& in, Samples count, Samples offset = 0) const {
        mix_noUpdate(in, in, count, offset);
    }
    void mix_noUpdate(const Buffer& inLeft, const Buffer& inRight, Samples count, Samples offset = 0) const {
        left_.Panner::mix_noUpdate(inLeft, count, offset);
        right_.Panner::mix_noUpdate(inRight, count, offset);
    }

    Side left_;
    Side right_;
};

// Two panners, left_ into pair[0] and right_ into pair[1].
class StereoPanner : public PannerPair<Panner> {};

// Two delay panners reading one delay line, left_ into pair[0] and right_
// into pair[1].
class StereoDelayPanner : public PannerPair<DelayPanner> {
  public:
    void setDelayBuffer(DelayMixBuffer* buffer) {
        left_.setDelayBuffer(buffer);
        right_.setDelayBuffer(buffer);
    }
    void setDelay(int leftDelay, int rightDelay, Samples transitionTime) {
        left_.setDelay(leftDelay, transitionTime);
        right_.setDelay(rightDelay, transitionTime);
    }
    // Signed inter-side delay: a positive value delays the left side, a
    // negative one the right side; the other side goes to 0.
    void setDelay(int delay, Samples transitionTime);
};
