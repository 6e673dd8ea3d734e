// The phase-shifting FIR tables of the mono-to-3D network and the factories
// that build a filter from them.
//
// Every table turns its input by about one radian (a phase lead over the
// centre tap's delay) at about unity gain over the audio band: roughly
// cos(60 deg) times a unit impulse at the centre plus sin(60 deg) times a
// Hilbert transformer. There are two sets of nine tables, one per sample rate
// (8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 and 48000 Hz, in
// that order): 45 taps with the centre at tap 22, and 51 taps with the centre
// at tap 25, each long table being its short table with three more taps at
// each end. Coefficient 0 weighs the newest sample. The tables are generated
// by design/m2s_fir_design.py.
//
// For 88200, 96000, 176400 and 192000 Hz there are two more sets, fitted to
// sound as the 48000 Hz short and long tables do; being as long in seconds as
// those, they hold more taps (the centre tap is always the middle one). The
// factories search them only when asked to (allRates), among all the rates,
// so rates up to 48000 Hz get the same table either way.
#pragma once

#include "Fltfir.h"

class InPlaceFilter;
class MathLibrary;

constexpr int kM2SFIRRates = 9;

// One entry of a set's index: a sample rate (Hz) and its coefficients.
struct M2SFIRRate {
    long sampleRate;
    FIRCoeffs coeffs;
};

extern const float fir8_45[45], fir11_45[45], fir12_45[45], fir16_45[45], fir22_45[45], fir24_45[45],
    fir32_45[45], fir44_45[45], fir48_45[45];
extern const float fir8_51[51], fir11_51[51], fir12_51[51], fir16_51[51], fir22_51[51], fir24_51[51],
    fir32_51[51], fir44_51[51], fir48_51[51];

extern const M2SFIRRate m2sShortFIRTable[kM2SFIRRates];
extern const M2SFIRRate m2sLongFIRTable[kM2SFIRRates];

// The sets for 88200, 96000, 176400 and 192000 Hz, in that order.
constexpr int kM2SFIRHighRates = 4;
extern const M2SFIRRate m2sShortFIRHighTable[kM2SFIRHighRates];
extern const M2SFIRRate m2sLongFIRHighTable[kM2SFIRHighRates];

// The entry of table whose rate is nearest to sampleRate: an exact rate wins
// at once, and of two equally near rates the lower (earlier) one.
const M2SFIRRate& NearestM2SFIRRate(const M2SFIRRate (&table)[kM2SFIRRates], long sampleRate);
// The same search over table followed by highTable.
const M2SFIRRate& NearestM2SFIRRate(const M2SFIRRate (&table)[kM2SFIRRates],
                                    const M2SFIRRate (&highTable)[kM2SFIRHighRates], long sampleRate);

// A new short (45-tap) or long (51-tap) FIR filter for the table nearest to
// sampleRate, owned by the caller, or null when the library cannot make it.
// *delay receives the filter's group delay in frames, its centre tap: 22 or
// 25 (more for the high rates' tables, which allRates admits to the search).
InPlaceFilter* CreateShortM2SFilter(MathLibrary& library, long sampleRate, long* delay,
                                    bool allRates = false);
InPlaceFilter* CreateLongM2SFilter(MathLibrary& library, long sampleRate, long* delay, bool allRates = false);
