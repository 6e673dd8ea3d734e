#include "Panner.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <typeinfo>

#include "Assert.h"
#include "FltDelay.h"
#include "Mixbuf.h"

namespace {
const char kMixText[] = "void Panner::mix(const class Buffer &, Samples, Samples = 0)";
const char kMixNoUpdateText[] = "void Panner::mix_noUpdate(const class Buffer &, Samples, Samples = 0)";
const char kDelayMixText[] = "void DelayPanner::mix(const class Buffer &, Samples, Samples = 0)";

// The float line's ring, or null for another kind of line.
DelayBuffer<float>* FloatRing(DelayMixBuffer* line) {
    return line && typeid(*line) == typeid(FloatDelayMixBuffer)
               ? &static_cast<FloatDelayMixBuffer*>(line)->delayLine_
               : nullptr;
}
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

void Panner::mix(const Buffer& in, Samples count, Samples offset, HeldMixPlan& plan) {
    if (rampSamples_ == 0) {
        if (gain_ == 0.0f) return;
        mixHeld(in, count, offset, plan);
        return;
    }
    plan.Flush();
    mix(in, count, offset);
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

void Panner::mixHeld(const Buffer& in, Samples count, Samples offset, HeldMixPlan& plan) {
    KESTA_ASSERT(mixBuffer_ != 0, "mixBuffer_!=0", kMixText);
    if (plan.Add(*mixBuffer_, in, gain_, count, offset)) return;
    plan.Flush();
    mixBuffer_->Mix(in, gain_, 0.0f, count, offset);
}

// The float line's ring is looked up here once, so that the steady reads of
// mix with a plan go to it without a virtual call.
void DelayPanner::setDelayBuffer(DelayMixBuffer* buffer) {
    delayBuffer_ = buffer;
    ring_ = FloatRing(buffer);
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

Buffer DelayPanner::past(Samples back, Samples* chunk) {
    const Samples n = std::min(*chunk, back);
    if (ring_) {
        float* run;
        ring_->GetDelay(back, n, run, *chunk);
        return Buffer(run, kMonoFloat);
    }
    Buffer run;
    delayBuffer_->GetDelay(back, n, run, *chunk);
    return run;
}

template <class Use>
void DelayPanner::steadyRuns(const Buffer& in, Samples count, Samples offset, Use use) {
    for (Samples p = -delay_; count > 0;) {
        Samples chunk = count;
        const Buffer run = p < 0 ? past(-p, &chunk) : in + p;
        use(run, chunk, offset);
        p += chunk;
        offset += chunk;
        count -= chunk;
    }
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
        steadyRuns(in, count, offset,
                   [this](const Buffer& run, Samples n, Samples at) { mixHeld(run, n, at); });
        return;
    }
    Samples p = -delay_;
    while (count > 0) {
        Samples chunk = count;
        if (delay_ != targetDelay_) chunk = std::min(chunk, static_cast<Samples>(delayCountdown_));
        if (p < 0) {
            KESTA_ASSERT(delayBuffer_ != 0, "delayBuffer_!=0", kDelayMixText);
            const Buffer run = past(-p, &chunk);
            Panner::mix(run, chunk, offset);
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

// The steady part of mix with the reads deferred; a glide takes mix.
void DelayPanner::mix(const Buffer& in, Samples count, Samples offset, HeldMixPlan& plan) {
    if (delay_ != targetDelay_ || rampSamples() != 0) {
        plan.Flush();
        mix(in, count, offset);
        return;
    }
    KESTA_ASSERT(delay_ == 0 || delayBuffer_ != 0, "delayBuffer_!=0", kDelayMixText);
    if (gain() == 0.0f) return;
    steadyRuns(in, count, offset,
               [this, &plan](const Buffer& run, Samples n, Samples at) { mixHeld(run, n, at, plan); });
}

void DelayWindow::setDelayBuffer(DelayMixBuffer* line) {
    line_ = line;
    ring_ = FloatRing(line);
}

bool DelayWindow::gather(const Buffer& in, Samples n) {
    frames_ = 0;
    if (in.type_ != kMonoFloat || n <= 0 || n > kMaxFrames || !line_) return false;
    const Samples size = ring_ ? ring_->GetSize() : line_->GetSize();
    depth_ = std::min(n, size);
    if (ring_) {
        // The past in one run, or two where the ring wraps.
        for (Samples done = 0; done < depth_;) {
            float* run;
            Samples got;
            ring_->GetDelay(depth_ - done, depth_ - done, run, got);
            std::memcpy(store_ + done, run, static_cast<size_t>(got) * sizeof(float));
            done += got;
        }
    } else {
        line_->CopyTo(Buffer(store_, kMonoFloat), depth_, depth_);
    }
    std::memcpy(store_ + depth_, in.floats(), static_cast<size_t>(n) * sizeof(float));
    frames_ = n;
    return true;
}

void StereoDelayPanner::setDelay(int delay, Samples transitionTime) {
    const int rightDelay = delay >= 0 ? 0 : delay == INT_MIN ? INT_MAX : -delay;
    left_.setDelay(std::max(delay, 0), transitionTime);
    right_.setDelay(rightDelay, transitionTime);
}
