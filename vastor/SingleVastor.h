// The single widener network: one widening filter on the difference of the
// two channels, subtracted from the left side and added to the right side.
//
// Per frame, once ramps have settled (g the difference gain, c the direct
// gain, sL/sR the input scales, dL/dR the input delays, D the direct delay,
// W the widening filter, HP the optional high-pass, x[t - d] x delayed d frames):
//   diff  = g (sL L[t - dL] - sR R[t - dR])
//   w     = W(HP(diff))
//   left  = shelf(c sL L[t - D - dL] - w)
//   right = shelf(c sR R[t - D - dR] + w)
// and left and right are added into the caller's output pair.
#pragma once

#include "Panner.h"
#include "VastorFilter.h"

class DelayMixBuffer;
class InPlaceFilter;
class SingleFreqFilter;

class SingleVastorFilter : public VastorFilter {
  public:
    // Buses of blockSize frames; the filters for rate Hz as flags choose them.
    SingleVastorFilter(MathLibrary& library, MixBuffer (&output)[2], long rate, long blockSize,
                       unsigned flags);
    ~SingleVastorFilter() override;

    VastorFilterInput* CreateVastorFilterInput() override;
    void Process(Samples n) override;
    void Reset() override;
    // The high-pass and the widening filter (not the shelves).
    bool IsQuiet() override;
    // kVastorHipassFrequency, kVastorHipassOn; other ids are ignored.
    void SetProperty(int id, const void* value, int size) override;

    MathLibrary* library_;        // not owned
    unsigned flags_;              // the open flags
    long directDelay_;            // frames, from the widening filter's table row
    long blockSize_;              // frames each bus holds
    MixBuffer directBuffers_[2];  // left and right direct sums, then the side results
    MixBuffer differenceBuffer_;  // the difference signal
    MixBuffer* output_;           // the caller's output pair; not owned
    SingleFreqFilter* highpass_;  // owned; 75 Hz
    bool hipassOn_;
    InPlaceFilter* widenerFilter_;   // owned
    InPlaceFilter* shelfFilter_[2];  // owned, or null
    // The high-pass and the widening filter in one loop (InPlaceFilter::PrepareFed),
    // prepared at construction: [high-pass on].
    FedPlan fedPlans_[2];
};

class SingleVastorFilterInput : public VastorFilterInput {
  public:
    // output is passed along for symmetry and not used. Starts in immediate
    // mode: settings made before the first Mix apply without ramps.
    SingleVastorFilterInput(MathLibrary& library, MixBuffer (&output)[2], MixBuffer (&direct)[2],
                            MixBuffer& difference, long directDelay);
    ~SingleVastorFilterInput() override;

    void Mix(const Buffer& in, Samples n, Samples offset) override;
    void Mix(const Buffer& left, const Buffer& right, Samples n, Samples offset) override;
    // Silences the history and returns to immediate mode; settings stay.
    void Reset() override;
    bool IsQuiet() override;
    // Ids 0, 1, 3, 4, 5, 7; the center (2) and unknown ids are ignored. A
    // spread x above 1.0 lowers the direct gain to 1/x instead of raising the
    // difference gain.
    void SetProperty(int id, const void* value, int size) override;

    // Programs the panners' gains / the delays and line sizes from the
    // settings, ramping over rampLength_ frames unless immediate.
    void setupPanners();
    void setupDelays();

    bool disabled_;
    bool immediate_;
    float differenceGain_;
    float directGain_;
    float scale_[2];
    int inputDelay_[2];  // frames
    long directDelay_;   // frames
    long rampLength_;    // frames
    StereoDelayPanner directPanner_;
    DelayPanner leftDifferencePanner_;
    DelayPanner rightDifferencePanner_;
    DelayMixBuffer* delayLine_[2];  // owned; left and right input history
    DelayWindow window_[2];         // left and right: each line's past and the block
};
