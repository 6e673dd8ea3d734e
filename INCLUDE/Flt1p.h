// The float first-order filter: one pole and one zero,
//   y[n] = a0 (x[n] + b x[n-1]) - c y[n-1],  H(z) = a0 (1 + b z^-1) / (1 + c z^-1).
// The defaults pass the signal unchanged. Tail: 100 samples, whatever the
// coefficients.
#pragma once

#include "Filter.h"
#include "Quietbuf.h"

class FloatFirstOrderFilter : public FirstOrderFilter, public QuietFilterStatus {
  public:
    explicit FloatFirstOrderFilter(Samples sampleRate);

    bool IsQuiet() override { return QuietFilterStatus::IsQuiet(); }
    void GettingInput() override { QuietFilterStatus::GettingInput(); }
    void NoInput(Samples n) override { QuietFilterStatus::NoInput(n); }
    // Clears x1 and y1 and makes the filter quiet; the coefficients stay.
    void Reset() override;
    void Process(MixBuffer& buffer) override;
    // Takes effect from the next sample on; the history stays.
    void SetCoeffs(float a0, float b, float c) override;
    // Recorded only: the gain does not enter the processing.
    void SetGain(float gain) override;

    // The coefficients in effect.
    float a0() const { return a0_; }
    float b() const { return b_; }
    float c() const { return c_; }

  private:
    float gain_;
    float a0_;  // overall multiplier
    float b_;   // zero coefficient, relative to a0
    float c_;   // pole coefficient
    float x1_;  // previous input sample
    float y1_;  // previous output sample
};
