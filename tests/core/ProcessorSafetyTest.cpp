// What keeps the processor kind to the ears: every switch of a control is
// free of clicks at any rate, tails end in exact zeros through every path,
// and the limiter holds real music under -1 dBFS without touching what stays
// below it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "CoreSignal.h"
#include "Limiter.h"
#include "MonoDetector.h"
#include "Processor.h"

namespace {

using namespace core_test;
using kesta::Processor;
using kesta::Settings;

// 40 Hz and 300 Hz, on each channel at its own phases.
std::vector<float> LowPair(int n, int channels, double rate, bool dualMono = false) {
    std::vector<float> out(static_cast<size_t>(n * channels));
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c) {
            const double shift = dualMono ? 0.0 : 1.3 * c;
            out[static_cast<size_t>(i * channels + c)] =
                static_cast<float>(0.25 * std::sin(2 * kPi * 40.0 * i / rate + shift) +
                                   0.15 * std::sin(2 * kPi * 300.0 * i / rate + 2 * shift));
        }
    return out;
}

// The largest step of channel c over frames [from, to).
float StepIn(const std::vector<float>& out, int c, int from, int to) {
    float step = 0.0f;
    for (int i = std::max(from, 1); i < to; ++i)
        step = std::max(
            step, std::fabs(out[2 * static_cast<size_t>(i) + c] - out[2 * static_cast<size_t>(i - 1) + c]));
    return step;
}

struct Switch {
    const char* name;
    int channels;
    bool dualMono;
    Settings before;
    void (*change)(Processor&);
    double wait;  // seconds from the switch to the change of path (the detector's run)
};

Settings With(void (*edit)(Settings&)) {
    Settings s;
    edit(s);
    return s;
}

const Switch kSwitches[] = {
    {"Subtone off", 2, false, Settings(), [](Processor& p) { p.setSubtone(false); }, 0},
    {"Subtone on", 2, false, With([](Settings& s) { s.subtone = false; }),
     [](Processor& p) { p.setSubtone(true); }, 0},
    {"mono Subtone off", 1, false, Settings(), [](Processor& p) { p.setSubtone(false); }, 0},
    {"mono Subtone on", 1, false, With([](Settings& s) { s.subtone = false; }),
     [](Processor& p) { p.setSubtone(true); }, 0},
    {"widening off", 2, false, Settings(), [](Processor& p) { p.setWidening(false); }, 0},
    {"widening on", 2, false, With([](Settings& s) { s.widen = false; }),
     [](Processor& p) { p.setWidening(true); }, 0},
    {"mono-to-3D off", 1, false, Settings(), [](Processor& p) { p.setMonoTo3D(false); }, 0},
    {"mono-to-3D on", 1, false, With([](Settings& s) { s.monoTo3D = false; }),
     [](Processor& p) { p.setMonoTo3D(true); }, 0},
    {"Music to Voice", 1, false, Settings(), [](Processor& p) { p.setMusic(false); }, 0},
    {"Voice to Music", 1, false, With([](Settings& s) { s.music = false; }),
     [](Processor& p) { p.setMusic(true); }, 0},
    {"automatic mono off", 2, true, Settings(), [](Processor& p) { p.setAutoMono(false); }, 0},
    {"automatic mono on", 2, true, With([](Settings& s) { s.autoMono = false; }),
     [](Processor& p) { p.setAutoMono(true); }, kesta::MonoDetector::kEqualSeconds},
    {"spread -18 to 0", 2, false, With([](Settings& s) { s.spreadDb = -18.0f; }),
     [](Processor& p) { p.setSpread(0.0f); }, 0},
};

TEST(ProcessorSwitchClicks, noSwitchStepsMoreThanHalfAgainTheSteadyOutputAtAnyRate) {
    for (double rate : {8000.0, 44100.0, 96000.0, 192000.0}) {
        for (const Switch& sw : kSwitches) {
            SCOPED_TRACE(std::string(sw.name) + " at " + std::to_string(static_cast<int>(rate)) + " Hz");
            const int second = static_cast<int>(rate);
            const int start = second * 6 / 10;  // the first switch: past the detector's run, if any
            const int n = start + second / 25 + static_cast<int>((sw.wait + 0.3) * rate);
            const std::vector<float> in = LowPair(n, sw.channels, rate, sw.dualMono);
            auto render = [&](int at) {
                Processor p;
                Prepare(p, static_cast<unsigned>(rate), sw.channels, sw.before);
                std::vector<Event> events;
                if (at >= 0) events.push_back({at, sw.change});
                return Stream(p, in, RandomSizes(static_cast<uint32_t>(at + 2), 700), events);
            };
            Processor probe;
            Prepare(probe, static_cast<unsigned>(rate), sw.channels, sw.before);
            const int window = probe.latency() + second / 10 + static_cast<int>(sw.wait * rate);
            const std::vector<float> before = render(-1), after = render(0);
            // Switches at block boundaries all over a period of 40 Hz.
            float worst = 0.0f;
            for (int k = 0; k < 10; ++k) {
                const int at = start + k * second / 400 + k;
                const std::vector<float> across = render(at);
                for (int c = 0; c < 2; ++c) {
                    const float steady = std::max(StepIn(before, c, second / 5, at + window),
                                                  StepIn(after, c, second / 5, at + window));
                    worst = std::max(worst, StepIn(across, c, at, at + window) / steady);
                }
            }
            EXPECT_LE(worst, 1.5f);
        }
    }
}

