#!/usr/bin/env python3
"""Designs the widener's filter rows for 88200, 96000, 176400 and 192000 Hz.

Writes vastor/VastorRateTables.cpp and prints how closely every row follows
the 48000 Hz row it imitates. Standard library only; run it from the
repository root (it takes a few minutes):

    python3 design/vastor_rate_design.py [output-directory]

What is matched. The widening path is mixed with a direct path that the
network delays by the row's direct delay, so what the listener hears of the
widening is its response relative to the direct path:

    R(f) = W(f) * exp(j 2 pi f D / rate)        (W the filter, D the direct delay)

with f in Hz and D / rate in seconds. A row for a higher rate is fitted so
that its R(f) stays within 0.5 dB and 0.1 rad of the 48000 Hz row's R(f)
wherever the 48000 Hz row's magnitude is within 30 dB of its peak (the band
that carries the widening; the whole band up to 24 kHz for the single-stage
filter and the shelf). Above 24 kHz nothing is prescribed: the filters keep
falling (multi-stage) or level out (single-stage, shelf).

How. A pole pair keeps its frequency and its bandwidth in Hz when its radius
follows the rate, r = exp(-pi * bandwidth / rate); that is the starting point.
An all-pole section's impulse response is its analogue resonator's, sampled
one sample early, so four sections at 48000 Hz lead their analogue cascade by
four 48000 Hz samples: the higher rate's direct delay grows by that lead, and
an extra broad pole pair restores the magnitude near the band edge that the
48000 Hz cascade owes to its low rate. From there a Levenberg-Marquardt fit of
gain, frequencies and bandwidths (each bandwidth kept positive, so every pole
stays inside the unit circle) minimises the error in dB / 0.5 and rad / 0.1,
first in the least-squares sense and then towards the largest error. The
single-stage rows keep their poles at 850 Hz and their zeros at 24 Hz and fit
only the gain and the two radii; the shelf fits a full pole and zero pair.
Every value is rounded to float before the figures are taken.
"""

import cmath
import math
import os
import struct
import sys

from linsolve import solve

RATES = [88200, 96000, 176400, 192000]
REFERENCE_RATE = 48000
DB_TOLERANCE = 0.5
RAD_TOLERANCE = 0.1
MASK_DB = 30.0

# The 48000 Hz rows the new rows imitate (as in vastor/VastorTables.cpp).
MULTI_48000 = {
    "gain": -0.00032737196,
    "poles": [(2997.52, 0.87438565), (4366.47, 0.9175), (1029.58, 0.9305235), (5303.94, 0.962)],
    "delay": 7,
}
SINGLE_48000 = {"gain": -0.42997074, "pole": (850.0, 0.94), "zero": (24.0, 0.85)}
SHELF_48000 = {"gain": 0.93348134, "a1": -0.9311766, "a2": 0.2809, "b1": -1.0112737, "b2": 0.2601}
# Frames by which a cascade of n all-pole sections leads its analogue prototype.
ALLPOLE_LEAD_PER_SECTION = 1
# Starting point of the extra pole pair: frequency and bandwidth in Hz.
EXTRA_POLE = (11000.0, 8000.0)
# The narrowest pole pair a fit may make (Hz), and the narrowest extra pole
# pair: it is there to shape the band edge broadly, not to ring.
MIN_BANDWIDTH = 200.0
MIN_EXTRA_BANDWIDTH = 2000.0


def f32(x):
    """x rounded to the nearest float, as the C++ tables hold it."""
    return struct.unpack("f", struct.pack("f", x))[0]


# ---- responses ----------------------------------------------------------------


def section(c1, c2, z1):
    return 1.0 + c1 * z1 + c2 * z1 * z1


def root_form(frequency, radius, rate):
    """1 + c1 z^-1 + c2 z^-2 with its roots at radius * exp(+-j 2 pi frequency / rate)."""
    return -2.0 * radius * math.cos(2.0 * math.pi * frequency / rate), radius * radius


