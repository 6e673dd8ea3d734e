// The float all-pole cascade and its factory.
#include "Flt2p0z.h"

#include <climits>
#include <new>

#include "Cascade.h"
#include "FedCascade.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace {
const Samples kAllPoleTail = 1000;

#if defined(__SSE2__)
// Section::advance on packed lanes: y = x - (a1 y1 + a2 y2).
struct AllPoleLanes {
    __m128 a1, a2;
    static AllPoleLanes From(const FloatIIR2p0z::Section& l, const FloatIIR2p0z::Section& r) {
        return {cascade::fed::Pack(l.a1, r.a1), cascade::fed::Pack(l.a2, r.a2)};
    }
    __m128 advance(__m128 x, __m128& y1, __m128& y2) const {
        const __m128 y = _mm_sub_ps(x, _mm_add_ps(_mm_mul_ps(a1, y1), _mm_mul_ps(a2, y2)));
        y2 = y1;
        y1 = y;
        return y;
    }
};
#endif
}  // namespace

FloatIIR2p0z::FloatIIR2p0z()
    : QuietFilterStatus(kAllPoleTail), gain_(1.0f), sectionCount_(0), sections_(nullptr), applyGain_(true) {}

FloatIIR2p0z::~FloatIIR2p0z() {
    delete[] sections_;
}

void FloatIIR2p0z::Reset() {
    QuietFilterStatus::Reset();
    for (int k = 0; k < sectionCount_; ++k) sections_[k].z1 = sections_[k].z2 = 0.0f;
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
    cascade::Run(sections_, sectionCount_, s, n);
}

// Both cascades in one loop when they have as many sections (cascade::ProcessPair).
void FloatIIR2p0z::ProcessPair(MixBuffer& buffer, InPlaceFilter& other, MixBuffer& otherBuffer) {
    if (!cascade::ProcessPair(*this, buffer, other, otherBuffer))
        InPlaceFilter::ProcessPair(buffer, other, otherBuffer);
}

bool FloatIIR2p0z::ProcessFed(const FedSide& side, InPlaceFilter* other, const FedSide* otherSide) {
#if defined(__SSE2__)
    return cascade::ProcessFed<FloatIIR2p0z, AllPoleLanes>(*this, side, other, otherSide);
#else
    return InPlaceFilter::ProcessFed(side, other, otherSide);
#endif
}

void FloatIIR2p0z::PrepareFed(FedPlan& plan, const FedSide& side, InPlaceFilter* other,
                              const FedSide* otherSide) {
#if defined(__SSE2__)
    cascade::PrepareFed<FloatIIR2p0z, AllPoleLanes>(*this, plan, side, other, otherSide);
#else
    InPlaceFilter::PrepareFed(plan, side, other, otherSide);
#endif
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
