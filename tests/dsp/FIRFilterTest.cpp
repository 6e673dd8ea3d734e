#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "FilterRunner.h"
#include "Fltfir.h"
#include "SparseFIR.h"

using namespace runner;

namespace {

// The dense filter's algorithm literally: each sample written twice into the
// history, then one dot product over the window.
struct PerSampleFir {
    explicit PerSampleFir(const std::vector<float>& h)
        : coeffs(h), history(2 * h.size(), 0.0f), position(static_cast<int>(h.size()) - 1) {}
    float Step(float x) {
        const int n = static_cast<int>(coeffs.size());
        history[position + n] = x;
        history[position] = x;
        const float y = fDotProduct(&history[position], coeffs.data(), n);
        position = position == 0 ? n - 1 : position - 1;
        return y;
    }
    std::vector<float> coeffs, history;
    int position;
};

std::unique_ptr<InPlaceFilter> MakeFir(const std::vector<float>& h) {
    const FIRCoeffs record = {h.data(), static_cast<long>(h.size())};
    return std::unique_ptr<InPlaceFilter>(Library().CreateFIRFilter(&record));
}

// Feeds silent single samples through the calling protocol until the filter
// may be skipped, and returns its output meanwhile.
template <class Process>
std::vector<float> TailUntilQuiet(Filter& filter, Process process) {
    std::vector<float> tail;
    for (float sample;;) {
        MixBuffer silence(Library(), Buffer(&sample, kMonoFloat), 0);
        if (!silence.Prepare(&filter, 1)) return tail;
        tail.push_back(process(silence));
    }
}

}  // namespace

TEST(fDotProduct, accumulatesInDoubleAndRoundsOnce) {
    const float a[] = {1e8f, 1.0f, -1e8f, 0.5f}, ones[] = {1.0f, 1.0f, 1.0f, 1.0f};
    EXPECT_EQ(fDotProduct(a, ones, 3), 1.0f);  // a float sum loses the 1
    EXPECT_EQ(fDotProduct(a, ones, 4), 1.5f);
    EXPECT_EQ(fDotProduct(a, ones, 0), 0.0f);
}

// The block loop runs tap by tap; it must keep the bits of the per-sample dot
// product, which in turn is y[t] = sum h[k] x[t - k] within float rounding.
TEST(FloatFIR, matchesTheDifferenceEquationAndThePerSampleDotProductInAnyBlocks) {
    for (unsigned taps : {1u, 2u, 45u, 51u, 600u, 1100u}) {
        const std::vector<float> h = Noise(taps, taps, 0.3f), x = Noise(2500, taps + 1);
        PerSampleFir reference(h);
        std::vector<float> expected;
        for (float v : x) expected.push_back(reference.Step(v));
        for (size_t t = 0; t < x.size(); ++t) {
            double y = 0.0;
            for (size_t k = 0; k < taps && k <= t; ++k) y += static_cast<double>(h[k]) * x[t - k];
            ASSERT_NEAR(expected[t], y, std::abs(y) * 6e-8 + 1e-12) << "taps " << taps << " t " << t;
        }
        for (const auto& sizes : kSplits)
            EXPECT_TRUE(SameBits(RunInPlace(*MakeFir(h), x, sizes), expected)) << "taps " << taps;
    }
}

TEST(FloatFIR, fallsSilentAndQuietExactlyOneTapCountAfterItsLastInput) {
    const std::vector<float> h = Noise(45, 5);  // no zero coefficient
    auto filter = MakeFir(h);
    std::vector<float> block = Noise(64, 9);
    MixBuffer input(Library(), Buffer(block.data(), kMonoFloat), 64);
    ASSERT_TRUE(input.Prepare(filter.get(), 64));
    filter->Process(input);
    const std::vector<float> tail = TailUntilQuiet(*filter, [&](MixBuffer& silence) {
        filter->Process(silence);
        return *silence.floats();
    });
    ASSERT_EQ(tail.size(), 45u);
    for (size_t t = 0; t < 44; ++t) EXPECT_NE(tail[t], 0.0f) << t;
    EXPECT_EQ(tail[44], 0.0f);
}

TEST(FloatFIR, resetForgetsTheHistoryButKeepsTheCoefficients) {
    const std::vector<float> h = Noise(45, 21);
    auto filter = MakeFir(h);
    RunInPlace(*filter, Noise(100, 22), {100});
    filter->GettingInput();
    filter->Reset();
    EXPECT_TRUE(filter->IsQuiet());
    EXPECT_EQ(RunInPlace(*filter, std::vector<float>(80, 0.0f), {13}), std::vector<float>(80, 0.0f));
    std::vector<float> impulse = Impulse(45);
    EXPECT_EQ(RunInPlace(*filter, impulse, {45}), h);
}

TEST(FloatFIR, factoryCopiesTheCoefficientsAndRefusesSetsItCannotHold) {
    std::vector<float> h = {0.25f, -0.5f, 1.0f};
    auto filter = MakeFir(h);
    ASSERT_NE(filter, nullptr);
    EXPECT_TRUE(filter->IsQuiet());
    h.assign(3, 9.0f);
    EXPECT_EQ(RunInPlace(*filter, Impulse(4), {4}), (std::vector<float>{0.25f, -0.5f, 1.0f, 0.0f}));

    const FIRCoeffs negative = {h.data(), -1}, missing = {nullptr, 4}, huge = {h.data(), 1L << 40};
    EXPECT_EQ(Library().CreateFIRFilter(&negative), nullptr);
    EXPECT_EQ(Library().CreateFIRFilter(&missing), nullptr);
    EXPECT_EQ(Library().CreateFIRFilter(&huge), nullptr);
    EXPECT_EQ(Library().CreateFIRFilter(nullptr), nullptr);

    // No taps: the empty sum, silence, and no history to touch.
    EXPECT_EQ(RunInPlace(*MakeFir({}), {1.0f, 2.0f, 3.0f}, {2}), std::vector<float>(3, 0.0f));
    FloatFIR uninitialised;
    EXPECT_EQ(RunInPlace(uninitialised, {1.0f, 2.0f}, {2}), std::vector<float>(2, 0.0f));
}

