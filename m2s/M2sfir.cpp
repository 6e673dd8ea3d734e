#include "M2sfir.h"

#include "MathLib.h"

const M2SFIRRate& NearestM2SFIRRate(const M2SFIRRate (&table)[kM2SFIRRates], long sampleRate) {
    const M2SFIRRate* nearest = &table[0];
    long nearestDistance = -1;
    for (const M2SFIRRate& entry : table) {
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

static InPlaceFilter* CreateM2SFilter(MathLibrary& library, const M2SFIRRate (&table)[kM2SFIRRates],
                                      long sampleRate, long* delay) {
    const M2SFIRRate& entry = NearestM2SFIRRate(table, sampleRate);
    *delay = (entry.coeffs.numTaps - 1) / 2;
    return library.CreateFIRFilter(&entry.coeffs);
}

InPlaceFilter* CreateShortM2SFilter(MathLibrary& library, long sampleRate, long* delay) {
    return CreateM2SFilter(library, m2sShortFIRTable, sampleRate, delay);
}

InPlaceFilter* CreateLongM2SFilter(MathLibrary& library, long sampleRate, long* delay) {
    return CreateM2SFilter(library, m2sLongFIRTable, sampleRate, delay);
}
