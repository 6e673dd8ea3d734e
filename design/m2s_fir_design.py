#!/usr/bin/env python3
"""Designs the phase-shifting FIR tables of the mono-to-3D network.

Writes m2s/M2sfir45.cpp (45 taps per rate, centre tap 22), m2s/M2sfir51.cpp
(51 taps, centre tap 25) and m2s/M2sfirHigh.cpp (the tables for 88200, 96000,
176400 and 192000 Hz, below) and prints the response of every table. Standard
library only; run it from the repository root:

    python3 design/m2s_fir_design.py [output-directory]

Every table has the same shape: with m the offset from the centre tap,

    h[m] = cos(60 deg) * delta[m]
         + sin(60 deg) * w(m) * -2 / (pi * m)        for odd m (a Hilbert transformer)
         + c                                         for even m (the centre included)
         + d                                         for odd m

so the response is the centre delay turned by about 60 degrees (a phase lead
of about one radian) at unity gain. The Hilbert part falls off towards 0 Hz
and the Nyquist frequency; the small symmetric terms c and d lift the gain
there. w(m) = 1 - alpha * (|m| / 26)^p tapers the Hilbert part to tame its
ripple (alpha at most 0.4, so that the far taps still fall off about as 1/m);
it is defined over the 51-tap span, so each 45-tap table is exactly the
middle of its 51-tap table.

The 44100 and 48000 Hz short tables are fixed values kept as they are; their
long tables extend them outwards (k * h[k] and the even taps extrapolated
linearly, each side on its own). The 8000 Hz table keeps its fixed taps
21, 22 and 23, from which its c and d follow. One array serves both 16000 and
32000 Hz, so it is designed for both rates at once. Every other free
parameter (alpha, p, c, d) is chosen by a grid search that minimises the worst
deviation over 500 Hz .. 0.45 of the rate, relative to the allowed band: gain
1 +- 0.15, phase lead 1.05 +- 0.2 radians over the centre delay. The best
points lie on the edges of the allowed shape (strongest taper, largest even
taps), so neighbouring rates whose bands are alike get the same array.

The high rates. At 88200 .. 192000 Hz a table must sound as the 48000 Hz table
does: its response relative to its centre tap's delay, H(f) e^(j 2 pi f c / rate),
is fitted to the 48000 Hz table's (short to fir48_45, long to fir48_51) over
0 .. 24 kHz, where all of that table's response lies within 30 dB of its
peak, so that it stays within 0.5 dB and 0.1 rad of it. A table reaches as
far down in frequency as it is long in seconds, so the tap counts grow with
the rate: each table is at least as long in seconds as its 48000 Hz table
(its half-length rounded up), and longer only if the fit would otherwise
miss half the tolerances or let the gain above 24 kHz pass unity. (Shorter
tables can meet the tolerances in the band, but only with large taps at
their ends that lift the response above it.) Above 24 kHz the fit aims at
the 48000 Hz table's response at 24 kHz (gain about 0.53, no phase lead) with
a hundredth of the weight: nothing there is heard. The fit is a weighted least-squares one
of the relative error, solved separately for the even (cosine) and odd (sine)
halves of the taps.
"""

import math
import os
import sys

from linsolve import solve

RATES = [8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000]
NAMES = {8000: 8, 11025: 11, 12000: 12, 16000: 16, 22050: 22, 24000: 24, 32000: 32, 44100: 44, 48000: 48}
SHORT_HALF = 22
LONG_HALF = 25
TAPER_SPAN = 26.0
ROTATION = math.radians(60.0)

FIXED_SHORT = {
    44100: [
        0.002495, 0.026517, 0.00251, 0.029307, 0.002524, 0.032748, 0.002538, 0.037099, 0.002551,
        0.042781, 0.002564, 0.050518, 0.002576, 0.061682, 0.002588, 0.079211, 0.0026, 0.110742,
        0.002611, 0.184278, 0.002621, 0.551856, 0.502631, -0.550777, 0.002641, -0.183199, 0.00265,
        -0.109664, 0.002659, -0.078135, 0.002667, -0.060608, 0.002675, -0.049447, 0.002682, -0.041712,
        0.002689, -0.036034, 0.002695, -0.031687, 0.002701, -0.02825, 0.002706, -0.025464, 0.002711,
    ],
    48000: [
        0.001247, 0.027008, 0.001256, 0.029782, 0.001265, 0.033206, 0.001275, 0.03754, 0.001283,
        0.043204, 0.001292, 0.050924, 0.001301, 0.062072, 0.00131, 0.079584, 0.001318, 0.111098,
        0.001326, 0.184617, 0.001335, 0.552179, 0.501343, -0.55047, 0.001351, -0.182909, 0.001358,
        -0.10939, 0.001366, -0.077877, 0.001374, -0.060366, 0.001381, -0.04922, 0.001388, -0.041501,
        0.001395, -0.035838, 0.001402, -0.031506, 0.001409, -0.028085, 0.001416, -0.025314, 0.001423,
    ],
}
# Taps 21, 22 and 23 of the 8000 Hz table.
KEPT_TAPS_8000 = (0.552634, 0.501802, -0.550007)

