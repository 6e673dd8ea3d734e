// Second-order notch design.
#include "Filter.h"
#include "FilterDesign.h"

// H(s) = (s^2 + wc^2) / (s^2 + B s + wc^2), B the warped half-width of
// center +- width. Zero gain at the center.
void InitNotchCoeffs(BiquadCoeffs& out, float row[][4], long sampleRate, long center, long width) {
    out.coeffs = row;
    out.numSections = 1;
    const double fs = static_cast<double>(sampleRate);
    const double wc = GetWarpedBilinearFrequency(static_cast<double>(center), fs);
    const double b = 0.5 * (GetWarpedBilinearFrequency(static_cast<double>(center + width), fs) -
                            GetWarpedBilinearFrequency(static_cast<double>(center - width), fs));
    ApplyBilinear(1.0, 0.0, wc * wc, 1.0, b, wc * wc, out);
}

int CreateNotch(BiquadFilter* filter, long sampleRate, long center, long width) {
    BiquadCoeffs coeffs;
    float row[1][4];
    InitNotchCoeffs(coeffs, row, sampleRate, center, width);
    return filter->SetFilter(coeffs);
}
