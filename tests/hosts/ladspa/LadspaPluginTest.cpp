// kesta_ladspa.so loaded into this program as a host loads it, checked
// against the float processor it adapts.
#include <dlfcn.h>
#include <ladspa.h>

#include <limits>

#include "AllocationCounter.h"
#include "PluginHarness.h"

namespace {

using namespace plugin_test;

const LADSPA_Descriptor* Descriptor(unsigned long index = 0) {
    static void* library = dlopen(KESTA_LADSPA_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    auto entry = reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(library, "ladspa_descriptor"));
    return entry ? entry(index) : nullptr;
}

class Ladspa : public PortHost {
  public:
    explicit Ladspa(unsigned long rate) : d_(Descriptor()), h_(d_ ? d_->instantiate(d_, rate) : nullptr) {}
    ~Ladspa() override {
        if (h_) d_->cleanup(h_);
    }
    bool ok() const { return h_ != nullptr; }
    void connect(unsigned long port, float* data) override { d_->connect_port(h_, port, data); }
    void activate() override { d_->activate(h_); }
    void run(unsigned long frames) override { d_->run(h_, frames); }

  private:
    const LADSPA_Descriptor* d_;
    LADSPA_Handle h_;
};

kesta::Settings Unusual() {
    kesta::Settings s;
    s.spreadDb = -7.5f;
    s.subtone = false;
    return s;
}

class LadspaPlugin : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        stereo = new Audio(ReadAudio(MakeSpeech(*dir, 44100, 2)));
    }
    static void TearDownTestSuite() {
        delete stereo;
        delete dir;
    }
    static TempDir* dir;
    static Audio* stereo;
};
TempDir* LadspaPlugin::dir;
Audio* LadspaPlugin::stereo;

TEST(LadspaDescriptor, oneStereoPluginWithReadablePortsAndDefaultsOfTheProcessor) {
    const LADSPA_Descriptor* d = Descriptor();
    ASSERT_NE(d, nullptr) << dlerror();
    EXPECT_EQ(d->UniqueID, 0x4B4553u);
    EXPECT_STREQ(d->Label, "kesta_stereo");
    EXPECT_STREQ(d->Name, "Kesta 3D Sound (stereo) (LADSPA)");  // not the LV2 plug-in's name
    EXPECT_TRUE(LADSPA_IS_HARD_RT_CAPABLE(d->Properties));
    EXPECT_FALSE(LADSPA_IS_INPLACE_BROKEN(d->Properties));

    struct Port {
        const char* name;
        LADSPA_PortDescriptor kind;
        float fallback;  // NaN: no default
    };
    const float none = std::numeric_limits<float>::quiet_NaN();
    const Port ports[] = {
        {"In L", LADSPA_PORT_AUDIO | LADSPA_PORT_INPUT, none},
        {"In R", LADSPA_PORT_AUDIO | LADSPA_PORT_INPUT, none},
        {"Out L", LADSPA_PORT_AUDIO | LADSPA_PORT_OUTPUT, none},
        {"Out R", LADSPA_PORT_AUDIO | LADSPA_PORT_OUTPUT, none},
        {"Spread (dB)", LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT, 0},
        {"Mode (0 = Voice, 1 = Music)", LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT, 1},
        {"Mono-to-3D", LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT, 1},
        {"Widening", LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT, 1},
        {"Subtone", LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT, 1},
        {"Automatic mono", LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT, 1},
        {"Limiter", LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT, 1},
        {"Match loudness", LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT, 1},
        {"latency", LADSPA_PORT_CONTROL | LADSPA_PORT_OUTPUT, 0},  // for sox, which wants a value
    };
    ASSERT_EQ(d->PortCount, std::size(ports));
    for (unsigned long p = 0; p < d->PortCount; ++p) {
        SCOPED_TRACE(ports[p].name);
        EXPECT_STREQ(d->PortNames[p], ports[p].name);
        EXPECT_EQ(d->PortDescriptors[p], ports[p].kind);
        const int hint = d->PortRangeHints[p].HintDescriptor;
        if (std::isnan(ports[p].fallback)) {
            EXPECT_EQ(hint & LADSPA_HINT_DEFAULT_MASK, 0);
        } else {
            EXPECT_EQ(hint & LADSPA_HINT_DEFAULT_MASK,
                      ports[p].fallback == 0 ? LADSPA_HINT_DEFAULT_0 : LADSPA_HINT_DEFAULT_1);
        }
    }
    EXPECT_EQ(d->PortRangeHints[4].LowerBound, -18.0f);
    EXPECT_EQ(d->PortRangeHints[4].UpperBound, 0.0f);
    // Mode and the on/off controls are whole numbers from 0 to 1, never
    // toggled ports, whose default GStreamer would take as false.
    for (unsigned long p = 5; p + 1 < d->PortCount; ++p) {
        const LADSPA_PortRangeHint& h = d->PortRangeHints[p];
        EXPECT_TRUE(
            LADSPA_IS_HINT_INTEGER(h.HintDescriptor) && LADSPA_IS_HINT_BOUNDED_BELOW(h.HintDescriptor) &&
            LADSPA_IS_HINT_BOUNDED_ABOVE(h.HintDescriptor) && !LADSPA_IS_HINT_TOGGLED(h.HintDescriptor))
            << p;
        EXPECT_EQ(h.LowerBound, 0.0f);
        EXPECT_EQ(h.UpperBound, 1.0f);
    }
}

