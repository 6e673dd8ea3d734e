// kesta.lv2 as users meet it: its descriptions through the validators, and
// both plug-ins run headless by lv2file, lv2apply and ffmpeg, whose written
// audio must be the float processor's output for the same settings.
#include <cstdlib>

#include "PluginHarness.h"

namespace {

using namespace plugin_test;

const std::string kBundle = KESTA_LV2_BUNDLE;

TEST(Lv2Bundle, descriptionsPassTheValidator) {
    std::string said;
    RunCommand("lv2_validate " + kBundle + "/manifest.ttl " + kBundle + "/kesta.ttl", &said);
    // It exits 0 whatever it finds: the text is the verdict.
    EXPECT_NE(said.find("Found 0 errors"), std::string::npos) << said;
    EXPECT_EQ(said.find("warning"), std::string::npos) << said;
}

TEST(Lv2Bundle, descriptionsAreTurtle) {
    for (const char* file : {"manifest.ttl", "kesta.ttl"}) {
        SCOPED_TRACE(file);
        std::string triples;
        EXPECT_EQ(
            RunCommand("serdi -i turtle -o ntriples " + kBundle + "/" + file + " 2>/dev/null", &triples), 0);
        std::string errors;
        RunCommand("serdi -q " + kBundle + "/" + file + " >/dev/null", &errors);
        EXPECT_EQ(errors, "");
        for (const char* name : {"stereo", "mono"})
            EXPECT_NE(triples.find("<" KESTA_LV2_URI_BASE + std::string(name) + "> "), std::string::npos)
                << name;
    }
}

// What hosts read through lilv: the vendor (Audacity shows "n/a" without
// one) and the latency port (Audacity compensates only a port it finds so).
TEST(Lv2Bundle, hostsFindTheVendorAndTheLatencyPort) {
    for (const char* name : {"stereo", "mono"}) {
        std::string said;
        RunCommand("LV2_PATH=" + kBundle + "/.. lv2info " KESTA_LV2_URI_BASE + std::string(name), &said);
        EXPECT_NE(said.find("Author:            Orvane"), std::string::npos) << said;
        EXPECT_NE(said.find("Has latency:       yes"), std::string::npos) << said;
    }
}

enum Host { kLv2file, kLv2apply, kFfmpeg, kGstreamer };

struct HostCase {
    const char* name;
    Host host;
    int inputs;  // 2: the stereo plug-in, 1: the mono one
    unsigned rate;
    kesta::Settings settings;
    bool pause = false;  // digital silence between the words
};

void PrintTo(const HostCase& c, std::ostream* os) {
    *os << c.name;
}

std::string Command(const HostCase& c, const std::string& in, const std::string& out) {
    const std::string uri = KESTA_LV2_URI_BASE + std::string(c.inputs == 2 ? "stereo" : "mono");
    const auto values = Controls(c.settings, c.inputs);
    const auto symbols = ControlSymbols(c.inputs);
    std::string cmd = "LV2_PATH=" + kBundle + "/.. ";
    switch (c.host) {
        case kLv2file:
            cmd += "lv2file -i " + in + " -o " + out;
            for (size_t i = 0; i < values.size(); ++i)
                cmd += " -p " + symbols[i] + ":" + std::to_string(values[i]);
            return cmd + " " + uri;
        case kLv2apply:
            cmd += "lv2apply -i " + in + " -o " + out;
            for (size_t i = 0; i < values.size(); ++i)
                cmd += " -c " + symbols[i] + " " + std::to_string(values[i]);
            return cmd + " " + uri;
        case kFfmpeg: {
            std::string escaped = uri;
            for (size_t at = 0; (at = escaped.find(':', at)) != std::string::npos; at += 3)
                escaped.replace(at, 1, "\\\\:");
            cmd +=
                "ffmpeg -nostdin -hide_banner -loglevel error -y -i " + in + " -af 'lv2=p=" + escaped + ":c=";
            for (size_t i = 0; i < values.size(); ++i)
                cmd += (i ? "|" : "") + symbols[i] + "=" + std::to_string(values[i]);
            return cmd + "' -c:a pcm_f32le " + out;
        }
        case kGstreamer:
            // The README's recipe with only the spread set: the other
            // controls must keep their defaults.
            return cmd + "gst-launch-1.0 -q filesrc location=" + in +
                   " ! decodebin ! audioconvert ! kesta-example-plugins-stereo spread=" +
                   std::to_string(values[0]) +
                   " ! audioconvert ! audio/x-raw,format=F32LE ! wavenc ! filesink location=" + out;
    }
    return cmd;
}

class Lv2Host : public ::testing::TestWithParam<HostCase> {};

TEST_P(Lv2Host, writesTheProcessorsOutput) {
#ifdef KESTA_SANITIZED
    GTEST_SKIP() << "an instrumented plug-in cannot be loaded into an uninstrumented host";
#endif
    const HostCase& c = GetParam();
    TempDir dir;
    // lv2file and lv2apply write the sample format they read.
    const std::string speech = MakeSpeech(dir, c.rate, c.inputs, true, c.pause);
    const Audio in = ReadAudio(speech);
    std::string said;
    ASSERT_EQ(RunCommand(PrivateHome(dir) + Command(c, speech, dir / "out.wav"), &said), 0) << said;
    const Audio got = ReadAudio(dir / "out.wav");
    ASSERT_EQ(got.rate, c.rate);
    // lv2file runs 512-frame blocks, lv2apply single frames, ffmpeg what it
    // reads; with pauses, what the processor gives in 4096-frame blocks,
    // which must be the same.
    const int block = c.pause ? 4096 : c.host == kLv2apply ? 1 : 512;
    ExpectSameAudio(got, Reference(in, c.settings, block), in);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, Lv2Host,
    ::testing::Values(HostCase{"lv2file_stereo_44100_spread", kLv2file, 2, 44100, With(-6.0f)},
                      HostCase{"lv2file_mono_96000_voice", kLv2file, 1, 96000, With(0.0f, false)},
                      HostCase{"lv2apply_mono_44100_no_subtone", kLv2apply, 1, 44100,
                               With(0.0f, true, false)},
                      HostCase{"lv2apply_stereo_96000_spread", kLv2apply, 2, 96000, With(-12.0f)},
                      HostCase{"lv2apply_dual_mono_pause", kLv2apply, 2, 44100, kesta::Settings(), true},
                      HostCase{"lv2file_mono_pause", kLv2file, 1, 48000, kesta::Settings(), true},
                      HostCase{"ffmpeg_stereo_44100_no_subtone", kFfmpeg, 2, 44100, With(-2.0f, true, false)},
                      HostCase{"ffmpeg_stereo_96000_spread", kFfmpeg, 2, 96000, With(-15.0f)},
                      HostCase{"gstreamer_stereo_spread_only", kGstreamer, 2, 48000, With(-6.0f)}),
    [](const ::testing::TestParamInfo<HostCase>& testInfo) { return std::string(testInfo.param.name); });

// Audacity 3.2 headless, the bundle in ~/.lv2 (and the LADSPA plug-in in
// ~/.ladspa, as the packages install both), the effect applied by its name
// to a whole stereo track and the track exported (16-bit, with Audacity's
// dither): Audacity takes the reported latency out, so the result lines up
// with the input and keeps its end. The LADSPA plug-in, whose result lags,
// has a name of its own and does not stand in for it.
TEST(Lv2Audacity, alignsTheResultWithTheInput) {
#ifdef KESTA_SANITIZED
    GTEST_SKIP() << "an instrumented plug-in cannot be loaded into an uninstrumented host";
#endif
    if (RunCommand("command -v audacity && command -v xvfb-run") != 0)
        GTEST_SKIP() << "needs audacity and xvfb (scripts/setup.sh installs them)";
    TempDir dir;
    const std::string speech = MakeSpeech(dir, 48000, 2);
    std::string said;
#ifdef KESTA_LADSPA_PATH
    const std::string ladspa = " --ladspa " KESTA_LADSPA_PATH;
#else
    const std::string ladspa;
#endif
    ASSERT_EQ(
        RunAudacity(speech, dir / "out.wav", "Kesta3dSound(stereo):", "--lv2 " + kBundle + ladspa, &said), 0)
        << said;
    const Audio in = ReadAudio(speech);
    kesta::Processor p;
    ASSERT_TRUE(p.prepare(in.rate, 2, 1024));
    Audio longer = in;
    longer.samples.resize(longer.samples.size() + 2 * static_cast<size_t>(p.latency()));
    auto want = Reference(longer, With(0.0f), 1024);
    want.erase(want.begin(), want.begin() + 2 * p.latency());
    ExpectSameAudio(ReadAudio(dir / "out.wav"), want, in, 5e-4f);
}

}  // namespace
