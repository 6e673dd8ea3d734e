// The widener networks end to end through the flat 16-bit interleaved entry,
// as the player uses it, against the double-precision model of their signal flow.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>

#include "WidenerModel.h"
#include "WidenerSignal.h"

namespace {

using namespace widener_test;
namespace wm = widener_model;

constexpr int kFrames = 6000;  // five full chunks and a partial one
constexpr int kTolerance = 2;  // LSB at 16 bits

// The largest difference, in LSB, between the engine's output and the model's.
int WorstAgainstModel(const Block16& out, const std::vector<short>& left, const std::vector<short>& right,
                      const wm::Settings& model) {
    wm::Channels in, expected;
    for (size_t i = 0; i < left.size(); ++i) {
        in[0].push_back(left[i] / 32768.0);
        in[1].push_back(right[i] / 32768.0);
    }
    wm::Run(model, in, expected);
    int worst = 0;
    for (size_t i = 0; i < left.size(); ++i)
        for (int side = 0; side < 2; ++side)
            worst = std::max(worst, std::abs(out[2 * i + side] - wm::To16(expected[side][i])));
    return worst;
}

struct Case {
    std::string name;
    unsigned flags;
    std::function<void(Vastor*)> setup;         // engine settings
    std::function<void(wm::Settings&)> adjust;  // the same settings in the model
    enum Input { kStereo, kLeftOnly, kMono } input = kStereo;
    unsigned rate = 44100;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// The model of what the open flags choose.
wm::Settings FromFlags(unsigned flags, unsigned rate) {
    wm::Settings s;
    s.dual = !(flags & VASTOR_SINGLE_NETWORK);
    s.row = flags & VASTOR_SINGLE_STAGE ? wm::SingleStage44100()
            : rate == 48000             ? wm::MultiStage48000()
                                        : wm::MultiStage44100();
    s.hipass = flags & VASTOR_HIPASS_ON;
    s.shelf = flags & VASTOR_HIGH_SHELF;
    return s;
}

int WorstDifference(const Case& c) {
    const std::vector<short> left = Music(kFrames, 1);
    const std::vector<short> right = c.input == Case::kLeftOnly ? std::vector<short>(kFrames, 0)
                                     : c.input == Case::kMono   ? left
                                                                : Music(kFrames, 2);
    Vastor* h = nullptr;
    EXPECT_EQ(vastorOpen(&h, c.rate, c.flags), 0);
    if (c.setup) c.setup(h);
    const Block16 out = Process16(h, Interleave(left, right));
    vastorClose(h);
    wm::Settings model = FromFlags(c.flags, c.rate);
    if (c.adjust) c.adjust(model);
    return WorstAgainstModel(out, left, right, model);
}

constexpr unsigned kHipass = VASTOR_HIPASS_ON;
constexpr unsigned kSingle = VASTOR_SINGLE_NETWORK;

std::vector<Case> Cases() {
    const float half = static_cast<float>(20.0 * std::log10(0.5));
    auto spread = [](double db) {
        return [db](wm::Settings& s) { s.spread = [db](int) { return FromDb(db); }; };
    };
    auto disabled = [](wm::Settings& s) { s.disabled = true; };
    return {
        {"DualLeftOnly", 0, nullptr, nullptr, Case::kLeftOnly},
        {"DualHipass", kHipass, nullptr, nullptr},
        {"DualHipassSwitchedOn", 0, [](Vastor* h) { vastorEnableHipass(h, 1); },
         [](wm::Settings& s) { s.hipass = true; }},
        {"DualMonoWithHipass", kHipass, nullptr, nullptr, Case::kMono},
        {"DualSpreadMinus6dB", kHipass, [](Vastor* h) { vastorSetSpread(h, -6.0f); }, spread(-6.0)},
        {"DualCenterHalf", 0, [half](Vastor* h) { vastorSetCenter(h, half); },
         [](wm::Settings& s) { s.center = 0.5; }},
        {"DualDisabled", kHipass, [](Vastor* h) { vastorEnable(h, 0); }, disabled},
        {"DualInputScales", 0, [](Vastor* h) { vastorSetInputScale(h, -3.0f, -1.0f); },
         [](wm::Settings& s) {
             s.scale[0] = FromDb(-3.0);
             s.scale[1] = FromDb(-1.0);
         }},
        {"DualInputDelaysDifferingByMoreThanTheDirectDelay", kHipass,
         [](Vastor* h) { vastorSetInputDelay(h, 0, 10); }, [](wm::Settings& s) { s.inputDelay[1] = 10; }},
        {"DualLongInputDelaysAcrossChunks", 0, [](Vastor* h) { vastorSetInputDelay(h, 1500, 3); },
         [](wm::Settings& s) {
             s.inputDelay[0] = 1500;
             s.inputDelay[1] = 3;
         }},
        {"DualDirectDelaySet", 0, [](Vastor* h) { vastorSetDirectDelay(h, 2); },
         [](wm::Settings& s) { s.directDelay = 2; }},
        {"DualSingleStageFilter", VASTOR_SINGLE_STAGE | kHipass, nullptr, nullptr},
        {"DualShelf", VASTOR_HIGH_SHELF | kHipass, nullptr, nullptr},
        {"DualAt48000", kHipass, nullptr, nullptr, Case::kStereo, 48000},

        {"SingleLeftOnly", kSingle, nullptr, nullptr, Case::kLeftOnly},
        {"SingleHipass", kSingle | kHipass, nullptr, nullptr},
        {"SingleMonoWithHipass", kSingle | kHipass, nullptr, nullptr, Case::kMono},
        {"SingleSpreadMinus6dB", kSingle, [](Vastor* h) { vastorSetSpread(h, -6.0f); }, spread(-6.0)},
        {"SingleSpreadAboveUnityLowersTheDirectPath", kSingle, [](Vastor* h) { vastorSetSpread(h, 6.0f); },
         spread(6.0)},
        {"SingleIgnoresTheCenter", kSingle, [half](Vastor* h) { vastorSetCenter(h, half); }, nullptr},
        {"SingleDisabled", kSingle | kHipass, [](Vastor* h) { vastorEnable(h, 0); }, disabled},
        {"SingleInputScalesAndDelays", kSingle,
         [](Vastor* h) {
             vastorSetInputScale(h, -2.0f, 1.0f);
             vastorSetInputDelay(h, 5, 40);
         },
         [](wm::Settings& s) {
             s.scale[0] = FromDb(-2.0);
             s.scale[1] = FromDb(1.0);
             s.inputDelay[0] = 5;
             s.inputDelay[1] = 40;
         }},
        {"SingleSingleStageFilter", kSingle | VASTOR_SINGLE_STAGE | kHipass, nullptr, nullptr},
        {"SingleShelf", kSingle | VASTOR_HIGH_SHELF, nullptr, nullptr},
    };
}

class WidenerAgainstModel : public ::testing::TestWithParam<Case> {};

TEST_P(WidenerAgainstModel, agreesWithinTwoLsbAt16Bits) {
    EXPECT_LE(WorstDifference(GetParam()), kTolerance);
}

INSTANTIATE_TEST_SUITE_P(Networks, WidenerAgainstModel, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// With equal channels the widening buses cancel exactly: each output is its
// input delayed by the direct delay of the row, sample for sample.
void ExpectMonoPassesDelayed(unsigned flags, unsigned rate, int delay) {
    const std::vector<short> x = Music(3000, 5, 0.9);
    Vastor* h = nullptr;
    ASSERT_EQ(vastorOpen(&h, rate, flags), 0);
    const Block16 out = Process16(h, Interleave(x, x));
    vastorClose(h);
    for (int i = 0; i < 3000; ++i) {
        const short expected = i < delay ? 0 : x[i - delay];
        ASSERT_EQ(out[2 * i], expected) << "frame " << i;
        ASSERT_EQ(out[2 * i + 1], expected) << "frame " << i;
    }
}

TEST(WidenerMonoInput, withTheHipassOffTheDualNetworkPassesTheInputDelayedBySixFramesAt44100) {
    ExpectMonoPassesDelayed(0, 44100, 6);
}

TEST(WidenerMonoInput, theSingleNetworkDoesTheSame) {
    ExpectMonoPassesDelayed(VASTOR_SINGLE_NETWORK, 44100, 6);
}

TEST(WidenerMonoInput, theSingleStageFilterNeedsNoDirectDelay) {
    ExpectMonoPassesDelayed(VASTOR_SINGLE_STAGE, 44100, 0);
    ExpectMonoPassesDelayed(VASTOR_SINGLE_STAGE | VASTOR_SINGLE_NETWORK, 44100, 0);
}

// A spread change glides over 1024 frames in the single network once audio
// has run, and applies at once in the dual network.
void ExpectSpreadChange(unsigned flags, bool dual, bool glides) {
    const int half = 3000;
    const std::vector<short> left = Music(2 * half, 3), right = Music(2 * half, 4);
    const Block16 in = Interleave(left, right);
    Vastor* h = nullptr;
    ASSERT_EQ(vastorOpen(&h, 44100, flags), 0);
    Block16 out(in.size());
    vastorProcess16(h, Frames(in), Frames(out), half);
    vastorSetSpread(h, -12.0f);
    vastorProcess16(h, Frames(in) + half, Frames(out) + half, half);
    vastorClose(h);

    wm::Settings s;
    s.dual = dual;
    const double to = FromDb(-12.0);
    s.spread = [=](int t) {
        if (t < half) return 1.0;
        if (!glides || t >= half + 1024) return to;
        return 1.0 + (to - 1.0) * (t - half) / 1024.0;
    };
    EXPECT_LE(WorstAgainstModel(out, left, right, s), kTolerance);
}

TEST(WidenerParameterChange, theSingleNetworkGlidesToANewSpreadOver1024Frames) {
    ExpectSpreadChange(VASTOR_SINGLE_NETWORK, false, true);
}

TEST(WidenerParameterChange, theDualNetworkAppliesANewSpreadAtTheNextBlock) {
    ExpectSpreadChange(0, true, false);
}

}  // namespace
