// The sparse FIR filter: out[t] += sum over taps of gain_i * in[t - delay_i],
// for a handful of isolated taps. The input history lives in a delay line as
// long as the largest delay, and each tap is mixed straight from there, so the
// cost grows with the number of taps, not with the length of the response.
#pragma once

#include "DelayBuffer.h"
#include "Filter.h"
#include "Quietbuf.h"
#include "Wavedata.h"

class MathLibrary;

// One tap as the caller describes it.
struct FilterTap {
    float delay;  // milliseconds, rounded to whole samples; negative counts as 0
    float gain;
};

// Data: the sample type, Scale: the gain type; used as <float, float>.
// Tail: the largest tap delay in samples.
template <class Data, class Scale>
class SparseFIR : public SparseFIRFilter, public QuietFilterStatus {
  public:
    // An empty filter (no taps, no history) for sampleRate Hz. The library is
    // not kept.
    SparseFIR(MathLibrary& library, Samples sampleRate);
    ~SparseFIR() override;
    SparseFIR(const SparseFIR&) = delete;
    SparseFIR& operator=(const SparseFIR&) = delete;

    // Replaces all taps by the count taps at taps (unsorted, delays may repeat)
    // and resizes the history to the largest delay, keeping its newest
    // samples. Allocates only when count exceeds every earlier count; if that
    // allocation fails the filter is left without taps. The bool is reserved
    // and ignored. Not to be called during Process.
    void SetTaps(int count, const FilterTap* taps, bool unused) override;

    bool IsQuiet() override { return QuietFilterStatus::IsQuiet(); }
    void GettingInput() override { QuietFilterStatus::GettingInput(); }
    void NoInput(Samples n) override { QuietFilterStatus::NoInput(n); }
    // Quiet, history all zeros; the taps stay.
    void Reset() override;
    // Adds the response to input's used samples into output (whose used count
    // becomes at least that many when there are taps), then pushes the input
    // into the history. Input is not changed.
    void Process(MixBuffer& output, MixBuffer& input) override;

    struct Tap {
        int delaySamples;
        Scale gain;
    };

    Samples sampleRate_;  // Hz
    int tapCount_;        // taps in use
    int tapCapacity_;     // taps taps_ can hold; only grows
    Tap* taps_;           // owned
    Samples maxDelay_;    // largest delaySamples in use; the history's size
    DelayBuffer<Data, DelayBufferScaleTexts> delayLine_;
};
