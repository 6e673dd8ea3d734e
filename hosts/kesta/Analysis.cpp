#include "Analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {
double toDb(double linear) {
    return linear > 0 ? 20.0 * std::log10(linear) : -150.0;
}
}  // namespace

Levels measure(const short* s, size_t frames, int channels) {
    Levels levels;
    const size_t n = frames * static_cast<size_t>(channels);
    if (n == 0) return levels;
    int peak = 0;
    double sumSquares = 0, ll = 0, rr = 0, lr = 0;
    for (size_t i = 0; i < n; ++i) {
        const int v = s[i];
        peak = std::max(peak, std::abs(v));
        sumSquares += static_cast<double>(v) * v;
        if (v == 32767 || v == -32768) ++levels.clipped;
    }
    if (channels == 2) {
        for (size_t f = 0; f < frames; ++f) {
            const double l = s[2 * f], r = s[2 * f + 1];
            ll += l * l;
            rr += r * r;
            lr += l * r;
        }
        levels.correlation = (ll > 0 && rr > 0) ? lr / std::sqrt(ll * rr) : 1.0;
    }
    levels.peakDb = toDb(peak / 32768.0);
    levels.rmsDb = toDb(std::sqrt(sumSquares / static_cast<double>(n)) / 32768.0);
    return levels;
}
