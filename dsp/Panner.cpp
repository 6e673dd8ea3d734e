#include "Panner.h"

#include <algorithm>
#include <climits>

#include "Assert.h"
#include "FltDelay.h"
#include "Mixbuf.h"

namespace {
const char kMixText[] = "void Panner::mix(const class Buffer &, Samples, Samples = 0)";
const char kMixNoUpdateText[] = "void Panner::mix_noUpdate(const class Buffer &, Samples, Samples = 0)";
const char kDelayMixText[] = "void DelayPanner::mix(const class Buffer &, Samples, Samples = 0)";
}  // namespace

void Panner::pan(float gain, Samples rampLength) {
    targetGain_ = gain;
    if (rampLength <= 0) {
        rampSamples_ = 0;
        gainStep_ = 0.0f;
        gain_ = gain;
        return;
    }
    rampSamples_ = rampLength;
    gainStep_ = (gain - gain_) / static_cast<float>(rampLength);
    if (gainStep_ == 0.0f) {
        rampSamples_ = 0;
        gain_ = gain;
    }
}

// mix_noUpdate's additions, then the ramp moves on by count frames.
void Panner::mix(const Buffer& in, Samples count, Samples offset) {
    if (rampSamples_ == 0 && gain_ == 0.0f) return;
    KESTA_ASSERT(mixBuffer_ != 0, "mixBuffer_!=0", kMixText);
    mix_noUpdate(in, count, offset);
    if (rampSamples_ == 0) return;
    if (count < rampSamples_) {
        rampSamples_ -= count;
        gain_ = GainAfter(gain_, gainStep_, count, chained_);
    } else {
        rampSamples_ = 0;
        gain_ = targetGain_;
        gainStep_ = 0.0f;
    }
}

void Panner::mix_noUpdate(const Buffer& in, Samples count, Samples offset) const {
    if (rampSamples_ == 0) {
        if (gain_ == 0.0f) return;
        KESTA_ASSERT(mixBuffer_ != 0, "mixBuffer_!=0", kMixNoUpdateText);
        mixBuffer_->Mix(in, gain_, 0.0f, count, offset);
    } else if (count < rampSamples_) {
        KESTA_ASSERT(mixBuffer_ != 0, "mixBuffer_!=0", kMixNoUpdateText);
        mixBuffer_->Mix(in, gain_, gainStep_, count, offset, chained_);
    } else {
        KESTA_ASSERT(mixBuffer_ != 0, "mixBuffer_!=0", kMixNoUpdateText);
        mixBuffer_->Mix(in, gain_, gainStep_, rampSamples_, offset, chained_);
        mixBuffer_->Mix(in + rampSamples_, targetGain_, 0.0f, count - rampSamples_, offset + rampSamples_);
    }
}

void Panner::mixHeld(const Buffer& in, Samples count, Samples offset) {
    KESTA_ASSERT(mixBuffer_ != 0, "mixBuffer_!=0", kMixText);
    mixBuffer_->Mix(in, gain_, 0.0f, count, offset);
}

void DelayPanner::setDelay(int delay, Samples transitionTime) {
    // A negative delay would read past the end of the input block.
    delay = std::max(delay, 0);
    targetDelay_ = delay;
    if (delay == delay_) return;
    if (transitionTime <= 0) {
        delay_ = delay;
        return;
    }
    const int distance = delay > delay_ ? delay - delay_ : delay_ - delay;
    delayStepPeriod_ = std::max(transitionTime / distance, 1);
    delayCountdown_ = delayStepPeriod_;
}

// The read position p runs from -delay_ (relative to the first input frame;
// negative = from the delay line). It moves with the output, and one frame
// against it at each one-frame delay step.
void DelayPanner::mix(const Buffer& in, Samples count, Samples offset) {
    if (delay_ == targetDelay_ && rampSamples() == 0) {
        // Steady: the same reads and additions with the glides' steps left
        // out, which is most of the work when a host's blocks are small.
        KESTA_ASSERT(delay_ == 0 || delayBuffer_ != 0, "delayBuffer_!=0", kDelayMixText);
        if (gain() == 0.0f) return;
        for (Samples p = -delay_; count > 0;) {
            Samples chunk = count;
            if (p < 0) {
                Buffer past;
                delayBuffer_->GetDelay(-p, std::min(chunk, -p), past, chunk);
                mixHeld(past, chunk, offset);
            } else {
                mixHeld(in + p, chunk, offset);
            }
            p += chunk;
            offset += chunk;
            count -= chunk;
        }
        return;
    }
    Samples p = -delay_;
    while (count > 0) {
        Samples chunk = count;
        if (delay_ != targetDelay_) chunk = std::min(chunk, static_cast<Samples>(delayCountdown_));
        if (p < 0) {
            KESTA_ASSERT(delayBuffer_ != 0, "delayBuffer_!=0", kDelayMixText);
            chunk = std::min(chunk, -p);
            Buffer past;
            delayBuffer_->GetDelay(-p, chunk, past, chunk);
            Panner::mix(past, chunk, offset);
        } else {
            Panner::mix(in + p, chunk, offset);
        }
        p += chunk;
        offset += chunk;
        count -= chunk;
        if (delay_ != targetDelay_) {
            delayCountdown_ -= chunk;
            if (delayCountdown_ == 0) {
                if (targetDelay_ > delay_) {
                    ++delay_;
                    --p;
                } else {
                    --delay_;
                    ++p;
                }
                delayCountdown_ = delayStepPeriod_;
            }
        }
    }
}

void StereoDelayPanner::setDelay(int delay, Samples transitionTime) {
    const int rightDelay = delay >= 0 ? 0 : delay == INT_MIN ? INT_MAX : -delay;
    left_.setDelay(std::max(delay, 0), transitionTime);
    right_.setDelay(rightDelay, transitionTime);
}