// A mono signal, then silence: every path ends in exact zeros (no
// denormals on the way), and the processor keeps them once there.
TEST(ProcessorTails, tenSecondsOfSilenceEndInExactZerosThroughEveryPath) {
    struct Path {
        const char* name;
        int channels;
        bool dualMono;
        Settings settings;
    } paths[] = {{"Music", 1, false, Settings()},
                 {"Voice", 1, false, With([](Settings& s) { s.music = false; })},
                 {"Music flat", 1, false, With([](Settings& s) { s.subtone = false; })},
                 {"Voice flat", 1, false, With([](Settings& s) {
                      s.music = false;
                      s.subtone = false;
                  })},
                 {"dry", 1, false, With([](Settings& s) { s.monoTo3D = false; })},
                 {"widener", 2, false, Settings()},
                 {"widener flat", 2, false, With([](Settings& s) { s.subtone = false; })},
                 {"automatic mono", 2, true, Settings()}};
    const int rate = 44100, sound = 2 * rate, n = sound + 10 * rate;
    for (const Path& path : paths) {
        std::vector<float> in = LowPair(n, path.channels, rate, path.dualMono);
        const std::vector<float> music = Music(sound, 5, 0.5);
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < path.channels; ++c)
                in[static_cast<size_t>(i * path.channels + c)] =
                    i < sound ? music[static_cast<size_t>(i)] : 0.0f;
        Processor p;
        Prepare(p, rate, path.channels, path.settings);
        const std::vector<float> out = Stream(p, in, RandomSizes(3, 2000));
        int last = 0;  // the last frame that is not exactly zero
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < 2; ++c) {
                const float x = out[2 * static_cast<size_t>(i) + c];
                ASSERT_NE(std::fpclassify(x), FP_SUBNORMAL) << path.name << ", frame " << i;
                if (x != 0.0f) last = i;
            }
        }
        EXPECT_LT(last, sound + rate) << path.name << ": zero within a second of silence";
    }
}

// --- The limiter ---------------------------------------------------------

const float kCeilingDb = -1.0f;

// Up to seconds of a recording from the Debian packages the set-up script
// installs, decoded to interleaved stereo float at its own rate, or empty.
std::vector<float> Recording(const char* path, double seconds, int* rate, int at = 22050) {
    *rate = at;
    const std::string command = std::string("ffmpeg -v error -i '") + path + "' -t " +
                                std::to_string(seconds) + " -ac 2 -ar " + std::to_string(at) +
                                " -f f32le - 2>/dev/null";
    std::vector<float> out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        float buffer[4096];
        size_t got;
        while ((got = fread(buffer, sizeof(float), 4096, pipe)) > 0)
            out.insert(out.end(), buffer, buffer + got);
        pclose(pipe);
    }
    return out;
}

float PeakOf(const std::vector<float>& x) {
    float peak = 0.0f;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    return peak;
}

std::vector<float> ScaledTo(std::vector<float> x, float peakDb) {
    const float scale = std::pow(10.0f, peakDb / 20.0f) / PeakOf(x);
    for (float& v : x) v *= scale;
    return x;
}

