// ProcessPair runs two filters of one kind in one loop: each must come out
// bit for bit as if it had run alone, whatever the two blocks' lengths, the
// section counts (more than one pass of sections), and across blocks.
// ProcessFed runs a high-pass, a bus addition, a cascade and an output
// addition (of one side or two) in one loop: the bits of the separate calls,
// or nothing at all.

#include <gtest/gtest.h>

#include <algorithm>
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
Make AllPole(int sections, float gain0 = 1.0f, float gain1 = 0.7f) {
    return [=](int variant) -> InPlaceFilter* {
        std::vector<IIRRoot> roots;
        for (int k = 0; k < sections; ++k)
            roots.push_back({500.0f + 900.0f * k + 37.0f * variant, 0.9f - 0.03f * k});
        const IIR2p0zCoeffs c{44100, variant ? gain1 : gain0, sections, roots.data()};
        return Library().CreateFilter(&c);
    };
}

Make Biquads(int sections, float gain0 = 0.5f, float gain1 = 1.0f) {
    return [=](int variant) -> InPlaceFilter* {
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
        f->SetFilter(
            BiquadCoeffs{variant ? gain1 : gain0, sections, reinterpret_cast<float(*)[4]>(rows.data())});
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
void ExpectPairMatchesAlone(const Make& make, const std::vector<int>& lengths0,
                            const std::vector<int>& lengths1) {
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
            std::copy(x.begin(), x.end(), a[side].floats());
            std::copy(x.begin(), x.end(), b[side].floats());
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

namespace {

// One network's worth of filters and buses: per side a high-pass, a cascade,
// a feed bus, a filter bus and an output bus.
struct FedNetwork {
    std::unique_ptr<InPlaceFilter> pre[2], filter[2];
    MixBuffer feed[2], bus[2], out[2];
    FedNetwork(const Make& make) {
        for (int side = 0; side < 2; ++side) {
            pre[side].reset(Highpass()(side));
            filter[side].reset(make(side));
            Library().CreateBuffer(feed[side], 1024);
            Library().CreateBuffer(bus[side], 1024);
            Library().CreateBuffer(out[side], 1024);
        }
    }
    void Fill(int sides, int n, uint32_t seed) {
        for (int side = 0; side < sides; ++side) {
            for (MixBuffer* b : {&feed[side], &bus[side], &out[side]}) {
                const std::vector<float> x = Noise(n, ++seed);
                std::copy(x.begin(), x.end(), b->floats());
                b->used_ = n;
            }
        }
    }
    FedSide Side(int side, bool withPre, bool withFeed, bool withOut) {
        return {withPre ? pre[side].get() : nullptr, withFeed ? &feed[side] : nullptr, &bus[side],
                withOut ? &out[side] : nullptr};
    }
    // The calls ProcessFed stands for, one after the other.
    void Calls(int sides, bool withPre, bool withFeed, bool withOut) {
        for (int side = 0; side < sides; ++side) {
            if (withPre) pre[side]->Process(withFeed ? feed[side] : bus[side]);
            if (withFeed) bus[side] += feed[side];
            filter[side]->Process(bus[side]);
            if (withOut) out[side] += bus[side];
        }
    }
    const MixBuffer& Bus(int which, int side) const {
        return which == 0 ? feed[side] : which == 1 ? bus[side] : out[side];
    }
    // ProcessFed, or with prepared RunFed of a plan that PrepareFed made for
    // the same shape (made once, on the first call).
    bool Fed(int sides, bool withPre, bool withFeed, bool withOut = false, bool prepared = false) {
        const FedSide left = Side(0, withPre, withFeed, withOut), right = Side(1, withPre, withFeed, withOut);
        InPlaceFilter* const other = sides == 2 ? filter[1].get() : nullptr;
        if (!prepared) return filter[0]->ProcessFed(left, other, sides == 2 ? &right : nullptr);
        if (!planned) filter[0]->PrepareFed(plan, left, other, sides == 2 ? &right : nullptr);
        planned = true;
        return RunFed(plan);
    }
    FedPlan plan;
    bool planned = false;
};

bool SameBits(const MixBuffer& a, const MixBuffer& b, int n) {
    return std::memcmp(a.floats(), b.floats(), sizeof(float) * static_cast<size_t>(n)) == 0;
}

// Blocks through ProcessFed and through the separate calls; both buses of
// every side must match bit for bit, block after block. expectFed: whether
// ProcessFed is to take the work (otherwise it must answer false and leave
// every bus as it was).
void ExpectFedMatchesCalls(const Make& make, int sides, bool withPre, bool withFeed, bool withOut,
                           bool expectFed) {
    for (const bool prepared : {false, true}) {
        FedNetwork fed(make), calls(make);
        uint32_t seed = 7;
        for (int n : {1024, 1, 333, 1024, 5}) {
            fed.Fill(sides, n, seed);
            calls.Fill(sides, n, seed);
            seed += 10;
            const bool ran = fed.Fed(sides, withPre, withFeed, withOut, prepared);
            ASSERT_EQ(ran, expectFed) << "block of " << n << (prepared ? ", prepared" : "");
            if (!ran) {
                for (int side = 0; side < sides; ++side)
                    for (int b = 0; b < 3; ++b)
                        ASSERT_TRUE(SameBits(fed.Bus(b, side), calls.Bus(b, side), n));
                fed.Calls(sides, withPre, withFeed, withOut);
            }
            calls.Calls(sides, withPre, withFeed, withOut);
            for (int side = 0; side < sides; ++side)
                for (int b = 0; b < 3; ++b)
                    ASSERT_TRUE(SameBits(fed.Bus(b, side), calls.Bus(b, side), n))
                        << "block of " << n << ", side " << side << ", bus " << b;
        }
    }
}

}  // namespace

TEST(FedFilters, aHighPassFeedAndCascadeInOneLoopGiveTheBitsOfTheSeparateCalls) {
    for (int sections = 1; sections <= 6; ++sections) {
        for (int shape = 0; shape < 16; ++shape) {
            const int sides = shape & 1 ? 2 : 1;
            const bool withPre = (shape & 2) != 0, withFeed = (shape & 4) != 0, withOut = (shape & 8) != 0;
            SCOPED_TRACE(testing::Message() << sections << " sections, " << sides << " sides, pre " << withPre
                                            << ", feed " << withFeed << ", out " << withOut);
            ExpectFedMatchesCalls(AllPole(sections, 0.7f, 0.9f), sides, withPre, withFeed, withOut, true);
            ExpectFedMatchesCalls(AllPole(sections, 1.0f, 1.0f), sides, withPre, withFeed, withOut, true);
            ExpectFedMatchesCalls(Biquads(sections, 0.5f, 0.8f), sides, withPre, withFeed, withOut, true);
        }
    }
}

TEST(FedFilters, filtersThatCannotRunInOneLoopAreLeftToTheCaller) {
    // One side with gain 1 and one without, different section counts, other kinds of filter.
    ExpectFedMatchesCalls(AllPole(4, 1.0f, 0.7f), 2, true, true, true, false);
    ExpectFedMatchesCalls([](int v) { return AllPole(v ? 3 : 4)(v); }, 2, true, true, false, false);
    ExpectFedMatchesCalls([](int v) { return v ? AllPole(2)(v) : Biquads(2)(v); }, 2, true, true, true,
                          false);
    ExpectFedMatchesCalls([](int v) { return Highpass()(v); }, 1, true, false, false, false);
}

TEST(FedFilters, busesOfUnequalLengthsAreLeftToTheCaller) {
    for (const bool prepared : {false, true}) {
        FedNetwork net(AllPole(4, 0.7f, 0.9f));
        net.Fill(2, 100, 1);
        net.feed[1].used_ = 99;
        EXPECT_FALSE(net.Fed(2, true, true, true, prepared));
        net.feed[1].used_ = 100;
        net.bus[0].used_ = 0;
        EXPECT_FALSE(net.Fed(2, true, true, true, prepared));
        net.bus[0].used_ = 100;
        net.out[1].used_ = 0;
        EXPECT_FALSE(net.Fed(2, true, true, true, prepared));
    }
}
