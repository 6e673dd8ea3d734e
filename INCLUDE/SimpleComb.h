// The comb filters: a feedback comb with a pluggable feedback element, and the
// all-pass comb built on it. Both add their response into an output buffer
// (InOutFilter) and keep their loop in a delay line exactly as long as the
// loop delay, which they process in whole runs in place in the ring.
#pragma once

#include <algorithm>

#include "Assert.h"
#include "DelayBuffer.h"
#include "Filter.h"
#include "FrameCount.h"
#include "Mathutil.h"
#include "Mixbuf.h"
#include "Quietbuf.h"
#include "Wavedata.h"

class MathLibrary;

// Feedback comb, loop delay D samples, feedback element F, input gain g:
//   v[t] = w[t - D];  out[t] += v[t];  w[t] = F(v)[t] + g * x[t],
// i.e. Y = g z^-D X / (1 - F(z) z^-D) is added into the output; no direct path.
// Inert (Process changes nothing) until it has a delay and a feedback element.
// Tail: 0 until SetDecayTime. Data: sample type, Scale: gain type; used as
// <float, float>.
template <class Data, class Scale>
class SimpleComb : public SimpleCombFilter, public QuietFilterStatus {
  public:
    // The library is kept for viewing runs of the loop as MixBuffers.
    SimpleComb(MathLibrary& library, Samples sampleRate);
    SimpleComb(const SimpleComb&) = delete;
    SimpleComb& operator=(const SimpleComb&) = delete;

    // D = truncate(milliseconds * rate * 0.001f + 0.5); a new D resizes the
    // loop, keeping its newest content. Asserts milliseconds > 0. Allocates.
    void SetDelay(float milliseconds) override;
    // Not owned; must outlive the comb, which drives and resets it. Null
    // switches the comb off.
    void SetFeedback(InPlaceFilter* feedback) override { feedback_ = feedback; }
    // Tail of seconds * rate samples, rounded. Changes no gain: the loop
    // decays as the feedback element makes it.
    void SetDecayTime(float seconds) override;
    void SetInputGain(float gain) override { inputGain_ = gain; }

    bool IsQuiet() override { return QuietFilterStatus::IsQuiet(); }
    void GettingInput() override { QuietFilterStatus::GettingInput(); }
    void NoInput(Samples n) override { QuietFilterStatus::NoInput(n); }
    // Quiet, loop all zeros, and the feedback element reset.
    void Reset() override;
    void Process(MixBuffer& output, MixBuffer& input) override;

    // Frames in the loop (D).
    Samples loopLength() const { return delayLine_.GetSize(); }

  private:
    MathLibrary& library_;
    Samples sampleRate_;  // Hz
    Samples delay_;       // D; the ring's size
    DelayBuffer<Data> delayLine_;
    InPlaceFilter* feedback_;  // not owned, may be null
    Scale inputGain_;          // g
};

template <class Data, class Scale>
SimpleComb<Data, Scale>::SimpleComb(MathLibrary& library, Samples sampleRate)
    : QuietFilterStatus(0),
      library_(library),
      sampleRate_(sampleRate),
      delay_(0),
      feedback_(nullptr),
      inputGain_(1.0f) {}

// The loop delay D in samples is truncate(ms * rate * 0.001f + 0.5), with the
// product ms * rate formed first: at 1000 Hz, 3.0 ms is 3 samples (3.0000001
// + 0.5 truncated). A change of D resizes the ring, which keeps the newest
// loop content that fits. A delay that is not positive (NaN included) is a
// programming error.
template <class Data, class Scale>
void SimpleComb<Data, Scale>::SetDelay(float delay_ms) {
    const char* const function = "void SimpleComb<float,float>::SetDelay<Data, Scale>(float)";
    KESTA_ASSERT(delay_ms > 0.0f, "delay_ms>0.0f", function);
    const double product = static_cast<double>(delay_ms) * static_cast<double>(sampleRate_);
    const Samples delay = truncateToSamples(product * static_cast<double>(0.001f) + 0.5);
    if (delay == delay_) return;
    delay_ = delay;
    delayLine_.SetSize(delay);
}

template <class Data, class Scale>
void SimpleComb<Data, Scale>::SetDecayTime(float seconds) {
    SetNeeded(truncateToSamples(static_cast<double>(sampleRate_) * seconds + 0.5));
}

template <class Data, class Scale>
void SimpleComb<Data, Scale>::Reset() {
    QuietFilterStatus::Reset();
    delayLine_.Reset();
    if (feedback_) feedback_->Reset();
}