TEST(ProcessorLimiter, realMusicAtFullScaleStaysUnderTheCeilingAndQuietMusicIsUntouched) {
    const char* const tracks[] = {"/usr/share/games/asc/music/frontiers.mp3",
                                  "/usr/share/games/asc/music/time_to_strike.mp3"};
    for (const char* track : tracks) {
        int rate = 0;
        const std::vector<float> recording = Recording(track, 60.0, &rate);
        if (recording.empty())
            GTEST_SKIP() << track << " is missing (package asc-music; scripts/setup.sh installs it)";
        const std::vector<float> loud = ScaledTo(recording, 0.0f);
        // (Without loudness matching, which would lower these tracks under the
        // ceiling on its own.)
        Processor on, off;
        Prepare(on, static_cast<unsigned>(rate), 2, With([](Settings& s) { s.match = false; }));
        Prepare(off, static_cast<unsigned>(rate), 2, With([](Settings& s) {
                    s.limiter = false;
                    s.match = false;
                }));
        const std::vector<float> limited = Stream(on, loud, RandomSizes(9, 4096));
        EXPECT_LE(20 * std::log10(PeakOf(limited)), kCeilingDb) << track;
        on.reset();
        EXPECT_EQ(Stream(on, loud, RandomSizes(2, 50)), limited) << "the same however the stream is cut";
        // Without it the same music clips: the limiter had work to do.
        EXPECT_GT(PeakOf(Stream(off, loud, RandomSizes(9, 4096))), 1.0f) << track;

        const std::vector<float> quiet = ScaledTo(recording, -20.0f);
        on.reset();
        off.reset();
        EXPECT_EQ(Stream(on, quiet, RandomSizes(4, 4096)), Stream(off, quiet, Fixed(1024))) << track;
    }
}

// The true peak of interleaved stereo in dBTP: the largest magnitude of
// either channel 4x oversampled (a windowed sinc, 32 taps a side).
double TruePeakDb(const std::vector<float>& x) {
    const int side = 32;
    double h[3][2 * side];
    for (int p = 1; p <= 3; ++p)
        for (int k = 0; k < 2 * side; ++k) {
            const double u = p / 4.0 - (k - side + 1), r = u / side;
            h[p - 1][k] = std::sin(kPi * u) / (kPi * u) *
                          std::cyl_bessel_i(0.0, 8.0 * std::sqrt(1.0 - r * r)) / std::cyl_bessel_i(0.0, 8.0);
        }
    double peak = 0;
    const size_t frames = x.size() / 2;
    for (int c = 0; c < 2; ++c)
        for (size_t t = side; t + side < frames; ++t) {
            peak = std::max(peak, static_cast<double>(std::fabs(x[2 * t + c])));
            for (const auto& phase : h) {
                double y = 0;
                for (int k = 0; k < 2 * side; ++k) y += phase[k] * x[2 * (t - side + 1 + k) + c];
                peak = std::max(peak, std::fabs(y));
            }
        }
    return 20 * std::log10(peak);
}

TEST(ProcessorLimiter, realMusicAtFullScaleStaysUnderTheCeilingAsATruePeak) {
    const char* const track = "/usr/share/games/etr/music/spunkyrace-ks.ogg";
    for (int at : {44100, 48000, 96000}) {
        int rate = 0;
        const std::vector<float> music = ScaledTo(Recording(track, 12.0, &rate, at), 0.0f);
        if (music.empty()) GTEST_SKIP() << track << " is missing (package extremetuxracer-data)";
        Processor p;
        Prepare(p, static_cast<unsigned>(rate), 2, Settings());
        const double peak = TruePeakDb(Stream(p, music, Fixed(1024)));
        std::printf("%d Hz: %.3f dBTP\n", rate, peak);
        EXPECT_LE(peak, kCeilingDb) << rate;
    }
}

// THD+N of x at hz: what is left once the best-fitting sine at hz (and the
// mean) is taken out, against that sine, in dB.
double ThdN(const std::vector<double>& x, double hz, double rate) {
    double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = 2 * kPi * hz * static_cast<double>(i) / rate;
        const double s = std::sin(t), c = std::cos(t);
        ss += s * s, sc += s * c, cc += c * c, xs += x[i] * s, xc += x[i] * c;
    }
    const double det = ss * cc - sc * sc, a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    double signal = 0, rest = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = 2 * kPi * hz * static_cast<double>(i) / rate;
        const double fit = a * std::sin(t) + b * std::cos(t);
        signal += fit * fit;
        rest += (x[i] - fit) * (x[i] - fit);
    }
    return 10 * std::log10(rest / signal);
}

// The engines off and no matching: the limiter alone after the input,
// delayed by the processor's latency.
Settings LimiterOnly(bool on) {
    Settings s;
    s.monoTo3D = s.widen = s.match = false;
    s.limiter = on;
    return s;
}

std::vector<float> Through(const Settings& s, const std::vector<float>& stereo, unsigned rate) {
    Processor p;
    Prepare(p, rate, 2, s);
    return Stream(p, stereo, Fixed(1024));
}

