#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AssertionMessage.h"
#include "FltDelay.h"
#include "MathLib.h"
#include "Mixbuf.h"
#include "Panner.h"

namespace {

using test_support::assertionMessage;

Buffer Floats(const std::vector<float>& x, Samples from = 0) {
    return Buffer(x.data() + from, kMonoFloat);
}

// An output block of n frames, empty until mixed into.
struct Output {
    explicit Output(Samples n) : memory(n, 0.0f), buffer(*GetFloatLibrary(), Floats(memory), 0) {}
    std::vector<float> memory;
    MixBuffer buffer;
};

// Uneven block lengths of at most longest frames, covering total frames.
std::vector<Samples> Split(Samples total, Samples longest, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<Samples> lengths;
    for (Samples n; total > 0; total -= n) {
        n = std::min(total, std::uniform_int_distribution<Samples>(1, longest)(random));
        lengths.push_back(n);
    }
    return lengths;
}

std::unique_ptr<DelayMixBuffer> Line(Samples size) {
    std::unique_ptr<DelayMixBuffer> line(GetFloatLibrary()->CreateDelayBuffer());
    line->SetSize(size);
    return line;
}

}  // namespace

TEST(Panner, aRampOverAnyBlocksFollowsItsLineAndEndsExactlyOnTheTarget) {
    const Samples total = 3000, ramp = 1777;
    const std::vector<float> ones(total, 1.0f);
    for (Samples longest : {1, 60, 300}) {
        Panner panner;
        Output out(total);
        panner.setMixBuffer(out.buffer);
        panner.pan(-0.25f, 0);
        panner.pan(0.75f, ramp);
        Samples at = 0;
        for (Samples n : Split(total, longest, longest)) {
            panner.mix(Floats(ones, at), n, at);
            at += n;
            if (at < ramp) {
                ASSERT_EQ(panner.rampSamples(), ramp - at);
            }
        }
        EXPECT_EQ(panner.gain(), 0.75f);
        EXPECT_EQ(panner.gainStep(), 0.0f);
        for (Samples k = 0; k < ramp; ++k) ASSERT_NEAR(out.memory[k], -0.25 + k / double(ramp), 1e-5) << k;
        for (Samples k = ramp; k < total; ++k) ASSERT_EQ(out.memory[k], 0.75f) << k;
    }

    // A ramp to the gain already reached ends at once; so does a negative length.
    Panner steady;
    steady.pan(0.5f, 0);
    steady.pan(0.5f, 100);
    EXPECT_EQ(steady.rampSamples(), 0);
    steady.pan(0.25f, -5);
    EXPECT_EQ(steady.rampSamples(), 0);
    EXPECT_EQ(steady.gain(), 0.25f);
}

TEST(Panner, chainedRampsGiveTheSameBitsHoweverTheRampIsCutIntoCalls) {
    // Mixed over a block another panner has half filled, so that the mix
    // buffer's own split (add, then copy) falls inside a call too.
    const Samples total = 2500, ramp = 1999;
    std::vector<float> noise(total);
    std::mt19937 random(3);
    for (float& x : noise) x = std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
    auto render = [&](bool chained, Samples longest) {
        Panner panner, other;
        Output out(total);
        panner.setMixBuffer(out.buffer);
        other.setMixBuffer(out.buffer);
        panner.setChainedRamps(chained);
        panner.pan(0.1f, 0);
        panner.pan(-0.7f, ramp);
        other.pan(0.5f, 0);
        other.mix(Floats(noise), total / 2 + 3);
        Samples at = 0;
        for (Samples n : Split(total, longest, static_cast<unsigned>(longest))) {
            panner.mix(Floats(noise, at), n, at);
            at += n;
        }
        return out.memory;
    };
    const std::vector<float> whole = render(true, total);
    for (Samples longest : {1, 7, 300}) EXPECT_EQ(render(true, longest), whole) << longest;
    EXPECT_NE(render(false, 7), render(false, total)) << "the player's ramps move on by a multiplication";
}

