// The bilinear mapping shared by the second-order designs, the direct form of
// a root pair, and the biquad cascades built from pole/zero records.
#include <cmath>

#include "Filter.h"
#include "FilterDesign.h"
#include "MathLib.h"
#include "Mathutil.h"
#include "NearestRate.h"

namespace {
// Rows of the stack array CreateFilter fills: the most sections a record may hold.
const long kMaxRootSections = 20;
}  // namespace

double GetWarpedBilinearFrequency(double frequency, double sampleRate) {
    const double r = frequency / sampleRate;
    if (!(r < 0.5)) return Math::Pi;
    const double v = 2.0 * std::tan(Math::Pi * r);
    return v <= Math::Pi ? v : Math::Pi;
}

// s = 2 (1 - z^-1) / (1 + z^-1), with the terms of numerator and denominator
// gathered by power of z^-1 and normalised by their constant terms.
void ApplyBilinear(double num2, double num1, double num0, double den2, double den1, double den0,
                   BiquadCoeffs& out) {
    typedef long double Wide;
    const Wide n0 = 4.0L * num2 + 2.0L * num1 + num0;
    const Wide n1 = 2.0L * num0 - 8.0L * num2;
    const Wide n2 = 4.0L * num2 - 2.0L * num1 + num0;
    const Wide d0 = 4.0L * den2 + 2.0L * den1 + den0;
    const Wide d1 = 2.0L * den0 - 8.0L * den2;
    const Wide d2 = 4.0L * den2 - 2.0L * den1 + den0;
    float* row = out.coeffs[0];
    // A polynomial without a constant term cannot be normalised; rather than
    // infinite or NaN coefficients, the section then gets a zero row and the
    // cascade gain 0 (for a vanishing numerator, as in a zero-width bandpass,
    // that is the exact response).
    if (d0 != 0) {
        row[0] = static_cast<float>(d1 / d0);
        row[1] = static_cast<float>(d2 / d0);
    } else {
        row[0] = row[1] = 0.0f;
    }
    if (n0 != 0 && d0 != 0) {
        out.gain = static_cast<float>(n0 / d0);
        row[2] = static_cast<float>(n1 / n0);
        row[3] = static_cast<float>(n2 / n0);
    } else {
        out.gain = 0.0f;
        row[2] = row[3] = 0.0f;
    }
}

void IIRRoot::getDirectForm(long sampleRate, float* c1, float* c2) const {
    const long double angle = static_cast<long double>(Math::Pi2) * frequency / sampleRate;
    *c1 = static_cast<float>(std::cos(angle) * -2.0L * radius);
    *c2 = radius * radius;
}

BiquadFilter* MathLibrary::CreateFilter(const BiquadCoeffs2* coeffs) {
    if (!coeffs || coeffs->numSections > kMaxRootSections || coeffs->numSections < 0) return nullptr;
    BiquadFilter* filter = CreateBiquad();
    if (!filter) return nullptr;
    float rows[kMaxRootSections][4];
    for (long i = 0; i < coeffs->numSections; ++i) {
        const BiquadRoots& section = coeffs->roots[i];
        section.poles.getDirectForm(coeffs->sampleRate, &rows[i][0], &rows[i][1]);
        section.zeros.getDirectForm(coeffs->sampleRate, &rows[i][2], &rows[i][3]);
    }
    const BiquadCoeffs digital = {coeffs->gain, coeffs->numSections, rows};
    // A filter that could not take its sections is of no use to the caller.
    if (filter->SetFilter(digital) != 0) {
        delete filter;
        return nullptr;
    }
    return filter;
}

BiquadFilter* MathLibrary::CreateFilter(const BiquadCoeffs2* table, int count, Samples sampleRate,
                                        bool exactOnly) {
    const int row = NearestRateIndex(
        count, sampleRate, [table](int i) { return static_cast<long long>(table[i].sampleRate); }, exactOnly);
    return row < 0 ? nullptr : CreateFilter(&table[row]);
}
