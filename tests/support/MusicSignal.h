// The music-like test material shared by the float core's and the widener's
// tests: a few partials with slow vibrato plus noise.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace test_support {

// n samples of 0.55 * partials + 0.3 * noise at the given rate, within about
// +-1 before the caller scales them. Deterministic per seed.
inline std::vector<double> MusicShape(int n, uint32_t seed, double rate) {
    std::vector<double> out(static_cast<size_t>(n));
    uint32_t state = seed * 2654435761u + 12345u;
    const double base = 110.0 + (seed % 7) * 37.0;
    double phase[4] = {0, 0, 0, 0};
    for (int i = 0; i < n; ++i) {
        double x = 0;
        for (int p = 0; p < 4; ++p) {
            const double f = base * (p + 1) * (1.0 + 0.01 * std::sin(i * 0.0007 * (p + 1)));
            phase[p] += 2.0 * 3.14159265358979323846 * f / rate;
            x += std::sin(phase[p]) / (p + 1.5);
        }
        state = state * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(state >> 8) / 16777216.0) - 0.5;
        out[static_cast<size_t>(i)] = 0.55 * x + 0.3 * noise;
    }
    return out;
}

}  // namespace test_support
