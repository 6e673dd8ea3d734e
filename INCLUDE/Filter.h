// The filter class tree: every element that keeps state from one block to the
// next. Library filters come from the math library's factories; the engines'
// networks are filters built out of library filters.
//
// Calling protocol for one block of n frames, as a network drives a filter:
//   1. whatever feeds the filter is mixed into its input MixBuffer;
//   2. MixBuffer::Prepare(filter, n) decides whether the filter must run
//      (it has input, or its tail still rings);
//   3. if so, the network calls Process and uses the result; if not, the
//      filter's output counts as silence;
//   4. at the end of the block the network sets its buffers' used counts to 0.
#pragma once

#include <typeinfo>

#include "Wavedata.h"

class MixBuffer;
class InPlaceFilter;
struct BiquadCoeffs;
struct IIR2p0zCoeffs;
struct FilterTap;
struct FedPlan;

class Filter {
  public:
    virtual ~Filter();
    // Untyped setter: the meaning of id and of the size bytes at value belong
    // to the overriding class. Unknown ids are ignored; this version ignores all.
    virtual void SetProperty(int id, const void* value, int size);
    // Untyped getter: writes 0 to *sizeOut (when not null), i.e. nothing returned.
    virtual void GetProperty(int id, void* value, int size, int* sizeOut);
    // The next n samples fed to the filter are silence the caller zero-filled.
    virtual void NoInput(Samples n);
    // The block about to be processed carries real input.
    virtual void GettingInput();
    // True when the filter would produce (next to) nothing from silent input.
    virtual bool IsQuiet() = 0;
    // Forgets all signal history and leaves the filter quiet; coefficients,
    // delays and settings are kept.
    virtual void Reset() = 0;
};

// One side of InPlaceFilter::ProcessFed: what runs before the filter, and over
// which buses.
struct FedSide {
    InPlaceFilter* pre;  // a high-pass run first, or null
    MixBuffer* feed;     // added into bus after pre ran over it, or null
    MixBuffer* bus;      // the filter runs over it in place
    MixBuffer* out;      // the filtered bus is then added into it, or null
};

// Filters the first used-count samples of a mono float MixBuffer in place.
class InPlaceFilter : public Filter {
  public:
    virtual void Process(MixBuffer& buffer) = 0;
    // Process(buffer), and other.Process(otherBuffer), with exactly the bits
    // of those two calls: for a network that runs the same kind of filter on
    // two independent signals (a left and a right side). A filter class whose
    // recursion waits on each previous sample overrides this to advance both
    // filters in one loop, so that the two dependency chains overlap. The two
    // filters and the two buffers must be distinct. This version runs one
    // call after the other.
    virtual void ProcessPair(MixBuffer& buffer, InPlaceFilter& other, MixBuffer& otherBuffer);
    // The front of a widener side in one loop over the samples, with exactly
    // the bits of the calls it stands for: for each side, pre->Process(*feed)
    // (or over *bus when there is no feed) unless pre is null, *bus += *feed
    // unless feed is null, then the side's filter over *bus, and *out += *bus
    // unless out is null: this filter for side, other for *otherSide (both
    // null for one side only). Every buffer
    // given must hold the same used count, more than 0. Answers false, having
    // done nothing, when the filters cannot run so (another class of filter,
    // another section count, a pre-filter that is no plain high-pass, unequal
    // counts); the caller then makes the calls. This version answers false.
    virtual bool ProcessFed(const FedSide& side, InPlaceFilter* other, const FedSide* otherSide);
    // ProcessFed resolved once for buses and filters that stay: every check
    // of the filters' kinds and of the buses' identities is made here, and
    // plan (FedPlan) keeps what passed, for RunFed on each block. This version
    // leaves plan without a run (RunFed answers false).
    virtual void PrepareFed(FedPlan& plan, const FedSide& side, InPlaceFilter* other,
                            const FedSide* otherSide);
};

