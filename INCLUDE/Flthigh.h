// The float state-variable high-pass: two poles (12 dB per octave), Q 1/sqrt2
// at its corner. Per sample, with f = tune_ and q = damping_:
//   low += f band;  high = x - low - q band;  band += f high;  output high.
// Until SetFrequency is called (f = q = 0) it passes its input unchanged.
// Tail: 1000 samples, whatever the corner.
#pragma once

#include "Filter.h"
#include "Quietbuf.h"

class FloatHipass : public SingleFreqFilter, public QuietFilterStatus {
  public:
    explicit FloatHipass(Samples sampleRate);

    bool IsQuiet() override { return QuietFilterStatus::IsQuiet(); }
    void GettingInput() override { QuietFilterStatus::GettingInput(); }
    void NoInput(Samples n) override { QuietFilterStatus::NoInput(n); }
    // Clears band and low and makes the filter quiet; the tuning stays.
    void Reset() override;
    void Process(MixBuffer& buffer) override;
    // Both filters advanced together when other is of this class (for the
    // cascades: with as many sections); the bits of two Process calls.
    void ProcessPair(MixBuffer& buffer, InPlaceFilter& other, MixBuffer& otherBuffer) override;
    // Corner in Hz: tune_ = 2 sin(pi hz / sampleRate_), limited to
    // 0 ... 2 - sqrt2 (a corner of about 0.095 of the sample rate), beyond
    // which the recursion's gain near the Nyquist frequency exceeds 2 and then
    // diverges. The history stays.
    void SetFrequency(Samples hz) override;

    Samples sampleRate_;  // Hz
    float damping_;       // 1/Q: sqrt2 once tuned
    float tune_;
    float band_;  // band-pass state
    float low_;   // low-pass state
};