HIGH_RATES = [88200, 96000, 176400, 192000]
HIGH_NAMES = {88200: 88, 96000: 96, 176400: 176, 192000: 192}
REFERENCE_RATE = 48000
DB_TOLERANCE = 0.5
RAD_TOLERANCE = 0.1
ABOVE_BAND_WEIGHT = 0.01

BAND_LOW_HZ = 500.0
BAND_HIGH = 0.45
GRID_POINTS = 240


def band_grid(rate):
    low = 2.0 * math.pi * BAND_LOW_HZ / rate
    high = 2.0 * math.pi * BAND_HIGH
    return [low + (high - low) * i / (GRID_POINTS - 1) for i in range(GRID_POINTS)]


def response(taps, omega):
    """Gain and phase lead over the centre delay at omega (radians per sample)."""
    centre = (len(taps) - 1) // 2
    re = im = 0.0
    for n, h in enumerate(taps):
        m = n - centre
        re += h * math.cos(omega * m)
        im -= h * math.sin(omega * m)
    return math.hypot(re, im), math.atan2(im, re)


def figures(taps, rate):
    gains, leads = zip(*(response(taps, w) for w in band_grid(rate)))
    return min(gains), max(gains), min(leads), max(leads)


def badness(fig):
    gmin, gmax, lmin, lmax = fig
    return max((1.0 - gmin) / 0.15, (gmax - 1.0) / 0.15, (1.05 - lmin) / 0.2, (lmax - 1.05) / 0.2)


def model(half, alpha, power, c, d):
    taps = []
    for m in range(-half, half + 1):
        if m == 0:
            h = math.cos(ROTATION) + c
        elif m % 2:
            taper = 1.0 - alpha * (abs(m) / TAPER_SPAN) ** power
            h = -math.sin(ROTATION) * taper * 2.0 / (math.pi * m) + d
        else:
            h = c
        taps.append(round(h, 6))
    return taps


def extend(short):
    """The fixed short table with three more taps at each end."""
    c = SHORT_HALF

    def side(sign):
        h = lambda k: short[c + sign * k]
        odd21, odd19 = 21 * h(21), 19 * h(19)
        step = odd21 - odd19
        even = 2.0 * h(22) - h(20)
        return [round((odd21 + step) / 23, 6), round(even, 6), round((odd21 + 2 * step) / 25, 6)]

    before, after = side(-1), side(1)
    return list(reversed(before)) + list(short) + after


def search(rates, c_values, d_values):
    best = None
    for alpha in [i * 0.05 for i in range(9)]:
        for power in (2, 4):
            for c in c_values:
                for d in d_values:
                    tables = (model(SHORT_HALF, alpha, power, c, d), model(LONG_HALF, alpha, power, c, d))
                    score = max(badness(figures(t, r)) for t in tables for r in rates)
                    if best is None or score < best[0]:
                        best = (score, tables, (alpha, power, c, d))
    return best


def design():
    """Returns {rate: (short taps, long taps, description)}."""
    result = {}
    for rate, short in FIXED_SHORT.items():
        result[rate] = (list(short), extend(short), "fixed short table, extrapolated ends")
    steps = [0.001 + 0.00025 * i for i in range(9)]
    sym_odd = [0.00025 * i for i in range(7)]

    t21, t22, t23 = KEPT_TAPS_8000
    c8 = t22 - math.cos(ROTATION)
    d8 = (t21 + t23) / 2.0
    _, (short, long_), params = search([8000], [c8], [d8])
    short[SHORT_HALF - 1 : SHORT_HALF + 2] = list(KEPT_TAPS_8000)
    long_[LONG_HALF - 1 : LONG_HALF + 2] = list(KEPT_TAPS_8000)
    result[8000] = (short, long_, "alpha %.2f p %d c %.6f d %.6f" % params)

    for rates in ([11025], [12000], [16000, 32000], [22050], [24000]):
        _, (short, long_), params = search(rates, steps, sym_odd)
        for rate in rates:
            result[rate] = (short, long_, "alpha %.2f p %d c %.5f d %.5f" % params)
    return result


