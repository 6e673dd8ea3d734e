#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "Filter.h"
#include "MathLib.h"
#include "Mixbuf.h"
#include "Quietbuf.h"

namespace {

// Built like the library's float filters: the family first, the quiet status
// second, the quiet calls handed to the status. Counts its runs.
class TailFilter : public InPlaceFilter, public QuietFilterStatus {
  public:
    explicit TailFilter(Samples tail) : QuietFilterStatus(tail) {}
    void Process(MixBuffer&) override { ++runs_; }
    bool IsQuiet() override { return QuietFilterStatus::IsQuiet(); }
    void Reset() override { QuietFilterStatus::Reset(); }
    void GettingInput() override { QuietFilterStatus::GettingInput(); }
    void NoInput(Samples n) override { QuietFilterStatus::NoInput(n); }
    int runs_ = 0;
};

// One block of the calling protocol with `input` frames mixed in; whether the filter ran.
bool block(MixBuffer& bus, TailFilter& filter, Samples n, Samples input) {
    const std::vector<float> samples(n, 0.25f);
    bus.Mix(Buffer(samples.data(), kMonoFloat), 1.0f, 0.0f, input, 0);
    const bool run = bus.Prepare(&filter, n);
    if (run) filter.Process(bus);
    bus.used_ = 0;
    return run;
}

}  // namespace

TEST(QuietFilterStatus, ringsForItsTailAfterInputAndStopsCountingOnceQuiet) {
    QuietFilterStatus status(100);
    EXPECT_TRUE(status.IsQuiet());
    status.GettingInput();
    status.NoInput(99);
    EXPECT_FALSE(status.IsQuiet());
    status.NoInput(1);
    EXPECT_TRUE(status.IsQuiet());
    for (int i = 0; i < 10; ++i) status.NoInput(INT32_MAX);  // a long silence does not wrap
    EXPECT_EQ(status.silentCount(), 100);
    status.GettingInput();
    status.NoInput(50);
    status.Reset();
    EXPECT_TRUE(status.IsQuiet());
    status.GettingInput();
    status.NoInput(99);
    status.NoInput(INT32_MAX);  // one oversized count while ringing saturates
    EXPECT_EQ(status.silentCount(), INT32_MAX);

    QuietFilterStatus none(0);
    none.GettingInput();
    EXPECT_TRUE(none.IsQuiet());
}

TEST(QuietFilterStatus, aNewTailLengthKeepsQuietOrKeepsTheRingingCount) {
    QuietFilterStatus status(1000);
    status.SetNeeded(500);
    EXPECT_TRUE(status.IsQuiet());
    EXPECT_EQ(status.silentCount(), 500);
    status.GettingInput();
    status.NoInput(300);
    status.SetNeeded(1000);
    EXPECT_FALSE(status.IsQuiet());
    EXPECT_EQ(status.silentCount(), 300);
    status.SetNeeded(200);
    EXPECT_TRUE(status.IsQuiet());
    EXPECT_EQ(status.needed(), 200);
}

TEST(FilterProtocol, aFilterRunsWithInputAndThroughItsTailThenIsSkipped) {
    MixBuffer bus;
    GetFloatLibrary()->CreateBuffer(bus, 64);
    TailFilter filter(100);
    const std::vector<bool> runs = {block(bus, filter, 64, 0), block(bus, filter, 64, 64),
                                    block(bus, filter, 64, 0), block(bus, filter, 64, 10),
                                    block(bus, filter, 64, 0), block(bus, filter, 64, 0)};
    // New and quiet; input; 64 silent; partial input counts as 64 more silent
    // (128 >= 100: quiet); empty and quiet from then on.
    EXPECT_EQ(runs, (std::vector<bool>{false, true, true, true, false, false}));

    TailFilter noTail(0);
    EXPECT_TRUE(block(bus, noTail, 64, 64));
    EXPECT_FALSE(block(bus, noTail, 64, 0));
    EXPECT_EQ(noTail.runs_, 1);
}

TEST(FilterDefaults, propertiesAreIgnoredAndGetPropertyReportsNothingReturned) {
    InPlaceScaleFilter filter(0.5f);
    Filter& base = filter;
    int value = 77, size = 77;
    base.GetProperty(3, &value, sizeof value, nullptr);
    base.GetProperty(3, &value, sizeof value, &size);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(value, 77);
    base.SetProperty(0, &value, sizeof value);
    EXPECT_EQ(filter.scale_, 0.5f);
}

TEST(InPlaceScaleFilter, scalesExactlyTheUsedSamplesAndIsAlwaysQuiet) {
    MixBuffer bus;
    GetFloatLibrary()->CreateBuffer(bus, 4);
    const float samples[4] = {1, -3, 5, 7};
    bus.Mix(Buffer(samples, kMonoFloat), 1.0f, 0.0f, 4, 0);
    bus.used_ = 3;
    InPlaceScaleFilter filter(0.5f);
    filter.Process(bus);
    EXPECT_EQ(std::vector<float>(bus.floats(), bus.floats() + 4), (std::vector<float>{0.5f, -1.5f, 2.5f, 7}));
    filter.GettingInput();
    EXPECT_TRUE(filter.IsQuiet());
    EXPECT_EQ(InPlaceScaleFilter().scale_, 1.0f);
}
