// The float biquad cascade and its factory.
#include "Flt2p2z.h"

#include <algorithm>
#include <climits>
#include <new>

#include "FilterDesign.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace {
const Samples kBiquadTail = 1000;
// Sections run together in one pass over the block.
const int kSectionsPerPass = 4;

// One sample through one section (direct form II), w1 and w2 its state.
inline float Advance(const FloatBiquad::Section& c, float x, float& w1, float& w2) {
    const float w = x - c.a1 * w1 - c.a2 * w2;
    const float y = w + c.b1 * w1 + c.b2 * w2;
    w2 = w1;
    w1 = w;
    return y;
}

// Up to four consecutive sections over the block, all of them advanced for
// one sample before the next. Each section computes exactly what it would
// computing the whole block alone, so the bits equal a section-by-section
// run, while the independent recursions overlap in the processor instead of
// waiting on each other's latency. The states are plain locals so that they
// stay in registers, unpacked; the coefficients are read from the records.
void RunSections(FloatBiquad::Section* c, int count, float* s, Samples n) {
    float w1_0 = c[0].w1, w2_0 = c[0].w2;
    switch (count) {
        case 1:
            for (Samples i = 0; i < n; ++i) s[i] = Advance(c[0], s[i], w1_0, w2_0);
            break;
        case 2: {
            float w1_1 = c[1].w1, w2_1 = c[1].w2;
            for (Samples i = 0; i < n; ++i) s[i] = Advance(c[1], Advance(c[0], s[i], w1_0, w2_0), w1_1, w2_1);
            c[1].w1 = w1_1;
            c[1].w2 = w2_1;
            break;
        }
        case 3: {
            float w1_1 = c[1].w1, w2_1 = c[1].w2, w1_2 = c[2].w1, w2_2 = c[2].w2;
            for (Samples i = 0; i < n; ++i)
                s[i] = Advance(c[2], Advance(c[1], Advance(c[0], s[i], w1_0, w2_0), w1_1, w2_1), w1_2, w2_2);
            c[1].w1 = w1_1;
            c[1].w2 = w2_1;
            c[2].w1 = w1_2;
            c[2].w2 = w2_2;
            break;
        }
        default: {
            float w1_1 = c[1].w1, w2_1 = c[1].w2, w1_2 = c[2].w1, w2_2 = c[2].w2, w1_3 = c[3].w1,
                  w2_3 = c[3].w2;
            for (Samples i = 0; i < n; ++i)
                s[i] = Advance(
                    c[3],
                    Advance(c[2], Advance(c[1], Advance(c[0], s[i], w1_0, w2_0), w1_1, w2_1), w1_2, w2_2),
                    w1_3, w2_3);
            c[1].w1 = w1_1;
            c[1].w2 = w2_1;
            c[2].w1 = w1_2;
            c[2].w2 = w2_2;
            c[3].w1 = w1_3;
            c[3].w2 = w2_3;
            break;
        }
    }
    c[0].w1 = w1_0;
    c[0].w2 = w2_0;
}
}  // namespace

FloatBiquad::FloatBiquad()
    : QuietFilterStatus(kBiquadTail), gain_(1.0f), sectionCount_(0), sections_(nullptr), applyGain_(true) {
    FloatBiquad::Reset();
}

FloatBiquad::~FloatBiquad() {
    delete[] sections_;
}

void FloatBiquad::Reset() {
    QuietFilterStatus::Reset();
    for (int k = 0; k < sectionCount_; ++k) sections_[k].w1 = sections_[k].w2 = 0.0f;
}

int FloatBiquad::SetFilter(const BiquadCoeffs& coeffs) {
    if (coeffs.numSections != sectionCount_) {
        delete[] sections_;
        sections_ = nullptr;
        sectionCount_ = 0;
        if (coeffs.numSections < 0 || coeffs.numSections > INT_MAX) return 1;
        if (coeffs.numSections > 0) {
            sections_ = new (std::nothrow) Section[coeffs.numSections];
            if (!sections_) return 1;
        }
        sectionCount_ = static_cast<int>(coeffs.numSections);
    }
    applyGain_ = coeffs.gain != 1.0f;
    gain_ = coeffs.gain;
    for (int k = 0; k < sectionCount_; ++k) {
        sections_[k].a1 = coeffs.coeffs[k][0];
        sections_[k].a2 = coeffs.coeffs[k][1];
        sections_[k].b1 = coeffs.coeffs[k][2];
        sections_[k].b2 = coeffs.coeffs[k][3];
    }
    Reset();
    return 0;
}

void FloatBiquad::Process(MixBuffer& buffer) {
    const Samples n = buffer.used_;
    if (n <= 0) return;
    if (applyGain_) GetFloatLibrary()->Multiply(buffer, gain_, n);
    float* s = buffer.floats();
    for (int k = 0; k < sectionCount_; k += kSectionsPerPass)
        RunSections(sections_ + k, std::min(kSectionsPerPass, sectionCount_ - k), s, n);
}

BiquadFilter* FloatLibrary::CreateBiquad() {
    return new (std::nothrow) FloatBiquad();
}
