// ProcessPair runs two filters of one kind in one loop: each must come out
// bit for bit as if it had run alone, whatever the two blocks' lengths, the
// section counts (more than one pass of sections), and across blocks.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "Filter.h"
#include "FilterDesign.h"
#include "Flt2p0z.h"
#include "Flt2p2z.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace {

MathLibrary& Library() {
    return *GetFloatLibrary();
}

std::vector<float> Noise(int n, uint32_t seed) {
    std::vector<float> out(static_cast<size_t>(n));
    for (float& x : out) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
    }
    return out;
}

using Make = std::function<InPlaceFilter*(int variant)>;

// An all-pole cascade of `sections` pole pairs; variant moves the poles.
Make AllPole(int sections) {
    return [sections](int variant) -> InPlaceFilter* {
        std::vector<IIRRoot> roots;
        for (int k = 0; k < sections; ++k)
            roots.push_back({500.0f + 900.0f * k + 37.0f * variant, 0.9f - 0.03f * k});
        const IIR2p0zCoeffs c{44100, variant ? 0.7f : 1.0f, sections, roots.data()};
        return Library().CreateFilter(&c);
    };
}

Make Biquads(int sections) {
    return [sections](int variant) -> InPlaceFilter* {
        BiquadFilter* f = Library().CreateBiquad();
        std::vector<float> rows(4 * static_cast<size_t>(sections));
        for (int k = 0; k < sections; ++k) {
            const float r = 0.8f - 0.05f * k, w = 0.2f + 0.3f * k + 0.05f * variant;
            float* row = &rows[4 * static_cast<size_t>(k)];
            row[0] = -2.0f * r * std::cos(w);
            row[1] = r * r;
            row[2] = -1.5f * std::cos(w + 0.1f);
            row[3] = 0.6f;
        }
        f->SetFilter(BiquadCoeffs{variant ? 1.0f : 0.5f, sections, reinterpret_cast<float(*)[4]>(rows.data())});
        return f;
    };
}

Make Highpass() {
    return [](int variant) -> InPlaceFilter* {
        SingleFreqFilter* f = Library().CreateHighpass(44100);
        f->SetFrequency(variant ? 200 : 75);
        return f;
    };
}

// Runs blocks of the given lengths (one list per side) through a pair of
// filters with ProcessPair and through a second pair alone; the outputs must
// be the same bits.
void ExpectPairMatchesAlone(const Make& make, const std::vector<int>& lengths0, const std::vector<int>& lengths1) {
    std::unique_ptr<InPlaceFilter> pair[2] = {std::unique_ptr<InPlaceFilter>(make(0)),
                                              std::unique_ptr<InPlaceFilter>(make(1))};
    std::unique_ptr<InPlaceFilter> alone[2] = {std::unique_ptr<InPlaceFilter>(make(0)),
                                               std::unique_ptr<InPlaceFilter>(make(1))};
    MixBuffer a[2], b[2];
    for (int side = 0; side < 2; ++side) {
        Library().CreateBuffer(a[side], 1024);
        Library().CreateBuffer(b[side], 1024);
    }
    uint32_t seed = 1;
    for (size_t block = 0; block < lengths0.size(); ++block) {
        const int n[2] = {lengths0[block], lengths1[block]};
        for (int side = 0; side < 2; ++side) {
            const std::vector<float> x = Noise(n[side], ++seed);
            std::memcpy(a[side].floats(), x.data(), x.size() * sizeof(float));
            std::memcpy(b[side].floats(), x.data(), x.size() * sizeof(float));
            a[side].used_ = b[side].used_ = n[side];
        }
        pair[0]->ProcessPair(a[0], *pair[1], a[1]);
        alone[0]->Process(b[0]);
        alone[1]->Process(b[1]);
        for (int side = 0; side < 2; ++side)
            ASSERT_EQ(std::memcmp(a[side].floats(), b[side].floats(), sizeof(float) * n[side]), 0)
                << "block " << block << ", side " << side;
    }
}

const std::vector<int> kEven = {1024, 1, 333, 1024, 7};
const std::vector<int> kUneven = {1024, 0, 500, 3, 1024};
const std::vector<int> kOther = {600, 17, 0, 1000, 1024};

}  // namespace

TEST(PairedFilters, aPairOfHighPassesGivesTheBitsOfEachAlone) {
    ExpectPairMatchesAlone(Highpass(), kEven, kEven);
    ExpectPairMatchesAlone(Highpass(), kUneven, kOther);
}

TEST(PairedFilters, aPairOfCascadesGivesTheBitsOfEachAloneForOneToNineSections) {
    for (int sections = 1; sections <= 9; ++sections) {
        SCOPED_TRACE(sections);
        ExpectPairMatchesAlone(AllPole(sections), kEven, kEven);
        ExpectPairMatchesAlone(AllPole(sections), kUneven, kOther);
        ExpectPairMatchesAlone(Biquads(sections), kEven, kEven);
        ExpectPairMatchesAlone(Biquads(sections), kOther, kUneven);
    }
}

TEST(PairedFilters, filtersThatCannotRunTogetherRunOneAfterTheOther) {
    // Different section counts, and different kinds of filter.
    ExpectPairMatchesAlone([](int v) { return AllPole(v ? 3 : 5)(v); }, kEven, kOther);
    ExpectPairMatchesAlone([](int v) { return v ? Highpass()(v) : Biquads(2)(v); }, kUneven, kEven);
}
