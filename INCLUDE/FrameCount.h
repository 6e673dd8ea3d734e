// Frame counts computed from times (milliseconds, seconds) given in float.
#pragma once

#include <cstdint>

#include "Wavedata.h"

// v truncated toward zero, as a cast would, but saturated to the Samples range
// instead of overflowing; NaN gives 0.
inline Samples truncateToSamples(double v) {
    if (!(v == v)) return 0;
    if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    return static_cast<Samples>(v);
}