// A ProcessFed prepared by InPlaceFilter::PrepareFed. The filters and buses
// it names must outlive it, and the filters' kinds must not change.
struct FedPlan {
    // Runs the plan; false, with nothing done, where ProcessFed would answer
    // false (unequal used counts, a changed section count or gain use).
    bool (*run)(const FedPlan& plan) = nullptr;
    InPlaceFilter* self = nullptr;
    InPlaceFilter* other = nullptr;  // the second side's filter, or null for one side
    InPlaceFilter* pre[2] = {nullptr, nullptr};
    FedSide sides[2] = {{nullptr, nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr, nullptr}};
};

// ProcessFed(plan.sides[0], plan.other, &plan.sides[1]) (one side without
// other) as plan's filter prepared it.
inline bool RunFed(const FedPlan& plan) {
    return plan.run && plan.run(plan);
}

// f as a T when it is exactly a T (else null, also for a class derived from
// T): one comparison of type identities, where dynamic_cast would search the
// class tree on every call. For the fast paths of a class, which fall back
// to the general one for anything else.
template <class T>
T* ExactCast(InPlaceFilter* f) {
    return f && typeid(*f) == typeid(T) ? static_cast<T*>(f) : nullptr;
}

// Reads the used samples of input and adds the filtered signal into output at
// the same positions. Input is not changed.
class InOutFilter : public Filter {
  public:
    virtual void Process(MixBuffer& output, MixBuffer& input) = 0;
};

// First-order filters, designed for the sample rate given at construction.
class FirstOrderFilter : public InPlaceFilter {
  public:
    explicit FirstOrderFilter(Samples sampleRate) : sampleRate_(sampleRate) {}
    virtual void SetCoeffs(float a0, float b, float c) = 0;
    virtual void SetGain(float gain) = 0;

    // Program a first-order highpass (unity gain at the Nyquist frequency,
    // zero at 0 Hz) or lowpass (unity at 0 Hz, zero at the Nyquist frequency)
    // through SetCoeffs. frequency in Hz; g shapes the pole (it is not the
    // exact magnitude at frequency).
    void DesignHighpass(long frequency, float g);
    void DesignLowpass(long frequency, float g);

  protected:
    Samples sampleRate_;  // Hz, fixed at construction
};

// A filter with one corner frequency (the state-variable high-pass).
class SingleFreqFilter : public InPlaceFilter {
  public:
    virtual void SetFrequency(Samples hz) = 0;
};

// A cascade of biquad sections; answers 0 on success, 1 on a failed allocation.
class BiquadFilter : public InPlaceFilter {
  public:
    virtual int SetFilter(const BiquadCoeffs& coeffs) = 0;
};

// Gain times a cascade of all-pole two-pole sections; 0 on success, 1 on failure.
class IIR2p0zFilter : public InPlaceFilter {
  public:
    virtual int setFilter(const IIR2p0zCoeffs* coeffs) = 0;
};

// out[t] += sum of gain_i * in[t - delay_i] over a handful of isolated taps.
class SparseFIRFilter : public InOutFilter {
  public:
    virtual void SetTaps(int count, const FilterTap* taps, bool unused) = 0;
};

// A comb with a delay in milliseconds and a decay time in seconds.
class SimpleCombFilter : public InOutFilter {
  public:
    virtual void SetDelay(float milliseconds) = 0;
    virtual void SetFeedback(InPlaceFilter* feedback) = 0;
    virtual void SetDecayTime(float seconds) = 0;
    virtual void SetInputGain(float gain) = 0;
};

class AllPassCombFilter : public InOutFilter {
  public:
    virtual void SetDelay(float milliseconds) = 0;
    virtual void SetDecayTime(float seconds) = 0;
};

// Multiplies the used samples of its buffer by scale_. Has no state, so it is
// always quiet and Reset, GettingInput and NoInput do nothing.
class InPlaceScaleFilter : public InPlaceFilter {
  public:
    explicit InPlaceScaleFilter(float scale = 1.0f) : scale_(scale) {}
    void Process(MixBuffer& buffer) override;
    bool IsQuiet() override { return true; }
    void Reset() override {}

    float scale_;
};