def allpole(gain, poles, rate, f):
    z1 = cmath.exp(-2j * math.pi * f / rate)
    h = gain
    for frequency, radius in poles:
        h /= section(*root_form(frequency, radius, rate), z1)
    return h


def pole_zero(gain, pole, zero, rate, f):
    z1 = cmath.exp(-2j * math.pi * f / rate)
    return gain * section(*root_form(zero[0], zero[1], rate), z1) / section(*root_form(pole[0], pole[1], rate), z1)


def biquad(row, rate, f):
    z1 = cmath.exp(-2j * math.pi * f / rate)
    return row["gain"] * section(row["b1"], row["b2"], z1) / section(row["a1"], row["a2"], z1)


def delayed(h, frames, rate, f):
    """h relative to a direct path delayed by frames at rate."""
    return h * cmath.exp(2j * math.pi * f * frames / rate)


def radius_of(bandwidth, rate):
    return math.exp(-math.pi * bandwidth / rate)


def fitted_bandwidth(u, least=MIN_BANDWIDTH):
    """A fit's bandwidth parameter u in Hz, never below least."""
    return least + 1000.0 * math.exp(u)


def bandwidth_parameter(bandwidth, least=MIN_BANDWIDTH):
    return math.log((bandwidth - least) / 1000.0)


def bandwidth_of(radius, rate):
    return -math.log(radius) * rate / math.pi


# ---- the band that carries the widening ----------------------------------------


def frequency_grid():
    """10 Hz .. 24 kHz, log-spaced below 1 kHz and every 50 Hz above."""
    low = [10.0 * 1.03 ** k for k in range(200) if 10.0 * 1.03 ** k < 1000.0]
    return low + [1000.0 + 50.0 * k for k in range(460)]


def masked_band(reference):
    grid = frequency_grid()
    peak = max(abs(reference(f)) for f in grid)
    floor = peak * 10.0 ** (-MASK_DB / 20.0)
    return [f for f in grid if abs(reference(f)) >= floor]


def errors(candidate, reference, band):
    """Worst deviation in dB and rad of candidate from reference over band."""
    db = rad = 0.0
    for f in band:
        q = candidate(f) / reference(f)
        db = max(db, abs(20.0 * math.log10(abs(q))))
        rad = max(rad, abs(cmath.phase(q)))
    return db, rad


def residuals(candidate, targets, guard=()):
    """Errors in tolerances over the band; then, for each (f, limit) of guard,
    how far the candidate's magnitude rises above limit (dB / tolerance)."""
    out = []
    for f, r in targets:
        q = candidate(f) / r
        out.append(20.0 * math.log10(abs(q)) / DB_TOLERANCE)
        out.append(cmath.phase(q) / RAD_TOLERANCE)
    for f, limit in guard:
        out.append(max(0.0, 20.0 * math.log10(abs(candidate(f)) / limit)) / DB_TOLERANCE)
    return out


def guard_band(reference, band, rate):
    """Above the band, up to half the rate: the candidate must stay below the
    floor of the band (or, where the band reaches 24 kHz, below its peak)."""
    grid = frequency_grid()
    peak = max(abs(reference(f)) for f in grid)
    if band[-1] < grid[-1]:
        limit = peak * 10.0 ** (-MASK_DB / 20.0)
        start = band[-1] + 500.0
    else:
        limit = peak
        start = REFERENCE_RATE / 2.0
    count = 120
    step = (rate / 2.0 - start) / count
    return [(start + step * k, limit) for k in range(count)]


# ---- Levenberg-Marquardt -----------------------------------------------------------