TEST(Panner, mixWithoutUpdateAddsTheSameSamplesAgainAndLeavesTheRampAlone) {
    Panner panner;
    Output out(30);
    panner.setMixBuffer(out.buffer);
    const std::vector<float> ones(30, 1.0f);
    panner.pan(1.0f, 20);
    panner.mix_noUpdate(Floats(ones), 10);
    panner.mix_noUpdate(Floats(ones), 30);
    EXPECT_EQ(panner.rampSamples(), 20);
    EXPECT_EQ(panner.gain(), 0.0f);
    for (int k = 0; k < 20; ++k) EXPECT_NEAR(out.memory[k], (k < 10 ? 2 : 1) * 0.05 * k, 1e-6);
    for (int k = 20; k < 30; ++k) EXPECT_EQ(out.memory[k], 1.0f);
}

TEST(PannerDeathTest, aMissingBufferIsFatalUnlessThePannerIsSilent) {
    const std::vector<float> ones(8, 1.0f);
    Panner panner;
    panner.mix(Floats(ones), 8);
    panner.mix_noUpdate(Floats(ones), 8);
    panner.pan(1.0f, 0);
    EXPECT_DEATH(
        panner.mix(Floats(ones), 8),
        assertionMessage("void Panner::mix(const class Buffer &, Samples, Samples = 0)", "mixBuffer_!=0"));
    panner.pan(0.0f, 4);
    EXPECT_DEATH(panner.mix_noUpdate(Floats(ones), 8),
                 assertionMessage("void Panner::mix_noUpdate(const class Buffer &, Samples, Samples = 0)",
                                  "mixBuffer_!=0"));

    DelayPanner delayed;
    delayed.setDelay(3, 0);
    EXPECT_DEATH(delayed.mix(Floats(ones), 8),
                 assertionMessage("void DelayPanner::mix(const class Buffer &, Samples, Samples = 0)",
                                  "delayBuffer_!=0"));
}

TEST(DelayPanner, aDelayGlidesOneFrameAtATimeOverAboutTheTransitionTime) {
    struct {
        int to;
        Samples time, frames;
    } cases[] = {{10, 100, 100}, {10, 5, 10}, {30, 100, 90}, {10, 0, 0}};
    auto line = Line(30);
    const std::vector<float> frame(1, 1.0f);
    for (const auto& c : cases) {
        DelayPanner panner;
        panner.setDelayBuffer(line.get());
        panner.setDelay(c.to, c.time);
        Samples mixed = 0;
        for (; panner.delay() != c.to && mixed < 1000; ++mixed) panner.mix(Floats(frame), 1);
        EXPECT_EQ(mixed, c.frames) << "to " << c.to << " over " << c.time;
    }
    DelayPanner clamped;
    clamped.setDelay(-5, 0);
    EXPECT_EQ(clamped.delay(), 0);
}

// The owner's order: the panner mixes each block, then the block enters the
// line. Output frame i is 0.75 x[i - d], where d steps one frame toward its
// target after every period output frames; the line starts silent.
TEST(DelayPanner, aGlidingDelayMixedBlockByBlockMatchesTheSignalDelayedInOnePiece) {
    const Samples half = 2000;
    std::mt19937 random(99);
    std::vector<float> x(2 * half), expected(2 * half);
    for (float& v : x) v = std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
    const struct {
        int target;
        Samples time;
    } glides[2] = {{60, 1500}, {20, 700}};  // from 7 frames: one growing, one shrinking
    for (int i = 0, d = 7, period = 0, countdown = 0, target = 0; i < 2 * half; ++i) {
        if (i % half == 0) {
            target = glides[i / half].target;
            countdown = period = glides[i / half].time / std::abs(target - d);
        }
        expected[i] = i >= d ? 0.75f * x[i - d] : 0.0f;
        if (d != target && --countdown == 0) {
            d += target > d ? 1 : -1;
            countdown = period;
        }
    }

    for (Samples longest : {1, 5, 64, 333, 1024}) {
        auto line = Line(60);
        DelayPanner panner;
        Output out(2 * half);
        panner.setMixBuffer(out.buffer);
        panner.setDelayBuffer(line.get());
        panner.pan(0.75f, 0);
        panner.setDelay(7, 0);
        Samples at = 0;
        for (const auto& glide : glides) {
            panner.setDelay(glide.target, glide.time);
            for (Samples n : Split(half, longest, longest)) {
                panner.mix(Floats(x, at), n, at);
                line->Update(Floats(x, at), n);
                at += n;
            }
        }
        ASSERT_EQ(out.memory, expected) << "blocks of up to " << longest;
    }
}

