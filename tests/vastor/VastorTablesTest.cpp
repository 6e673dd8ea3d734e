// The widening and shelving filter factories: row choice by rate, and the
// filters' impulse responses against difference equations built from the
// rows' poles and zeros (written out here again, apart from the tables in the source).

#include <gtest/gtest.h>

#include <memory>

#include "Filter.h"
#include "MathLib.h"
#include "Mixbuf.h"
#include "VastorTables.h"
#include "WidenerModel.h"

namespace {

namespace wm = widener_model;
using Filter_ = std::unique_ptr<InPlaceFilter>;

MathLibrary& Library() {
    return *GetFloatLibrary();
}

long MultiStageDelay(long rate) {
    long delay = -1;
    Filter_ f(CreateMultiStageVastor(Library(), rate, 1.0f, &delay));
    EXPECT_NE(f, nullptr);
    return delay;
}

// The filter's response to x, compared with the model's to float precision
// relative to the response's peak.
void ExpectResponse(InPlaceFilter* filter, wm::Cascade model, const std::vector<float>& x) {
    ASSERT_NE(filter, nullptr);
    Filter_ owned(filter);
    const int n = static_cast<int>(x.size());
    MixBuffer buffer;
    Library().CreateBuffer(buffer, n);
    std::copy(x.begin(), x.end(), buffer.floats());
    buffer.used_ = n;
    filter->Process(buffer);
    std::vector<double> expected(n);
    double peak = 0;
    for (int i = 0; i < n; ++i) peak = std::max(peak, std::abs(expected[i] = model.Process(x[i])));
    for (int i = 0; i < n; ++i) ASSERT_NEAR(buffer.floats()[i], expected[i], 2e-5 * peak) << "sample " << i;
}

std::vector<float> Impulse() {
    std::vector<float> x(400, 0.0f);
    x[0] = 1.0f;
    return x;
}

TEST(MultiStageVastor, takesAnEqualRateElseTheNearestAndTheLowerRateOnATie) {
    EXPECT_EQ(MultiStageDelay(44100), 6);
    EXPECT_EQ(MultiStageDelay(48000), 7);
    EXPECT_EQ(MultiStageDelay(32000), 4);
    EXPECT_EQ(MultiStageDelay(16000), 1);
    EXPECT_EQ(MultiStageDelay(8000), 0);
    EXPECT_EQ(MultiStageDelay(96000), 7);
    EXPECT_EQ(MultiStageDelay(28000), 1);  // 24000 and 32000 equally near
    EXPECT_EQ(MultiStageDelay(28001), 4);
    EXPECT_EQ(MultiStageDelay(46050), 6);  // 44100 and 48000 equally near
    EXPECT_EQ(MultiStageDelay(0), 0);
    EXPECT_EQ(MultiStageDelay(-44100), 0);
}

TEST(MultiStageVastor, filtersAsTheRowsPolePairsPlaceThemAtTheRowsOwnRate) {
    long d;
    for (const wm::WideningRow& row : {wm::MultiStage44100(), wm::MultiStage48000()})
        ExpectResponse(CreateMultiStageVastor(Library(), static_cast<long>(row.rate), 1.0f, &d), row.make(),
                       Impulse());
    // 96000 takes the 48000 filter unchanged; 10000 the 11025 one (1025 against 2000).
    ExpectResponse(CreateMultiStageVastor(Library(), 96000, 1.0f, &d), wm::MultiStage48000().make(),
                   Impulse());
    ExpectResponse(CreateMultiStageVastor(Library(), 10000, 1.0f, &d),
                   wm::AllPole(-0.6160369, {{961.14, 0.743}, {3065, 0.5143}, {4761.87, 0.4292}}, 11025),
                   Impulse());
    ExpectResponse(CreateMultiStageVastor(Library(), 8000, 1.0f, &d),
                   wm::AllPole(-0.65857774, {{1000, 0.663}, {3150, 0.3843}}, 8000), Impulse());
}

TEST(MultiStageVastor, scalesTheRowsGainByTheGainGiven) {
    long d;
    ExpectResponse(CreateMultiStageVastor(Library(), 44100, -2.5f, &d),
                   wm::AllPole(-2.5 * -0.00056811573,
                               {{3000, 0.868}, {4343.17, 0.913}, {1000, 0.928}, {5285.6, 0.962}}, 44100),
                   Impulse());
}

TEST(SingleStageVastor, isOnePoleZeroSectionWithNoDirectDelayAtEveryRate) {
    for (long rate : {8000L, 11025L, 22050L, 44100L, 96000L, 1L}) {
        long d = -1;
        Filter_ f(CreateSingleStageVastor(Library(), rate, 1.0f, &d));
        EXPECT_NE(f, nullptr);
        EXPECT_EQ(d, 0) << rate;
    }
    long d;
    ExpectResponse(CreateSingleStageVastor(Library(), 44100, 1.0f, &d), wm::SingleStage44100().make(),
                   Impulse());
    ExpectResponse(CreateSingleStageVastor(Library(), 12000, 0.5f, &d),
                   wm::Cascade(0.5 * -0.55372703).AddRoots(12000, {850, 0.775}, {24, 0.516}), Impulse());
}

TEST(Highshelf, isTheRowsBiquadSectionAtTheTabledRatesOnly) {
    EXPECT_EQ(CreateHighshelf(Library(), 96000), nullptr);
    EXPECT_EQ(CreateHighshelf(Library(), 44000), nullptr);
    ExpectResponse(CreateHighshelf(Library(), 44100), wm::Shelf44100(), Impulse());
    ExpectResponse(CreateHighshelf(Library(), 16000),
                   wm::Cascade(0.8527431).Add(-0.021968547, 0.0196, -0.23100744, 0.015625), Impulse());
}

TEST(Highshelf, passesTheSignalUnchangedAtTheLowRates) {
    std::vector<float> x(64);
    for (int i = 0; i < 64; ++i) x[i] = 0.7f * std::sin(i * 0.3f);
    for (long rate : {8000L, 11025L, 12000L})
        ExpectResponse(CreateHighshelf(Library(), rate), wm::Cascade(), x);
}

}  // namespace