def relative_response(taps, rate, f):
    """Response at f Hz relative to the centre tap's delay (complex)."""
    centre = (len(taps) - 1) // 2
    w = 2.0 * math.pi * f / rate
    re = im = 0.0
    for n, h in enumerate(taps):
        re += h * math.cos(w * (n - centre))
        im -= h * math.sin(w * (n - centre))
    return complex(re, im)


def least_squares(basis, points):
    """Coefficients c minimising sum weight^2 (sum c_i basis_i(w) - target)^2
    over points (w, target, weight)."""
    n = len(basis(0.0))
    a = [[0.0] * n for _ in range(n)]
    b = [0.0] * n
    for w, target, weight in points:
        row = basis(w)
        w2 = weight * weight
        for i in range(n):
            ri = row[i] * w2
            ai = a[i]
            for j in range(i, n):
                ai[j] += ri * row[j]
            b[i] += ri * target
    for i in range(n):
        for j in range(i):
            a[i][j] = a[j][i]
    return solve(a, b)


def fit_high(reference, rate, half):
    """A table of 2 half + 1 taps at rate fitted to reference (a 48000 Hz table)."""
    band = [25.0 * k for k in range(1, 960)]
    above = [REFERENCE_RATE / 2.0 + 200.0 * k for k in range(1, int((rate / 2.0 - REFERENCE_RATE / 2.0) / 200.0))]
    edge = relative_response(reference, REFERENCE_RATE, REFERENCE_RATE / 2.0).real
    points = []
    for f in band:
        r = relative_response(reference, REFERENCE_RATE, f)
        points.append((2.0 * math.pi * f / rate, r, 1.0 / abs(r)))
    for f in above:
        points.append((2.0 * math.pi * f / rate, complex(edge, 0.0), ABOVE_BAND_WEIGHT / abs(edge)))
    # Relative response = e0 + 2 sum e_k cos(k w) + 2j sum o_k sin(k w), with
    # e_k the even half (h[c - k] + h[c + k]) / 2 and o_k the odd half (h[c - k] - h[c + k]) / 2.
    even = least_squares(lambda w: [1.0] + [2.0 * math.cos(k * w) for k in range(1, half + 1)],
                         [(w, r.real, wt) for w, r, wt in points])
    odd = least_squares(lambda w: [2.0 * math.sin(k * w) for k in range(1, half + 1)],
                        [(w, r.imag, wt) for w, r, wt in points])
    taps = [0.0] * (2 * half + 1)
    taps[half] = even[0]
    for k in range(1, half + 1):
        taps[half - k] = even[k] + odd[k - 1]
        taps[half + k] = even[k] - odd[k - 1]
    return [round(h, 6) for h in taps]