TEST(StereoPanners, eachSideGetsItsScaledGainAndItsShareOfASignedDelay) {
    StereoPanner stereo;
    const float gains[2] = {0.25f, 1.0f};
    stereo.pan(gains, 2.0f, 0);
    EXPECT_EQ(stereo.left_.gain(), 0.5f);
    EXPECT_EQ(stereo.right_.gain(), 2.0f);

    auto line = Line(4);
    line->Update(Floats({9, 9, 8}), 3);
    std::vector<float> left(4), right(4);
    MixBuffer pair[2] = {MixBuffer(*GetFloatLibrary(), Floats(left), 0),
                         MixBuffer(*GetFloatLibrary(), Floats(right), 0)};
    StereoDelayPanner delayed;
    delayed.setMixBuffers(pair);
    delayed.setDelayBuffer(line.get());
    delayed.pan(1.0f, 0);
    delayed.setDelay(-1, 0);
    EXPECT_EQ(delayed.left_.delay(), 0);
    EXPECT_EQ(delayed.right_.delay(), 1);
    const std::vector<float> block = {1, 2, 3, 4};
    delayed.mix(Floats(block), 4);
    EXPECT_EQ(left, (std::vector<float>{1, 2, 3, 4}));
    EXPECT_EQ(right, (std::vector<float>{8, 1, 2, 3}));
    // Mixed without update, the input is read directly, without delay.
    delayed.mix_noUpdate(Floats(block), 4);
    EXPECT_EQ(right, (std::vector<float>{9, 3, 5, 7}));
}

// Two delay panners into one output, steady and then gliding, through a
// window and a plan (as the input stages run them), against plain mix: the
// same bits in blocks within and beyond the window's reach.
TEST(DelayPanner, readsThroughAWindowAndAPlanGiveTheBitsOfMix) {
    const Samples total = 3000;
    std::mt19937 random(7);
    std::vector<float> x(total);
    for (float& v : x) v = std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
    for (const int delay : {0, 5, 64, 300}) {
        for (const Samples longest : {1, 64, 200, 600}) {
            std::vector<float> result[2];
            for (const bool windowed : {false, true}) {
                auto line = Line(400);
                DelayWindow window;
                window.setDelayBuffer(line.get());
                DelayPanner panners[2];
                for (DelayPanner& p : panners) p.setDelayBuffer(line.get());
                panners[0].setDelay(delay, 0);
                panners[0].pan(0.75f, 0);
                panners[1].setDelay(delay / 2 + 1, 0);
                panners[1].pan(-0.3f, 0);
                Output out(total);
                Samples at = 0;
                for (Samples n : Split(total, longest, static_cast<unsigned>(longest))) {
                    if (at > total / 2 && panners[0].delay() == delay) {
                        panners[0].setDelay(delay + 40, 500);  // a glide reads the line as it is
                        panners[1].pan(0.5f, 300);
                    }
                    MixBuffer block(out.buffer, n, at);
                    for (DelayPanner& p : panners) p.setMixBuffer(block);
                    if (windowed) {
                        window.gather(Floats(x, at), n);
                        HeldMixPlan plan;
                        for (DelayPanner& p : panners) p.mix(window, Floats(x, at), n, 0, plan);
                    } else {
                        for (DelayPanner& p : panners) p.mix(Floats(x, at), n, 0);
                    }
                    line->Update(Floats(x, at), n);
                    at += n;
                }
                result[windowed] = out.memory;
            }
            ASSERT_EQ(std::memcmp(result[0].data(), result[1].data(), total * sizeof(float)), 0)
                << "delay " << delay << ", blocks of up to " << longest;
        }
    }
}