def fit(residual, params, iterations, power=2):
    """Minimises the sum of |residual|^power over params."""

    def shaped(p):
        r = residual(p)
        return r if power == 2 else [math.copysign(abs(v) ** (power / 2.0), v) for v in r]

    damping = 1e-3
    r = shaped(params)
    cost = sum(v * v for v in r)
    for _ in range(iterations):
        jacobian = []
        for i in range(len(params)):
            step = 1e-6 * max(1.0, abs(params[i]))
            moved = list(params)
            moved[i] += step
            jacobian.append([(a - b) / step for a, b in zip(shaped(moved), r)])
        n = len(params)
        jtj = [[sum(a * b for a, b in zip(jacobian[i], jacobian[j])) for j in range(n)] for i in range(n)]
        jtr = [sum(a * b for a, b in zip(jacobian[i], r)) for i in range(n)]
        improved = False
        while damping < 1e8 and not improved:
            system = [[jtj[i][j] + (damping * (jtj[i][i] + 1e-12) if i == j else 0.0) for j in range(n)]
                      for i in range(n)]
            try:
                trial = [a + b for a, b in zip(params, solve(system, [-v for v in jtr]))]
                r_trial = shaped(trial)
            except (ZeroDivisionError, OverflowError, ValueError):
                damping *= 10.0
                continue
            c = sum(v * v for v in r_trial)
            if c < cost:
                params, r, cost, improved = trial, r_trial, c, True
                damping = max(damping / 3.0, 1e-9)
            else:
                damping *= 10.0
        if not improved:
            break
    return params


def minimax(residual, params):
    """Least squares first, then ever higher powers towards the largest error."""
    params = fit(residual, params, 80)
    for power in (4, 8, 16, 32):
        params = fit(residual, params, 40, power)
    return params


# ---- the three kinds of row ----------------------------------------------------


def reference_multi(f):
    row = MULTI_48000
    return delayed(allpole(row["gain"], row["poles"], REFERENCE_RATE, f), row["delay"], REFERENCE_RATE, f)


def multi_poles(params, rate):
    """Pole pairs from params [log|gain|, f1/1000, bandwidth parameter 1, ...];
    the last pair is the extra one."""
    count = (len(params) - 1) // 2
    return [(params[1 + 2 * i] * 1000.0,
             radius_of(fitted_bandwidth(params[2 + 2 * i], MIN_EXTRA_BANDWIDTH if i == count - 1 else MIN_BANDWIDTH),
                       rate))
            for i in range(count)]


def multi_row(params, rate, delay):
    poles = [(f32(f), f32(r)) for f, r in multi_poles(params, rate)]
    return {"gain": f32(-math.exp(params[0])), "poles": poles, "delay": delay}


def multi_response(row, rate):
    return lambda f: delayed(allpole(row["gain"], row["poles"], rate, f), row["delay"], rate, f)


def design_multi(rate, band):
    targets = [(f, reference_multi(f)) for f in band]
    guard = guard_band(reference_multi, band, rate)
    sections = len(MULTI_48000["poles"]) + 1
    lead = ALLPOLE_LEAD_PER_SECTION * len(MULTI_48000["poles"])
    # The analogue cascade's delay in seconds, less what this rate's cascade leads by.
    estimate = round((MULTI_48000["delay"] + lead) * rate / REFERENCE_RATE) - ALLPOLE_LEAD_PER_SECTION * sections
    best = None
    for delay in range(estimate - 2, estimate + 3):
        start = [0.0]
        for f, r in MULTI_48000["poles"]:
            start += [f / 1000.0, bandwidth_parameter(bandwidth_of(r, REFERENCE_RATE))]
        start += [EXTRA_POLE[0] / 1000.0, bandwidth_parameter(EXTRA_POLE[1], MIN_EXTRA_BANDWIDTH)]
        # The gain that matches the peak of the band.
        unit = lambda f: delayed(allpole(-1.0, multi_poles(start, rate), rate, f), delay, rate, f)
        start[0] = math.log(max(abs(r) for _, r in targets) / max(abs(unit(f)) for f, _ in targets))

        def residual(p):
            return residuals(lambda f: delayed(allpole(-math.exp(p[0]), multi_poles(p, rate), rate, f),
                                               delay, rate, f), targets, guard)

        row = multi_row(minimax(residual, start), rate, delay)
        figures = errors(multi_response(row, rate), reference_multi, band)
        if max(residuals(multi_response(row, rate), [], guard)) > 0.0:
            continue
        score = max(figures[0] / DB_TOLERANCE, figures[1] / RAD_TOLERANCE)
        if best is None or score < best[0]:
            best = (score, row, figures)
    return best[1], best[2]


