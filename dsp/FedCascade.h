// InPlaceFilter::ProcessFed for the cascades: a high-pass, a bus addition,
// the gain and the first sections of a cascade, and the addition of the
// result into an output bus, for one side or for two sides
// packed as the two low lanes of one SSE register, all in one loop over the
// samples. The high-pass's recursion is the longest chain of the whole
// widener; here the cascade's sections (and the other side) run in its
// shadow instead of after it. Every lane performs the operations of the
// separate calls in their order (packed single-precision arithmetic rounds
// each operation as the scalar one does), so the bits are those calls' bits.
// Sections past the fourth run afterwards section by section (cascade::Run),
// which gives the same bits as well. The plain two-cascade ProcessPair that
// both classes share is here too.
//
// Lanes provides, for the class's Section, the packed step
//   static Lanes From(const Section& left, const Section& right);
//   __m128 advance(__m128 x, __m128& z1, __m128& z2) const;
#pragma once

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include <algorithm>

#include "Cascade.h"
#include "Filter.h"
#include "Flthigh.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace cascade {

// ProcessPair for a cascade class C (FloatIIR2p0z, FloatBiquad: gain_,
// applyGain_, sectionCount_, sections_): when other is another C with as many
// sections and the buffers differ, each gets its gain pass as in Process and
// the two cascades run side by side; answers false, with nothing done,
// otherwise.
template <class C>
bool ProcessPair(C& self, MixBuffer& buffer, InPlaceFilter& otherFilter, MixBuffer& otherBuffer) {
    C* const other = ExactCast<C>(&otherFilter);
    if (!other || other == &self || &buffer == &otherBuffer || other->sectionCount_ != self.sectionCount_)
        return false;
    const Samples n = buffer.used_ > 0 ? buffer.used_ : 0;
    const Samples m = otherBuffer.used_ > 0 ? otherBuffer.used_ : 0;
    if (self.applyGain_ && n > 0) GetFloatLibrary()->Multiply(buffer, self.gain_, n);
    if (other->applyGain_ && m > 0) GetFloatLibrary()->Multiply(otherBuffer, other->gain_, m);
    RunPair(self.sections_, buffer.floats(), n, other->sections_, otherBuffer.floats(), m,
            self.sectionCount_);
    return true;
}

#if defined(__SSE2__)

namespace fed {

// Both sides' high-pass state and tuning, left in lane 0, right in lane 1.
struct Highpass {
    __m128 f, q, band, low;
    // low += f band;  high = x - low - q band;  band += f high
    __m128 advance(__m128 x) {
        low = _mm_add_ps(low, _mm_mul_ps(f, band));
        const __m128 high = _mm_sub_ps(_mm_sub_ps(x, low), _mm_mul_ps(q, band));
        band = _mm_add_ps(band, _mm_mul_ps(f, high));
        return high;
    }
};

inline __m128 Pack(float left, float right) {
    return _mm_setr_ps(left, right, 0.0f, 0.0f);
}
inline float Lane1(__m128 v) {
    return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1)));
}

// Where the samples of one side are: the bus, the feed and the output (or null).
struct Side {
    float* bus;
    float* feed;
    float* out;
};

template <bool kTwo>
inline __m128 Load(const float* left, const float* right, Samples i) {
    if (kTwo) return _mm_unpacklo_ps(_mm_load_ss(left + i), _mm_load_ss(right + i));
    return _mm_load_ss(left + i);
}
template <bool kTwo>
inline void Store(float* left, float* right, Samples i, __m128 v) {
    _mm_store_ss(left + i, v);
    if (kTwo) _mm_store_ss(right + i, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1)));
}

