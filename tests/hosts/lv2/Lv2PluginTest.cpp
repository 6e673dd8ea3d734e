// The binary of kesta.lv2 loaded into this program as a host loads it,
// checked against the float processor it adapts. The port handling it shares
// with the LADSPA plug-in is tested there; here: the two descriptors, and the
// mono-in plug-in.
#include <dlfcn.h>
#include <lv2/core/lv2.h>

#include <limits>

#include "AllocationCounter.h"
#include "PluginHarness.h"

namespace {

using namespace plugin_test;

const LV2_Descriptor* Descriptor(uint32_t index) {
    static void* library = dlopen(KESTA_LV2_BINARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor"));
    return entry ? entry(index) : nullptr;
}

class Lv2 : public PortHost {
  public:
    Lv2(uint32_t index, double rate)
        : d_(Descriptor(index)),
          h_(d_ ? d_->instantiate(d_, rate, KESTA_LV2_BUNDLE "/", kNoFeatures) : nullptr) {}
    ~Lv2() override {
        if (h_) d_->cleanup(h_);
    }
    bool ok() const { return h_ != nullptr; }
    void connect(unsigned long port, float* data) override {
        d_->connect_port(h_, static_cast<uint32_t>(port), data);
    }
    void activate() override { d_->activate(h_); }
    void run(unsigned long frames) override { d_->run(h_, static_cast<uint32_t>(frames)); }

  private:
    static constexpr const LV2_Feature* kNoFeatures[] = {nullptr};
    const LV2_Descriptor* d_;
    LV2_Handle h_;
};

enum : uint32_t { kStereo = 0, kMono = 1 };

TEST(Lv2Descriptor, twoPluginsUnderTheBundlesUris) {
    ASSERT_NE(Descriptor(kStereo), nullptr) << dlerror();
    EXPECT_STREQ(Descriptor(kStereo)->URI, KESTA_LV2_URI_BASE "stereo");
    EXPECT_STREQ(Descriptor(kMono)->URI, KESTA_LV2_URI_BASE "mono");
    EXPECT_EQ(Descriptor(2), nullptr);
}

// A rate is a whole number of Hz: a fraction is refused, not rounded.
TEST(Lv2Descriptor, instantiationNeedsAWholeRate) {
    for (double rate : {0.0, 0.5, -44100.0, 44100.5, std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(rate);
        EXPECT_FALSE(Lv2(kMono, rate).ok());
    }
    for (double rate : {8000.0, 44100.0, 192000.0}) EXPECT_TRUE(Lv2(kMono, rate).ok()) << rate;
}

class Lv2MonoPlugin : public ::testing::TestWithParam<kesta::Settings> {
  protected:
    static void SetUpTestSuite() {
        TempDir dir;
        mono = new Audio(ReadAudio(MakeSpeech(dir, 48000, 1)));
    }
    static void TearDownTestSuite() { delete mono; }
    static Audio* mono;
};
Audio* Lv2MonoPlugin::mono;

TEST_P(Lv2MonoPlugin, isTheProcessorOnAMonoStreamInAnyBlockSize) {
    const auto want = Reference(*mono, GetParam(), 4096);
    for (int block : {1, 4096}) {
        SCOPED_TRACE(block);
        Lv2 plugin(kMono, mono->rate);
        Audio got{mono->rate, 2, plugin.render(*mono, Controls(GetParam(), 1), block)};
        ExpectSameAudio(got, want, *mono, 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, Lv2MonoPlugin, ::testing::Values(kesta::Settings{}, [] {
                             kesta::Settings voice;
                             voice.music = false;
                             voice.subtone = false;
                             return voice;
                         }()));

// An in-place host hands the input's buffer to one of the outputs.
TEST_F(Lv2MonoPlugin, sharingTheInputsBufferWithAnOutputGivesTheSameResult) {
    const long frames = 9000;
    const auto want = Reference(*mono, kesta::Settings{}, 4096);
    for (unsigned long shared : {1ul, 2ul}) {
        SCOPED_TRACE(shared == 1 ? "left" : "right");
        Lv2 plugin(kMono, mono->rate);
        std::vector<float> io(mono->samples.begin(), mono->samples.begin() + frames), other(frames);
        std::vector<float> controls = Controls(kesta::Settings{}, 1);
        plugin.connect(0, io.data());
        plugin.connect(shared, io.data());
        plugin.connect(3 - shared, other.data());
        for (unsigned long p = 0; p < controls.size(); ++p) plugin.connect(3 + p, &controls[p]);
        plugin.connect(3 + controls.size(), &plugin.latency);
        plugin.activate();
        plugin.run(frames);
        const auto& left = shared == 1 ? io : other;
        const auto& right = shared == 1 ? other : io;
        for (long i = 0; i < frames; ++i) {
            ASSERT_EQ(left[i], want[2 * i]) << i;
            ASSERT_EQ(right[i], want[2 * i + 1]) << i;
        }
    }
}

TEST_F(Lv2MonoPlugin, activatingAgainStartsFromSilenceWithoutAllocating) {
    kesta::Settings voice;
    voice.music = false;
    Lv2 fresh(kMono, mono->rate), used(kMono, mono->rate);
    used.render(*mono, Controls(kesta::Settings{}, 1), 333);
    std::vector<float> second(2 * static_cast<size_t>(mono->frames()));
    used.connectAll(1, Controls(voice, 1), 333);
    EXPECT_EQ(AllocationsIn([&] { used.stream(*mono, second); }), 0);
    ExpectSameAudio(Audio{mono->rate, 2, second}, fresh.render(*mono, Controls(voice, 1), 333), *mono, 0.0f);
}

}  // namespace
