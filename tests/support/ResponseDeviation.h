// How far one frequency response strays from another over a grid of
// frequencies, shared by the rate tests of both engines.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace test_support {

struct Deviation {
    double db = 0, rad = 0;
};

// The largest deviation of candidate from reference over grid, wherever the
// reference is within 30 dB of its peak there. Each response is anything that
// answers std::complex<double> for a frequency in Hz.
template <class Reference, class Candidate>
Deviation Compare(const Reference& reference, const Candidate& candidate, const std::vector<double>& grid) {
    std::vector<std::complex<double>> ref;
    double peak = 0;
    for (double f : grid) {
        ref.push_back(reference(f));
        peak = std::max(peak, std::abs(ref.back()));
    }
    Deviation worst;
    for (size_t i = 0; i < grid.size(); ++i) {
        if (std::abs(ref[i]) < peak * std::pow(10.0, -30.0 / 20.0)) continue;
        const std::complex<double> q = candidate(grid[i]) / ref[i];
        worst.db = std::max(worst.db, std::abs(20.0 * std::log10(std::abs(q))));
        worst.rad = std::max(worst.rad, std::abs(std::arg(q)));
    }
    return worst;
}

}  // namespace test_support
