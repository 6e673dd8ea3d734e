// Second-order bandpass designs.
#include <cmath>

#include "Filter.h"
#include "FilterDesign.h"

// H(s) = ww s / (s^2 + ww s + wc^2): the width is warped on its own, as if
// it were a frequency. Peak gain 1 at the center.
void InitBandpassCoeffs(BiquadCoeffs& out, float row[][4], long sampleRate, long center, long width) {
    out.coeffs = row;
    out.numSections = 1;
    const double fs = static_cast<double>(sampleRate);
    const double wc = GetWarpedBilinearFrequency(static_cast<double>(center), fs);
    const double ww = GetWarpedBilinearFrequency(static_cast<double>(width), fs);
    ApplyBilinear(0.0, ww, 0.0, 1.0, ww, wc * wc, out);
}

int DesignBandpass(BiquadFilter* filter, long sampleRate, long center, long width) {
    BiquadCoeffs coeffs;
    float row[1][4];
    InitBandpassCoeffs(coeffs, row, sampleRate, center, width);
    return filter->SetFilter(coeffs);
}

// H(s) = (topGain s^2 + P s + dcGain wc^2) / (s^2 + Q s + wc^2), with B the
// warped half-width of center +- width/2 and e = (topGain - dcGain) wc:
// P = sqrt(B^2 - e^2), Q = B when |e| <= B, else P = 0, Q = |e|. Either way
// |H(j wc)| = 1.
void InitBandpassCoeffs(BiquadCoeffs& out, float row[][4], long sampleRate, long center, long width,
                        double dcGain, double topGain) {
    out.coeffs = row;
    out.numSections = 1;
    const double fs = static_cast<double>(sampleRate);
    const long half = width / 2;
    const double wc = GetWarpedBilinearFrequency(static_cast<double>(center), fs);
    const double b = 0.5 * (GetWarpedBilinearFrequency(static_cast<double>(center + half), fs) -
                            GetWarpedBilinearFrequency(static_cast<double>(center - half), fs));
    const double e = (topGain - dcGain) * wc;
    double p, q;
    if (std::fabs(e) <= b) {
        p = std::sqrt(b * b - e * e);
        q = b;
    } else {
        p = 0.0;
        q = std::fabs(topGain - dcGain) * wc;
    }
    ApplyBilinear(topGain, p, dcGain * wc * wc, 1.0, q, wc * wc, out);
}

int DesignBandpass(BiquadFilter* filter, long sampleRate, long center, long width, double dcGain,
                   double topGain) {
    BiquadCoeffs coeffs;
    float row[1][4];
    InitBandpassCoeffs(coeffs, row, sampleRate, center, width, dcGain, topGain);
    return filter->SetFilter(coeffs);
}
