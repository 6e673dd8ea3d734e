#include "MonoKernels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace kesta {
namespace mono_kernels {

namespace {

// A clone of the loops for AVX2 is chosen when the library is loaded (see
// MonoKernels.h). Not under ThreadSanitizer: the clones' resolver runs while
// the program is being loaded, before that runtime is ready, and would crash.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define KESTA_WIDE_CLONES __attribute__((target_clones("default", "avx2")))
#else
#define KESTA_WIDE_CLONES
#endif

typedef float Group __attribute__((vector_size(kLanes * sizeof(float))));

// The products of the group of frames at l and r (l is the left channel
// kSpan samples late, r the right) into the running sums.
inline __attribute__((always_inline)) void AddGroup(const float* l, const float* r, float (*sums)[kLanes]) {
    const auto add = [sums](int k, const float* a, const float* b) {
        Group x, y, s;
        std::memcpy(&x, a, sizeof x);
        std::memcpy(&y, b, sizeof y);
        std::memcpy(&s, sums[k], sizeof s);
        s += x * y;
        std::memcpy(sums[k], &s, sizeof s);
    };
    for (int m = 0; m < kShifts; ++m) add(m, l, r - m);
    add(kShifts, l, l);
    add(kShifts + 1, r, r);
    add(kShifts + 2, r, r - 1);
    add(kShifts + 3, r, r - 2);
}

}  // namespace

// The two-stage low-pass over n frames (sample i of each channel at
// i * stride) into l and r (the hop's frames from frame from on), its state
// carried in state: l1 = a l1 + b x, then l2 = a l2 + b l1 (a = 1 - b). With
// summed, it passes over the frames a group at a time, and during each pass
// the products of the next group not summed (from frame *summed) that ended
// a group before it are summed.
KESTA_WIDE_CLONES void LowPassAndSum(const float* left, const float* right, int n, int stride, float pole,
                                     float* state, float* l, float* r, int from, int* summed,
                                     float (*sums)[kLanes]) {
    const float a = 1.0f - pole, b = pole;
    float l1 = state[0], r1 = state[1], l2 = state[2], r2 = state[3];
    const size_t step = static_cast<size_t>(stride);
    for (int i = 0; i < n;) {
        const int at = from + i;
        const int end = std::min(n, (at | (kLanes - 1)) + 1 - from);
        if (summed && *summed + 2 * kLanes <= at) {
            AddGroup(l - kSpan + *summed, r + *summed, sums);
            *summed += kLanes;
        }
        for (; i < end; ++i) {
            l1 = a * l1 + b * left[static_cast<size_t>(i) * step];
            r1 = a * r1 + b * right[static_cast<size_t>(i) * step];
            l2 = a * l2 + b * l1;
            r2 = a * r2 + b * r1;
            l[from + i] = l2;
            r[from + i] = r2;
        }
    }
    state[0] = l1;
    state[1] = r1;
    state[2] = l2;
    state[3] = r2;
}

// The products of the hop's n frames at l and r (see LowPassAndSum) from
// frame summed on into the running sums, then each product's sum in out; the
// running sums are left at 0.
KESTA_WIDE_CLONES void FinishSums(const float* l, const float* r, int n, int summed, float (*sums)[kLanes],
                                  float* out) {
    for (; summed + kLanes <= n; summed += kLanes) AddGroup(l + summed, r + summed, sums);
    for (int i = summed; i < n; ++i) {
        const float x = l[i];
        for (int m = 0; m < kShifts; ++m) sums[m][0] += x * r[i - m];
        sums[kShifts][0] += x * x;
        sums[kShifts + 1][0] += r[i] * r[i];
        sums[kShifts + 2][0] += r[i] * r[i - 1];
        sums[kShifts + 3][0] += r[i] * r[i - 2];
    }
    for (int k = 0; k < kShifts + 4; ++k) {
        float sum = 0.0f;
        for (int j = 0; j < kLanes; ++j) sum += sums[k][j];
        out[k] = sum;
        for (int j = 0; j < kLanes; ++j) sums[k][j] = 0.0f;
    }
}

// The long window's running sums with the oldest hop's (slot) out and the
// new hop's, each of its sums times w, in: window - slot + w hop, into slot
// too (size doubles each; w 1 leaves hop as it is).
KESTA_WIDE_CLONES void Slide(double* window, double* slot, const double* hop, double w, int size) {
    for (int k = 0; k < size; ++k) {
        const double x = hop[k] * w;
        window[k] = window[k] - slot[k] + x;
        slot[k] = x;
    }
}

// The sums of count hops (each size doubles) in order, from 0.
KESTA_WIDE_CLONES void SumOf(const double* const* hops, int count, double* out, int size) {
    for (int k = 0; k < size; ++k) out[k] = 0.0;
    for (int h = 0; h < count; ++h)
        for (int k = 0; k < size; ++k) out[k] += hops[h][k];
}

}  // namespace mono_kernels
}  // namespace kesta
