#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "FilterRunner.h"
#include "Fltfir.h"
#include "SimpleComb.h"

using namespace runner;

TEST(SimpleComb, roundsItsDelayToWholeSamplesAndItsDecayToATail) {
    SimpleComb<float, float> comb(Library(), 1000);
    comb.SetDelay(3.0f);  // 3.0000001 + 0.5
    EXPECT_EQ(comb.loopLength(), 3);
    comb.SetDelay(0.4f);
    EXPECT_EQ(comb.loopLength(), 0);
    SimpleComb<float, float> fast(Library(), 44100);
    fast.SetDelay(1.0f);  // 44.1 + 0.5
    EXPECT_EQ(fast.loopLength(), 44);
    fast.SetDecayTime(0.5f);
    EXPECT_EQ(fast.needed(), 22050);
}

TEST(SimpleComb, anImpulseComesBackEveryLoopScaledByTheFeedback) {
    for (const auto& sizes : kSplits) {
        InPlaceScaleFilter half(0.5f);
        std::unique_ptr<SimpleCombFilter> comb(Library().CreateSimpleCombFilter(1000));
        comb->SetDelay(3.0f);
        comb->SetFeedback(&half);
        EXPECT_EQ(RunInOut(*comb, Impulse(12), sizes),
                  (std::vector<float>{0, 0, 0, 1, 0, 0, 0.5, 0, 0, 0.25, 0, 0}));
    }
}

// v[t] = w[t - 37], out = v, w[t] = 0.5 v[t] + 0.3 v[t - 1] + 0.8 x[t]: the
// damping FIR keeps state from run to run, so it must see the loop in order.
TEST(SimpleComb, followsItsDifferenceEquationWithAStatefulFeedbackElementInAnyBlocks) {
    const std::vector<float> damping = {0.5f, 0.3f}, x = Noise(3000, 17);
    std::vector<double> v(x.size(), 0.0), w(x.size(), 0.0);
    for (size_t t = 0; t < x.size(); ++t) {
        v[t] = t >= 37 ? w[t - 37] : 0.0;
        w[t] = 0.5 * v[t] + (t > 0 ? 0.3 * v[t - 1] : 0.0) + 0.8 * x[t];
    }
    std::vector<float> first;
    for (const auto& sizes : kSplits) {
        FloatFIR feedback;
        ASSERT_EQ(feedback.init(damping.data(), 2), 0);
        SimpleComb<float, float> comb(Library(), 1000);
        comb.SetDelay(37.0f);
        comb.SetFeedback(&feedback);
        comb.SetInputGain(0.8f);
        const std::vector<float> y = RunInOut(comb, x, sizes);
        for (size_t t = 0; t < x.size(); ++t) ASSERT_NEAR(y[t], v[t], 1e-5) << t;
        if (first.empty()) first = y;
        EXPECT_TRUE(SameBits(y, first));
    }
}

TEST(SimpleComb, addsNothingWithoutAFeedbackElementOrALoop) {
    std::vector<float> in = Noise(20, 3), out(20, 0.125f);
    MixBuffer input(Library(), Buffer(in.data(), kMonoFloat), 20);
    MixBuffer output(Library(), Buffer(out.data(), kMonoFloat), 10);
    SimpleComb<float, float> noFeedback(Library(), 1000), noLoop(Library(), 1000);
    noFeedback.SetDelay(3.0f);
    for (int i = 0; i < 3; ++i) noFeedback.Process(output, input);
    InPlaceScaleFilter unity;
    noLoop.SetDelay(0.1f);
    noLoop.SetFeedback(&unity);
    noLoop.Process(output, input);
    EXPECT_EQ(output.used_, 10);
    EXPECT_EQ(out, std::vector<float>(20, 0.125f));
}

TEST(SimpleComb, resetSilencesTheLoopAndItsFeedbackElement) {
    const float damping[] = {0.9f, 0.05f};
    FloatFIR feedback;
    ASSERT_EQ(feedback.init(damping, 2), 0);
    SimpleComb<float, float> comb(Library(), 1000);
    comb.SetDelay(5.0f);
    comb.SetFeedback(&feedback);
    comb.SetDecayTime(1.0f);
    RunInOut(comb, Noise(23, 37), {23});
    comb.GettingInput();
    feedback.GettingInput();
    comb.Reset();
    EXPECT_TRUE(comb.IsQuiet());
    EXPECT_TRUE(feedback.IsQuiet());
    EXPECT_EQ(RunInOut(comb, std::vector<float>(40, 0.0f), {6}), std::vector<float>(40, 0.0f));
}

