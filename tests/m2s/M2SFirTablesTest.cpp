#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "M2sfir.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
const long kRates[kM2SFIRRates] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

struct Response {
    double minGain = 1e9, maxGain = -1e9, minLead = 1e9, maxLead = -1e9;
};

// Gain and phase lead over a pure delay of the centre tap, in double
// precision, on 4000 frequencies evenly spread over 500 Hz .. 0.45 * rate.
Response Measure(const float* taps, long count, double rate) {
    Response r;
    const long centre = (count - 1) / 2;
    const int points = 4000;
    for (int i = 0; i < points; ++i) {
        const double f = 500.0 + (0.45 * rate - 500.0) * i / (points - 1);
        const double w = 2.0 * kPi * f / rate;
        std::complex<double> h = 0.0;
        for (long n = 0; n < count; ++n)
            h += static_cast<double>(taps[n]) * std::polar(1.0, -w * (n - centre));
        r.minGain = std::min(r.minGain, std::abs(h));
        r.maxGain = std::max(r.maxGain, std::abs(h));
        r.minLead = std::min(r.minLead, std::arg(h));
        r.maxLead = std::max(r.maxLead, std::arg(h));
    }
    return r;
}

void ExpectUnityGainAndOneRadianLead(const float* taps, long count, double rate, const std::string& what) {
    const Response r = Measure(taps, count, rate);
    EXPECT_GE(r.minGain, 0.85) << what;
    EXPECT_LE(r.maxGain, 1.15) << what;
    EXPECT_GE(r.minLead, 0.85) << what;
    EXPECT_LE(r.maxLead, 1.25) << what;
}

// Impulse response of a filter the library built, over count samples.
std::vector<float> ImpulseResponse(InPlaceFilter* filter, int count) {
    MathLibrary& lib = *GetFloatLibrary();
    MixBuffer buffer;
    lib.CreateBuffer(buffer, count);
    buffer.floats()[0] = 1.0f;
    buffer.used_ = count;
    filter->Process(buffer);
    std::vector<float> out(buffer.floats(), buffer.floats() + count);
    buffer.free();
    return out;
}

}  // namespace

TEST(M2SFirTables, everyTableTurnsTheBandByAboutOneRadianAtUnityGain) {
    for (int i = 0; i < kM2SFIRRates; ++i) {
        const M2SFIRRate& shortEntry = m2sShortFIRTable[i];
        const M2SFIRRate& longEntry = m2sLongFIRTable[i];
        ExpectUnityGainAndOneRadianLead(shortEntry.coeffs.coeffs, shortEntry.coeffs.numTaps, kRates[i],
                                        "45 taps at " + std::to_string(kRates[i]));
        ExpectUnityGainAndOneRadianLead(longEntry.coeffs.coeffs, longEntry.coeffs.numTaps, kRates[i],
                                        "51 taps at " + std::to_string(kRates[i]));
    }
    // The 32000 Hz array is the 16000 Hz one, so it must serve the lower rate's band too.
    ExpectUnityGainAndOneRadianLead(fir32_45, 45, 16000, "fir32_45 at 16000");
    ExpectUnityGainAndOneRadianLead(fir32_51, 51, 16000, "fir32_51 at 16000");
}

TEST(M2SFirTables, theFixedTablesMatchTheirKnownResponse) {
    const Response r44 = Measure(fir44_45, 45, 44100);
    EXPECT_NEAR(r44.minGain, 0.93, 0.005);
    EXPECT_NEAR(r44.maxGain, 1.13, 0.005);
    EXPECT_NEAR(r44.minLead, 0.94, 0.005);
    EXPECT_NEAR(r44.maxLead, 1.12, 0.005);
    const Response r48 = Measure(fir48_45, 45, 48000);
    EXPECT_NEAR(r48.minGain, 0.89, 0.006);
    EXPECT_NEAR(r48.maxGain, 1.14, 0.006);
    EXPECT_NEAR(r48.minLead, 0.92, 0.006);
    EXPECT_NEAR(r48.maxLead, 1.12, 0.006);
}

TEST(M2SFirTables, knownTapsSitWhereTheyBelong) {
    EXPECT_EQ(fir44_45[0], 0.002495f);
    EXPECT_EQ(fir44_45[1], 0.026517f);
    EXPECT_EQ(fir44_45[21], 0.551856f);
    EXPECT_EQ(fir44_45[22], 0.502631f);
    EXPECT_EQ(fir44_45[23], -0.550777f);
    EXPECT_EQ(fir44_45[43], -0.025464f);
    EXPECT_EQ(fir44_45[44], 0.002711f);
    EXPECT_EQ(fir48_45[0], 0.001247f);
    EXPECT_EQ(fir48_45[22], 0.501343f);
    EXPECT_EQ(fir48_45[44], 0.001423f);
    EXPECT_EQ(fir8_45[21], 0.552634f);
    EXPECT_EQ(fir8_45[22], 0.501802f);
    EXPECT_EQ(fir8_45[23], -0.550007f);
}

