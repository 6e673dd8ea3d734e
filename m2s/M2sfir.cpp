#include "M2sfir.h"

#include "MathLib.h"

namespace {

// The nearest of count entries (an equal rate at once, the earlier entry on a tie).
const M2SFIRRate& Nearest(const M2SFIRRate* const* entries, int count, long sampleRate) {
    const M2SFIRRate* nearest = entries[0];
    long nearestDistance = -1;
    for (int i = 0; i < count; ++i) {
        const M2SFIRRate& entry = *entries[i];
        if (entry.sampleRate == sampleRate) return entry;
        const long distance =
            entry.sampleRate > sampleRate ? entry.sampleRate - sampleRate : sampleRate - entry.sampleRate;
        if (nearestDistance < 0 || distance < nearestDistance) {
            nearest = &entry;
            nearestDistance = distance;
        }
    }
    return *nearest;
}

const M2SFIRRate& Nearest(const M2SFIRRate (&table)[kM2SFIRRates],
                          const M2SFIRRate (&highTable)[kM2SFIRHighRates], bool allRates, long sampleRate) {
    const M2SFIRRate* entries[kM2SFIRRates + kM2SFIRHighRates];
    for (int i = 0; i < kM2SFIRRates; ++i) entries[i] = &table[i];
    for (int i = 0; i < kM2SFIRHighRates; ++i) entries[kM2SFIRRates + i] = &highTable[i];
    return Nearest(entries, allRates ? kM2SFIRRates + kM2SFIRHighRates : kM2SFIRRates, sampleRate);
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