// K sections (1 to 4) of both lanes, state in locals so that it stays in
// registers. kPre: the high-pass runs first (over the feed when there is one,
// else over the bus); kFeed: the feed is added into the bus; kGain: the bus
// is multiplied by the gain before the first section; kOut: the result is
// added into the output.
template <class Lanes, int K, bool kTwo, bool kPre, bool kFeed, bool kOut, bool kGain>
void RunLoop(const Lanes (&c)[K], __m128 (&z1)[K], __m128 (&z2)[K], Highpass& hp, __m128 gain, Side l, Side r,
             Samples n) {
    __m128 s1[K], s2[K];
    for (int k = 0; k < K; ++k) {
        s1[k] = z1[k];
        s2[k] = z2[k];
    }
    Highpass h = hp;
    for (Samples i = 0; i < n; ++i) {
        __m128 x;
        if (kFeed) {
            __m128 feed = Load<kTwo>(l.feed, r.feed, i);
            if (kPre) {
                feed = h.advance(feed);
                Store<kTwo>(l.feed, r.feed, i, feed);
            }
            x = _mm_add_ps(Load<kTwo>(l.bus, r.bus, i), feed);
        } else {
            x = Load<kTwo>(l.bus, r.bus, i);
            if (kPre) x = h.advance(x);
        }
        if (kGain) x = _mm_mul_ps(gain, x);
        for (int k = 0; k < K; ++k) x = c[k].advance(x, s1[k], s2[k]);
        Store<kTwo>(l.bus, r.bus, i, x);
        if (kOut) Store<kTwo>(l.out, r.out, i, _mm_add_ps(Load<kTwo>(l.out, r.out, i), x));
    }
    for (int k = 0; k < K; ++k) {
        z1[k] = s1[k];
        z2[k] = s2[k];
    }
    hp = h;
}

template <class Lanes, int K, bool kTwo, bool kPre, bool kFeed, bool kOut>
void RunGain(bool applyGain, const Lanes (&c)[K], __m128 (&z1)[K], __m128 (&z2)[K], Highpass& hp, __m128 gain,
             Side l, Side r, Samples n) {
    if (applyGain)
        RunLoop<Lanes, K, kTwo, kPre, kFeed, kOut, true>(c, z1, z2, hp, gain, l, r, n);
    else
        RunLoop<Lanes, K, kTwo, kPre, kFeed, kOut, false>(c, z1, z2, hp, gain, l, r, n);
}

template <class Lanes, int K, bool kTwo, bool kPre>
void RunFeed(bool feed, bool out, bool applyGain, const Lanes (&c)[K], __m128 (&z1)[K], __m128 (&z2)[K],
             Highpass& hp, __m128 gain, Side l, Side r, Samples n) {
    if (feed && out)
        RunGain<Lanes, K, kTwo, kPre, true, true>(applyGain, c, z1, z2, hp, gain, l, r, n);
    else if (feed)
        RunGain<Lanes, K, kTwo, kPre, true, false>(applyGain, c, z1, z2, hp, gain, l, r, n);
    else if (out)
        RunGain<Lanes, K, kTwo, kPre, false, true>(applyGain, c, z1, z2, hp, gain, l, r, n);
    else
        RunGain<Lanes, K, kTwo, kPre, false, false>(applyGain, c, z1, z2, hp, gain, l, r, n);
}

template <class Lanes, int K, bool kTwo>
void RunShape(bool pre, bool feed, bool out, bool applyGain, const Lanes (&c)[K], __m128 (&z1)[K],
              __m128 (&z2)[K], Highpass& hp, __m128 gain, Side l, Side r, Samples n) {
    if (pre)
        RunFeed<Lanes, K, kTwo, true>(feed, out, applyGain, c, z1, z2, hp, gain, l, r, n);
    else
        RunFeed<Lanes, K, kTwo, false>(feed, out, applyGain, c, z1, z2, hp, gain, l, r, n);
}

// The first K sections of a (and b) packed, run, and unpacked.
template <class Lanes, int K, bool kTwo, class Section>
void RunSections(Section* a, Section* b, bool pre, bool feed, bool out, bool applyGain, Highpass& hp,
                 __m128 gain, Side l, Side r, Samples n) {
    Lanes c[K];
    __m128 z1[K], z2[K];
    for (int k = 0; k < K; ++k) {
        const Section& right = kTwo ? b[k] : a[k];
        c[k] = Lanes::From(a[k], right);
        z1[k] = Pack(a[k].z1, kTwo ? b[k].z1 : 0.0f);
        z2[k] = Pack(a[k].z2, kTwo ? b[k].z2 : 0.0f);
    }
    RunShape<Lanes, K, kTwo>(pre, feed, out, applyGain, c, z1, z2, hp, gain, l, r, n);
    for (int k = 0; k < K; ++k) {
        a[k].z1 = _mm_cvtss_f32(z1[k]);
        a[k].z2 = _mm_cvtss_f32(z2[k]);
        if (kTwo) {
            b[k].z1 = Lane1(z1[k]);
            b[k].z2 = Lane1(z2[k]);
        }
    }
}