TEST(M2SFirTables, everyTableHasTheRotatedHilbertShape) {
    for (int i = 0; i < kM2SFIRRates; ++i) {
        for (const M2SFIRRate* entry : {&m2sShortFIRTable[i], &m2sLongFIRTable[i]}) {
            const float* h = entry->coeffs.coeffs;
            const long centre = (entry->coeffs.numTaps - 1) / 2;
            SCOPED_TRACE(std::to_string(entry->coeffs.numTaps) + " taps at " + std::to_string(kRates[i]));
            EXPECT_NEAR(h[centre], 0.5, 0.005);
            for (long k = 1; k <= centre; ++k) {
                if (k % 2) {
                    EXPECT_GT(h[centre - k], 0.0f) << k;
                    EXPECT_LT(h[centre + k], 0.0f) << k;
                    // Roughly 0.55 / k, a taper allowed towards the ends.
                    EXPECT_LE(h[centre - k] * k, 0.58f) << k;
                    EXPECT_GE(h[centre - k] * k, 0.3f) << k;
                } else {
                    EXPECT_LT(std::fabs(h[centre - k]), 0.005f) << k;
                    EXPECT_LT(std::fabs(h[centre + k]), 0.005f) << k;
                }
            }
        }
    }
}

TEST(M2SFirTables, eachLongTableIsItsShortTableWithThreeMoreTapsAtEachEnd) {
    for (int i = 0; i < kM2SFIRRates; ++i) {
        EXPECT_EQ(m2sShortFIRTable[i].sampleRate, kRates[i]);
        EXPECT_EQ(m2sLongFIRTable[i].sampleRate, kRates[i]);
        ASSERT_EQ(m2sShortFIRTable[i].coeffs.numTaps, 45);
        ASSERT_EQ(m2sLongFIRTable[i].coeffs.numTaps, 51);
        for (int n = 0; n < 45; ++n)
            EXPECT_EQ(m2sLongFIRTable[i].coeffs.coeffs[n + 3], m2sShortFIRTable[i].coeffs.coeffs[n]) << n;
    }
    EXPECT_EQ(m2sShortFIRTable[7].coeffs.coeffs, fir44_45);
    EXPECT_EQ(m2sLongFIRTable[8].coeffs.coeffs, fir48_51);
}

TEST(M2SFirTables, the16000And32000HzArraysAreTheSame) {
    for (int n = 0; n < 45; ++n) EXPECT_EQ(fir16_45[n], fir32_45[n]);
    for (int n = 0; n < 51; ++n) EXPECT_EQ(fir16_51[n], fir32_51[n]);
}

TEST(M2SFirTables, theNearestRateWinsAndTiesGoToTheLowerRate) {
    const struct {
        long asked, chosen;
    } cases[] = {{44100, 44100}, {45000, 44100}, {46050, 44100}, {46051, 48000}, {96000, 48000},
                 {5000, 8000},   {0, 8000},      {-1, 8000},     {28000, 24000}, {10000, 11025},
                 {11512, 11025}, {11513, 12000}, {40000, 44100}, {8000, 8000}};
    for (const auto& c : cases) {
        EXPECT_EQ(NearestM2SFIRRate(m2sShortFIRTable, c.asked).sampleRate, c.chosen) << c.asked;
        EXPECT_EQ(NearestM2SFIRRate(m2sLongFIRTable, c.asked).sampleRate, c.chosen) << c.asked;
    }
}

TEST(M2SFirTables, theFactoriesBuildTheChosenTableAndReportItsDelay) {
    MathLibrary& lib = *GetFloatLibrary();
    const struct {
        long rate;
        const float* shortTaps;
        const float* longTaps;
    } cases[] = {{45000, fir44_45, fir44_51},
                 {46050, fir44_45, fir44_51},
                 {96000, fir48_45, fir48_51},
                 {5000, fir8_45, fir8_51},
                 {22050, fir22_45, fir22_51}};
    for (const auto& c : cases) {
        long delay = -1;
        InPlaceFilter* filter = CreateShortM2SFilter(lib, c.rate, &delay);
        ASSERT_NE(filter, nullptr);
        EXPECT_EQ(delay, 22);
        std::vector<float> response = ImpulseResponse(filter, 48);
        for (int n = 0; n < 45; ++n) EXPECT_EQ(response[n], c.shortTaps[n]) << c.rate << " tap " << n;
        for (int n = 45; n < 48; ++n) EXPECT_EQ(response[n], 0.0f);
        delete filter;

        filter = CreateLongM2SFilter(lib, c.rate, &delay);
        ASSERT_NE(filter, nullptr);
        EXPECT_EQ(delay, 25);
        response = ImpulseResponse(filter, 51);
        for (int n = 0; n < 51; ++n) EXPECT_EQ(response[n], c.longTaps[n]) << c.rate << " tap " << n;
        delete filter;
    }
}
