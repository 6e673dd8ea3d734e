// Level conversions between linear gain, decibels and millibels.
#include <cmath>
#include <limits>

#include "Mathutil.h"

namespace {

// 2000 * log10(2) as a single-precision value: millibels per octave of gain.
const double kMillibelsPerOctave = 602.0599975585938;
// 10^(1/2000) and 10^(-1/2000): the gain of one millibel up and down.
const double kMillibelUp = 1.001151955538169;
const double kMillibelDown = 0.9988493699365052;
// ln(10) / 20: nepers per decibel.
const double kNepersPerDecibel = 0.1151292546497023;
const long double kLog2E = 1.44269504088896340735992468100189214L;

}  // namespace

int Math::to_mb(float gain) {
    if (gain == 1.0f) return 0;
    if (!(gain > 0.0f)) return -10000;
    const float v = static_cast<float>(kMillibelsPerOctave * std::log2(static_cast<double>(gain)));
    // Only an infinite gain leaves the int range.
    if (v >= static_cast<float>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    return static_cast<int>(v + 0.5);
}

float Math::from_mb(int mb) {
    if (mb == 0) return 1.0f;
    if (mb > 0) return static_cast<float>(Math::pow(kMillibelUp, mb));
    // -mb cannot be formed for the smallest int; that gain underflows to 0 anyway.
    if (mb == std::numeric_limits<int>::min()) return 0.0f;
    return static_cast<float>(Math::pow(kMillibelDown, -mb));
}

float from_db(float dB) {
    const long double exponent = static_cast<long double>(dB) * kNepersPerDecibel * kLog2E;
    return static_cast<float>(static_cast<double>(std::exp2(exponent)));
}
