// Loudness as ITU-R BS.1770-4 measures it, in double precision, for the
// tests: K-weighting (its two stages from their analog prototypes, which
// give the published coefficients at 48 kHz), 400 ms blocks every 100 ms,
// the absolute (-70 LUFS) and relative (-10 LU) gates; and short-term
// loudness (3 s windows).
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace core_test {

struct KWeighting {
    double b[2][3], a[2][3];  // shelf, then high-pass; a[.][0] = 1

    explicit KWeighting(double rate) {
        const double pi = 3.14159265358979323846;
        double k = std::tan(pi * 1681.974450955533 / rate), q = 0.7071752369554196;
        const double vh = std::pow(10.0, 3.999843853973347 / 20.0), vb = std::pow(vh, 0.4996667741545416);
        double a0 = 1.0 + k / q + k * k;
        b[0][0] = (vh + vb * k / q + k * k) / a0;
        b[0][1] = 2.0 * (k * k - vh) / a0;
        b[0][2] = (vh - vb * k / q + k * k) / a0;
        a[0][0] = 1.0;
        a[0][1] = 2.0 * (k * k - 1.0) / a0;
        a[0][2] = (1.0 - k / q + k * k) / a0;
        k = std::tan(pi * 38.13547087602444 / rate);
        q = 0.5003270373238773;
        a0 = 1.0 + k / q + k * k;
        b[1][0] = 1.0;
        b[1][1] = -2.0;
        b[1][2] = 1.0;
        a[1][0] = 1.0;
        a[1][1] = 2.0 * (k * k - 1.0) / a0;
        a[1][2] = (1.0 - k / q + k * k) / a0;
    }

    std::vector<double> operator()(const std::vector<float>& x) const {
        std::vector<double> y(x.begin(), x.end());
        for (int s = 0; s < 2; ++s) {
            double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
            for (double& v : y) {
                const double out = b[s][0] * v + b[s][1] * x1 + b[s][2] * x2 - a[s][1] * y1 - a[s][2] * y2;
                x2 = x1;
                x1 = v;
                y2 = y1;
                y1 = out;
                v = out;
            }
        }
        return y;
    }
};

// The mean square of the K-weighted channels, summed, over blocks of
// seconds every step seconds.
inline std::vector<double> BlockPowers(const std::vector<std::vector<float>>& channels, double rate,
                                       double seconds, double step) {
    const KWeighting k(rate);
    const size_t n = channels[0].size();
    std::vector<double> cumulative(n + 1, 0.0);
    for (const std::vector<float>& c : channels) {
        const std::vector<double> y = k(c);
        double sum = 0.0;
        for (size_t i = 0; i < n; ++i) {
            sum += y[i] * y[i];
            cumulative[i + 1] += sum;
        }
    }
    const size_t length = static_cast<size_t>(std::lround(seconds * rate));
    const size_t hop = static_cast<size_t>(std::lround(step * rate));
    std::vector<double> out;
    for (size_t at = 0; at + length <= n; at += hop)
        out.push_back((cumulative[at + length] - cumulative[at]) / static_cast<double>(length));
    return out;
}

inline double Lufs(double power) {
    return -0.691 + 10.0 * std::log10(std::max(power, 1e-30));
}

// Integrated loudness in LUFS (a mono signal is given as two equal channels,
// as it is heard).
inline double Integrated(const std::vector<std::vector<float>>& channels, double rate) {
    std::vector<double> blocks = BlockPowers(channels, rate, 0.4, 0.1);
    const double absolute = std::pow(10.0, (-70.0 + 0.691) / 10.0);
    blocks.erase(std::remove_if(blocks.begin(), blocks.end(), [&](double p) { return p <= absolute; }),
                 blocks.end());
    if (blocks.empty()) return -HUGE_VAL;
    double mean = 0.0;
    for (double p : blocks) mean += p / static_cast<double>(blocks.size());
    double sum = 0.0;
    int count = 0;
    for (double p : blocks)
        if (p > 0.1 * mean) {
            sum += p;
            ++count;
        }
    return Lufs(sum / count);
}

// Short-term loudness (3 s windows) every step seconds, in LUFS.
inline std::vector<double> ShortTerm(const std::vector<std::vector<float>>& channels, double rate,
                                     double step) {
    std::vector<double> out = BlockPowers(channels, rate, 3.0, step);
    for (double& p : out) p = Lufs(p);
    return out;
}

}  // namespace core_test
