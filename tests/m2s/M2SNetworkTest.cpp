#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DualVastor.h"
#include "MathLib.h"
#include "Mathutil.h"
#include "Mixbuf.h"
#include "MonoTo3D.h"

namespace {

MathLibrary& Lib() {
    return *GetFloatLibrary();
}

// Two output buffers and two buses of 1024 frames.
struct Buffers {
    Buffers() {
        for (MixBuffer* b : {&outputs[0], &outputs[1], &left, &right}) Lib().CreateBuffer(*b, 1024);
    }
    MixBuffer outputs[2];
    MixBuffer left, right;
    void Empty() {
        for (MixBuffer* b : {&outputs[0], &outputs[1], &left, &right}) b->used_ = 0;
    }
};

std::vector<float> Block(int n, int at = -1, float value = 1.0f) {
    std::vector<float> v(static_cast<size_t>(n), 0.0f);
    if (at >= 0) v[static_cast<size_t>(at)] = value;
    return v;
}

void SetDisabled(Filter& f, bool disabled) {
    const unsigned char value = disabled;
    f.SetProperty(kM2SDisabled, &value, 1);
}

// Stand-ins for the inner widener, logging what the network asks of them.
using Log = std::vector<std::string>;

struct SpyWidener : VastorFilter {
    SpyWidener(Log& log, bool quiet) : log_(log), quiet_(quiet) {}
    VastorFilterInput* CreateVastorFilterInput() override { return nullptr; }
    void Process(Samples n) override { log_.push_back("process " + std::to_string(n)); }
    void SetProperty(int id, const void*, int) override { log_.push_back("widener " + std::to_string(id)); }
    bool IsQuiet() override { return quiet_; }
    void Reset() override { log_.push_back("widener reset"); }
    Log& log_;
    bool quiet_;
};

struct SpyInput : VastorFilterInput {
    SpyInput(Log& log, bool quiet) : log_(log), quiet_(quiet) {}
    void Mix(const Buffer&, Samples, Samples) override { log_.push_back("mono mix"); }
    void Mix(const Buffer&, const Buffer&, Samples n, Samples) override {
        log_.push_back("mix " + std::to_string(n));
    }
    void SetProperty(int id, const void*, int) override { log_.push_back("input " + std::to_string(id)); }
    bool IsQuiet() override { return quiet_; }
    void Reset() override { log_.push_back("input reset"); }
    Log& log_;
    bool quiet_;
};

// A network whose inner widener and its input stage are spies.
struct SpiedNetwork {
    SpiedNetwork(unsigned flags, bool widenerQuiet, bool inputQuiet)
        : network(Lib(), outputs, 44100, 1024, flags) {
        for (MixBuffer& b : outputs) Lib().CreateBuffer(b, 1024);
        delete network.widener_;
        delete network.widenerInput_;
        widener = new SpyWidener(log, widenerQuiet);
        input = new SpyInput(log, inputQuiet);
        network.widener_ = widener;
        network.widenerInput_ = input;
    }
    Log log;
    MixBuffer outputs[2];
    MonoTo3D network;
    SpyWidener* widener;
    SpyInput* input;
};

}  // namespace

TEST(MonoTo3DInput, musicDelaysTheLeftBusBy22FramesAtMinus2dB) {
    Buffers b;
    MonoTo3DInput stage(Lib(), M2S_MUSIC, b.outputs, b.left, b.right, 22);
    const float g = Math::from_mb(-200);
    EXPECT_NEAR(g, 0.7943282, 1e-6);

    std::vector<float> in = Block(1024, 0);
    stage.Mix(Buffer(in.data(), kMonoFloat), 1024, 0);
    ASSERT_EQ(b.left.used_, 1024);
    ASSERT_EQ(b.right.used_, 1024);
    for (int t = 0; t < 1024; ++t) {
        EXPECT_EQ(b.left.floats()[t], t == 22 ? g : 0.0f) << t;
        EXPECT_EQ(b.right.floats()[t], t == 0 ? g : 0.0f) << t;
    }
    EXPECT_EQ(b.outputs[0].used_, 0);  // no bypass while enabled

    // An impulse near the end of a block reaches the left bus in the next one,
    // out of the stage's history.
    b.Empty();
    in = Block(1024, 1010);
    stage.Mix(Buffer(in.data(), kMonoFloat), 1024, 0);
    b.Empty();
    in = Block(1024);
    stage.Mix(Buffer(in.data(), kMonoFloat), 1024, 0);
    for (int t = 0; t < 1024; ++t) EXPECT_EQ(b.left.floats()[t], t == 8 ? g : 0.0f) << t;
}

