// The dense FIR filter: y[t] = sum over k = 0 .. N-1 of h[k] * x[t - k], run in
// place on a mono float MixBuffer, with the input history carried across
// blocks.
#pragma once

#include "Filter.h"
#include "Quietbuf.h"
#include "Wavedata.h"

// A coefficient set as the engines keep it in their constant tables.
struct FIRCoeffs {
    const float* coeffs;  // h[0] first (h[0] weighs the newest sample); not owned
    long numTaps;         // number of coefficients
};

// Sum of a[i] * b[i] over i = 0 .. n-1, added in index order in double and
// rounded to float once; 0 for n <= 0.
float fDotProduct(const float* a, const float* b, Samples n);

// Tail: the number of taps, so the filter goes quiet N samples after its last
// input. A filter without taps outputs silence.
class FloatFIR : public InPlaceFilter, public QuietFilterStatus {
  public:
    FloatFIR();
    ~FloatFIR() override;
    FloatFIR(const FloatFIR&) = delete;
    FloatFIR& operator=(const FloatFIR&) = delete;

    // Copies the n coefficients at coeffs and resets the filter. Answers 0, or
    // 1 when n is negative or too large, or an array cannot be allocated.
    // Called once, by the factory; allocates.
    int init(const float* coeffs, int n);

    bool IsQuiet() override { return QuietFilterStatus::IsQuiet(); }
    void GettingInput() override { QuietFilterStatus::GettingInput(); }
    void NoInput(Samples n) override { QuietFilterStatus::NoInput(n); }
    // Quiet, history all zeros; the coefficients stay.
    void Reset() override;
    void Process(MixBuffer& buffer) override;

    int tapCount_;    // N
    int position_;    // where the next sample is written, N-1 down to 0, then N-1 again
    float* coeffs_;   // owned copy of h[0 .. N-1]
    float* history_;  // owned, 2N: history_[position_ + 1 + k] = x[t - k] after sample t,
                      // both halves alike, so any N-sample window is one run (long filters)
    float* past_;     // owned, N: the last N - 1 inputs, oldest first (the block path)
};
