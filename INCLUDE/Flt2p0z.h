// The float all-pole cascade:
//   H(z) = gain * prod 1 / (1 + a1 z^-1 + a2 z^-2),
// each section y = x - (a1 y1 + a2 y2);  y2 = y1;  y1 = y.
// The gain is applied once, before the first section. Tail: 1000 samples,
// whatever the coefficients.
#pragma once

#include "Filter.h"
#include "FilterDesign.h"
#include "Quietbuf.h"

// An all-pole cascade for one sample rate: one section per conjugate pole pair.
struct IIR2p0zCoeffs {
    long sampleRate;  // Hz, the rate the roots are meant for
    float gain;
    long numSections;
    const IIRRoot* roots;  // numSections pole pairs, not owned
};

class FloatIIR2p0z : public IIR2p0zFilter, public QuietFilterStatus {
  public:
    struct Section {
        float a1, a2;  // 1 + a1 z^-1 + a2 z^-2
        float z1, z2;  // the section's two previous outputs

        // y = x - (a1 y[t-1] + a2 y[t-2])
        float advance(float x, float& y1, float& y2) const {
            const float y = x - (a1 * y1 + a2 * y2);
            y2 = y1;
            y1 = y;
            return y;
        }
    };

    FloatIIR2p0z();
    ~FloatIIR2p0z() override;
    FloatIIR2p0z(const FloatIIR2p0z&) = delete;
    FloatIIR2p0z& operator=(const FloatIIR2p0z&) = delete;

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
    // Places each section's poles from the roots at coeffs->sampleRate. When
    // the section count is unchanged the state is kept; new sections start
    // from zero. Answers 0; 1 for a null record (nothing changes) or when the
    // array cannot be had, including a negative count (the filter then has no
    // sections).
    int setFilter(const IIR2p0zCoeffs* coeffs) override;

    float gain_;
    int sectionCount_;
    Section* sections_;  // owned, sectionCount_ records
    bool applyGain_;     // gain_ != 1.0 exactly
};