TEST(MonoTo3DInput, gainChangesApplyAtOnceUntilTheFirstMixAndGlideAfterIt) {
    Buffers b;
    MonoTo3DInput stage(Lib(), M2S_MUSIC, b.outputs, b.left, b.right, 22);
    SetDisabled(stage, true);
    EXPECT_EQ(stage.direct_.left_.gain(), 1.0f);
    EXPECT_EQ(stage.direct_.right_.gain(), 1.0f);
    EXPECT_EQ(stage.delayed_.gain(), 0.0f);
    EXPECT_EQ(stage.plain_.rampSamples(), 0);

    std::vector<float> in = Block(100);
    stage.Mix(Buffer(in.data(), kMonoFloat), 100, 0);
    SetDisabled(stage, false);
    EXPECT_EQ(stage.plain_.rampSamples(), 1024);
    EXPECT_EQ(stage.plain_.targetGain(), Math::from_mb(-200));
    EXPECT_EQ(stage.direct_.left_.targetGain(), 0.0f);

    // The same value again does not restart the glide.
    stage.Mix(Buffer(in.data(), kMonoFloat), 100, 0);
    SetDisabled(stage, false);
    EXPECT_EQ(stage.plain_.rampSamples(), 924);

    // The level is always re-applied, and a new ramp length applies to later changes.
    const int32_t ramp = 256;
    stage.SetProperty(kM2SRampLength, &ramp, sizeof ramp);
    const float level = 0.5f;
    stage.SetProperty(kM2SLevel, &level, sizeof level);
    EXPECT_EQ(stage.delayed_.targetGain(), 0.5f * Math::from_mb(-200));
    EXPECT_EQ(stage.delayed_.rampSamples(), 256);

    stage.Reset();
    SetDisabled(stage, true);
    EXPECT_EQ(stage.direct_.left_.gain(), 1.0f);
    EXPECT_EQ(stage.delayed_.rampSamples(), 0);
}

TEST(MonoTo3D, voiceSetsUpTheDualWidenerForTheRate) {
    const struct {
        long rate;
        int inputDelay;
        long directDelay;
    } cases[] = {{48000, 24, 4}, {44100, 22, 4}, {32000, 16, 1},
                 {22050, 11, 1}, {8000, 4, 1},   {96000, 48, 4}};
    for (const auto& c : cases) {
        MixBuffer outputs[2];
        MonoTo3D network(Lib(), outputs, c.rate, 1024, 0);
        EXPECT_EQ(network.fir_, nullptr);
        EXPECT_EQ(network.firDelay_, 0);
        auto* input = dynamic_cast<DualVastorFilterInput*>(network.widenerInput_);
        ASSERT_NE(input, nullptr);
        EXPECT_EQ(input->inputDelay_[0], c.inputDelay) << c.rate;
        EXPECT_EQ(input->inputDelay_[1], c.inputDelay) << c.rate;
        EXPECT_EQ(input->directDelay_, c.directDelay) << c.rate;
        EXPECT_NEAR(input->center_, 0.316228, 1e-6);
        EXPECT_EQ(input->spread_, 1.0f);
    }
}

TEST(MonoTo3D, propertiesGoToTheInnerInputStageAndThenToTheInnerWidener) {
    SpiedNetwork s(M2S_MUSIC, true, true);
    const float spread = 0.5f;
    s.network.SetProperty(kVastorSpread, &spread, sizeof spread);
    const unsigned char on = 0;
    s.network.SetProperty(kVastorHipassOn, &on, 1);
    EXPECT_EQ(s.log, (Log{"input 1", "widener 1", "input 8", "widener 8"}));
}

