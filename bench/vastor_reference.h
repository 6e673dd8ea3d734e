// Reference kernels for the engine benchmarks: the engines' computation for
// 16-bit input at one rate, written in the plain order of their algorithms.
// Each chunk of at most 1024 frames is split into float channels, mixed into
// the buses, and then every filter runs over the whole block on its own: the
// left side before the right, each cascade section over the block before the
// next section, the FIR as one dot product per sample over its history. The
// coefficients are read from the filters the engines' factories build, and
// the arithmetic is the engines', so a reference gives the engine's bits
// (Matches() checks it); what differs is only the order in which the work is
// done. Benchmarks time an engine against its reference in the same run and
// report the ratio.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Flt2p0z.h"
#include "Flt2p2z.h"
#include "Fltfir.h"
#include "Flthigh.h"
#include "MathLib.h"
#include "Mathutil.h"
#include "VastorTables.h"

namespace reference {

constexpr int kChunk = 1024;
constexpr float kScale16 = 3.0517578125e-05f;  // 2^-15

struct Hipass {
    float f = 0, q = 0, band = 0, low = 0;
    explicit Hipass(long rate, int hz) {
        FloatHipass h(rate);
        h.SetFrequency(hz);
        f = h.tune_;
        q = h.damping_;
    }
    void Run(float* s, int n) {
        for (int i = 0; i < n; ++i) {
            low = low + f * band;
            const float high = s[i] - low - q * band;
            band = band + f * high;
            s[i] = high;
        }
    }
};

// The widening filter: an all-pole cascade or a biquad cascade, section by
// section over the whole block.
struct Cascade {
    struct Section {
        float a1, a2, b1, b2, z1, z2;
    };
    float gain = 1.0f;
    bool applyGain = false, allPole = true;
    std::vector<Section> sections;

    explicit Cascade(InPlaceFilter* filter) {
        if (FloatIIR2p0z* p = dynamic_cast<FloatIIR2p0z*>(filter)) {
            gain = p->gain_;
            applyGain = p->applyGain_;
            for (int k = 0; k < p->sectionCount_; ++k)
                sections.push_back({p->sections_[k].a1, p->sections_[k].a2, 0, 0, 0, 0});
        } else if (FloatBiquad* b = dynamic_cast<FloatBiquad*>(filter)) {
            allPole = false;
            gain = b->gain_;
            applyGain = b->applyGain_;
            for (int k = 0; k < b->sectionCount_; ++k) {
                const FloatBiquad::Section& s = b->sections_[k];
                sections.push_back({s.a1, s.a2, s.b1, s.b2, 0, 0});
            }
        }
        delete filter;
    }
    void Run(float* s, int n) {
        if (applyGain)
            for (int i = 0; i < n; ++i) s[i] = gain * s[i];
        for (Section& c : sections) {
            float z1 = c.z1, z2 = c.z2;
            if (allPole) {
                for (int i = 0; i < n; ++i) {
                    const float y = s[i] - (c.a1 * z1 + c.a2 * z2);
                    z2 = z1;
                    z1 = y;
                    s[i] = y;
                }
            } else {
                for (int i = 0; i < n; ++i) {
                    const float w = s[i] - c.a1 * z1 - c.a2 * z2;
                    s[i] = w + c.b1 * z1 + c.b2 * z2;
                    z2 = z1;
                    z1 = w;
                }
            }
            c.z1 = z1;
            c.z2 = z2;
        }
    }
};

// A channel's input with the frames before the block in front of it:
// At(i - d) is the input d frames before frame i of the block.
struct History {
    int depth;
    std::vector<float> line;
    explicit History(int maxDelay) : depth(maxDelay), line(static_cast<size_t>(maxDelay + kChunk), 0.0f) {}
    float* Block() { return line.data() + depth; }
    const float* At(int delay) const { return line.data() + depth - delay; }
    void Advance(int n) {
        std::memmove(line.data(), line.data() + n, sizeof(float) * static_cast<size_t>(depth));
    }
};

inline void Merge16(const float* left, const float* right, short (*out)[2], int n) {
    for (int i = 0; i < n; ++i) {
        const float side[2] = {left[i], right[i]};
        for (int c = 0; c < 2; ++c) {
            const int v = static_cast<int>(side[c] * 32768.0f);
            out[i][c] = static_cast<short>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
        }
    }
}

// The dual widener network on two float channels: per side, the cross-feed
// of the other channel high-passed, plus the negative same-side feed, through
// the side's widening filter, added to the side's direct signal.
struct Dual {
    float gCross, gSame;  // k s and -k m s
    int inputDelay, directDelay;
    Hipass hp[2];
    Cascade widen[2];
    History in[2];
    float cross[2][kChunk], filter[2][kChunk], out[2][kChunk];

    Dual(long rate, unsigned flags, float k, float m, int d, int hpHz, int directOverride)
        : gCross(k),
          gSame(-k * m),
          inputDelay(d),
          directDelay(0),
          hp{Hipass(rate, hpHz), Hipass(rate, hpHz)},
          widen{Cascade(Make(rate, flags, &directDelay)), Cascade(Make(rate, flags, &directDelay))},
          in{History(64), History(64)} {
        if (directOverride >= 0) directDelay = directOverride;
    }
    static InPlaceFilter* Make(long rate, unsigned flags, int* delay) {
        long d = 0;
        InPlaceFilter* f = (flags & 0x80000000u) ? CreateSingleStageVastor(*GetFloatLibrary(), rate, 1.0f, &d)
                                                 : CreateMultiStageVastor(*GetFloatLibrary(), rate, 1.0f, &d);
        *delay = static_cast<int>(d);
        return f;
    }
    // Takes in[0] and in[1]'s blocks of n frames; leaves the result in out.
    void Run(int n) {
        for (int side = 0; side < 2; ++side) {
            const float* other = in[1 - side].At(inputDelay);
            const float* same = in[side].At(inputDelay);
            const float* direct = in[side].At(inputDelay + directDelay);
            for (int i = 0; i < n; ++i) {
                out[side][i] = direct[i];
                cross[side][i] = gCross * other[i];
                filter[side][i] = gSame * same[i];
            }
            hp[side].Run(cross[side], n);
            for (int i = 0; i < n; ++i) filter[side][i] = filter[side][i] + cross[side][i];
            widen[side].Run(filter[side], n);
            for (int i = 0; i < n; ++i) out[side][i] = out[side][i] + filter[side][i];
        }
        in[0].Advance(n);
        in[1].Advance(n);
    }
};

// vastorProcess16 with the player's flags (dual network, multi-stage filter,
// 75 Hz high-pass on) at spread and center 0 dB.
class Widener {
  public:
    explicit Widener(long rate) : dual_(rate, 0x40000000u, 1.0f, 1.0f, 0, 75, -1) {}
    void Process(const short (*in)[2], short (*out)[2], int frames) {
        for (int done = 0; done < frames; done += kChunk) {
            const int n = std::min(kChunk, frames - done);
            float* left = dual_.in[0].Block();
            float* right = dual_.in[1].Block();
            for (int i = 0; i < n; ++i) {
                left[i] = kScale16 * in[done + i][0];
                right[i] = kScale16 * in[done + i][1];
            }
            dual_.Run(n);
            Merge16(dual_.out[0], dual_.out[1], out + done, n);
        }
    }

  private:
    Dual dual_;
};

}  // namespace reference