// RunSections for one side or for two.
template <class Lanes, int K, class Section>
void RunSides(bool two, Section* a, Section* b, bool pre, bool feed, bool out, bool applyGain, Highpass& hp,
              __m128 gain, Side l, Side r, Samples n) {
    if (two)
        RunSections<Lanes, K, true>(a, b, pre, feed, out, applyGain, hp, gain, l, r, n);
    else
        RunSections<Lanes, K, false>(a, b, pre, feed, out, applyGain, hp, gain, l, r, n);
}

}  // namespace fed

namespace fed {

// The structural checks of ProcessFed: the other filter a C with another
// state, the sides alike in shape, the pre-filters distinct plain high-passes,
// every bus given distinct. Answers the other C (or self for one side) and
// the high-passes, or null when ProcessFed cannot run so.
template <class C>
C* CheckShape(C& self, const FedSide& side, InPlaceFilter* otherFilter, const FedSide* otherSide,
              FloatHipass*& hpLeft, FloatHipass*& hpRight) {
    const bool two = otherFilter != nullptr;
    if (two != (otherSide != nullptr) || !side.bus) return nullptr;
    C* const other = two ? ExactCast<C>(otherFilter) : &self;
    if (two && (!other || other == &self || !otherSide->bus)) return nullptr;
    const bool pre = side.pre != nullptr, feed = side.feed != nullptr, out = side.out != nullptr;
    if (two && ((otherSide->pre != nullptr) != pre || (otherSide->feed != nullptr) != feed ||
                (otherSide->out != nullptr) != out))
        return nullptr;
    hpLeft = pre ? ExactCast<FloatHipass>(side.pre) : nullptr;
    hpRight = pre && two ? ExactCast<FloatHipass>(otherSide->pre) : nullptr;
    if (pre && (!hpLeft || (two && (!hpRight || hpRight == hpLeft)))) return nullptr;
    MixBuffer* const buffers[6] = {side.bus,
                                   side.feed,
                                   side.out,
                                   two ? otherSide->bus : nullptr,
                                   two ? otherSide->feed : nullptr,
                                   two ? otherSide->out : nullptr};
    for (int i = 0; i < 6; ++i) {
        if (!buffers[i]) continue;
        for (int j = 0; j < i; ++j)
            if (buffers[j] == buffers[i]) return nullptr;
    }
    return other;
}

// ProcessFed once its shape passed: the checks of the state that may change
// from block to block (section counts, gain use, used counts), then the run.
// other is self for one side.
template <class C, class Lanes>
bool RunShaped(C& self, C& other, FloatHipass* hpLeft, FloatHipass* hpRight, const FedSide& side,
               const FedSide* otherSide) {
    const bool two = otherSide != nullptr;
    if (two && (other.sectionCount_ != self.sectionCount_ || other.applyGain_ != self.applyGain_))
        return false;
    const Samples n = side.bus->used_;
    if (n <= 0 || self.sectionCount_ < 1) return false;
    const bool pre = side.pre != nullptr, feed = side.feed != nullptr, out = side.out != nullptr;
    if ((feed && side.feed->used_ != n) || (out && side.out->used_ != n)) return false;
    if (two && (otherSide->bus->used_ != n || (feed && otherSide->feed->used_ != n) ||
                (out && otherSide->out->used_ != n)))
        return false;

    Highpass hp{};
    if (pre) {
        hp.f = Pack(hpLeft->tune_, two ? hpRight->tune_ : 0.0f);
        hp.q = Pack(hpLeft->damping_, two ? hpRight->damping_ : 0.0f);
        hp.band = Pack(hpLeft->band_, two ? hpRight->band_ : 0.0f);
        hp.low = Pack(hpLeft->low_, two ? hpRight->low_ : 0.0f);
    }
    const __m128 gain = Pack(self.gain_, two ? other.gain_ : 0.0f);
    const Side l{side.bus->floats(), feed ? side.feed->floats() : nullptr,
                 out ? side.out->floats() : nullptr};
    const Side r{two ? otherSide->bus->floats() : nullptr, two && feed ? otherSide->feed->floats() : nullptr,
                 two && out ? otherSide->out->floats() : nullptr};
    typename C::Section* const a = self.sections_;
    typename C::Section* const b = two ? other.sections_ : nullptr;
    const int fused = std::min(self.sectionCount_, 4);
    const bool g = self.applyGain_;
    // The output addition joins the loop when no section runs after it.
    const bool outInLoop = out && self.sectionCount_ == fused;
    switch (fused) {
        case 1:
            RunSides<Lanes, 1>(two, a, b, pre, feed, outInLoop, g, hp, gain, l, r, n);
            break;
        case 2:
            RunSides<Lanes, 2>(two, a, b, pre, feed, outInLoop, g, hp, gain, l, r, n);
            break;
        case 3:
            RunSides<Lanes, 3>(two, a, b, pre, feed, outInLoop, g, hp, gain, l, r, n);
            break;
        default:
            RunSides<Lanes, 4>(two, a, b, pre, feed, outInLoop, g, hp, gain, l, r, n);
            break;
    }
    if (pre) {
        hpLeft->band_ = _mm_cvtss_f32(hp.band);
        hpLeft->low_ = _mm_cvtss_f32(hp.low);
        if (two) {
            hpRight->band_ = Lane1(hp.band);
            hpRight->low_ = Lane1(hp.low);
        }
    }
    // The sections after the fourth, over the whole block as usual.
    const int rest = self.sectionCount_ - fused;
    if (rest > 0) {
        if (two)
            RunPair(a + fused, l.bus, n, b + fused, r.bus, n, rest);
        else
            Run(a + fused, rest, l.bus, n);
    }
    if (out && !outInLoop) {
        *side.out += *side.bus;
        if (two) *otherSide->out += *otherSide->bus;
    }
    return true;
}

// FedPlan::run of a plan that C::PrepareFed made.
template <class C, class Lanes>
bool RunPlan(const FedPlan& plan) {
    C& self = *static_cast<C*>(plan.self);
    C& other = plan.other ? *static_cast<C*>(plan.other) : self;
    return RunShaped<C, Lanes>(self, other, static_cast<FloatHipass*>(plan.pre[0]),
                               static_cast<FloatHipass*>(plan.pre[1]), plan.sides[0],
                               plan.other ? &plan.sides[1] : nullptr);
}

}  // namespace fed

