// The row choice shared by every per-sample-rate table.

#include <gtest/gtest.h>

#include <vector>

#include "NearestRate.h"

namespace {

int nearestOf(const std::vector<long long>& rates, long long rate, bool exactOnly = false) {
    return NearestRateIndex(
        static_cast<int>(rates.size()), rate, [&](int i) { return rates[i]; }, exactOnly);
}

TEST(NearestRate, anEqualRateWinsElseTheNearestAndATieGoesToTheEarlierRow) {
    const std::vector<long long> rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    const struct {
        long long rate;
        int row;
    } cases[] = {
        {8000, 0},  {48000, 8}, {44100, 7}, {0, 0},     {-5, 0},    {1000000, 8}, {11512, 1},
        {11513, 2}, {38050, 6}, {40050, 7}, {46050, 7}, {14000, 2}, {46051, 8},   {9512, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(nearestOf(rates, c.rate), c.row) << c.rate;
}

TEST(NearestRate, anEqualRateLaterInTheTableBeatsANearerNeighbourBeforeIt) {
    EXPECT_EQ(nearestOf({44101, 44100}, 44100), 1);
}

TEST(NearestRate, exactOnlyAndEmptyTablesFindNothing) {
    EXPECT_EQ(nearestOf({8000, 16000}, 16000, true), 1);
    EXPECT_EQ(nearestOf({8000, 16000}, 12000, true), -1);
    EXPECT_EQ(nearestOf({}, 12000), -1);
}

}  // namespace
