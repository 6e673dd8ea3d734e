// The dual widener network: each output side has its own widening filter,
// fed with a cross-feed of the opposite channel and a negative same-side feed.
//
// Per frame for the left side, once ramps have settled (k the spread, m the
// center, sL the left input scale, dL the left input delay, D the direct
// delay, W the side's widening filter, HP the optional high-pass; the right
// side is the mirror image with L/R, sL/sR and dL/dR exchanged):
//   direct   = sL L[t - D - dL]
//   cross    = HP(k sL R[t - dL])
//   filtered = W(cross - m k sL L[t - dL])
//   left    += shelf(direct + filtered)      (without shelf: direct + filtered)
// The side's scale and input delay also apply to the cross-feed it reads
// from the other channel.
#pragma once

#include "Panner.h"
#include "VastorFilter.h"

class DelayMixBuffer;
class InPlaceFilter;
class SingleFreqFilter;

class DualVastorFilter : public VastorFilter {
  public:
    // Buses of blockSize frames; the filters for rate Hz as flags choose them.
    DualVastorFilter(MathLibrary& library, MixBuffer (&output)[2], long rate, long blockSize, unsigned flags);
    ~DualVastorFilter() override;

    VastorFilterInput* CreateVastorFilterInput() override;
    // A side whose shelf could not be made (rate without a shelf row) runs
    // without it.
    void Process(Samples n) override;
    void Reset() override;
    bool IsQuiet() override;
    // kVastorHipassFrequency, kVastorHipassOn; other ids are ignored.
    void SetProperty(int id, const void* value, int size) override;

    MathLibrary* library_;             // not owned
    long directDelay_;                 // frames, from the widening filter's table row
    MixBuffer crossBuffers_[2];        // per side: the cross-feed
    MixBuffer filterBuffers_[2];       // per side: what the widening filter processes
    MixBuffer shelfBuffers_[2];        // per side: what the shelf processes; only with the shelf
    MixBuffer* output_;                // the caller's output pair; not owned
    SingleFreqFilter* highpass_[2];    // owned; 75 Hz
    InPlaceFilter* widenerFilter_[2];  // owned
    InPlaceFilter* shelfFilter_[2];    // owned, or null
    bool hipassOn_;
    bool shelfOn_;  // the shelf stage exists (flag VASTOR_HIGH_SHELF)
    // The fused front of both sides (InPlaceFilter::PrepareFed), prepared at
    // construction: [high-pass on][result added into the outputs in the loop].
    FedPlan fedPlans_[2][2];
};

class DualVastorFilterInput : public VastorFilterInput {
  public:
    // direct is the network's shelf buses or the caller's output pair. Starts
    // in immediate mode with a ramp length of 0, so every change applies at once.
    DualVastorFilterInput(MathLibrary& library, MixBuffer (&direct)[2], MixBuffer (&cross)[2],
                          MixBuffer (&filter)[2], long directDelay);
    ~DualVastorFilterInput() override;

    void Mix(const Buffer& in, Samples n, Samples offset) override;
    void Mix(const Buffer& left, const Buffer& right, Samples n, Samples offset) override;
    // Silences the history and returns to immediate mode; settings stay.
    void Reset() override;
    bool IsQuiet() override;
    // Ids 0 to 5 and 7; spread and center are used as given.
    void SetProperty(int id, const void* value, int size) override;

    void setupPanners();
    // Each line is sized for the longest delay any panner reads from it: the
    // own side's direct delay and the other side's cross-feed delay.
    void setupDelays();

    bool disabled_;
    bool immediate_;
    long rampLength_;  // frames
    float spread_;
    float center_;
    float scale_[2];
    int inputDelay_[2];                 // frames
    long directDelay_;                  // frames
    DelayMixBuffer* delayLine_[2];      // owned; left and right input history
    DelayWindow window_[2];             // left and right: each line's past and the block
    StereoDelayPanner directPanner_;    // left_ reads the left input, right_ the right
    StereoDelayPanner crossPanner_;     // left_ reads the right input, right_ the left
    StereoDelayPanner sameSidePanner_;  // left_ reads the left input, right_ the right
};
