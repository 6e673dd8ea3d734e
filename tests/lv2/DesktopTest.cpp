// kesta desktop: the filter it puts into a private PipeWire session plays
// what kesta render writes, takes new settings while it plays, and goes away
// with everything it wrote; and its refusals, which need no session.
#include <sndfile.h>

#include <fstream>
#include <sstream>

#include "PluginHarness.h"

namespace {

using namespace plugin_test;

std::string Slurp(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A steady stereo signal of seconds at 48 kHz (tones of their own on each
// side, so that it stays stereo), 16-bit: its largest step from one sample
// to the next is the same all through.
std::string MakeTones(const TempDir& dir, double seconds) {
    const std::string path = dir / "tones.wav";
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<float> frames;
    for (long n = 0; n < static_cast<long>(seconds * 48000); ++n) {
        const double t = static_cast<double>(n) / 48000.0;
        frames.push_back(
            static_cast<float>(0.25 * std::sin(2 * M_PI * 311.7 * t) + 0.1 * std::sin(2 * M_PI * 703.1 * t)));
        frames.push_back(
            static_cast<float>(0.25 * std::sin(2 * M_PI * 523.3 * t) + 0.1 * std::sin(2 * M_PI * 211.9 * t)));
    }
    sf_writef_float(f, frames.data(), static_cast<sf_count_t>(frames.size() / 2));
    sf_close(f);
    return path;
}

Audio Render(const TempDir& dir, const std::string& in, const std::string& options) {
    std::string said;
    EXPECT_EQ(RunCommand("HOME=" + dir / "" + " " KESTA_BIN " render -q --bits float " + in + " " +
                             dir / "render.wav " + options,
                         &said),
              0)
        << said;
    return ReadAudio(dir / "render.wav");
}

// The frame of got where want's frame from lies, from..from+maxLag: the best
// match of a stretch of 4096 frames.
long Lag(const Audio& got, const Audio& want, long from, long maxLag) {
    long best = -1;
    double bestError = 1e30;
    for (long lag = 0; lag <= maxLag && from + lag + 4096 <= got.frames(); ++lag) {
        double error = 0;
        for (long k = 2 * from; k < 2 * (from + 4096) && error < bestError; ++k)
            error += std::fabs(got.samples[k + 2 * lag] - want.samples[k]);
        if (error < bestError) bestError = error, best = lag;
    }
    return best;
}

// The largest step between neighbouring samples of a, over frames [from, to).
float LargestStep(const Audio& a, long from, long to) {
    float step = 0;
    for (long k = 2 * std::max(from, 1L); k < 2 * std::min(to, a.frames()); ++k)
        step = std::max(step, std::fabs(a.samples[k] - a.samples[k - 2]));
    return step;
}

// on --default, a file played to the default output, set during playback,
// off, as the session script drives them; status read at each step.
TEST(Lv2Desktop, playsTheRendersOutputTakesSettingsLiveAndLeavesNothing) {
#ifdef KESTA_SANITIZED
    GTEST_SKIP() << "an instrumented plug-in cannot be loaded into an uninstrumented host";
#endif
    if (RunCommand("command -v pipewire && command -v wireplumber && command -v pw-play && "
                   "command -v pw-metadata && command -v dbus-run-session") != 0)
        GTEST_SKIP() << "needs pipewire, wireplumber and dbus (scripts/setup.sh installs them)";
    TempDir dir;
    const std::string speech = MakeSpeech(dir, 48000, 2), tones = MakeTones(dir, 6);
    const Audio want = Render(dir, speech, "--spread -6"), before = Render(dir, tones, "--spread -6");
    // A recording that a busy machine cut (PipeWire runs in real time) gets
    // one more session: the first that plays the speech intact is judged.
    std::string o;
    float worst = 0;
    long lag = -1, end = want.frames() - 8192;  // the stream's end is cut or padded
    for (int attempt = 1; attempt <= 2; ++attempt) {
        o = dir / ("out" + std::to_string(attempt)) + "/";
        std::filesystem::create_directories(o);
        std::string said;
        ASSERT_EQ(RunCommand("bash " KESTA_TESTS_SUPPORT "/desktop_session.sh " KESTA_BIN " " + speech + " " +
                                 tones + " " + o,
                             &said),
                  0)
            << said;
        const Audio got = ReadAudio(o + "rec1.wav");
        ASSERT_EQ(got.rate, 48000u);
        lag = Lag(got, want, want.frames() / 2, got.frames() - want.frames());
        ASSERT_GE(lag, 0);
        worst = 0;
        for (long k = 0; k < 2 * end; ++k)
            worst = std::max(worst, std::fabs(got.samples[2 * lag + k] - want.samples[k]));
        if (worst <= 1e-4f) break;
        std::printf("attempt %d: the speech differs by %g from kesta render's\n", attempt, worst);
    }

    // status at each step, and the default output.
    EXPECT_NE(Slurp(o + "status-before.txt").find("Kesta 3D Sound is off"), std::string::npos);
    EXPECT_EQ(Slurp(o + "default-before.txt"), "nullsink\n");
    const std::string on = Slurp(o + "status-on.txt");
    for (const char* line : {"Kesta 3D Sound is on", "Kesta 3D Sound is the default output", "--spread -6 ",
                             "Latency:  284 frames at 48000 Hz"})
        EXPECT_NE(on.find(line), std::string::npos) << line << " not in\n" << on;
    EXPECT_EQ(Slurp(o + "default-on.txt"), "effect_input.kesta\n");
    EXPECT_NE(Slurp(o + "status-set.txt").find("--spread -18 "), std::string::npos)
        << Slurp(o + "status-set.txt");
    // kesta configure's window, open meanwhile, hands on what it saves.
    const std::string configured = Slurp(o + "status-configure.txt");
    if (configured != "no xvfb-run\n") {
        EXPECT_NE(configured.find("--spread -12 "), std::string::npos) << configured;
    }
    const std::string off = Slurp(o + "status-off.txt");
    EXPECT_NE(off.find("Kesta 3D Sound is off"), std::string::npos) << off;
    EXPECT_NE(off.find("Drop-in:  none"), std::string::npos) << off;
    EXPECT_EQ(Slurp(o + "default-off.txt"), "nullsink\n");
    // What is left in the home: the user's settings, stored by on and set.
    EXPECT_EQ(Slurp(o + "left.txt"), ".\n./.xmms\n./.xmms/config\n");

    // The speech played after on: kesta render's output, aligned.
    EXPECT_LE(worst, 1e-4f) << "PipeWire's output lags by " << lag << " frames";

    // The tones, with --spread -18 set 2 s in: the same as before up to the
    // set, another image within a second of it, no gap and no click.
    const Audio changed = ReadAudio(o + "rec2.wav");
    double setFrom = 0, setTo = 0;
    std::istringstream(Slurp(o + "timing.txt")) >> setFrom >> setTo;
    const long lag2 = Lag(changed, before, 24000, changed.frames() - before.frames());
    ASSERT_GE(lag2, 0);
    long diverged = -1;
    for (long f = 0; f + lag2 < changed.frames() && f < before.frames() && diverged < 0; ++f)
        for (int c = 0; c < 2; ++c)
            if (std::fabs(changed.samples[2 * (f + lag2) + c] - before.samples[2 * f + c]) > 1e-3f)
                diverged = f;
    const double at = static_cast<double>(diverged) / 48000.0;
    EXPECT_GE(at, setFrom - 0.5) << "changed before the set (" << setFrom << " s)";
    EXPECT_LE(at, setTo + 1.0) << "not changed within a second of the set (" << setTo << " s)";
    const long playing = lag2 + before.frames() - 8192;
    long silent = 0, longest = 0;
    for (long f = lag2; f < playing; ++f) {
        silent = changed.samples[2 * f] == 0 && changed.samples[2 * f + 1] == 0 ? silent + 1 : 0;
        longest = std::max(longest, silent);
    }
    EXPECT_LT(longest, 16) << "a gap of " << longest << " frames";
    const long change = lag2 + diverged;
    const float steady = std::max(LargestStep(changed, change - 48000, change - 12000),
                                  LargestStep(changed, change + 60000, change + 96000));
    const float around = LargestStep(changed, change - 12000, change + 60000);
    EXPECT_LE(around, 1.5f * steady) << "a click: steps of " << around << " where the steady ones are "
                                     << steady;
}

// The refusals, each one line with exit status 1, and drop-ins that kesta
// did not write left as they were.
TEST(Lv2Desktop, refusesWithOneLineAndLeavesForeignFilesAlone) {
    TempDir dir;
    const std::string home = dir / "home", dropIns = home + "/.config/pipewire/pipewire.conf.d";
    const std::string env =
        "env -u XDG_CONFIG_HOME -u PIPEWIRE_REMOTE HOME=" + home + " XDG_RUNTIME_DIR=" + dir / "run" + " ";
    std::filesystem::create_directories(dir / "run");
    struct Case {
        const char* file;  // a foreign drop-in, or none
        const char* command;
        const char* says;
    } cases[] = {
        {nullptr, "on", "PipeWire is not running"},
        {nullptr, "status", "PipeWire is not running"},
        {nullptr, "on --bundle " KESTA_TESTS_SUPPORT, "no LV2 bundle at"},
        {"kesta.conf", "on --default", "already makes a Kesta output by hand"},
        {"kesta-desktop.conf", "on", "was not written by kesta desktop"},
        {"kesta-desktop.conf", "off", "was not written by kesta desktop"},
    };
    const std::string foreign =
        "context.modules = [ { name = libpipewire-module-filter-chain args = { "
        "capture.props = { node.name = \"effect_input.kesta\" } } } ]\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::filesystem::remove_all(home);
        if (c.file) {
            std::filesystem::create_directories(dropIns);
            std::ofstream(dropIns + "/" + c.file) << foreign;
        }
        std::string said;
        EXPECT_EQ(RunCommand(env + KESTA_BIN " desktop " + c.command, &said), 1);
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        if (c.file) {
            EXPECT_EQ(Slurp(dropIns + "/" + c.file), foreign);
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dropIns), {}), 1);
        } else {
            EXPECT_FALSE(std::filesystem::exists(home + "/.config")) << "on wrote before it refused";
        }
    }
}

}  // namespace
