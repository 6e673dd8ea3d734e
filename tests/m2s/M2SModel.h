// A double-precision model of the mono-to-3D engine's signal flow for mono
// input, written from its per-frame formulas, to compare the engine with.
//
// Music (g = -2 dB, h the FIR table, c the centre delay):
//   L = g x[t - c],  R = g sum h[k] x[t - k],  diff = s (L - R)
//   w = W(HP125(diff)),  left = L - w,  right = R + w        (spread s <= 1)
// Voice (d = 0.5 ms in frames, D the direct delay, m the center, k the spread):
//   left = right = x[t - D - d] + W(k HP200(x[t - d]) - m k x[t - d])
// Bypass: left = right = x.
// A bus gain may vary per frame, which models the fades of the bypass switch.
// W is the single-stage widening filter of the nearest table row:
//   W(z) = gain (1 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2),
//   pole and zero pairs at radius r and angle 2 pi f / (the row's rate).
// HP is the state-variable high-pass at the stream's rate:
//   low += f band; high = x - low - q band; band += f high,
//   f = 2 sin(pi fc / fs), q = sqrt(2).
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace m2s_model {

constexpr double kPi = 3.14159265358979323846;

// One row of the single-stage widening table (rate, gain, poles, zeros).
struct WideningRow {
    double rate, gain, poleHz, poleRadius, zeroHz, zeroRadius;
};

inline const WideningRow kRow8000{8000, -0.63744307, 850, 0.683, 24, 0.37};
inline const WideningRow kRow32000{32000, -0.44841895, 850, 0.906, 24, 0.775};
inline const WideningRow kRow44100{44100, -0.4394399, 850, 0.935, 24, 0.84};
inline const WideningRow kRow48000{48000, -0.42997074, 850, 0.94, 24, 0.85};

class Widening {
  public:
    explicit Widening(const WideningRow& row) : gain_(row.gain) {
        a1_ = -2.0 * row.poleRadius * std::cos(2.0 * kPi * row.poleHz / row.rate);
        a2_ = row.poleRadius * row.poleRadius;
        b1_ = -2.0 * row.zeroRadius * std::cos(2.0 * kPi * row.zeroHz / row.rate);
        b2_ = row.zeroRadius * row.zeroRadius;
    }
    double operator()(double x) {
        const double v = gain_ * x;
        const double y = v + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = v;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

  private:
    double gain_, a1_, a2_, b1_, b2_;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

class Highpass {
  public:
    Highpass(double cornerHz, double rate) : f_(2.0 * std::sin(kPi * cornerHz / rate)), q_(std::sqrt(2.0)) {}
    double operator()(double x) {
        low_ += f_ * band_;
        const double high = x - low_ - q_ * band_;
        band_ += f_ * high;
        return high;
    }

  private:
    double f_, q_, low_ = 0, band_ = 0;
};

// Per-frame gain; by default constant 1.
using Gain = std::function<double(long)>;
inline Gain Constant(double g) {
    return [g](long) { return g; };
}

struct Settings {
    bool music = true;
    double rate = 44100;  // the stream's rate, Hz
    WideningRow row = kRow44100;
    std::vector<double> fir;  // Music: the taps
    bool hipass = true;
    double spread = 1.0;       // linear
    double center = 0.0;       // linear, Voice; 0: the network's own -10 dB
    Gain bus = Constant(1.0);  // bus gain before the -2 dB of Music, per output frame
    Gain bypass = Constant(0.0);
};

inline double Decibels(double d) {
    return std::pow(10.0, d / 20.0);
}

// The two output channels (full scale 1.0) for input x (full scale 1.0).
inline void Run(const Settings& s, const std::vector<double>& x, std::vector<double>& left,
                std::vector<double>& right) {
    const long n = static_cast<long>(x.size());
    left.assign(x.size(), 0.0);
    right.assign(x.size(), 0.0);
    auto at = [&](long t) { return t < 0 ? 0.0 : x[static_cast<size_t>(t)]; };
    Widening widen(s.row);
    Highpass hp(s.music ? 125.0 : 200.0, s.rate);
    if (s.music) {
        const long centre = static_cast<long>(s.fir.size() - 1) / 2;
        const double g = Decibels(-2.0);
        std::vector<double> rightBus(x.size());
        for (long t = 0; t < n; ++t) {
            const double l = g * s.bus(t) * at(t - centre);
            double r = 0;
            for (long k = 0; k < static_cast<long>(s.fir.size()) && k <= t; ++k)
                r += s.fir[static_cast<size_t>(k)] * g * s.bus(t - k) * at(t - k);
            double diff = std::min(s.spread, 1.0) * (l - r);
            if (s.hipass) diff = hp(diff);
            const double w = widen(diff);
            const double direct = s.spread > 1.0 ? 1.0 / s.spread : 1.0;
            left[static_cast<size_t>(t)] = direct * l - w + s.bypass(t) * at(t);
            right[static_cast<size_t>(t)] = direct * r + w + s.bypass(t) * at(t);
        }
    } else {
        const long d = static_cast<long>(s.rate * 0.0005 + 0.5);
        const long D = s.rate > 32000 ? 4 : 1;
        const double m = s.center > 0 ? s.center : Decibels(-10.0);
        // The dual network's two sides see the same input, so they are equal.
        for (long t = 0; t < n; ++t) {
            const double late = s.bus(t - d) * at(t - d);
            double cross = s.spread * late;
            if (s.hipass) cross = hp(cross);
            const double out = s.bus(t - D - d) * at(t - D - d) + widen(cross - m * s.spread * late);
            left[static_cast<size_t>(t)] = right[static_cast<size_t>(t)] = out + s.bypass(t) * at(t);
        }
    }
}

// The engine's float-to-16-bit store: truncation toward zero, saturated.
inline int To16(double v) {
    const double t = std::trunc(v * 32768.0);
    return t > 32767.0 ? 32767 : (t < -32768.0 ? -32768 : static_cast<int>(t));
}

}  // namespace m2s_model
