// The float biquad cascade:
//   H(z) = gain * prod (1 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2),
// each section in direct form II:
//   w = x - a1 w1 - a2 w2;  y = w + b1 w1 + b2 w2;  w2 = w1;  w1 = w.
// The gain is applied once, before the first section. Tail: 1000 samples,
// whatever the coefficients.
#pragma once

#include "Filter.h"
#include "Quietbuf.h"

class FloatBiquad : public BiquadFilter, public QuietFilterStatus {
  public:
    struct Section {
        float a1, a2, b1, b2;  // one coefficient row
        float z1, z2;          // previous two values of the internal signal w

        // Direct form II: w = x - a1 w[t-1] - a2 w[t-2]; y = w + b1 w[t-1] + b2 w[t-2]
        float advance(float x, float& w1, float& w2) const {
            const float w = x - a1 * w1 - a2 * w2;
            const float y = w + b1 * w1 + b2 * w2;
            w2 = w1;
            w1 = w;
            return y;
        }
    };

    // No sections and gain 1 until SetFilter.
    FloatBiquad();
    ~FloatBiquad() override;
    FloatBiquad(const FloatBiquad&) = delete;
    FloatBiquad& operator=(const FloatBiquad&) = delete;

    bool IsQuiet() override { return QuietFilterStatus::IsQuiet(); }
    void GettingInput() override { QuietFilterStatus::GettingInput(); }
    void NoInput(Samples n) override { QuietFilterStatus::NoInput(n); }
    // Clears the state of every section and makes the filter quiet; the
    // coefficients and gain stay.
    void Reset() override;
    void Process(MixBuffer& buffer) override;
    // Both filters advanced together when other is of this class (for the
    // cascades: with as many sections); the bits of two Process calls.
    void ProcessPair(MixBuffer& buffer, InPlaceFilter& other, MixBuffer& otherBuffer) override;
    // High-pass, feed, gain and the first four sections in one loop (both
    // sides packed in one register); the bits of the separate calls.
    bool ProcessFed(const FedSide& side, InPlaceFilter* other, const FedSide* otherSide) override;
    void PrepareFed(FedPlan& plan, const FedSide& side, InPlaceFilter* other,
                    const FedSide* otherSide) override;
    // Copies gain and rows and restarts from silence (Reset), even when only
    // the coefficients change. The section array is reallocated only when the
    // section count changes. Answers 0, or 1 when the array cannot be had
    // (including a negative count); the filter then has no sections.
    int SetFilter(const BiquadCoeffs& coeffs) override;

    float gain_;
    int sectionCount_;
    Section* sections_;  // owned, sectionCount_ records
    bool applyGain_;     // gain_ != 1.0 exactly
};
