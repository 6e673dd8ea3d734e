// The float all-pole cascade and its factory.
#include "Flt2p0z.h"

#include <algorithm>
#include <climits>
#include <new>

#include "MathLib.h"
#include "Mixbuf.h"

namespace {
const Samples kAllPoleTail = 1000;
// Sections run together in one pass over the block.
const int kSectionsPerPass = 4;

// One sample through one section, y1 and y2 its state.
inline float Advance(const FloatIIR2p0z::Section& c, float x, float& y1, float& y2) {
    const float y = x - (c.a1 * y1 + c.a2 * y2);
    y2 = y1;
    y1 = y;
    return y;
}

// Up to four consecutive sections over the block, all of them advanced for
// one sample before the next: the bits of a section-by-section run, with the
// independent recursions overlapping in the processor. The states are plain
// locals so that they stay in registers, unpacked.
void RunSections(FloatIIR2p0z::Section* c, int count, float* s, Samples n) {
    float y1_0 = c[0].y1, y2_0 = c[0].y2;
    switch (count) {
        case 1:
            for (Samples i = 0; i < n; ++i) s[i] = Advance(c[0], s[i], y1_0, y2_0);
            break;
        case 2: {
            float y1_1 = c[1].y1, y2_1 = c[1].y2;
            for (Samples i = 0; i < n; ++i) s[i] = Advance(c[1], Advance(c[0], s[i], y1_0, y2_0), y1_1, y2_1);
            c[1].y1 = y1_1;
            c[1].y2 = y2_1;
            break;
        }
        case 3: {
            float y1_1 = c[1].y1, y2_1 = c[1].y2, y1_2 = c[2].y1, y2_2 = c[2].y2;
            for (Samples i = 0; i < n; ++i)
                s[i] = Advance(c[2], Advance(c[1], Advance(c[0], s[i], y1_0, y2_0), y1_1, y2_1), y1_2, y2_2);
            c[1].y1 = y1_1;
            c[1].y2 = y2_1;
            c[2].y1 = y1_2;
            c[2].y2 = y2_2;
            break;
        }
        default: {
            float y1_1 = c[1].y1, y2_1 = c[1].y2, y1_2 = c[2].y1, y2_2 = c[2].y2, y1_3 = c[3].y1,
                  y2_3 = c[3].y2;
            for (Samples i = 0; i < n; ++i)
                s[i] = Advance(
                    c[3],
                    Advance(c[2], Advance(c[1], Advance(c[0], s[i], y1_0, y2_0), y1_1, y2_1), y1_2, y2_2),
                    y1_3, y2_3);
            c[1].y1 = y1_1;
            c[1].y2 = y2_1;
            c[2].y1 = y1_2;
            c[2].y2 = y2_2;
            c[3].y1 = y1_3;
            c[3].y2 = y2_3;
            break;
        }
    }
    c[0].y1 = y1_0;
    c[0].y2 = y2_0;
}
}  // namespace

FloatIIR2p0z::FloatIIR2p0z()
    : QuietFilterStatus(kAllPoleTail), gain_(1.0f), sectionCount_(0), sections_(nullptr), applyGain_(true) {}

FloatIIR2p0z::~FloatIIR2p0z() {
    delete[] sections_;
}

void FloatIIR2p0z::Reset() {
    QuietFilterStatus::Reset();
    for (int k = 0; k < sectionCount_; ++k) sections_[k].y1 = sections_[k].y2 = 0.0f;
}

int FloatIIR2p0z::setFilter(const IIR2p0zCoeffs* coeffs) {
    if (!coeffs) return 1;
    if (coeffs->numSections != sectionCount_) {
        delete[] sections_;
        sections_ = nullptr;
        sectionCount_ = 0;
        if (coeffs->numSections < 0 || coeffs->numSections > INT_MAX) return 1;
        if (coeffs->numSections > 0) {
            sections_ = new (std::nothrow) Section[coeffs->numSections]();
            if (!sections_) return 1;
        }
        sectionCount_ = static_cast<int>(coeffs->numSections);
    }
    applyGain_ = coeffs->gain != 1.0f;
    gain_ = coeffs->gain;
    for (int k = 0; k < sectionCount_; ++k)
        coeffs->roots[k].getDirectForm(coeffs->sampleRate, &sections_[k].a1, &sections_[k].a2);
    return 0;
}

void FloatIIR2p0z::Process(MixBuffer& buffer) {
    const Samples n = buffer.used_;
    if (n <= 0) return;
    if (applyGain_) GetFloatLibrary()->Multiply(buffer, gain_, n);
    float* s = buffer.floats();
    for (int k = 0; k < sectionCount_; k += kSectionsPerPass)
        RunSections(sections_ + k, std::min(kSectionsPerPass, sectionCount_ - k), s, n);
}

IIR2p0zFilter* FloatLibrary::CreateFilter(const IIR2p0zCoeffs* coeffs) {
    FloatIIR2p0z* filter = new (std::nothrow) FloatIIR2p0z();
    if (!filter) return nullptr;
    if (filter->setFilter(coeffs) != 0) {
        delete filter;
        return nullptr;
    }
    filter->Reset();
    return filter;
}