TEST(MonoTo3D, resetClearsTheFirTheWidenerAndItsInputStage) {
    SpiedNetwork s(M2S_MUSIC, true, true);
    s.network.Reset();
    EXPECT_EQ(s.log, (Log{"widener reset", "input reset"}));
}

TEST(MonoTo3D, theWidenerRunsWhileItHasInputOrStillRings) {
    {
        // Silent input is still input: the buses are used.
        SpiedNetwork s(0, true, true);
        std::unique_ptr<MonoTo3DInput> stage(s.network.CreateVastorFilterInput());
        std::vector<float> in = Block(200);
        stage->Mix(Buffer(in.data(), kMonoFloat), 200, 0);
        s.network.Process(200);
        EXPECT_EQ(s.log, (Log{"mix 200", "process 200"}));
        EXPECT_EQ(s.network.leftBus_.used_, 0);
        EXPECT_EQ(s.network.rightBus_.used_, 0);
    }
    {
        // Bypassed from the start and everything quiet: nothing is called.
        SpiedNetwork s(0, true, true);
        std::unique_ptr<MonoTo3DInput> stage(s.network.CreateVastorFilterInput());
        SetDisabled(*stage, true);
        std::vector<float> in = Block(200, 5);
        stage->Mix(Buffer(in.data(), kMonoFloat), 200, 0);
        s.network.Process(200);
        EXPECT_TRUE(s.log.empty());
        EXPECT_EQ(s.outputs[0].floats()[5], 1.0f);
        EXPECT_EQ(s.outputs[1].floats()[5], 1.0f);
    }
    {
        // Empty buses, but the input stage still holds frames: they are played out.
        SpiedNetwork s(0, false, false);
        std::unique_ptr<MonoTo3DInput> stage(s.network.CreateVastorFilterInput());
        SetDisabled(*stage, true);
        s.network.Process(64);
        EXPECT_EQ(s.log, (Log{"mix 64", "process 64"}));
    }
    {
        // Empty buses and a silent input stage, but ringing filters: they run out.
        SpiedNetwork s(0, false, true);
        std::unique_ptr<MonoTo3DInput> stage(s.network.CreateVastorFilterInput());
        SetDisabled(*stage, true);
        s.network.Process(64);
        EXPECT_EQ(s.log, (Log{"process 64"}));
    }
}

TEST(MonoTo3D, once3DIsOffAndTheTailsHaveDiedTheWidenerIsSkipped) {
    for (unsigned flags : {M2S_MUSIC, 0u}) {
        MixBuffer outputs[2];
        for (MixBuffer& b : outputs) Lib().CreateBuffer(b, 1024);
        MonoTo3D network(Lib(), outputs, 44100, 1024, flags);
        std::unique_ptr<MonoTo3DInput> stage(network.CreateVastorFilterInput());
        std::vector<short> in(256);
        for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<short>((i * 7919) % 20000 - 10000);
        int blocks = 0;
        auto run = [&] {
            stage->Mix(Buffer(in.data(), kMono16), 256, 0);
            network.Process(256);
            outputs[0].used_ = outputs[1].used_ = 0;
            ++blocks;
        };
        for (int i = 0; i < 8; ++i) run();
        EXPECT_FALSE(network.IsQuiet());
        SetDisabled(*stage, true);
        // Four blocks of fade, one that empties the inner input stage's history,
        // then tails of 1000 frames: the high-pass's, and after it the
        // widening filter's, which the high-pass's tail feeds.
        blocks = 0;
        while (!network.IsQuiet() && blocks < 100) run();
        EXPECT_GE(blocks, 4 + 4) << flags;
        EXPECT_LE(blocks, 4 + 1 + 8) << flags;
        EXPECT_TRUE(network.widenerInput_->IsQuiet());
        // From now on nothing but the bypass.
        for (int i = 0; i < 4; ++i) {
            run();
            EXPECT_TRUE(network.IsQuiet());
            for (int t = 0; t < 256; ++t)
                ASSERT_EQ(outputs[0].floats()[t], in[static_cast<size_t>(t)] / 32768.0f);
        }
    }
}