TEST(SimpleCombDeathTest, aDelayThatIsNotPositiveIsAProgrammingError) {
    // The file and a line number, whichever line the check sits on.
    const char failure[] =
        "SimpleComb\\.h:[0-9]+: void SimpleComb<float,float>::SetDelay<Data, Scale>\\(float\\): "
        "Assertion `delay_ms>0\\.0f' failed\\.";
    SimpleComb<float, float> comb(Library(), 1000);
    EXPECT_DEATH(comb.SetDelay(0.0f), failure);
    EXPECT_DEATH(comb.SetDelay(-1.0f), failure);
    EXPECT_DEATH(comb.SetDelay(std::numeric_limits<float>::quiet_NaN()), failure);
}

// With delay D and gain g: -g at once, then 1 at D and g times as much at
// every further D.
TEST(AllPassComb, anImpulseGivesTheDirectPathThenAGeometricTrainInAnyBlocks) {
    for (const auto& sizes : kSplits) {
        std::unique_ptr<AllPassCombFilter> filter(Library().CreateAllPassCombFilter(1000));
        filter->SetDelay(10.0f);
        filter->SetDecayTime(30.0f);
        const float g = static_cast<AllPassComb<float, float>&>(*filter).gain();
        EXPECT_NEAR(g, 0.1f, 1e-7f);
        const std::vector<float> y = RunInOut(*filter, Impulse(45), sizes);
        for (int t = 0; t < 45; ++t) {
            const double expected = t == 0 ? -g : t % 10 ? 0.0 : std::pow(g, t / 10 - 1);
            EXPECT_NEAR(y[t], expected, 1e-7) << t;
        }
    }
}

// H(z) = (-g + (1 + g^2) z^-D) / (1 - g z^-D), evaluated in double.
TEST(AllPassComb, followsItsTransferFunction) {
    AllPassComb<float, float> allPass(Library(), 1000);
    allPass.SetDelay(7.0f);
    allPass.SetDecayTime(140.0f);  // g = 0.001^(1/20), about 0.708
    const double g = allPass.gain();
    const std::vector<float> h = RunInOut(allPass, Impulse(4000), {4000});
    for (double frequency : {0.0, 0.013, 0.05, 0.0714285, 0.2, 0.37, 0.5}) {
        std::complex<double> response = 0.0;
        for (size_t t = 0; t < h.size(); ++t)
            response += static_cast<double>(h[t]) * std::polar(1.0, -2.0 * 3.141592653589793 * frequency * t);
        const std::complex<double> zD = std::polar(1.0, -2.0 * 3.141592653589793 * frequency * 7);
        const std::complex<double> expected = (-g + (1.0 + g * g) * zD) / (1.0 - g * zD);
        EXPECT_NEAR(std::abs(response - expected), 0.0, 1e-4) << frequency;
    }
}

TEST(AllPassComb, takesAtLeastSixMillisecondsAndDerivesGainAndTailFromTheDecayTime) {
    for (float ms : {0.0f, -1.0f, 2.5f}) {
        AllPassComb<float, float> allPass(Library(), 1000);
        allPass.SetDelay(ms);
        EXPECT_EQ(allPass.delayMs(), 6.0f);
        EXPECT_EQ(allPass.loopLength(), 6);
    }
    AllPassComb<float, float> allPass(Library(), 44100);
    allPass.SetDecayTime(30.0f);  // no delay yet: a loop gain of 1
    EXPECT_EQ(allPass.gain(), 1.0f);
    allPass.SetDelay(10.0f);
    allPass.SetDecayTime(30.0f);
    EXPECT_NEAR(allPass.gain(), 0.1f, 1e-7f);
    EXPECT_EQ(allPass.loopScale(), allPass.gain());
    EXPECT_EQ(allPass.needed(), 30 * 44100);
}

TEST(AllPassComb, resetSilencesTheLoop) {
    AllPassComb<float, float> allPass(Library(), 1000);
    allPass.SetDelay(8.0f);
    allPass.SetDecayTime(100.0f);
    RunInOut(allPass, Noise(30, 43), {30});
    allPass.GettingInput();
    allPass.Reset();
    EXPECT_TRUE(allPass.IsQuiet());
    EXPECT_EQ(RunInOut(allPass, std::vector<float>(50, 0.0f), {9}), std::vector<float>(50, 0.0f));
}
