// A double-precision model of the widener networks' signal flow, written
// from their per-frame formulas, for comparing the engine against.
//
// The filters are plain difference equations with coefficients computed here
// from the pole and zero frequencies and radii of a table row:
//   two-pole section   y = x - a1 y1 - a2 y2,  a1 = -2 r cos(2 pi f / fs), a2 = r^2
//   pole/zero section  y = x + b1 x1 + b2 x2 - a1 y1 - a2 y2 (zeros likewise)
//   cascade            gain applied to the input, then the sections in order
//   high-pass          low += f band; high = x - low - q band; band += f high,
//                      f = 2 sin(pi fc / fs), q = sqrt(2)
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace widener_model {

constexpr double kPi = 3.14159265358979323846;

struct Root {
    double frequency;  // Hz
    double radius;
};

// 1 + c1 z^-1 + c2 z^-2 with its roots at radius * e^(+-j 2 pi frequency / fs).
inline void DirectForm(const Root& root, double fs, double& c1, double& c2) {
    c1 = -2.0 * root.radius * std::cos(2.0 * kPi * root.frequency / fs);
    c2 = root.radius * root.radius;
}

// gain applied to the input, then each section
// y = x + b1 x1 + b2 x2 - a1 y1 - a2 y2 in order.
class Cascade {
  public:
    struct Section {
        double a1, a2, b1, b2;
        double x1, x2, y1, y2;
    };

    explicit Cascade(double gain = 1.0) : gain_(gain) {}
    Cascade& Add(double a1, double a2, double b1 = 0.0, double b2 = 0.0) {
        sections_.push_back({a1, a2, b1, b2, 0, 0, 0, 0});
        return *this;
    }
    Cascade& AddRoots(double fs, const Root& poles, const Root& zeros = {0.0, 0.0}) {
        double a1, a2, b1, b2;
        DirectForm(poles, fs, a1, a2);
        DirectForm(zeros, fs, b1, b2);
        return Add(a1, a2, b1, b2);
    }

    double Process(double x) {
        double v = gain_ * x;
        for (Section& s : sections_) {
            const double y = v + s.b1 * s.x1 + s.b2 * s.x2 - s.a1 * s.y1 - s.a2 * s.y2;
            s.x2 = s.x1;
            s.x1 = v;
            s.y2 = s.y1;
            s.y1 = y;
            v = y;
        }
        return v;
    }

  private:
    double gain_;
    std::vector<Section> sections_;
};

inline Cascade AllPole(double gain, const std::vector<Root>& poles, double fs) {
    Cascade c(gain);
    for (const Root& p : poles) c.AddRoots(fs, p);
    return c;
}

class Highpass {
  public:
    Highpass(double corner, double fs) : f_(2.0 * std::sin(kPi * corner / fs)), q_(std::sqrt(2.0)) {}
    double Process(double x) {
        low_ += f_ * band_;
        const double high = x - low_ - q_ * band_;
        band_ += f_ * high;
        return high;
    }

  private:
    double f_, q_;
    double low_ = 0, band_ = 0;
};

// The widening filters of the rows the tests use, retyped from the tables.
struct WideningRow {
    double rate;
    int directDelay;  // frames
    std::function<Cascade()> make;
};

inline WideningRow MultiStage44100() {
    return {44100, 6, [] {
                return AllPole(-0.00056811573,
                               {{3000, 0.868}, {4343.17, 0.913}, {1000, 0.928}, {5285.6, 0.962}}, 44100);
            }};
}
inline WideningRow MultiStage48000() {
    return {48000, 7, [] {
                return AllPole(
                    -0.00032737196,
                    {{2997.52, 0.87438565}, {4366.47, 0.9175}, {1029.58, 0.9305235}, {5303.94, 0.962}},
                    48000);
            }};
}
inline WideningRow SingleStage44100() {
    return {44100, 0, [] { return Cascade(-0.4394399).AddRoots(44100, {850, 0.935}, {24, 0.84}); }};
}
inline Cascade Shelf44100() {
    return Cascade(0.92258596).Add(-0.8912631, 0.2704, -0.9700899, 0.2401);
}

// Settings of one network as the engine's setters give them (linear gains).
struct Settings {
    bool dual = true;
    WideningRow row = MultiStage44100();
    bool hipass = false;
    bool shelf = false;
    bool disabled = false;
    // Spread as a function of the frame index, so that a glide can be modelled.
    std::function<double(int)> spread = [](int) { return 1.0; };
    double center = 1.0;
    double scale[2] = {1.0, 1.0};
    int inputDelay[2] = {0, 0};
    int directDelay = -1;  // frames; -1: the row's
    double hipassCorner = 75.0;
};

using Channels = std::vector<double>[2];

// out[side][t] for input in[side][t] (full scale 1.0), per the network's formulas.
inline void Run(const Settings& s, const Channels& in, Channels& out) {
    const size_t n = in[0].size();
    const int D = s.directDelay >= 0 ? s.directDelay : s.row.directDelay;
    auto at = [&](int side, long t) { return t < 0 ? 0.0 : in[side][static_cast<size_t>(t)]; };
    Cascade widen[2] = {s.row.make(), s.row.make()};
    Highpass hp[2] = {Highpass(s.hipassCorner, s.row.rate), Highpass(s.hipassCorner, s.row.rate)};
    Cascade shelf[2] = {Shelf44100(), Shelf44100()};
    out[0].assign(n, 0.0);
    out[1].assign(n, 0.0);
    for (size_t i = 0; i < n; ++i) {
        const long t = static_cast<long>(i);
        const double sL = s.scale[0], sR = s.scale[1];
        const int dL = s.inputDelay[0], dR = s.inputDelay[1];
        double side[2];
        if (s.dual) {
            const double k = s.disabled ? 0.0 : s.spread(static_cast<int>(i));
            const double m = s.center;
            for (int sd = 0; sd < 2; ++sd) {
                const int other = 1 - sd;
                const double scale = sd == 0 ? sL : sR;
                const int delay = sd == 0 ? dL : dR;
                const double direct = scale * at(sd, t - D - delay);
                double cross = k * scale * at(other, t - delay);
                if (s.hipass) cross = hp[sd].Process(cross);
                const double filtered = widen[sd].Process(cross - m * k * scale * at(sd, t - delay));
                side[sd] = direct + filtered;
            }
        } else {
            // Spread above 1.0 lowers the direct gain instead.
            const double x = s.spread(static_cast<int>(i));
            const double g = s.disabled ? 0.0 : (x > 1.0 ? 1.0 : x);
            const double c = x > 1.0 ? 1.0 / x : 1.0;
            double diff = g * (sL * at(0, t - dL) - sR * at(1, t - dR));
            if (s.hipass) diff = hp[0].Process(diff);
            const double w = widen[0].Process(diff);
            side[0] = c * sL * at(0, t - D - dL) - w;
            side[1] = c * sR * at(1, t - D - dR) + w;
        }
        for (int sd = 0; sd < 2; ++sd) out[sd][i] = s.shelf ? shelf[sd].Process(side[sd]) : side[sd];
    }
}

// The engine's float-to-16-bit store: truncation toward zero, saturated.
inline int16_t To16(double x) {
    const double v = std::trunc(x * 32768.0);
    if (v > 32767.0) return 32767;
    if (v < -32768.0) return -32768;
    return static_cast<int16_t>(v);
}

}  // namespace widener_model
