#include "M2sfir.h"

#include "MathLib.h"
#include "NearestRate.h"

namespace {

// The entry for sampleRate among table's and, with allRates, highTable's after them.
const M2SFIRRate& Nearest(const M2SFIRRate (&table)[kM2SFIRRates],
                          const M2SFIRRate (&highTable)[kM2SFIRHighRates], bool allRates, long sampleRate) {
    auto entry = [&](int i) -> const M2SFIRRate& {
        return i < kM2SFIRRates ? table[i] : highTable[i - kM2SFIRRates];
    };
    const int count = allRates ? kM2SFIRRates + kM2SFIRHighRates : kM2SFIRRates;
    return entry(NearestRateIndex(count, sampleRate,
                                  [&](int i) { return static_cast<long long>(entry(i).sampleRate); }));
}

InPlaceFilter* CreateM2SFilter(MathLibrary& library, const M2SFIRRate& entry, long* delay) {
    *delay = (entry.coeffs.numTaps - 1) / 2;
    return library.CreateFIRFilter(&entry.coeffs);
}

}  // namespace

const M2SFIRRate& NearestM2SFIRRate(const M2SFIRRate (&table)[kM2SFIRRates], long sampleRate) {
    return Nearest(table, m2sShortFIRHighTable, false, sampleRate);
}

const M2SFIRRate& NearestM2SFIRRate(const M2SFIRRate (&table)[kM2SFIRRates],
                                    const M2SFIRRate (&highTable)[kM2SFIRHighRates], long sampleRate) {
    return Nearest(table, highTable, true, sampleRate);
}

InPlaceFilter* CreateShortM2SFilter(MathLibrary& library, long sampleRate, long* delay, bool allRates) {
    return CreateM2SFilter(library, Nearest(m2sShortFIRTable, m2sShortFIRHighTable, allRates, sampleRate),
                           delay);
}

InPlaceFilter* CreateLongM2SFilter(MathLibrary& library, long sampleRate, long* delay, bool allRates) {
    return CreateM2SFilter(library, Nearest(m2sLongFIRTable, m2sLongFIRHighTable, allRates, sampleRate),
                           delay);
}