TEST(SparseFIR, roundsTapDelaysToWholeSamples) {
    SparseFIR<float, float> filter(Library(), 44100);
    const FilterTap taps[] = {{1.0f, 0.5f}, {0.02f, 1.0f}, {0.01f, 2.0f}, {-5.0f, 3.0f}};
    filter.SetTaps(4, taps, false);
    EXPECT_EQ(filter.taps_[0].delaySamples, 44);  // 44.1 + 0.5
    EXPECT_EQ(filter.taps_[1].delaySamples, 1);   // 0.882 + 0.5
    EXPECT_EQ(filter.taps_[2].delaySamples, 0);   // 0.441 + 0.5
    EXPECT_EQ(filter.taps_[3].delaySamples, 0);   // the future is out of reach
    EXPECT_EQ(filter.taps_[3].gain, 3.0f);
    EXPECT_EQ(filter.delayLine_.GetSize(), 44);
    EXPECT_EQ(filter.needed(), 44);
}

// Delays of 0, shorter and longer than the blocks, a shared delay, and a ring
// of 100 that the uneven blocks wrap at ever different places.
TEST(SparseFIR, addsEachTapsDelayedInputInAnyBlocks) {
    const FilterTap taps[] = {{0.0f, 0.5f},    {1.0f, -0.75f}, {3.3f, 0.25f},
                              {12.5f, 0.125f}, {12.5f, 0.5f},  {0.25f, 1.5f}};
    const std::vector<std::pair<int, float>> model = {{0, 0.5f},     {8, -0.75f}, {26, 0.25f},
                                                      {100, 0.125f}, {100, 0.5f}, {2, 1.5f}};
    const std::vector<float> x = Noise(3000, 31);
    std::vector<float> first;
    for (const auto& sizes : kSplits) {
        std::unique_ptr<SparseFIRFilter> filter(Library().CreateSparseFIRFilter(8000));
        filter->SetTaps(6, taps, true);
        const std::vector<float> y = RunInOut(*filter, x, sizes);
        for (size_t t = 0; t < x.size(); ++t) {
            double expected = 0.0;
            for (const auto& tap : model)
                if (static_cast<size_t>(tap.first) <= t)
                    expected += static_cast<double>(tap.second) * x[t - tap.first];
            ASSERT_NEAR(y[t], expected, 2e-6) << t;
        }
        if (first.empty()) first = y;
        EXPECT_TRUE(SameBits(y, first));
    }
}

TEST(SparseFIR, fewerTapsKeepTheArrayAndTheNewestHistory) {
    SparseFIR<float, float> filter(Library(), 1000);
    const FilterTap three[] = {{100.0f, 1.0f}, {5.0f, 1.0f}, {60.0f, 1.0f}}, one = {40.0f, 2.0f};
    filter.SetTaps(3, three, false);
    const auto* array = filter.taps_;
    const std::vector<float> x = Noise(500, 47);
    RunInOut(filter, std::vector<float>(x.begin(), x.begin() + 300), {64});
    filter.SetTaps(1, &one, false);
    EXPECT_EQ(filter.taps_, array);
    EXPECT_EQ(filter.tapCapacity_, 3);
    EXPECT_EQ(filter.delayLine_.GetSize(), 40);

    // An empty input block adds nothing and pushes nothing.
    float nothing = 5.0f, kept[2] = {7.0f, 7.0f};
    MixBuffer input(Library(), Buffer(&nothing, kMonoFloat), 0),
        output(Library(), Buffer(kept, kMonoFloat), 1);
    filter.Process(output, input);
    EXPECT_EQ(output.used_, 1);
    EXPECT_EQ(kept[0], 7.0f);
    EXPECT_EQ(kept[1], 7.0f);

    const std::vector<float> y = RunInOut(filter, std::vector<float>(x.begin() + 300, x.end()), {33});
    for (int t = 0; t < 200; ++t) ASSERT_EQ(y[t], 2.0f * x[300 + t - 40]) << t;
}

TEST(SparseFIR, fallsSilentAndQuietExactlyItsLargestDelayAfterItsLastInput) {
    SparseFIR<float, float> filter(Library(), 1000);
    const FilterTap taps[] = {{3.0f, 1.0f}, {10.0f, -1.0f}};
    filter.SetTaps(2, taps, false);
    std::vector<float> block(16, 0.0f);
    block.back() = 1.0f;
    filter.GettingInput();
    RunInOut(filter, block, {16});
    const std::vector<float> tail = TailUntilQuiet(filter, [&](MixBuffer& silence) {
        float result = 0.0f;
        MixBuffer sink(Library(), Buffer(&result, kMonoFloat), 0);
        filter.Process(sink, silence);
        return result;
    });
    EXPECT_EQ(tail, (std::vector<float>{0, 0, 1, 0, 0, 0, 0, 0, 0, -1}));

    // Reset forgets the history and keeps the taps.
    RunInOut(filter, Noise(50, 53), {50});
    filter.Reset();
    EXPECT_EQ(RunInOut(filter, std::vector<float>(30, 0.0f), {4}), std::vector<float>(30, 0.0f));
    EXPECT_EQ(RunInOut(filter, Impulse(11), {11}), (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 0, 0, 0, -1}));
}