TEST(ProcessorLimiter, sinesOverTheCeilingComeOutUndistortedAndBothChannelsShareOneGain) {
    // A sine on the left, the same at half level on the right.
    const struct {
        double hz, overDb, thdN;
    } cases[] = {{50, 3, -55}, {50, 6, -55}, {50, 12, -55}, {1000, 12, -70}};
    for (unsigned rate : {44100u, 96000u}) {
        for (const auto& c : cases) {
            const int n = static_cast<int>(rate);
            const double over = std::pow(10.0, (kCeilingDb + c.overDb) / 20.0);
            const std::vector<float> left = Sine(n, c.hz, over, rate), right = Sine(n, c.hz, over / 2, rate);
            const std::vector<float> out = Through(LimiterOnly(true), Interleave({left, right}), rate);
            std::vector<double> settled;
            for (int i = n / 2; i < n; ++i) {
                const float l = out[2 * static_cast<size_t>(i)], r = out[2 * static_cast<size_t>(i) + 1];
                ASSERT_LE(std::fabs(l), kesta::Limiter::kCeiling);
                ASSERT_NEAR(r, l / 2, 1e-6f) << "one gain on both channels, at " << i;
                settled.push_back(l);
            }
            const double thdN = ThdN(settled, c.hz, rate);
            std::printf("%4.0f Hz %2.0f dB over at %u Hz: THD+N %.1f dB\n", c.hz, c.overDb, rate, thdN);
            EXPECT_LE(thdN, c.thdN) << c.hz << " Hz " << c.overDb << " dB over at " << rate;
            EXPECT_GT(20 * std::log10(PeakOf(out)), kCeilingDb - 0.1f)
                << "held at the ceiling, not far below";
        }
    }
}

TEST(ProcessorLimiter, aShortOverReleasesToTheInputBitForBitWithinHalfASecond) {
    // Music at -20 dBFS with one 5 ms burst 6 dB over the ceiling.
    const unsigned rate = 48000;
    const int n = 2 * static_cast<int>(rate), at = static_cast<int>(rate / 2);
    std::vector<float> left = Music(n, 3, 0.1, rate), right = Music(n, 8, 0.1, rate);
    for (int i = at; i < at + static_cast<int>(0.005 * rate); ++i)
        left[static_cast<size_t>(i)] += static_cast<float>(1.8 * std::sin(2 * kPi * 200.0 * i / rate));
    const std::vector<float> in = Interleave({left, right});
    const std::vector<float> on = Through(LimiterOnly(true), in, rate),
                             off = Through(LimiterOnly(false), in, rate);
    const size_t released = 2 * static_cast<size_t>(at + static_cast<int>(rate / 2));
    EXPECT_NE(std::vector<float>(on.begin(), on.begin() + static_cast<long>(released)),
              std::vector<float>(off.begin(), off.begin() + static_cast<long>(released)));
    EXPECT_EQ(std::vector<float>(on.begin() + static_cast<long>(released), on.end()),
              std::vector<float>(off.begin() + static_cast<long>(released), off.end()));
}

TEST(ProcessorLimiter, kicksDoNotPumpASteadyTone) {
    // A -20 dBFS 3 kHz tone under 60 Hz kicks that peak at +6 dBFS, twice a
    // second (each a sine burst dying away in about 100 ms): the time the
    // tone spends more than 1 dB down, per kick.
    const unsigned rate = 44100;
    const int n = 4 * static_cast<int>(rate), period = static_cast<int>(rate / 2);
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i % period) / rate;
        x[static_cast<size_t>(i)] =
            static_cast<float>(0.1 * std::sin(2 * kPi * 3000.0 * i / rate) +
                               2.0 * std::exp(-t / 0.03) * std::sin(2 * kPi * 60.0 * t));
    }
    const std::vector<float> in = Interleave({x, x});
    const std::vector<float> on = Through(LimiterOnly(true), in, rate),
                             off = Through(LimiterOnly(false), in, rate);
    int down = 0;
    for (size_t i = 0; i < on.size(); i += 2) {
        if (std::fabs(off[i]) < 0.05f) continue;  // the gain shows where the signal is
        down += std::fabs(on[i] / off[i]) < std::pow(10.0f, -1.0f / 20.0f) ? 1 : 0;
    }
    // Counted where the signal shows the gain: the share of such frames, as time.
    int shown = 0;
    for (size_t i = 0; i < on.size(); i += 2) shown += std::fabs(off[i]) >= 0.05f ? 1 : 0;
    const double perKick = 1000.0 * down / shown * (static_cast<double>(period) / rate);
    std::printf("the tone more than 1 dB down for %.0f ms a kick\n", perKick);
    EXPECT_LE(perKick, 100.0);
}

}  // namespace
