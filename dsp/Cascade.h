// Runs a cascade of second-order sections over a block in place.
//
// Up to four consecutive sections go through the block in one pass, all of
// them advanced for one sample before the next. Each section computes exactly
// what it would computing the whole block alone, so the bits equal a
// section-by-section run, while the independent recursions overlap in the
// processor instead of waiting on each other's latency. The states are plain
// locals so that they stay in registers, unpacked.
//
// Section provides its state as z1, z2 and the step
//   float advance(float x, float& z1, float& z2) const.
#pragma once

#include <algorithm>

#include "Wavedata.h"

namespace cascade {

template <class Section>
void RunPass(Section* c, int count, float* s, Samples n) {
    float z1_0 = c[0].z1, z2_0 = c[0].z2;
    switch (count) {
        case 1:
            for (Samples i = 0; i < n; ++i) s[i] = c[0].advance(s[i], z1_0, z2_0);
            break;
        case 2: {
            float z1_1 = c[1].z1, z2_1 = c[1].z2;
            for (Samples i = 0; i < n; ++i) s[i] = c[1].advance(c[0].advance(s[i], z1_0, z2_0), z1_1, z2_1);
            c[1].z1 = z1_1;
            c[1].z2 = z2_1;
            break;
        }
        case 3: {
            float z1_1 = c[1].z1, z2_1 = c[1].z2, z1_2 = c[2].z1, z2_2 = c[2].z2;
            for (Samples i = 0; i < n; ++i)
                s[i] = c[2].advance(c[1].advance(c[0].advance(s[i], z1_0, z2_0), z1_1, z2_1), z1_2, z2_2);
            c[1].z1 = z1_1;
            c[1].z2 = z2_1;
            c[2].z1 = z1_2;
            c[2].z2 = z2_2;
            break;
        }
        default: {
            float z1_1 = c[1].z1, z2_1 = c[1].z2, z1_2 = c[2].z1, z2_2 = c[2].z2, z1_3 = c[3].z1,
                  z2_3 = c[3].z2;
            for (Samples i = 0; i < n; ++i)
                s[i] = c[3].advance(
                    c[2].advance(c[1].advance(c[0].advance(s[i], z1_0, z2_0), z1_1, z2_1), z1_2, z2_2), z1_3,
                    z2_3);
            c[1].z1 = z1_1;
            c[1].z2 = z2_1;
            c[2].z1 = z1_2;
            c[2].z2 = z2_2;
            c[3].z1 = z1_3;
            c[3].z2 = z2_3;
            break;
        }
    }
    c[0].z1 = z1_0;
    c[0].z2 = z2_0;
}

// All count sections over the block, four per pass.
template <class Section>
void Run(Section* sections, int count, float* s, Samples n) {
    const int kSectionsPerPass = 4;
    for (int k = 0; k < count; k += kSectionsPerPass)
        RunPass(sections + k, std::min(kSectionsPerPass, count - k), s, n);
}

// Two cascades of the same length, a over s and b over t, k sections of each
// per pass (k at most 4), one sample of both lanes per step. The sections are
// copied into locals, state and all, so that the compiler keeps them in
// registers (the blocks' stores cannot touch them), and are written back.
template <int K, class Section>
void RunPairPass(Section* a, Section* b, float* s, float* t, Samples n) {
    Section la[K], lb[K];
    for (int k = 0; k < K; ++k) {
        la[k] = a[k];
        lb[k] = b[k];
    }
    for (Samples i = 0; i < n; ++i) {
        float x = s[i], y = t[i];
        for (int k = 0; k < K; ++k) {
            x = la[k].advance(x, la[k].z1, la[k].z2);
            y = lb[k].advance(y, lb[k].z1, lb[k].z2);
        }
        s[i] = x;
        t[i] = y;
    }
    for (int k = 0; k < K; ++k) {
        a[k] = la[k];
        b[k] = lb[k];
    }
}

// Two cascades of count sections each: a over the na samples at s, b over the
// nb at t. Pass by pass, both lanes run together over the samples they share
// and the longer block finishes alone, so each lane gets exactly the bits of
// Run on its own.
template <class Section>
void RunPair(Section* a, float* s, Samples na, Section* b, float* t, Samples nb, int count) {
    const int kSectionsPerPass = 4;
    const Samples both = std::min(na, nb);
    for (int k = 0; k < count; k += kSectionsPerPass) {
        const int m = std::min(kSectionsPerPass, count - k);
        if (both > 0) {
            switch (m) {
                case 1:
                    RunPairPass<1>(a + k, b + k, s, t, both);
                    break;
                case 2:
                    RunPairPass<2>(a + k, b + k, s, t, both);
                    break;
                case 3:
                    RunPairPass<3>(a + k, b + k, s, t, both);
                    break;
                default:
                    RunPairPass<4>(a + k, b + k, s, t, both);
                    break;
            }
        }
        if (na > both) RunPass(a + k, m, s + both, na - both);
        if (nb > both) RunPass(b + k, m, t + both, nb - both);
    }
}

}  // namespace cascade