// ProcessFed for a cascade class C (FloatIIR2p0z, FloatBiquad: gain_,
// applyGain_, sectionCount_, sections_) with its packed step Lanes.
template <class C, class Lanes>
bool ProcessFed(C& self, const FedSide& side, InPlaceFilter* otherFilter, const FedSide* otherSide) {
    FloatHipass *hpLeft = nullptr, *hpRight = nullptr;
    C* const other = fed::CheckShape(self, side, otherFilter, otherSide, hpLeft, hpRight);
    return other && fed::RunShaped<C, Lanes>(self, *other, hpLeft, hpRight, side, otherSide);
}

// PrepareFed for the same classes: the shape checked once.
template <class C, class Lanes>
void PrepareFed(C& self, FedPlan& plan, const FedSide& side, InPlaceFilter* otherFilter,
                const FedSide* otherSide) {
    plan = FedPlan();
    FloatHipass *hpLeft = nullptr, *hpRight = nullptr;
    C* const other = fed::CheckShape(self, side, otherFilter, otherSide, hpLeft, hpRight);
    if (!other) return;
    plan.run = &fed::RunPlan<C, Lanes>;
    plan.self = &self;
    plan.other = otherFilter ? other : nullptr;
    plan.pre[0] = hpLeft;
    plan.pre[1] = hpRight;
    plan.sides[0] = side;
    if (otherSide) plan.sides[1] = *otherSide;
}

#endif

}  // namespace cascade