// The ring is exactly D long, so the run delayed by D starts at the write
// position: its samples leave the loop now and are overwritten by what goes
// back in. Each run is at most D long (shorter where the ring wraps), so it
// never reads samples that this call has yet to write, and the result equals
// processing sample by sample.
template <class Data, class Scale>
void SimpleComb<Data, Scale>::Process(MixBuffer& output, MixBuffer& input) {
    const Samples n = input.used_;
    if (n <= 0 || !feedback_) return;
    for (Samples done = 0;;) {
        const Samples chunk = std::min(n - done, delay_);
        if (chunk <= 0) return;
        Data* run;
        Samples got;
        delayLine_.GetDelay(delay_, chunk, run, got);
        const Buffer loop(run, kMonoFloat);
        output.Mix(loop, 1.0f, 0.0f, got, done);
        MixBuffer view(library_, loop, got);
        feedback_->Process(view);
        view.Mix(input + done, inputGain_, 0.0f, got, 0);
        delayLine_.Advance(got);
        done += got;
    }
}

// All-pass comb, loop delay D samples, gain g:
//   w[t] = x[t] + g w[t - D];  out[t] += -g x[t] + w[t - D],
// i.e. H(z) = (-g + (1 + g^2) z^-D) / (1 - g z^-D). The loop takes its input
// at unity gain, so the magnitude is not flat: it is largest at the comb's
// peaks (z^-D = 1).
// Ready after SetDelay and SetDecayTime. Tail: 0 until SetDecayTime.
template <class Data, class Scale>
class AllPassComb : public AllPassCombFilter, public QuietFilterStatus {
  public:
    AllPassComb(MathLibrary& library, Samples sampleRate);
    AllPassComb(const AllPassComb&) = delete;
    AllPassComb& operator=(const AllPassComb&) = delete;

    // The loop delay in milliseconds, at least 6.0 (smaller values give 6.0).
    // The gain is not recomputed: set the decay time after the delay.
    void SetDelay(float milliseconds) override;
    // g = 0.001^(delay in ms / decayTime): the loop falls by 60 dB after
    // decayTime when given in milliseconds. The tail is counted as decayTime
    // seconds (decayTime * rate samples), which covers that decay with room
    // to spare. The loop content is kept.
    void SetDecayTime(float decayTime) override;

    bool IsQuiet() override { return QuietFilterStatus::IsQuiet(); }
    void GettingInput() override { QuietFilterStatus::GettingInput(); }
    void NoInput(Samples n) override { QuietFilterStatus::NoInput(n); }
    // Quiet, loop all zeros; delay and gain stay.
    void Reset() override;
    void Process(MixBuffer& output, MixBuffer& input) override;

    // The delay in effect (ms), frames in the loop, the loop gain g, and the
    // scale the loop's feedback element applies.
    float delayMs() const { return delayMs_; }
    Samples loopLength() const { return comb_.loopLength(); }
    Scale gain() const { return gain_; }
    float loopScale() const { return feedbackScale_.scale_; }

  private:
    MathLibrary& library_;
    Samples sampleRate_;                // Hz
    float delayMs_;                     // delay in effect, 0 until SetDelay
    Scale gain_;                        // g
    SimpleComb<Data, Scale> comb_;      // the loop; its own tail is not used
    InPlaceScaleFilter feedbackScale_;  // the loop gain g, comb_'s feedback element
};

template <class Data, class Scale>
AllPassComb<Data, Scale>::AllPassComb(MathLibrary& library, Samples sampleRate)
    : QuietFilterStatus(0),
      library_(library),
      sampleRate_(sampleRate),
      delayMs_(0.0f),
      gain_(0.0f),
      comb_(library, sampleRate),
      feedbackScale_(1.0f) {
    comb_.SetFeedback(&feedbackScale_);
}

template <class Data, class Scale>
void AllPassComb<Data, Scale>::SetDelay(float milliseconds) {
    delayMs_ = milliseconds < 6.0f ? 6.0f : milliseconds;
    comb_.SetDelay(delayMs_);
}

template <class Data, class Scale>
void AllPassComb<Data, Scale>::SetDecayTime(float decayTime) {
    const float g = Math::pow(0.001f, delayMs_ / decayTime);
    gain_ = g;
    feedbackScale_.scale_ = g;
    SetNeeded(truncateToSamples(static_cast<double>(decayTime) * static_cast<double>(sampleRate_) + 0.5));
}

template <class Data, class Scale>
void AllPassComb<Data, Scale>::Reset() {
    comb_.Reset();
    QuietFilterStatus::Reset();
}

template <class Data, class Scale>
void AllPassComb<Data, Scale>::Process(MixBuffer& output, MixBuffer& input) {
    const ScaledMixBuffer direct = {-gain_, &input};
    output += direct;
    comb_.Process(output, input);
}
