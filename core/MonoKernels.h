// The arithmetic of the mono detector's measurements (MonoDetector.h): the
// low-pass with the products of a hop's frames summed as it runs, the
// windows' sums, the corrections of a sum for the lags, and the small solve
// of the fit. Each gives the same bits whatever the machine it runs on.
#pragma once

#include "MonoDetector.h"
#include "SampleOps.h"

namespace kesta {
namespace mono_kernels {

// The detector's delays (see MonoDetector.h).
constexpr int kSpan = MonoDetector::kMaxLag + 1;
constexpr int kShifts = 2 * kSpan + 1;

// Each of a hop's sums of products (over its n frames) is taken in kLanes
// running sums: lane j takes a[i] * b[i] for the frames i = j (mod kLanes)
// of the whole groups of kLanes frames in order, lane 0 then the frames after
// the last whole group, and the sum is 0 + lane 0 + lane 1 + ... in that
// order. The groups are summed while the low-pass runs over the frames after
// them (its recursion, one frame at a time, leaves the processor time for
// them); a clone of those loops for AVX2 is chosen when the library is
// loaded. Products and sums are rounded one by one (no contraction), so the
// bits are the same whatever the vector width.

// The two-stage low-pass over n frames (sample i of each channel at
// i * stride) into l and r (the hop's frames from frame from on), its state
// carried in state: l1 = a l1 + b x, then l2 = a l2 + b l1 (a = 1 - b). With
// summed, it passes over the frames a group at a time, and during each pass
// the products of the next group not summed (from frame *summed) that ended
// a group before it are summed.
void LowPassAndSum(const float* left, const float* right, int n, int stride, float pole, float* state,
                   float* l, float* r, int from, int* summed, float (*sums)[kLanes]);

// The products of the hop's n frames at l and r (see LowPassAndSum) from
// frame summed on into the running sums, then each product's sum in out; the
// running sums are left at 0.
void FinishSums(const float* l, const float* r, int n, int summed, float (*sums)[kLanes], float* out);

// The long window's running sums with the oldest hop's (slot) out and the
// new hop's, each of its sums times w, in: window - slot + w hop, into slot
// too (size doubles each; w 1 leaves hop as it is).
void Slide(double* window, double* slot, const double* hop, double w, int size);

// The sums of count hops (each size doubles) in order, from 0.
void SumOf(const double* const* hops, int count, double* out, int size);

// From base = the sum of x[j] x[j - d] over j in [0, n), the same sum over
// j in [-m, n - m) into out[m] for m in [0, count): the terms that enter
// before the hop in (from j = -m up), those at its end out (from j = n - m
// up; x holds history before index 0). The sums are taken side by side, a
// term of each in turn.
// (The loops have fixed counts, so that they unroll into straight code.)
template <int d, int count>
void Shifted(double base, const float* x, int n, double* out) {
    double enter[count], leave[count];  // the terms of j = -k and j = n - k
#pragma GCC unroll 16
    for (int k = 1; k < count; ++k) {
        enter[k] = static_cast<double>(x[-k]) * x[-k - d];
        leave[k] = static_cast<double>(x[n - k]) * x[n - k - d];
    }
#pragma GCC unroll 16
    for (int m = 0; m < count; ++m) out[m] = base;
#pragma GCC unroll 16
    for (int t = 0; t < 2 * (count - 1); ++t) {
        // Step t: the sum of m takes j = t - m while t < m, then j = n - 2m + t.
#pragma GCC unroll 16
        for (int m = 1; m < count; ++m) {
            if (m <= t / 2) continue;
            if (m <= t)
                out[m] -= leave[2 * m - t];
            else
                out[m] += enter[m - t];
        }
    }
}

// Solves the first size equations of g x = b (g symmetric and positive
// semi-definite) by elimination into x; false when they are singular.
// (size is fixed, so that the loops unroll into straight code.)
template <int size>
bool Solve(const double (&g)[3][3], const double (&b)[3], double (&x)[3]) {
    // A little ridge: the right channel, its slope and its curvature are
    // nearly dependent for a narrow-band signal, where any of the near
    // solutions fits alike; the ridge picks a small one.
    double trace = 0.0;
    for (int i = 0; i < size; ++i) trace += g[i][i];
    double a[3][4];
    for (int i = 0; i < size; ++i) {
        for (int j = 0; j < size; ++j) a[i][j] = g[i][j] + (i == j ? 1e-7 * trace : 0.0);
        a[i][3] = b[i];
    }
    for (int col = 0; col < size; ++col) {
        if (!(a[col][col] > 0.0)) return false;
        for (int row = col + 1; row < size; ++row) {
            const double f = a[row][col] / a[col][col];
            for (int j = col; j < 4; ++j) a[row][j] -= f * a[col][j];
        }
    }
    for (int i = size - 1; i >= 0; --i) {
        double v = a[i][3];
        for (int j = i + 1; j < size; ++j) v -= a[i][j] * x[j];
        x[i] = v / a[i][i];
    }
    return true;
}

}  // namespace mono_kernels
}  // namespace kesta