def high_figures(taps, reference, rate):
    """Worst deviation (dB, rad) from reference over 10 Hz .. 24 kHz, and the
    largest gain above 24 kHz."""
    db = rad = 0.0
    for k in range(1, 2400):
        f = 10.0 * k
        q = relative_response(taps, rate, f) / relative_response(reference, REFERENCE_RATE, f)
        db = max(db, abs(20.0 * math.log10(abs(q))))
        rad = max(rad, abs(math.atan2(q.imag, q.real)))
    above = max(abs(relative_response(taps, rate, f))
                for f in range(REFERENCE_RATE // 2 + 250, rate // 2, 250))
    return db, rad, above


def design_high(reference, rate):
    """A table at rate that sounds as reference does; returns (taps, figures)."""
    half = int(math.ceil((len(reference) - 1) / 2.0 * rate / REFERENCE_RATE))
    while True:
        taps = fit_high(reference, rate, half)
        figures = high_figures(taps, reference, rate)
        if figures[0] <= DB_TOLERANCE / 2 and figures[1] <= RAD_TOLERANCE / 2 and figures[2] <= 1.0:
            return taps, figures
        half += 1


def write_high(path, designs):
    out = [
        "// Generated by design/m2s_fir_design.py; edit the generator, not this file.",
        "//",
        "// Phase-shifting FIR tables of the mono-to-3D network for 88200, 96000, 176400",
        "// and 192000 Hz, fitted to the 48000 Hz tables: a short set imitating fir48_45",
        "// and a long set imitating fir48_51. Coefficient 0 weighs the newest sample;",
        "// the centre tap is the middle one. Largest deviation from the 48000 Hz table's",
        "// response relative to the centre delay over 0 .. 24 kHz, and largest gain above:",
    ]
    for label, index in (("short", 0), ("long", 1)):
        for rate in HIGH_RATES:
            taps, (db, rad, above) = designs[rate][index]
            out.append("//   %-5s %6d Hz, %3d taps: %.3f dB, %.4f rad; above 24 kHz at most %.2f"
                       % (label, rate, len(taps), db, rad, above))
    out += ["", '#include "M2sfir.h"', "", "// clang-format off"]
    names = {}
    for index in (0, 1):
        for rate in HIGH_RATES:
            taps = designs[rate][index][0]
            names[rate, index] = "fir%d_%d" % (HIGH_NAMES[rate], len(taps))
            out.append(c_array(names[rate, index], taps))
            out.append("")
    for index, table in ((0, "m2sShortFIRHighTable"), (1, "m2sLongFIRHighTable")):
        out.append("const M2SFIRRate %s[kM2SFIRHighRates] = {" % table)
        for rate in HIGH_RATES:
            out.append("    {%d, {%s, %d}}," % (rate, names[rate, index], len(designs[rate][index][0])))
        out.append("};")
        out.append("")
    out[-1] = "// clang-format on"
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def c_array(name, taps):
    lines = ["const float %s[%d] = {" % (name, len(taps))]
    row = []
    for h in taps:
        row.append(("%.6f" % h).rstrip("0").rstrip(".") + "f")
        if len(row) == 8:
            lines.append("    " + ", ".join(row) + ",")
            row = []
    if row:
        lines.append("    " + ", ".join(row) + ",")
    lines.append("};")
    return "\n".join(lines)


def write_set(path, tables, half, index_name):
    count = 2 * half + 1
    out = [
        "// Generated by design/m2s_fir_design.py; edit the generator, not this file.",
        "//",
        "// Phase-shifting FIR tables of the mono-to-3D network, %d taps each, centre tap" % count,
        "// %d, coefficient 0 weighing the newest sample. Response over 500 Hz .. 0.45 of the" % half,
        "// rate (gain; phase lead over the centre delay in radians):",
    ]
    for rate in RATES:
        gmin, gmax, lmin, lmax = figures(tables[rate], rate)
        out.append("//   %5d Hz: gain %.3f .. %.3f, lead %.3f .. %.3f" % (rate, gmin, gmax, lmin, lmax))
    out += ["", '#include "M2sfir.h"', "", "// clang-format off"]
    for rate in RATES:
        name = "fir%d_%d" % (NAMES[rate], count)
        if rate == 32000:
            out.append("// The 32000 Hz table is the 16000 Hz one.")
        out.append(c_array(name, tables[rate]))
        out.append("")
    out.append("const M2SFIRRate %s[kM2SFIRRates] = {" % index_name)
    for rate in RATES:
        out.append("    {%d, {fir%d_%d, %d}}," % (rate, NAMES[rate], count, count))
    out.append("};")
    out.append("// clang-format on")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "m2s"
    designs = design()
    for rate in RATES:
        short, long_, how = designs[rate]
        assert len(short) == 2 * SHORT_HALF + 1 and len(long_) == 2 * LONG_HALF + 1
        assert long_[3:-3] == short
        print("%5d Hz (%s)" % (rate, how))
        for label, taps in (("short", short), ("long ", long_)):
            print("   %s gain %.3f .. %.3f, lead %.3f .. %.3f" % ((label,) + figures(taps, rate)))
    write_set(os.path.join(folder, "M2sfir45.cpp"), {r: designs[r][0] for r in RATES}, SHORT_HALF,
              "m2sShortFIRTable")
    write_set(os.path.join(folder, "M2sfir51.cpp"), {r: designs[r][1] for r in RATES}, LONG_HALF,
              "m2sLongFIRTable")

    high = {}
    for rate in HIGH_RATES:
        high[rate] = (design_high(designs[REFERENCE_RATE][0], rate), design_high(designs[REFERENCE_RATE][1], rate))
        for label, (taps, worst) in zip(("short", "long "), high[rate]):
            print("%6d Hz %s %3d taps: %.3f dB, %.4f rad against 48000 Hz; above 24 kHz at most %.2f"
                  % ((rate, label, len(taps)) + worst))
    write_high(os.path.join(folder, "M2sfirHigh.cpp"), high)


if __name__ == "__main__":
    main()