// The mono plug-in (one input, two outputs) comes second, and no third.
TEST(LadspaDescriptor, aMonoPluginFollows) {
    const LADSPA_Descriptor* d = Descriptor(1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->UniqueID, 0x4B4554u);
    EXPECT_STREQ(d->Label, "kesta_mono");
    EXPECT_STREQ(d->Name, "Kesta 3D Sound (mono to stereo) (LADSPA)");
    EXPECT_EQ(Descriptor(2), nullptr);
    const char* const names[] = {"In",         "Out L",   "Out R",   "Mode (0 = Voice, 1 = Music)",
                                 "Mono-to-3D", "Subtone", "Limiter", "Match loudness",
                                 "latency"};
    ASSERT_EQ(d->PortCount, std::size(names));
    for (unsigned long p = 0; p < d->PortCount; ++p) EXPECT_STREQ(d->PortNames[p], names[p]);
    EXPECT_EQ(d->PortDescriptors[0], LADSPA_PORT_AUDIO | LADSPA_PORT_INPUT);
    EXPECT_EQ(d->PortDescriptors[2], LADSPA_PORT_AUDIO | LADSPA_PORT_OUTPUT);
    LADSPA_Handle h = d->instantiate(d, 48000);
    ASSERT_NE(h, nullptr);
    d->cleanup(h);
}

TEST(LadspaDescriptor, instantiationFailsWithoutARate) {
    EXPECT_FALSE(Ladspa(0).ok());
    EXPECT_TRUE(Ladspa(8000).ok());
    EXPECT_TRUE(Ladspa(192000).ok());
}

TEST_F(LadspaPlugin, rendersWhatTheProcessorRendersInAnyBlockSize) {
    const auto want = Reference(*stereo, Unusual(), 4096);
    for (int block : {1, 97, 4096, 10000}) {
        SCOPED_TRACE(block);
        Ladspa plugin(stereo->rate);
        Audio got{stereo->rate, 2, plugin.render(*stereo, Controls(Unusual(), 2), block)};
        ExpectSameAudio(got, want, *stereo, 0.0f);
    }
}

TEST_F(LadspaPlugin, reportsTheProcessorsLatency) {
    kesta::Processor p;
    ASSERT_TRUE(p.prepare(stereo->rate, 2, 4096));
    Ladspa plugin(stereo->rate);
    plugin.render(*stereo, Controls(Unusual(), 2), 512);
    EXPECT_EQ(plugin.latency, static_cast<float>(p.latency()));
}

TEST_F(LadspaPlugin, activatingAgainStartsFromSilence) {
    Ladspa fresh(stereo->rate), used(stereo->rate);
    const kesta::Settings defaults;
    used.render(*stereo, Controls(Unusual(), 2), 1000);
    Audio got{stereo->rate, 2, used.render(*stereo, Controls(defaults, 2), 1000)};
    ExpectSameAudio(got, fresh.render(*stereo, Controls(defaults, 2), 1000), *stereo, 0.0f);
}