def reference_single(f):
    row = SINGLE_48000
    return pole_zero(row["gain"], row["pole"], row["zero"], REFERENCE_RATE, f)


def single_row(params, rate, rounded=True):
    """params [log|gain|, pole bandwidth parameter, zero bandwidth parameter]."""
    r = f32 if rounded else float
    pole = (SINGLE_48000["pole"][0], r(radius_of(fitted_bandwidth(params[1]), rate)))
    zero = (SINGLE_48000["zero"][0], r(radius_of(fitted_bandwidth(params[2]), rate)))
    return {"gain": r(-math.exp(params[0])), "pole": pole, "zero": zero}


def single_response(row, rate):
    return lambda f: pole_zero(row["gain"], row["pole"], row["zero"], rate, f)


def design_single(rate, band):
    targets = [(f, reference_single(f)) for f in band]
    start = [math.log(-SINGLE_48000["gain"]),
             bandwidth_parameter(bandwidth_of(SINGLE_48000["pole"][1], REFERENCE_RATE)),
             bandwidth_parameter(bandwidth_of(SINGLE_48000["zero"][1], REFERENCE_RATE))]

    def residual(p):
        return residuals(single_response(single_row(p, rate, rounded=False), rate), targets)

    row = single_row(minimax(residual, start), rate)
    return row, errors(single_response(row, rate), reference_single, band)


def reference_shelf(f):
    return biquad(SHELF_48000, REFERENCE_RATE, f)


def roots_of(c1, c2, rate):
    """Frequency and radius of the pair of 1 + c1 z^-1 + c2 z^-2 (complex roots)."""
    radius = math.sqrt(c2)
    return math.acos(max(-1.0, min(1.0, -c1 / (2.0 * radius)))) * rate / (2.0 * math.pi), radius


def shelf_row(params, rate, rounded=True):
    """params [log gain, pole f/1000, pole bandwidth parameter, zero f/1000, zero bandwidth parameter]."""
    r = f32 if rounded else float
    a1, a2 = root_form(params[1] * 1000.0, radius_of(fitted_bandwidth(params[2]), rate), rate)
    b1, b2 = root_form(params[3] * 1000.0, radius_of(fitted_bandwidth(params[4]), rate), rate)
    return {"gain": r(math.exp(params[0])), "a1": r(a1), "a2": r(a2), "b1": r(b1), "b2": r(b2)}


def design_shelf(rate, band):
    targets = [(f, reference_shelf(f)) for f in band]
    guard = guard_band(reference_shelf, band, rate)
    pole = roots_of(SHELF_48000["a1"], SHELF_48000["a2"], REFERENCE_RATE)
    zero = roots_of(SHELF_48000["b1"], SHELF_48000["b2"], REFERENCE_RATE)
    start = [math.log(SHELF_48000["gain"]),
             pole[0] / 1000.0, bandwidth_parameter(bandwidth_of(pole[1], REFERENCE_RATE)),
             zero[0] / 1000.0, bandwidth_parameter(bandwidth_of(zero[1], REFERENCE_RATE))]

    def residual(p):
        row = shelf_row(p, rate, rounded=False)
        return residuals(lambda f: biquad(row, rate, f), targets, guard)

    row = shelf_row(minimax(residual, start), rate)
    return row, errors(lambda f: biquad(row, rate, f), reference_shelf, band)


# ---- output ------------------------------------------------------------------------


