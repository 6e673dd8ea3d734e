// The widening and shelving filters of the widener networks, built from
// constant per-rate tables with one row for each of 8000, 11025, 12000,
// 16000, 22050, 24000, 32000, 44100 and 48000 Hz.
//
// The widening filters accept any rate: the row of an equal rate is taken,
// else the nearest row (of two equally near rows the lower rate). The row
// keeps its own rate, so at an unlisted rate the filter is the nearest
// row's filter unchanged. All widening gains are negative: the filters
// invert the polarity of what they filter. The high shelf exists only at the
// nine rates. Every filter returned is new, starts silent, and is owned by
// the caller, who deletes it through its virtual destructor.
//
// With allRates, four more rows (88200, 96000, 176400 and 192000 Hz, designed
// by design/vastor_rate_design.py to sound as the 48000 Hz rows do) join the
// search: a rate takes the nearest row of all thirteen, so rates up to 48000 Hz
// get exactly the rows they get without it.
#pragma once

#include "FilterDesign.h"
#include "Flt2p0z.h"

class MathLibrary;
class InPlaceFilter;

// A multi-stage row: the all-pole cascade and the delay in frames that the
// network must give its unfiltered path to stay aligned with it.
struct MultiStageVastorRow {
    IIR2p0zCoeffs coeffs;
    long directDelay;
};

// A high-shelf row: one biquad section, H(z) = gain (1 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2),
// its coefficients in the order a1, a2, b1, b2.
struct HighshelfRow {
    long sampleRate;
    float gain;
    long numSections;
    float coeffs[4];
};

constexpr int kVastorRateCount = 9;
extern const MultiStageVastorRow multiStageVastorTable[kVastorRateCount];
extern const BiquadCoeffs2 singleStageVastorTable[kVastorRateCount];
extern const HighshelfRow highshelfTable[kVastorRateCount];

// The rows for 88200, 96000, 176400 and 192000 Hz, in that order.
constexpr int kVastorHighRateCount = 4;
extern const MultiStageVastorRow multiStageVastorHighTable[kVastorHighRateCount];
extern const BiquadCoeffs2 singleStageVastorHighTable[kVastorHighRateCount];
extern const HighshelfRow highshelfHighTable[kVastorHighRateCount];

// The cascade of two-pole sections of the row for rate, its gain times gain.
// Writes the row's direct delay (frames) to *directDelay. Null only when the
// library cannot make the filter.
InPlaceFilter* CreateMultiStageVastor(MathLibrary& library, long rate, float gain, long* directDelay,
                                      bool allRates = false);
// One biquad section (a pole pair at 850 Hz, a zero pair at 24 Hz) of the row
// for rate, its gain times gain. Writes 0 to *directDelay.
InPlaceFilter* CreateSingleStageVastor(MathLibrary& library, long rate, float gain, long* directDelay,
                                       bool allRates = false);
// The high shelf for exactly rate Hz (a pass-through section at 8000, 11025
// and 12000), or null for any other rate or when the library cannot make a biquad.
InPlaceFilter* CreateHighshelf(MathLibrary& library, long rate, bool allRates = false);
