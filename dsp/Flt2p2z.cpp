// The float biquad cascade and its factory.
#include "Flt2p2z.h"

#include <climits>
#include <new>

#include "Cascade.h"
#include "FedCascade.h"
#include "FilterDesign.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace {
const Samples kBiquadTail = 1000;

#if defined(__SSE2__)
// Section::advance on packed lanes: w = x - a1 w1 - a2 w2; y = w + b1 w1 + b2 w2.
struct BiquadLanes {
    __m128 a1, a2, b1, b2;
    static BiquadLanes From(const FloatBiquad::Section& l, const FloatBiquad::Section& r) {
        using cascade::fed::Pack;
        return {Pack(l.a1, r.a1), Pack(l.a2, r.a2), Pack(l.b1, r.b1), Pack(l.b2, r.b2)};
    }
    __m128 advance(__m128 x, __m128& w1, __m128& w2) const {
        const __m128 w = _mm_sub_ps(_mm_sub_ps(x, _mm_mul_ps(a1, w1)), _mm_mul_ps(a2, w2));
        const __m128 y = _mm_add_ps(_mm_add_ps(w, _mm_mul_ps(b1, w1)), _mm_mul_ps(b2, w2));
        w2 = w1;
        w1 = w;
        return y;
    }
};
#endif
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
    for (int k = 0; k < sectionCount_; ++k) sections_[k].z1 = sections_[k].z2 = 0.0f;
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
    cascade::Run(sections_, sectionCount_, s, n);
}

// Both cascades in one loop when they have as many sections (cascade::ProcessPair).
void FloatBiquad::ProcessPair(MixBuffer& buffer, InPlaceFilter& other, MixBuffer& otherBuffer) {
    if (!cascade::ProcessPair(*this, buffer, other, otherBuffer))
        InPlaceFilter::ProcessPair(buffer, other, otherBuffer);
}

bool FloatBiquad::ProcessFed(const FedSide& side, InPlaceFilter* other, const FedSide* otherSide) {
#if defined(__SSE2__)
    return cascade::ProcessFed<FloatBiquad, BiquadLanes>(*this, side, other, otherSide);
#else
    return InPlaceFilter::ProcessFed(side, other, otherSide);
#endif
}

void FloatBiquad::PrepareFed(FedPlan& plan, const FedSide& side, InPlaceFilter* other,
                             const FedSide* otherSide) {
#if defined(__SSE2__)
    cascade::PrepareFed<FloatBiquad, BiquadLanes>(*this, plan, side, other, otherSide);
#else
    InPlaceFilter::PrepareFed(plan, side, other, otherSide);
#endif
}

BiquadFilter* FloatLibrary::CreateBiquad() {
    return new (std::nothrow) FloatBiquad();
}