def num(x):
    return "%.9g" % x


def fl(x):
    text = num(x)
    return (text if ("." in text or "e" in text) else text + ".0") + "f"


def write_tables(path, designs):
    out = [
        "// Generated by design/vastor_rate_design.py; edit the generator, not this file.",
        "//",
        "// The widener's filter rows for 88200, 96000, 176400 and 192000 Hz, fitted to",
        "// the 48000 Hz rows. Largest deviation from the 48000 Hz row's response",
        "// relative to its direct path (multi-stage over the band within 30 dB of its",
        "// peak, single-stage and shelf over 0 .. 24 kHz):",
    ]
    for rate in RATES:
        d = designs[rate]
        out.append("//   %6d Hz: multi-stage %.3f dB %.3f rad (%d sections, direct delay %d),"
                   % (rate, d["multi"][1][0], d["multi"][1][1], len(d["multi"][0]["poles"]), d["multi"][0]["delay"]))
        out.append("//              single-stage %.3f dB %.3f rad, shelf %.3f dB %.3f rad"
                   % (d["single"][1] + d["shelf"][1]))
    out += ["", '#include "VastorTables.h"', "", "// clang-format off", "namespace {", ""]
    for rate in RATES:
        poles = designs[rate]["multi"][0]["poles"]
        out.append("const IIRRoot kPoles%d[] = {" % rate)
        out += ["    {%s, %s}," % (fl(f), fl(r)) for f, r in poles]
        out.append("};")
    out.append("")
    for rate in RATES:
        row = designs[rate]["single"][0]
        out.append("const BiquadRoots kSection%d[] = {{{%s, %s}, {%s, %s}}};"
                   % (rate, fl(row["pole"][0]), fl(row["pole"][1]), fl(row["zero"][0]), fl(row["zero"][1])))
    out += ["", "}  // namespace", ""]
    out.append("const MultiStageVastorRow multiStageVastorHighTable[kVastorHighRateCount] = {")
    for rate in RATES:
        row = designs[rate]["multi"][0]
        out.append("    {{%d, %s, %d, kPoles%d}, %d}," % (rate, fl(row["gain"]), len(row["poles"]), rate, row["delay"]))
    out += ["};", "", "const BiquadCoeffs2 singleStageVastorHighTable[kVastorHighRateCount] = {"]
    for rate in RATES:
        out.append("    {%d, %s, 1, kSection%d}," % (rate, fl(designs[rate]["single"][0]["gain"]), rate))
    out += ["};", "", "const HighshelfRow highshelfHighTable[kVastorHighRateCount] = {"]
    for rate in RATES:
        row = designs[rate]["shelf"][0]
        out.append("    {%d, %s, 1, {%s, %s, %s, %s}}," % (rate, fl(row["gain"]), fl(row["a1"]), fl(row["a2"]),
                                                         fl(row["b1"]), fl(row["b2"])))
    out += ["};", "// clang-format on"]
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "vastor"
    bands = {"multi": masked_band(reference_multi), "single": masked_band(reference_single),
             "shelf": masked_band(reference_shelf)}
    for kind, band in bands.items():
        print("%-6s band %.0f .. %.0f Hz" % (kind, band[0], band[-1]))
    designs = {}
    for rate in RATES:
        designs[rate] = {"multi": design_multi(rate, bands["multi"]), "single": design_single(rate, bands["single"]),
                         "shelf": design_shelf(rate, bands["shelf"])}
        for kind in ("multi", "single", "shelf"):
            row, (db, rad) = designs[rate][kind]
            print("%6d Hz %-6s %.3f dB %.3f rad  %s" % (rate, kind, db, rad, row))
            assert db <= DB_TOLERANCE and rad <= RAD_TOLERANCE, "%d Hz %s misses the target" % (rate, kind)
    write_tables(os.path.join(folder, "VastorRateTables.cpp"), designs)


if __name__ == "__main__":
    main()
