// The float processor as hosts use it: block sizes, settings changes while
// audio runs, the paths' alignment, glides and fades, automatic mono and
// hostile input.
#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "CoreSignal.h"
#include "MonoDetector.h"
#include "Processor.h"

namespace {

using namespace core_test;
using kesta::Processor;
using kesta::Settings;

constexpr unsigned kRate = 44100;

// Settings for a path; without loudness matching, whose gain would differ
// between the streams that a test holds side by side.
Settings With(bool monoTo3D, bool music, bool widen, bool autoMono = true) {
    Settings s;
    s.monoTo3D = monoTo3D;
    s.music = music;
    s.widen = widen;
    s.autoMono = autoMono;
    s.match = false;
    return s;
}

// Input for a stream: channels 1 or 2; dualMono makes both channels equal.
std::vector<float> Input(int channels, int n, bool dualMono = false) {
    if (channels == 1) return Music(n, 3);
    return Interleave({Music(n, 3), dualMono ? Music(n, 3) : Music(n, 8)});
}

void ExpectNoSubnormals(const std::vector<float>& out) {
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_NE(std::fpclassify(out[i]), FP_SUBNORMAL) << "sample " << i;
}

// --- Block sizes -----------------------------------------------------------

struct SplitCase {
    const char* name;
    int channels;
    bool dualMono;
    Settings settings;
    std::vector<Event> events;  // settings changes at fixed frames
};

std::vector<SplitCase> SplitCases() {
    auto spread = [](float db) { return [db](Processor& p) { p.setSpread(db); }; };
    auto music = [](bool on) { return [on](Processor& p) { p.setMusic(on); }; };
    auto mono3d = [](bool on) { return [on](Processor& p) { p.setMonoTo3D(on); }; };
    auto widen = [](bool on) { return [on](Processor& p) { p.setWidening(on); }; };
    auto subtone = [](bool on) { return [on](Processor& p) { p.setSubtone(on); }; };
    return {
        {"MonoMusicToVoice",
         1,
         false,
         With(true, true, true),
         {{5001, music(false)}, {9000, subtone(false)}}},
        {"MonoVoiceToDry", 1, false, With(true, false, true), {{4999, mono3d(false)}}},
        {"MonoDryToMusic", 1, false, With(false, true, true), {{6007, mono3d(true)}}},
        {"StereoSpreadGlide",
         2,
         false,
         With(true, true, true),
         {{3001, spread(-12.0f)}, {7777, spread(-3.0f)}}},
        {"StereoWideningOffAndOn",
         2,
         false,
         With(true, true, true),
         {{4100, widen(false)}, {9100, widen(true)}}},
        {"DualMonoFoundMono", 2, true, With(true, true, true), {{15000, music(false)}}},
        {"DualMonoAutoMonoOff",
         2,
         true,
         With(true, false, true),
         {{20000, [](Processor& p) { p.setAutoMono(false); }}}},
    };
}

class BlockSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(BlockSplit, outputIsTheSameBitForBitHoweverTheStreamIsCut) {
    const SplitCase& c = GetParam();
    const int n = 30000;
    const std::vector<float> in = Input(c.channels, n, c.dualMono);
    auto render = [&](const std::function<int()>& sizes) {
        Processor p;
        Prepare(p, kRate, c.channels, c.settings);
        return Stream(p, in, sizes, c.events);
    };
    const std::vector<float> whole = render(Fixed(1 << 30));
    ExpectNoSubnormals(whole);
    const struct {
        const char* name;
        std::function<int()> sizes;
    } splits[] = {{"single frames", Fixed(1)},
                  {"7 frames", Fixed(7)},
                  {"random up to 700", RandomSizes(11, 700)},
                  {"random up to 5000", RandomSizes(5, 5000)}};
    for (const auto& split : splits) {
        const std::vector<float> out = render(split.sizes);
        for (size_t i = 0; i < whole.size(); ++i)
            ASSERT_EQ(out[i], whole[i]) << split.name << ", sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryMode, BlockSplit, ::testing::ValuesIn(SplitCases()),
                         [](const ::testing::TestParamInfo<SplitCase>& testInfo) {
                             return testInfo.param.name;
                         });

// Speech as hosts cut it: words with digital silence between them, short
// pauses and pauses long enough for the paths to rest, mono and the same
// on two channels, at the defaults (loudness matching and the limiter on)
// and in Voice mode: the same bit for bit at every call size.
TEST(ProcessorSilence, wordsBetweenSilencesComeOutTheSameHoweverTheStreamIsCut) {
    const int rate = static_cast<int>(kRate);
    const std::vector<std::pair<double, double>> words = {{0.02, 0.5}, {0.6, 1.1}, {2.9, 3.4}, {5.6, 5.9}};
    const int n = 6 * rate;
    std::vector<float> speech(static_cast<size_t>(n), 0.0f);
    const std::vector<float> voice = Music(n, 21, 0.6);
    for (const auto& w : words)
        for (int i = static_cast<int>(w.first * rate); i < static_cast<int>(w.second * rate); ++i)
            speech[static_cast<size_t>(i)] = voice[static_cast<size_t>(i)];
    Settings voiceMode;
    voiceMode.music = false;
    for (int channels : {1, 2})
        for (const Settings& settings : {Settings(), voiceMode}) {
            const std::vector<float> in = channels == 1 ? speech : Interleave({speech, speech});
            auto render = [&](int size) {
                Processor p;
                Prepare(p, kRate, channels, settings);
                return Stream(p, in, Fixed(size));
            };
            const std::vector<float> whole = render(1 << 30);
            // No word is lost: each is heard from its first 10 ms on.
            Processor probe;
            Prepare(probe, kRate, channels, settings);
            for (const auto& w : words) {
                const size_t at = static_cast<size_t>(w.first * rate), ten = kRate / 100;
                const size_t out = at + static_cast<size_t>(probe.latency());
                EXPECT_GT(Energy(Channel(whole, 0), out, out + ten), 0.1 * Energy(speech, at, at + ten))
                    << channels << " channels, the word at " << w.first << " s";
            }
            for (int size : {1, 7, 64, 512, 4096}) {
                const std::vector<float> out = render(size);
                for (size_t i = 0; i < whole.size(); ++i)
                    ASSERT_EQ(out[i], whole[i])
                        << channels << " channels, " << (settings.music ? "Music" : "Voice") << ", calls of "
                        << size << ", sample " << i << " (" << static_cast<double>(i / 2) / rate << " s)";
            }
        }
}

// Hosts run a plug-in over silence before the music reaches it (Ardour, a
// PipeWire filter): with the defaults, loudness matching on, what follows
// is what a stream that starts with the music gives, however long the
// silence, as long as the limiter has nothing to do.
TEST(ProcessorSilence, leadingSilenceDoesNotChangeWhatFollows) {
    const int n = 3 * static_cast<int>(kRate);
    for (int channels : {1, 2}) {
        const std::vector<float> in = Input(channels, n);
        Processor plain;
        Prepare(plain, kRate, channels, Settings());
        const std::vector<float> want = Stream(plain, in, Fixed(1024));
        for (int silence : {1, 777, 20000}) {
            std::vector<float> padded(static_cast<size_t>(silence * channels), 0.0f);
            padded.insert(padded.end(), in.begin(), in.end());
            Processor p;
            Prepare(p, kRate, channels, Settings());
            const std::vector<float> got = Stream(p, padded, Fixed(1024));
            ASSERT_EQ(std::vector<float>(got.begin() + 2 * silence, got.end()), want)
                << channels << " channels after " << silence << " frames of silence";
        }
    }
}

// --- Latency and alignment -------------------------------------------------

TEST(ProcessorLatency, isTheSameForEverySettingAndThePlainPathsAreExactlyThatLate) {
    for (unsigned rate : {8000u, 44100u, 48000u, 96000u, 192000u}) {
        for (int channels : {1, 2}) {
            Processor p;
            ASSERT_TRUE(p.prepare(rate, channels, 512));
            const int latency = p.latency();
            EXPECT_GT(latency, 0);
            // The dry path: mono on both sides, or stereo as it came, delayed.
            p.setMonoTo3D(false);
            p.setWidening(false);
            p.reset();
            const int n = 3000;
            const std::vector<float> in = Input(channels, n);
            const std::vector<float> out = Stream(p, in, RandomSizes(rate, 300));
            for (int i = 0; i < n; ++i)
                for (int c = 0; c < 2; ++c) {
                    const float expected =
                        i < latency ? 0.0f : in[static_cast<size_t>((i - latency) * channels + c % channels)];
                    ASSERT_EQ(out[2 * i + c], expected)
                        << rate << " Hz, " << channels << " channels, frame " << i;
                }
            EXPECT_EQ(p.latency(), latency) << "settings do not move the latency";
        }
    }
}

TEST(ProcessorLatency, everyPathsUnfilteredPartArrivesAtTheReportedFrame) {
    // An impulse through each path: the largest |left + right| (the mono
    // paths), or the largest |left| for a left impulse (the widener), lies at
    // latency() frames, so crossfades between paths blend aligned signals.
    struct Path {
        const char* name;
        int channels;
        Settings settings;
    } paths[] = {{"music", 1, With(true, true, true)},
                 {"voice", 1, With(true, false, true)},
                 {"widener", 2, With(true, true, true, false)}};
    for (unsigned rate : {22050u, 44100u, 48000u}) {
        for (const Path& path : paths) {
            Processor p;
            Prepare(p, rate, path.channels, path.settings);
            const int n = 2048, at = 300;
            std::vector<float> in(static_cast<size_t>(n * path.channels), 0.0f);
            in[static_cast<size_t>(at * path.channels)] = 0.5f;
            const std::vector<float> out = Stream(p, in, Fixed(n));
            int peak = 0;
            for (int i = 0; i < n; ++i) {
                auto size = [&](int k) {
                    return path.channels == 1 ? std::fabs(out[2 * k] + out[2 * k + 1])
                                              : std::fabs(out[2 * k]);
                };
                if (size(i) > size(peak)) peak = i;
            }
            EXPECT_EQ(peak - at, p.latency()) << path.name << " at " << rate;
        }
    }
}

// --- Glides and fades ------------------------------------------------------

// A stereo sine pair a quarter turn apart: plenty for the widener to work on.
std::vector<float> SinePair(int n, double hz = 440.0) {
    std::vector<float> l = Sine(n, hz, 0.5), r(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        r[static_cast<size_t>(i)] = static_cast<float>(0.5 * std::cos(2 * kPi * hz * i / kRate));
    return Interleave({l, r});
}

TEST(ProcessorGlides, aSpreadSweepMakesNoLargerStepThanTheUnsweptOutput) {
    const int n = 40000, block = 64;
    const std::vector<float> in = SinePair(n, 150.0);
    auto largestStep = [&](const std::vector<Event>& events) {
        Processor p;
        Settings s = With(true, true, true, false);
        s.limiter = false;  // the glide alone
        Prepare(p, kRate, 2, s);
        const std::vector<float> out = Stream(p, in, Fixed(block), events);
        return std::max(LargestStep(out, 0, 4000), LargestStep(out, 1, 4000));
    };
    const float unswept =
        std::max(largestStep({}), largestStep({{0, [](Processor& p) { p.setSpread(-18.0f); }}}));
    // A slow sweep, block by block, then jumps the whole range at once.
    std::vector<Event> sweep;
    for (int k = 0; k <= 180; ++k)
        sweep.push_back(
            {6000 + k * block, [k](Processor& p) { p.setSpread(-0.1f * static_cast<float>(k)); }});
    sweep.push_back({25000, [](Processor& p) { p.setSpread(0.0f); }});
    sweep.push_back({32000, [](Processor& p) { p.setSpread(-18.0f); }});
    EXPECT_LE(largestStep(sweep), unswept * 1.02f);
}

struct SwitchCase {
    const char* name;
    int channels;
    bool dualMono;
    Settings before;
    std::function<void(Processor&)> change;
};

class ProcessorSwitches : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(ProcessorSwitches, fadeWithoutAClick) {
    // Across the switch the output moves no faster than the steadier of the
    // two outputs it fades between.
    const SwitchCase& c = GetParam();
    const int n = 30000, at = 12000;
    std::vector<float> in;
    if (c.channels == 1)
        in = Sine(n, 300.0, 0.5);
    else
        in = c.dualMono ? Interleave({Sine(n, 300.0, 0.5), Sine(n, 300.0, 0.5)}) : SinePair(n);
    auto render = [&](bool switched, bool fromStart) {
        Processor p;
        Prepare(p, kRate, c.channels, c.before);
        std::vector<Event> events;
        if (switched) events.push_back({fromStart ? 0 : at, c.change});
        return Stream(p, in, Fixed(256), events);
    };
    const std::vector<float> before = render(false, false), after = render(true, true),
                             across = render(true, false);
    const float steady = std::max({LargestStep(before, 0, 2000), LargestStep(before, 1, 2000),
                                   LargestStep(after, 0, 2000), LargestStep(after, 1, 2000)});
    const float switching = std::max(LargestStep(across, 0, at - 1000), LargestStep(across, 1, at - 1000));
    EXPECT_LE(switching, steady * 1.05f);
    // And the switch did happen: the end matches the output switched from the start.
    for (int i = n - 2000; i < n; ++i) EXPECT_NEAR(across[2 * i], after[2 * i], 2e-3f) << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(ModesAndSwitches, ProcessorSwitches,
                         ::testing::Values(SwitchCase{"MusicToVoice", 1, false, With(true, true, true),
                                                      [](Processor& p) { p.setMusic(false); }},
                                           SwitchCase{"MonoTo3DOff", 1, false, With(true, false, true),
                                                      [](Processor& p) { p.setMonoTo3D(false); }},
                                           SwitchCase{"MonoTo3DOn", 1, false, With(false, true, true),
                                                      [](Processor& p) { p.setMonoTo3D(true); }},
                                           SwitchCase{"WideningOff", 2, false, With(true, true, true),
                                                      [](Processor& p) { p.setWidening(false); }},
                                           SwitchCase{"WideningOn", 2, false, With(true, true, false),
                                                      [](Processor& p) { p.setWidening(true); }},
                                           SwitchCase{"AutoMonoOff", 2, true, With(true, true, true),
                                                      [](Processor& p) { p.setAutoMono(false); }}),
                         [](const ::testing::TestParamInfo<SwitchCase>& testInfo) {
                             return testInfo.param.name;
                         });

// --- Automatic mono --------------------------------------------------------

// Pearson correlation of the two output channels over [from, to).
double Correlation(const std::vector<float>& out, int from, int to) {
    double lr = 0, ll = 0, rr = 0;
    for (int i = from; i < to; ++i) {
        const double l = out[2 * i], r = out[2 * i + 1];
        lr += l * r;
        ll += l * l;
        rr += r * r;
    }
    return lr / std::sqrt(ll * rr + 1e-30);
}

TEST(ProcessorAutoMono, equalChannelsGoThroughTheMonoEngineAndRealStereoComesBack) {
    // Two seconds of one signal on both channels, two of real stereo, two of
    // the same signal again.
    const int second = static_cast<int>(kRate), n = 6 * second;
    std::vector<float> l = Music(n, 3), r = Music(n, 3);
    const std::vector<float> other = Music(n, 8);
    for (int i = 2 * second; i < 4 * second; ++i) r[static_cast<size_t>(i)] = other[static_cast<size_t>(i)];
    const std::vector<float> in = Interleave({l, r});

    Processor on, off;
    Prepare(on, kRate, 2, With(true, true, true, true));
    Prepare(off, kRate, 2, With(true, true, true, false));
    const std::vector<float> auto3d = Stream(on, in, RandomSizes(2, 1000));
    const std::vector<float> widened = Stream(off, in, RandomSizes(2, 1000));
    const int latency = on.latency();

    // The widener leaves equal channels equal; the mono engine makes them differ.
    EXPECT_GT(Correlation(widened, second, 2 * second), 0.9999);
    EXPECT_LT(Correlation(auto3d, second, 2 * second), 0.8);
    // Not before half a second of equal channels.
    EXPECT_GT(Correlation(auto3d, latency, latency + second / 3), 0.9999);
    // Real stereo goes back to the widener within a fade (and the widener's settling).
    for (int i = 2 * second + latency + second / 4; i < 4 * second; ++i)
        ASSERT_NEAR(auto3d[2 * i], widened[2 * i], 1e-3f) << "frame " << i;
    EXPECT_LT(Correlation(auto3d, 5 * second, 6 * second), 0.8);
}

TEST(ProcessorAutoMono, oneFlipOfTheSettingWorksMidStreamAndMonoStreamsIgnoreIt) {
    const int n = 3 * static_cast<int>(kRate);
    const std::vector<float> in = Input(2, n, true);
    Processor p;
    Prepare(p, kRate, 2, With(true, true, true, false));
    const std::vector<float> out =
        Stream(p, in, Fixed(512), {{n / 3, [](Processor& q) { q.setAutoMono(true); }}});
    EXPECT_GT(Correlation(out, 0, n / 3), 0.9999);
    EXPECT_LT(Correlation(out, 2 * n / 3, n), 0.8);

    Processor mono, monoAuto;
    Prepare(mono, kRate, 1, With(true, true, true, false));
    Prepare(monoAuto, kRate, 1, With(true, true, true, true));
    const std::vector<float> x = Input(1, 20000);
    EXPECT_EQ(Stream(mono, x, Fixed(100)), Stream(monoAuto, x, Fixed(100)));
}

TEST(ProcessorAutoMono, aMonoTransferPlaysThroughTheMonoEngineOnItsChannelsLinedUp) {
    // One signal on both sides, the right 2 frames late and 0.5 dB lower:
    // after the switch the output is the mono engine's on the mean of the
    // channels lined up, as a mono stream of that mean plays.
    const int n = 3 * static_cast<int>(kRate), delay = 2;
    const std::vector<float> m = Music(n, 3);
    std::vector<float> l = m, r(m.size(), 0.0f), mid(m.size(), 0.0f);
    const float gain = std::pow(10.0f, -0.5f / 20.0f);
    for (int i = delay; i < n; ++i) r[static_cast<size_t>(i)] = gain * m[static_cast<size_t>(i - delay)];
    for (int i = delay; i < n; ++i)
        mid[static_cast<size_t>(i)] = 0.5f * (r[static_cast<size_t>(i)] + l[static_cast<size_t>(i - delay)]);
    Processor stereo, mono;
    Prepare(stereo, kRate, 2, With(true, true, true, true));
    Prepare(mono, kRate, 1, With(true, true, true, true));
    const std::vector<float> got = Stream(stereo, Interleave({l, r}), RandomSizes(5, 700));
    const std::vector<float> want = Stream(mono, mid, Fixed(512));
    for (int i = n - n / 6; i < n; ++i) {
        ASSERT_NEAR(got[2 * i], want[2 * i], 1e-3f) << "frame " << i;
        ASSERT_NEAR(got[2 * i + 1], want[2 * i + 1], 1e-3f) << "frame " << i;
    }
}

struct DetectorCase {
    const char* name;
    // Runs of hops: {count, level of the signal, difference between the
    // channels}; a difference of kOther puts another signal on the right.
    std::vector<std::array<double, 3>> runs;
    int switches;  // changes of state expected over the whole sequence
    bool monoAtEnd;
};

TEST(ProcessorAutoMono, theDetectorSwitchesOnlyOnClearEvidenceAndNeverFlutters) {
    const double equal = 1.0 / 200000, between = 1.0 / 30000, quiet = 1e-5, other = -1.0;
    const DetectorCase cases[] = {
        {"mono then stereo", {{200, 0.3, 0}, {1, 0.3, other}}, 2, false},
        {"equal for less than half a second", {{170, 0.3, equal}, {1, 0.3, other}, {170, 0.3, 0}}, 0, false},
        {"alternating equal and stereo",
         {{60, 0.3, 0},
          {5, 0.3, other},
          {60, 0.3, 0},
          {5, 0.3, other},
          {60, 0.3, 0},
          {5, 0.3, other},
          {60, 0.3, 0}},
         0,
         false},
        {"mono with silence between songs", {{200, 0.3, 0}, {300, quiet, 0}, {200, 0.3, equal}}, 1, true},
        {"silence alone is not mono", {{1000, 0.0, 0}, {1000, quiet, 0}}, 0, false},
        {"small differences keep mono", {{200, 0.3, between}, {200, 0.3, 0}, {400, 0.3, between}}, 1, true},
        // Not equal but nearly mono: found by the long window, not before it.
        {"nearly mono", {{400, 0.3, between}, {200, 0.3, between}}, 1, true},
        {"stereo then nearly mono soon after", {{200, 0.3, other}, {800, 0.3, between}}, 0, false},
    };
    for (const DetectorCase& c : cases) {
        kesta::MonoDetector detector;
        detector.prepare(kRate, 128);
        int switches = 0, hops = 0, firstMono = -1;
        bool mono = false;
        std::vector<float> left(128), right(128);
        for (const auto& run : c.runs) {
            for (int hop = 0; hop < static_cast<int>(run[0]); ++hop, ++hops) {
                for (int i = 0; i < 128; ++i) {
                    const double t = hop * 128 + i;
                    left[i] = static_cast<float>(run[1] * std::sin(0.05 * t));
                    right[i] = run[2] == other ? static_cast<float>(run[1] * std::sin(0.0311 * t + 1.0))
                                               : left[i] + static_cast<float>(i % 2 ? run[2] : -run[2]);
                }
                detector.measure(left.data(), right.data(), 128);
                switches += detector.endHop() != mono;
                mono = detector.mono();
                if (mono && firstMono < 0) firstMono = hops;
            }
        }
        EXPECT_EQ(switches, c.switches) << c.name;
        EXPECT_EQ(mono, c.monoAtEnd) << c.name;
        if (std::string(c.name) == "nearly mono") {
            EXPECT_NEAR(firstMono * 128.0 / kRate, kesta::MonoDetector::kWindowSeconds, 0.01) << c.name;
        }
    }
}

// --- Hostile input ---------------------------------------------------------

struct HostileCase {
    const char* name;
    float value;
    bool finite;
};

class ProcessorHostileInput : public ::testing::TestWithParam<HostileCase> {};

TEST_P(ProcessorHostileInput, replacesSamplesThatAreNotFiniteAloneAndClipsHugeOnes) {
    const HostileCase& h = GetParam();
    const int block = 300, n = 30 * block;
    const struct {
        int channels;
        Settings settings;
    } streams[] = {{1, With(true, true, true)},
                   {1, With(true, false, true)},
                   {2, With(true, true, true, false)},
                   {2, With(true, true, true, true)}};
    for (const auto& stream : streams) {
        std::vector<float> in = Input(stream.channels, n, stream.channels == 2 && stream.settings.autoMono);
        const int bad = 10 * block + 17;  // a frame of block 10
        // Three on the left, and on a stereo stream one on the right a frame
        // before them.
        std::vector<size_t> badSamples;
        for (int k = 0; k < 3; ++k) badSamples.push_back(static_cast<size_t>((bad + k) * stream.channels));
        if (stream.channels == 2) badSamples.push_back(static_cast<size_t>(2 * (bad - 1) + 1));
        for (size_t i : badSamples) in[i] = h.value;
        // (A +60 dBFS spike would hold the limiter down for a second.)
        Settings settings = stream.settings;
        settings.limiter = false;
        Processor p;
        Prepare(p, kRate, stream.channels, settings);
        const std::vector<float> out = Stream(p, in, Fixed(block));
        ExpectNoSubnormals(out);
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_TRUE(std::isfinite(out[i])) << h.name << ", sample " << i;
        if (h.finite) {
            // Clipped the same however the stream is cut.
            Processor cut;
            Prepare(cut, kRate, stream.channels, settings);
            EXPECT_EQ(Stream(cut, in, RandomSizes(7, 900)), out) << h.name;
            EXPECT_EQ(p.replacedSamples(), 0);
        } else {
            // Nothing but the bad samples is lost: the output is that of the
            // same input with zeros in their place, however it is cut.
            std::vector<float> zeroed = in;
            for (size_t i : badSamples) zeroed[i] = 0.0f;
            Processor z;
            Prepare(z, kRate, stream.channels, settings);
            EXPECT_EQ(Stream(z, zeroed, RandomSizes(7, 900)), out) << h.name;
            EXPECT_EQ(p.replacedSamples(), static_cast<long long>(badSamples.size()));
            EXPECT_EQ(p.firstReplacedFrame(), stream.channels == 2 ? bad - 1 : bad);
            EXPECT_EQ(z.replacedSamples(), 0);
            EXPECT_EQ(z.firstReplacedFrame(), -1);
        }
        // Sound again, and close to an untouched run once the bad stretch has left every path.
        EXPECT_GT(Energy(Channel(out, 0), 12 * block, 13 * block), 0.1);
        Processor clean;
        Prepare(clean, kRate, stream.channels, settings);
        std::vector<float> cleanIn =
            Input(stream.channels, n, stream.channels == 2 && stream.settings.autoMono);
        const std::vector<float> reference = Stream(clean, cleanIn, Fixed(block));
        double err = 0;
        for (int i = 25 * block; i < n; ++i)
            err = std::max(err, static_cast<double>(std::fabs(out[2 * i] - reference[2 * i])));
        EXPECT_LT(err, 0.05) << h.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ProcessorHostileInput,
    ::testing::Values(HostileCase{"NaN", std::numeric_limits<float>::quiet_NaN(), false},
                      HostileCase{"PlusInfinity", std::numeric_limits<float>::infinity(), false},
                      HostileCase{"MinusInfinity", -std::numeric_limits<float>::infinity(), false},
                      HostileCase{"Huge", 3.0e38f, true}, HostileCase{"FarAboveFullScale", 1.0e5f, true},
                      HostileCase{"Subnormal", 1.0e-40f, true}),
    [](const ::testing::TestParamInfo<HostileCase>& testInfo) { return testInfo.param.name; });

TEST(ProcessorHostileInput, subnormalInputAndDecayingTailsLeaveNoSubnormals) {
    for (int channels : {1, 2}) {
        const int n = 100000;
        std::vector<float> in = Input(channels, n);
        // Sound, then a decay down through the subnormal range, then silence.
        for (int i = 20000; i < n; ++i)
            for (int c = 0; c < channels; ++c) {
                const size_t k = static_cast<size_t>(i * channels + c);
                in[k] = i < 30000 ? in[k] * std::pow(1e-5f, static_cast<float>(i - 20000))
                                  : (i < 60000 ? 1e-42f : 0.0f);
            }
        Processor p;
        Prepare(p, kRate, channels, Settings());
        const std::vector<float> out = Stream(p, in, Fixed(512));
        ExpectNoSubnormals(out);
        for (int i = n - 1000; i < n; ++i) ASSERT_LT(std::fabs(out[2 * i]), 1e-20f) << "the tail dies away";
    }
}

// --- The interface ---------------------------------------------------------

TEST(ProcessorInterface, planarInPlaceAndInterleavedGiveTheSameSamples) {
    const int n = 9000;
    for (int channels : {1, 2}) {
        const std::vector<float> in = Input(channels, n);
        Processor a, b, c;
        for (Processor* p : {&a, &b, &c}) Prepare(*p, kRate, channels, Settings());
        const std::vector<float> interleaved = Stream(a, in, Fixed(333));
        std::vector<float> left(static_cast<size_t>(n)), right(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            left[static_cast<size_t>(i)] = in[static_cast<size_t>(i * channels)];
            right[static_cast<size_t>(i)] = in[static_cast<size_t>(i * channels + channels - 1)];
        }
        // Planar, in place (each output over its own input).
        for (int done = 0; done < n; done += 333) {
            const int k = std::min(333, n - done);
            const float* ins[2] = {left.data() + done, right.data() + done};
            float* outs[2] = {left.data() + done, right.data() + done};
            b.processPlanar(ins, outs, k);
        }
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(left[static_cast<size_t>(i)], interleaved[2 * i]);
            ASSERT_EQ(right[static_cast<size_t>(i)], interleaved[2 * i + 1]);
        }
        if (channels == 2) {
            std::vector<float> inPlace = in;
            for (int done = 0; done < n; done += 333)
                c.process(inPlace.data() + 2 * done, inPlace.data() + 2 * done, std::min(333, n - done));
            EXPECT_EQ(inPlace, interleaved);
        }
    }
}

TEST(ProcessorInterface, resetSilencesEverythingAndBehavesAsNewlyPrepared) {
    for (int channels : {1, 2}) {
        const std::vector<float> in = Input(channels, 20000);
        Processor used, fresh;
        Settings s = With(true, false, true);
        s.spreadDb = -7.0f;
        Prepare(used, kRate, channels, Settings());
        Stream(used, in, Fixed(1000));
        used.setSettings(s);
        used.reset();
        std::vector<float> silence(static_cast<size_t>(4000 * channels), 0.0f);
        for (float y : Stream(used, silence, Fixed(77))) ASSERT_EQ(y, 0.0f);
        used.reset();
        Prepare(fresh, kRate, channels, s);
        EXPECT_EQ(Stream(used, in, Fixed(500)), Stream(fresh, in, Fixed(500)));
    }
}

TEST(ProcessorInterface, prepareRefusesWhatItCannotRunAndAnUnpreparedProcessorWritesNothing) {
    Processor p;
    float in[4] = {0.1f, 0.2f, 0.3f, 0.4f}, out[4] = {9, 9, 9, 9};
    p.process(in, out, 2);
    EXPECT_EQ(out[0], 9.0f);
    EXPECT_FALSE(p.prepared());
    EXPECT_FALSE(p.prepare(0, 2, 64));
    EXPECT_FALSE(p.prepare(44100, 3, 64));
    EXPECT_FALSE(p.prepare(44100, 0, 64));
    EXPECT_FALSE(p.prepare(44100, 2, 0));
    EXPECT_EQ(p.latency(), 0);
    ASSERT_TRUE(p.prepare(44100, 2, 64));
    EXPECT_EQ(p.rate(), 44100u);
    EXPECT_EQ(p.channels(), 2);
    EXPECT_FALSE(p.prepare(44100, 5, 64)) << "a failed prepare leaves the processor unprepared";
    EXPECT_FALSE(p.prepared());
    p.process(in, out, 2);
    EXPECT_EQ(out[0], 9.0f);
}

TEST(ProcessorInterface, spreadIsClampedAndNotANumberCountsAsZero) {
    Processor p;
    const struct {
        float given, kept;
    } cases[] = {{-6.5f, -6.5f},
                 {-40.0f, -18.0f},
                 {3.0f, 0.0f},
                 {-std::numeric_limits<float>::infinity(), -18.0f},
                 {std::numeric_limits<float>::quiet_NaN(), 0.0f}};
    for (const auto& c : cases) {
        p.setSpread(c.given);
        EXPECT_EQ(p.settings().spreadDb, c.kept) << c.given;
    }
    Settings s = With(false, false, false, false);
    s.subtone = false;
    s.spreadDb = -4.0f;
    p.setSettings(s);
    const Settings got = p.settings();
    EXPECT_EQ(got.monoTo3D, false);
    EXPECT_EQ(got.music, false);
    EXPECT_EQ(got.widen, false);
    EXPECT_EQ(got.subtone, false);
    EXPECT_EQ(got.autoMono, false);
    EXPECT_EQ(got.spreadDb, -4.0f);
}

}  // namespace