TEST_F(LadspaPlugin, controlsThatAreNotNumbersCountAsDefaultsAndSpreadIsClamped) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    kesta::Settings narrow;
    narrow.spreadDb = -18.0f;
    Audio in{stereo->rate, 2, std::vector<float>(stereo->samples.begin(), stereo->samples.begin() + 40000)};
    Ladspa a(in.rate), b(in.rate);
    Audio odd{in.rate, 2, a.render(in, {nan, inf, nan, -inf, nan, nan}, 700)};
    ExpectSameAudio(odd, Reference(in, kesta::Settings(), 700), in, 0.0f);
    Audio clamped{in.rate, 2, b.render(in, {-60.0f, 7.0f, 0.5f, 1.0f, 1.0f, 1.0f}, 700)};
    ExpectSameAudio(clamped, Reference(in, narrow, 700), in, 0.0f);
}

// In-place hosts hand the same buffer to an input and an output, some of
// them crosswise; the result must not change.
TEST_F(LadspaPlugin, sharedInputAndOutputBuffersGiveTheSameResult) {
    const long frames = 6000;
    const auto want = Reference(*stereo, Unusual(), 4096);
    for (bool crossed : {false, true}) {
        SCOPED_TRACE(crossed ? "crossed" : "in place");
        Ladspa plugin(stereo->rate);
        std::vector<float> left(frames), right(frames), controls = Controls(Unusual(), 2);
        for (long i = 0; i < frames; ++i)
            left[i] = stereo->samples[2 * i], right[i] = stereo->samples[2 * i + 1];
        plugin.connect(0, left.data());
        plugin.connect(1, right.data());
        plugin.connect(crossed ? 3 : 2, left.data());
        plugin.connect(crossed ? 2 : 3, right.data());
        for (unsigned long p = 0; p < controls.size(); ++p) plugin.connect(4 + p, &controls[p]);
        plugin.connect(4 + controls.size(), &plugin.latency);
        plugin.activate();
        plugin.run(frames);
        const auto& outL = crossed ? right : left;
        const auto& outR = crossed ? left : right;
        for (long i = 0; i < frames; ++i) {
            ASSERT_EQ(outL[i], want[2 * i]) << i;
            ASSERT_EQ(outR[i], want[2 * i + 1]) << i;
        }
    }
}

// lv2file, for one, writes the control values between activate and run.
TEST_F(LadspaPlugin, controlsWrittenAfterActivateApplyFromTheFirstFrame) {
    const long frames = 20000;
    kesta::Settings dry = Unusual();
    dry.widen = false;  // another path: a change to it would fade
    const auto want = Reference(*stereo, dry, 4096);
    Ladspa plugin(stereo->rate);
    std::vector<float> bufs[4], controls = Controls(kesta::Settings(), 2);
    for (unsigned long p = 0; p < 4; ++p) bufs[p].resize(frames), plugin.connect(p, bufs[p].data());
    for (unsigned long p = 0; p < controls.size(); ++p) plugin.connect(4 + p, &controls[p]);
    for (long i = 0; i < frames; ++i)
        bufs[0][i] = stereo->samples[2 * i], bufs[1][i] = stereo->samples[2 * i + 1];
    plugin.activate();
    const auto late = Controls(dry, 2);
    std::copy(late.begin(), late.end(), controls.begin());
    plugin.run(frames);
    for (long i = 0; i < frames; ++i) {
        ASSERT_EQ(bufs[2][i], want[2 * i]) << i;
        ASSERT_EQ(bufs[3][i], want[2 * i + 1]) << i;
    }
}

TEST_F(LadspaPlugin, allocatesNothingWhenActivatedOrRun) {
    // Kept in a volatile so that no compiler may elide the pair.
    EXPECT_EQ(AllocationsIn([] {
                  int* volatile p = new int(3);
                  delete p;
              }),
              1)
        << "the counter counts";
    Ladspa plugin(stereo->rate);
    std::vector<float> bufs[4], controls = Controls(Unusual(), 2);
    for (unsigned long p = 0; p < 4; ++p) bufs[p].assign(10000, 0.25f), plugin.connect(p, bufs[p].data());
    for (unsigned long p = 0; p < controls.size(); ++p) plugin.connect(4 + p, &controls[p]);
    plugin.connect(4 + controls.size(), &plugin.latency);
    EXPECT_EQ(AllocationsIn([&] {
                  plugin.activate();
                  for (unsigned long frames : {1ul, 7ul, 4096ul, 10000ul}) {
                      plugin.run(frames);
                      controls[0] -= 3.0f;  // settings change between runs
                      controls[1] = 1.0f - controls[1];
                  }
                  plugin.activate();
                  plugin.run(512);
              }),
              0);
}

}  // namespace
