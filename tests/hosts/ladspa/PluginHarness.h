// What the LADSPA and LV2 tests share: audio files, speech from the system's
// sample recordings, external commands, the float processor's output as the
// reference, and a plug-in instance driven through its numbered ports.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "Processor.h"

namespace plugin_test {

struct Audio {
    unsigned rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved
    long frames() const { return channels ? static_cast<long>(samples.size()) / channels : 0; }
};

inline Audio ReadAudio(const std::string& path) {
    Audio a;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return a;
    a.rate = static_cast<unsigned>(info.samplerate);
    a.channels = info.channels;
    a.samples.resize(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, a.samples.data(), info.frames);
    sf_close(f);
    return a;
}

// Runs a shell command; answers its exit status, with what it printed in
// *output.
inline int RunCommand(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1 </dev/null").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    const int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A fresh folder, removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kesta-plugin-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A home of the host's own in dir/home: the environment assignments to put
// before its command, HOME, XDG_* and TMPDIR all inside dir, so that what a
// host keeps (GStreamer's registry, PulseAudio's runtime folder, caches)
// goes with dir and never reaches the user's home or /tmp.
inline std::string PrivateHome(const TempDir& dir) {
    const std::string home = dir / "home";
    std::string assignments;
    for (const auto& [name, path] : {std::pair<const char*, std::string>{"HOME", home},
                                     {"XDG_CONFIG_HOME", home + "/.config"},
                                     {"XDG_CACHE_HOME", home + "/.cache"},
                                     {"XDG_DATA_HOME", home + "/.local/share"},
                                     {"XDG_STATE_HOME", home + "/.local/state"},
                                     {"XDG_RUNTIME_DIR", home + "/run"},
                                     {"TMPDIR", home + "/tmp"}}) {
        std::error_code ignored;
        std::filesystem::create_directories(path, ignored);
        assignments += std::string(name) + "=" + path + " ";
    }
    std::error_code ignored;
    std::filesystem::permissions(home + "/run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ignored);
    return assignments;
}

// Real speech at rate Hz as 16-bit PCM (which every host reads exactly), at
// half level so that widening never needs more than full scale: mono (one
// phrase said twice, about 2.8 s), or stereo with a different voice on each
// side; as 32-bit float if floating (for hosts that write what they read).
// With pause, the mono phrase on every channel, with 0.8 s of digital
// silence (no dither) between its two words. Answers the file's path.
inline std::string MakeSpeech(const TempDir& dir, unsigned rate, int channels, bool floating = false,
                              bool pause = false) {
    const std::string sounds = "/usr/share/sounds/alsa/";
    const std::string out = dir / ("speech" + std::to_string(channels) + "-" + std::to_string(rate) + ".wav");
    const std::string in = channels == 1 || pause
                               ? sounds + "Front_Center.wav " + sounds + "Front_Center.wav"
                               : "-M " + sounds + "Front_Left.wav " + sounds + "Front_Right.wav";
    std::string said;
    const std::string format = floating ? " -e floating-point -b 32 " : " -b 16 ";
    const std::string pauseEffects = " pad 0.8@1.4 channels " + std::to_string(channels);
    const int status = RunCommand("sox " + std::string(pause ? "-D " : "") + in + format + out + " rate " +
                                      std::to_string(rate) + " vol 0.5" + (pause ? pauseEffects : ""),
                                  &said);
    EXPECT_EQ(status, 0) << said;
    return out;
}

#ifdef KESTA_TESTS_SUPPORT
// Audacity 3.2 run headless by the support script, with the plug-ins of
// plugins (the script's --ladspa and --lv2 options with their paths): the
// effect that Audacity's scripting calls effect (its name without spaces,
// each word capitalised: "Kesta3dSound(stereo):") applied to the whole of
// input with its defaults, and the track exported to output. Answers the
// script's exit status; said gets what it printed.
inline int RunAudacity(const std::string& input, const std::string& output, const std::string& effect,
                       const std::string& plugins, std::string* said) {
    return RunCommand("timeout 400 python3 " KESTA_TESTS_SUPPORT "/audacity_session.py " + input + " " +
                          output + " '" + effect + "' " + plugins,
                      said);
}
#endif

#ifdef KESTA_BIN
// kesta render's output for in (stereo, lined up with in), with no settings
// of the user's: a home of its own.
inline Audio Render(const TempDir& dir, const std::string& in, const std::string& options) {
    std::string said;
    EXPECT_EQ(RunCommand("HOME=" + dir / "" + " " KESTA_BIN " render -q --bits float " + in + " " +
                             dir / "render.wav " + options,
                         &said),
              0)
        << said;
    return ReadAudio(dir / "render.wav");
}
#endif

// Settings with the given spread, music mode and subtone, the rest default.
inline kesta::Settings With(float spread, bool music = true, bool subtone = true) {
    kesta::Settings s;
    s.spreadDb = spread;
    s.music = music;
    s.subtone = subtone;
    return s;
}

// The float processor's output for in, prepared for in's channels, with the
// settings s, in blocks of block frames: the reference for every host.
inline std::vector<float> Reference(const Audio& in, const kesta::Settings& s, int block) {
    kesta::Processor p;
    EXPECT_TRUE(p.prepare(in.rate, in.channels, block));
    p.setSettings(s);
    p.reset();
    std::vector<float> out(2 * static_cast<size_t>(in.frames()));
    for (long f = 0; f < in.frames(); f += block) {
        const int n = static_cast<int>(std::min<long>(block, in.frames() - f));
        p.process(in.samples.data() + f * in.channels, out.data() + 2 * f, n);
    }
    return out;
}

// The control input values, in port order, that stand for s: all eight for
// the stereo plug-in; mode, mono-to-3D, Subtone, limiter and match loudness
// for the mono one; and the ports' LV2 symbols in the same order.
inline std::vector<float> Controls(const kesta::Settings& s, int inputs) {
    const float mode = s.music ? 1.0f : 0.0f;
    if (inputs == 1) return {mode, float(s.monoTo3D), float(s.subtone), float(s.limiter), float(s.match)};
    return {s.spreadDb,        mode,
            float(s.monoTo3D), float(s.widen),
            float(s.subtone),  float(s.autoMono),
            float(s.limiter),  float(s.match)};
}
inline std::vector<std::string> ControlSymbols(int inputs) {
    if (inputs == 1) return {"mode", "mono_to_3d", "subtone", "limiter", "match"};
    return {"spread", "mode", "mono_to_3d", "widening", "subtone", "auto_mono", "limiter", "match"};
}

// Compares a host's stereo output with the reference: the same length, equal
// within float rounding from frame from on, and not the input passed through
// (the reference differs from it).
inline void ExpectSameAudio(const Audio& got, const std::vector<float>& want, const Audio& in,
                            float tolerance = 2e-6f, long from = 0) {
    ASSERT_EQ(got.channels, 2);
    ASSERT_EQ(got.samples.size(), want.size());
    float worst = 0, change = 0;
    size_t at = 0;
    for (size_t i = 2 * static_cast<size_t>(from); i < want.size(); ++i) {
        const float d = std::fabs(got.samples[i] - want[i]);
        if (!(d <= worst)) worst = d, at = i;  // NaN counts as worst
        const float x = in.samples[in.channels == 2 ? i : i / 2];
        change = std::max(change, std::fabs(want[i] - x));
    }
    EXPECT_LE(worst, tolerance) << "frame " << at / 2 << ", channel " << at % 2;
    EXPECT_GT(change, 0.01f) << "the reference is the input itself";
}

// Compares a host's stereo output with the reference from frame from on, up
// to one gain for both channels that may differ slowly between the two (a
// stream whose loudness matching started on another path): per block of 32
// frames, the gain that fits best, within 2 dB, and what is left after it.
inline void ExpectSameUpToGain(const Audio& got, const std::vector<float>& want, long from) {
    ASSERT_EQ(got.samples.size(), want.size());
    double worst = 0, most = 0;
    long at = 0;
    for (size_t b = 2 * static_cast<size_t>(from); b + 64 <= want.size(); b += 64) {
        double gw = 0, ww = 0;
        for (size_t i = b; i < b + 64; ++i) {
            gw += static_cast<double>(got.samples[i]) * want[i];
            ww += static_cast<double>(want[i]) * want[i];
        }
        if (ww < 1e-8) continue;
        const double g = gw / ww;
        most = std::max(most, std::fabs(20 * std::log10(std::max(g, 1e-9))));
        for (size_t i = b; i < b + 64; ++i) {
            const double d = std::fabs(got.samples[i] - g * want[i]);
            if (!(d <= worst)) worst = d, at = static_cast<long>(i / 2);
        }
    }
    EXPECT_LE(worst, 5e-4) << "frame " << at;
    EXPECT_LE(most, 2.0) << "dB between the two";
}

// One plug-in instance driven as a host drives it.
class PortHost {
  public:
    virtual ~PortHost() = default;
    virtual void connect(unsigned long port, float* data) = 0;
    virtual void activate() = 0;
    virtual void run(unsigned long frames) = 0;

    // Renders in (as many channels as the plug-in has inputs) in blocks of
    // block frames after one activate; controls by port order, separate
    // buffers for every port. Answers interleaved stereo.
    std::vector<float> render(const Audio& in, const std::vector<float>& controls, int block) {
        std::vector<float> out(2 * static_cast<size_t>(in.frames()));
        connectAll(in.channels, controls, block);
        stream(in, out);
        return out;
    }

    // The two halves of render: connecting every port to buffers of its own
    // (allocates), and activating and running (allocates nothing).
    void connectAll(int inputs, const std::vector<float>& controls, int block) {
        inputs_ = inputs;
        block_ = block;
        values_ = controls;
        unsigned long port = 0;
        for (int c = 0; c < inputs + 2; ++c) bufs_[c].assign(static_cast<size_t>(block), 0.0f);
        for (int c = 0; c < inputs + 2; ++c) connect(port++, bufs_[c].data());
        for (float& v : values_) connect(port++, &v);
        connect(port, &latency);
    }
    void stream(const Audio& in, std::vector<float>& out) {
        activate();
        for (long f = 0; f < in.frames(); f += block_) {
            const int n = static_cast<int>(std::min<long>(block_, in.frames() - f));
            for (int i = 0; i < n; ++i)
                for (int c = 0; c < inputs_; ++c) bufs_[c][i] = in.samples[(f + i) * inputs_ + c];
            run(static_cast<unsigned long>(n));
            for (int i = 0; i < n; ++i)
                for (int c = 0; c < 2; ++c) out[2 * (f + i) + c] = bufs_[inputs_ + c][i];
        }
    }

    float latency = -1;

  private:
    int inputs_ = 0, block_ = 0;
    std::vector<float> bufs_[4], values_;
};

}  // namespace plugin_test
