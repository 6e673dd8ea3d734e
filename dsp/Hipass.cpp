// Highpass designs: the second-order Butterworth section and the first-order
// highpass of FirstOrderFilter.
#include <cmath>

#include "Filter.h"
#include "FilterDesign.h"
#include "Mathutil.h"

// H(s) = s^2 / (s^2 + sqrt2 wc s + wc^2), wc the warped cutoff.
void InitHighpassCoeffs(BiquadCoeffs& out, float row[][4], long sampleRate, long cutoff) {
    out.coeffs = row;
    out.numSections = 1;
    const double wc =
        GetWarpedBilinearFrequency(static_cast<double>(cutoff), static_cast<double>(sampleRate));
    ApplyBilinear(1.0, 0.0, 0.0, 1.0, wc / Math::Sqrt_2, wc * wc, out);
}

int DesignHighpass(BiquadFilter* filter, long sampleRate, long cutoff) {
    BiquadCoeffs coeffs;
    float row[1][4];
    InitHighpassCoeffs(coeffs, row, sampleRate, cutoff);
    return filter->SetFilter(coeffs);
}

// a0 (1 - z^-1) / (1 + p z^-1) with p solving g^2 (1 + 2kp + p^2) = (1 - k)(1 - p),
// k = cos(2 pi frequency / fs). Without a usable real root p stays 0: the
// two-tap difference.
void FirstOrderFilter::DesignHighpass(long frequency, float g) {
    const float k = static_cast<float>(std::cos(Math::Pi2 * static_cast<double>(frequency) / sampleRate_));
    const float q = g * g;
    float p = 0.0f;
    // g = 0 would make the equation linear and its "roots" divisions by zero.
    if (q != 0.0f) {
        solve_quadratic(q, k * (2.0f * q - 1.0f) + 1.0f, q - 1.0f + k, &p, nullptr);
        if (!std::isfinite(p)) p = 0.0f;
    }
    SetCoeffs(0.5f * (1.0f - p), -1.0f, p);
}
