// kesta render on real recordings (the ALSA test voices) in the formats
// people have: float, 8 to 32 bits, 8 to 192 kHz, FLAC and Ogg with tags,
// truncated files, pipes and folders. Each case looks at the audio written,
// not only at the exit status. Inputs are made with sox and ffmpeg.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Parameters.h"

namespace {

const char kSpeech[] = "/usr/share/sounds/alsa/Front_Center.wav";  // mono, 48 kHz, 16-bit
// Two different voices, left and right.
const char kStereo[] = "-M /usr/share/sounds/alsa/Front_Left.wav /usr/share/sounds/alsa/Front_Right.wav";

struct Result {
    int status;
    std::string err;
};

struct Audio {
    SF_INFO info{};
    std::vector<float> samples;  // interleaved
    std::string title;
    long frames() const { return static_cast<long>(info.frames); }
    double peakDb() const {
        float p = 0;
        for (float x : samples) p = std::max(p, std::fabs(x));
        return 20 * std::log10(std::max(p, 1e-9f));
    }
    double rmsDb() const {
        double s = 0;
        for (float x : samples) s += double(x) * x;
        return 10 * std::log10(std::max(s / std::max<size_t>(samples.size(), 1), 1e-18));
    }
    // Of left and right: 1 is mono, lower is wider.
    double correlation() const {
        double ll = 0, rr = 0, lr = 0;
        for (size_t k = 0; k + 1 < samples.size(); k += 2) {
            ll += double(samples[k]) * samples[k];
            rr += double(samples[k + 1]) * samples[k + 1];
            lr += double(samples[k]) * samples[k + 1];
        }
        return lr / std::sqrt(ll * rr + 1e-30);
    }
};

Audio load(const std::string& path) {
    Audio a;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &a.info);
    if (!f) return a;
    a.samples.resize(static_cast<size_t>(a.info.frames * a.info.channels));
    sf_readf_float(f, a.samples.data(), a.info.frames);
    if (const char* t = sf_get_string(f, SF_STR_TITLE)) a.title = t;
    sf_close(f);
    return a;
}

class Render : public ::testing::Test {
  protected:
    std::string dir;

    void SetUp() override {
        if (std::system("command -v sox >/dev/null && command -v ffmpeg >/dev/null") != 0 ||
            access(kSpeech, R_OK) != 0)
            GTEST_SKIP() << "needs sox, ffmpeg and alsa-utils' sounds";
        char tmpl[] = "/tmp/kesta-render-XXXXXX";
        dir = mkdtemp(tmpl);
        ASSERT_EQ(mkdir((dir + "/tmp").c_str(), 0700), 0);
    }
    void TearDown() override {
        if (!dir.empty()) (void)std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    // A shell command in dir; its status.
    int sh(const std::string& cmd) const {
        const int raw = std::system(("cd '" + dir + "' && " + cmd).c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    // An input made by sox: format options, source, effects.
    void make(const std::string& name, const std::string& format, const char* from = kSpeech,
              const std::string& effects = std::string()) const {
        ASSERT_EQ(
            sh("sox -D " + std::string(from) + " " + format + " '" + name + "' " + effects + " 2>/dev/null"),
            0)
            << name;
    }
    // kesta with args in dir; stdin and stdout as redirections in args, if
    // any; shell commands in before first (limits, say).
    Result kesta(const std::string& args, const std::string& before = std::string()) const {
        const int status =
            sh(before + "HOME='" + dir + "' TMPDIR='" + dir + "/tmp' '" KESTA_BIN "' " + args + " 2>stderr");
        std::ifstream e(path("stderr"));
        std::stringstream s;
        s << e.rdbuf();
        return {status, s.str()};
    }
    bool exists(const std::string& name) const {
        struct stat st;
        return lstat(path(name).c_str(), &st) == 0;
    }
};

// Lossy files decode past their input's peaks: at the defaults render
// leaves the encoder room, so that hot music (released near 0 dBFS, peak
// normalised to it here) decodes with no sample over 0 dBFS.
TEST_F(Render, lossyOutputsOfHotMusicNeverClipOnceDecoded) {
    const char kHot[] = "/usr/share/games/etr/music/spunkyrace-ks.ogg";  // 44.1 kHz
    if (access(kHot, R_OK) != 0) GTEST_SKIP() << "needs extremetuxracer-data's music";
    make("in.wav", "-e floating-point -b 32", kHot, "trim 20 10 gain -n 0");
    make("in48.wav", "-e floating-point -b 32", kHot, "trim 20 10 rate 48000 gain -n 0");
    for (const char* out : {"hot.mp3", "hot.ogg", "hot.opus"}) {
        const std::string in = std::string(out) == "hot.opus" ? "in48.wav" : "in.wav";
        ASSERT_EQ(kesta("render -q " + in + " " + out).status, 0) << out;
        ASSERT_EQ(sh(std::string("ffmpeg -v error -i ") + out + " -c:a pcm_f32le decoded.wav -y"), 0) << out;
        EXPECT_LT(load(path("decoded.wav")).peakDb(), 0.0) << out;
    }
}

// Every format comes out at its own rate and depth, as long as it went in,
// at a level near the input's (never silent), stereo.
TEST_F(Render, realFormatsKeepRateDepthLengthAndLevel) {
    struct Case {
        const char* name;
        const char* sox;  // how the input is made from the speech
        const char* out;
        int subtype;  // expected in the output
        int rate;
    };
    const Case cases[] = {
        {"f32.wav", "-e floating-point -b 32", "o-f32.wav", SF_FORMAT_FLOAT, 48000},
        {"f64.wav", "-e floating-point -b 64", "o-f64.wav", SF_FORMAT_DOUBLE, 48000},
        {"f32.caf", "-e floating-point -b 32", "o-f32.caf", SF_FORMAT_FLOAT, 48000},
        {"i24.flac", "-b 24", "o-i24.flac", SF_FORMAT_PCM_24, 48000},
        {"i32.wav", "-b 32", "o-i32.wav", SF_FORMAT_PCM_32, 48000},
        {"u8.wav", "-b 8 -r 11025", "o-u8.wav", SF_FORMAT_PCM_U8, 11025},
        {"i16-8k.wav", "-b 16 -r 8000", "o-i16-8k.wav", SF_FORMAT_PCM_16, 8000},
        {"i24-96k.flac", "-b 24 -r 96000", "o-i24-96k.flac", SF_FORMAT_PCM_24, 96000},
        {"f32-192k.wav", "-e floating-point -b 32 -r 192000", "o-f32-192k.wav", SF_FORMAT_FLOAT, 192000},
        {"stereo.aiff", "-b 24 -c 2 -r 44100", "o-stereo.aiff", SF_FORMAT_PCM_24, 44100},
        {"f32.wav", "-e floating-point -b 32", "o-f32.flac", SF_FORMAT_PCM_24,
         48000},  // FLAC holds 24 at most
        {"i24.flac", "-b 24", "o-i16.wav --bits 16", SF_FORMAT_PCM_16, 48000},
        {"i24.flac", "-b 24", "o-ogg.ogg", SF_FORMAT_VORBIS, 48000},
        {"i24.flac", "-b 24", "o-opus.opus", SF_FORMAT_OPUS, 48000},
        {"stereo.aiff", "-b 24 -c 2 -r 44100", "o-mp3.mp3 --quality 0", SF_FORMAT_MPEG_LAYER_III, 44100},
        {"u8.wav", "-b 8 -r 11025", "o-mp3-11k.mp3 --quality 0", SF_FORMAT_MPEG_LAYER_III, 11025},
        {"i16-8k.wav", "-b 16 -r 8000", "o-mp3-8k.mp3", SF_FORMAT_MPEG_LAYER_III, 8000},
    };
    for (const Case& c : cases) {
        const std::string outName = std::string(c.out).substr(0, std::string(c.out).find(' '));
        if (!exists(c.name)) make(c.name, c.sox);
        const Result r = kesta(std::string("render ") + c.name + " " + c.out);
        ASSERT_EQ(r.status, 0) << c.out << ": " << r.err;
        const Audio in = load(path(c.name)), out = load(path(outName));
        EXPECT_EQ(out.info.channels, 2) << c.out;
        EXPECT_EQ(out.info.samplerate, c.rate) << c.out;
        EXPECT_EQ(out.info.format & SF_FORMAT_SUBMASK, c.subtype) << c.out;
        EXPECT_EQ(out.frames(), in.frames()) << c.out;
        EXPECT_GT(out.peakDb(), -12.0) << c.out;
        EXPECT_NEAR(out.rmsDb(), in.rmsDb(), 6.0) << c.out;
        EXPECT_LT(out.correlation(), 0.99) << c.out << ": mono became 3D stereo";
    }
}

// With the effect switched off the float path hands back the input itself,
// frame for frame: the delay is taken out and the tail is flushed, nothing
// is lost or moved, and a float input is not rounded.
TEST_F(Render, withTheEffectOffTheOutputIsTheInputFrameForFrame) {
    make("mono.wav", "-e floating-point -b 32");
    make("stereo.wav", "-e floating-point -b 32 -r 44100", kStereo);
    for (const char* args :
         {"render mono.wav out.wav --mono-3d off", "render stereo.wav out.wav --widen off"}) {
        ASSERT_EQ(kesta(args).status, 0) << args;
        const Audio in = load(path(std::string(args).substr(7, std::string(args).find(' ', 7) - 7)));
        const Audio out = load(path("out.wav"));
        ASSERT_EQ(out.frames(), in.frames()) << args;
        long differ = 0;
        for (long f = 0; f < in.frames(); ++f)
            for (int c = 0; c < 2; ++c)
                differ += out.samples[2 * f + c] !=
                          in.samples[in.info.channels * f + (in.info.channels == 2 ? c : 0)];
        EXPECT_EQ(differ, 0) << args;
    }
    // 16-bit without dither is exact too; with dither it stays within a step.
    make("i16.wav", "-b 16 -r 44100", kStereo);
    ASSERT_EQ(kesta("render i16.wav nd.wav --widen off --no-dither").status, 0);
    EXPECT_EQ(load(path("nd.wav")).samples, load(path("i16.wav")).samples);
    // Reduced to 8 bits, the mean stays where it was: rounding, not truncation
    // (which would add half a step of DC).
    ASSERT_EQ(kesta("render mono.wav d8.wav --mono-3d off --bits 8").status, 0);
    const Audio in = load(path("mono.wav")), d8 = load(path("d8.wav"));
    double dc = 0;
    for (long f = 0; f < in.frames(); ++f) dc += d8.samples[2 * f] - in.samples[f];
    EXPECT_LT(std::fabs(dc / in.frames()), 0.1 / 128);
}

// A float WAV, 32 or 64-bit, reads without a warning in sox, ffmpeg and
// SciPy (sox wants the format chunk's extension, SciPy knows no PEAK chunk),
// keeps its tags, and holds the samples written: with the effect off, the
// input's, bit for bit, through libsndfile and ffmpeg alike.
TEST_F(Render, floatWavFilesReadEverywhereWithoutAWarning) {
    const bool scipy = sh("/usr/bin/python3 -c 'import scipy' 2>/dev/null") == 0;
    for (const char* codec : {"pcm_f32le", "pcm_f64le"}) {
        ASSERT_EQ(sh(std::string("ffmpeg -loglevel error -y -i ") + kSpeech +
                     " -metadata title=Centre -c:a " + codec + " in.wav"),
                  0);
        ASSERT_EQ(kesta("render in.wav out.wav --mono-3d off").status, 0) << codec;
        const std::string readers =
            "{ sox --i out.wav && sox out.wav -n && ffmpeg -v warning -i out.wav -f f32le out.raw -y" +
            std::string(
                scipy ? " && /usr/bin/python3 -W error -c 'import scipy.io.wavfile as w; w.read(\"out.wav\")'"
                      : "") +
            "; } 2>&1 | grep -i -e warn -e error -e fail";
        EXPECT_EQ(sh(readers), 1) << codec << ": a reader complained";
        const Audio in = load(path("in.wav")), out = load(path("out.wav"));
        EXPECT_EQ(out.title, "Centre") << codec;
        ASSERT_EQ(out.samples.size(), 2 * in.samples.size()) << codec;
        std::ifstream raw(path("out.raw"), std::ios::binary);
        std::vector<float> decoded(out.samples.size() + 1);
        raw.read(reinterpret_cast<char*>(decoded.data()), decoded.size() * sizeof(float));
        decoded.resize(static_cast<size_t>(raw.gcount()) / sizeof(float));
        EXPECT_EQ(decoded, out.samples) << codec << ": ffmpeg reads other samples";
        long differ = 0;
        for (size_t k = 0; k < out.samples.size(); ++k) differ += out.samples[k] != in.samples[k / 2];
        EXPECT_EQ(differ, 0) << codec;
    }
}

// Every integer depth is the float result rounded to its steps, sample for
// sample: exactly without dither (clipped to the range, and the samples at
// full scale counted as said), within a step and a half and with no offset with dither.
TEST_F(Render, everyDepthIsTheFloatResultRoundedToItsSteps) {
    make("hot.wav", "-e floating-point -b 32 -r 44100", kStereo, "gain -n 3");
    ASSERT_EQ(kesta("render hot.wav f.wav --bits float --limiter off").status, 0);
    const Audio f = load(path("f.wav"));
    ASSERT_GT(f.frames(), 40000);
    const struct {
        int bits;
        bool dither;
    } cases[] = {{8, false}, {16, false}, {24, false}, {32, false}, {8, true}, {16, true}};
    for (const auto& c : cases) {
        const std::string args = "render hot.wav i.wav --limiter off --bits " + std::to_string(c.bits) +
                                 (c.dither ? "" : " --no-dither");
        const Result r = kesta(args);
        ASSERT_EQ(r.status, 0) << args << r.err;
        SF_INFO info{};
        SNDFILE* file = sf_open(path("i.wav").c_str(), SFM_READ, &info);
        ASSERT_TRUE(file) << args;
        std::vector<int> words(static_cast<size_t>(info.frames * info.channels));
        sf_readf_int(file, words.data(), info.frames);
        sf_close(file);
        ASSERT_EQ(words.size(), f.samples.size()) << args;
        const double scale = std::ldexp(1.0, c.bits - 1);
        long differ = 0, clipped = 0, far = 0;
        double error = 0;
        for (size_t k = 0; k < words.size(); ++k) {
            const double exact = f.samples[k] * scale;
            const double held = std::min(std::max(std::floor(exact + 0.5), -scale), scale - 1);
            clipped += held <= -scale || held >= scale - 1;
            const double got = std::ldexp(static_cast<double>(words[k]), c.bits - 32);
            if (c.dither) {
                if (held == std::floor(exact + 0.5)) {
                    far += std::fabs(got - exact) >= 1.5;
                    error += got - exact;
                }
            } else {
                differ += got != held;
            }
        }
        EXPECT_GT(clipped, 0) << args;
        EXPECT_EQ(differ, 0) << args;
        EXPECT_EQ(far, 0) << args;
        EXPECT_LT(std::fabs(error / words.size()), 0.01) << args;
        // Dither moves a few samples over the edge or back.
        const std::string said = c.dither ? "clipped " : "clipped " + std::to_string(clipped) + " samples";
        EXPECT_NE(r.err.find(said), std::string::npos) << args << r.err;
    }
}

// A sample counts as clipped when it is written at full scale, whether it
// went beyond or landed there: the rule by which a picture of the result
// counts it. With the effect off, the samples are the input's.
TEST_F(Render, samplesAtFullScaleAreCountedAsClipped) {
    std::vector<float> frames(2000);
    for (size_t k = 0; k < frames.size(); ++k) frames[k] = k % 2 ? 0.1f : 0.25f * std::sin(0.01f * k);
    frames[100] = 32767.0f / 32768.0f;  // lands on the largest value
    frames[200] = -1.0f;                // the smallest
    frames[300] = 1.5f;                 // beyond
    frames[400] = 32766.0f / 32768.0f;  // not at full scale
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = 44100;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path("edge.wav").c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(f);
    sf_writef_float(f, frames.data(), 1000);
    sf_close(f);
    const Result r =
        kesta("render edge.wav out.wav --bits 16 --no-dither --widen off --mono-3d off --limiter off");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("clipped 3 samples"), std::string::npos) << r.err;
}

// 96 and 192 kHz get tables of their own: the image is as wide as at 48 kHz.
// The player's path says that its tables stop at 48 kHz.
TEST_F(Render, highRatesSoundAsFortyEightKilohertzDoes) {
    double width48 = 0;
    for (int rate : {48000, 96000, 192000}) {
        const std::string name = "s" + std::to_string(rate) + ".wav";
        make(name, "-b 24 -r " + std::to_string(rate));
        ASSERT_EQ(kesta("render " + name + " out.wav").status, 0) << rate;
        const double width = load(path("out.wav")).correlation();
        if (rate == 48000) width48 = width;
        EXPECT_NEAR(width, width48, 0.1) << rate << " Hz";
    }
    const Result r = kesta("render s96000.wav p.wav --player");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("48 kHz"), std::string::npos) << r.err;
}

// Title and artist travel to formats that hold them.
TEST_F(Render, tagsAreCopied) {
    ASSERT_EQ(sh(std::string("ffmpeg -loglevel error -i ") + kSpeech +
                 " -metadata title=Centre -metadata artist=ALSA tagged.flac"),
              0);
    ASSERT_EQ(sh(std::string("ffmpeg -loglevel error -i ") + kSpeech + " -metadata title=Centre tagged.ogg"),
              0);
    for (const char* args : {"tagged.flac out.flac", "tagged.flac out.wav", "tagged.ogg out.ogg",
                             "tagged.flac out.mp3", "tagged.flac out.opus"}) {
        ASSERT_EQ(kesta(std::string("render ") + args).status, 0) << args;
        const std::string out = std::string(args).substr(std::string(args).find(' ') + 1);
        EXPECT_EQ(load(path(out)).title, "Centre") << args;
    }
}

// The lossy formats' quality goes from the smallest file to the best; Opus
// is refused at another rate than 48 kHz, and a quality for a format that has
// none is refused, both with nothing written.
TEST_F(Render, lossyFormatsTakeAQuality) {
    make("in.flac", "-b 24");
    for (const char* ext : {"ogg", "opus", "mp3"}) {
        long size[2];
        for (int q : {0, 10}) {
            const std::string out = "q" + std::to_string(q) + "." + ext;
            ASSERT_EQ(kesta("render in.flac " + out + " --quality " + std::to_string(q)).status, 0) << out;
            struct stat st;
            ASSERT_EQ(stat(path(out).c_str(), &st), 0);
            size[q / 10] = st.st_size;
        }
        EXPECT_LT(3 * size[0], size[1]) << ext;
    }
    make("in44.wav", "-b 16 -r 44100");
    Result r = kesta("render in44.wav out.opus");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("48000 Hz only"), std::string::npos) << r.err;
    r = kesta("render in.flac out.flac --quality 5");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lossy"), std::string::npos) << r.err;
    EXPECT_EQ(kesta("render in.flac out.mp3 --quality 11").status, 2);
    EXPECT_FALSE(exists("out.opus") || exists("out.flac") || exists("out.mp3"));
}

// A file cut short is written as far as it goes, with a warning that says
// how much was read; --strict refuses it and leaves the output as it was.
TEST_F(Render, truncatedInputWarnsOrWithStrictFails) {
    make("whole.wav", "-b 24");
    make("whole.flac", "-b 24");
    ASSERT_EQ(sh("head -c 50000 whole.wav > cut.wav && head -c 30000 whole.flac > cut.flac"), 0);
    for (const char* name : {"cut.wav", "cut.flac"}) {
        Result r = kesta(std::string("render ") + name + " out.wav");
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        const long written = load(path("out.wav")).frames();
        EXPECT_GT(written, 1000) << name;
        EXPECT_NE(r.err.find("read " + std::to_string(written) + " of " +
                             std::to_string(load(path("whole.wav")).frames())),
                  std::string::npos)
            << name << ": " << r.err;
        std::ofstream(path("kept.wav")) << "kept";
        r = kesta(std::string("render ") + name + " kept.wav --strict");
        EXPECT_EQ(r.status, 1) << name;
        std::ifstream kept(path("kept.wav"));
        std::string text;
        kept >> text;
        EXPECT_EQ(text, "kept") << name;
    }
}

// A hot master: clipping is counted and a gain suggested, exit 0; --gain
// and --headroom auto make room; --headroom auto never raises a quiet file.
TEST_F(Render, levelsAreReportedAndHeadroomIsMade) {
    make("hot.wav", "-b 16 -r 44100", kStereo, "bass +6 gain -n -0.01");
    // The limiter, on by default, holds the peak at -1 dBFS.
    Result r = kesta("render hot.wav out.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("clipped"), std::string::npos) << r.err;
    EXPECT_LE(load(path("out.wav")).peakDb(), -1.0);
    EXPECT_GT(load(path("out.wav")).peakDb(), -1.1);

    r = kesta("render hot.wav out.wav --limiter off");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("clipped"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--gain -"), std::string::npos) << r.err;

    r = kesta("render hot.wav out.wav --headroom auto --limiter off");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("clipped"), std::string::npos) << r.err;
    EXPECT_NEAR(load(path("out.wav")).peakDb(), -0.1, 0.15);

    r = kesta("render hot.wav out.wav --gain -12 -q");
    EXPECT_EQ(r.err, "");
    EXPECT_LT(load(path("out.wav")).peakDb(), -3.0);

    make("quiet.wav", "-e floating-point -b 32", kSpeech, "gain -20");
    ASSERT_EQ(kesta("render quiet.wav a.wav").status, 0);
    ASSERT_EQ(kesta("render quiet.wav b.wav --headroom auto").status, 0);
    EXPECT_EQ(load(path("a.wav")).samples, load(path("b.wav")).samples);
}

// The input is never the output, a folder is said to be one, and the
// refused output is left as it was.
TEST_F(Render, theInputIsNeverOverwritten) {
    make("s.wav", "-b 16");
    ASSERT_EQ(sh("ln -s s.wav link.wav && ln s.wav hard.wav && mkdir folder"), 0);
    const Audio before = load(path("s.wav"));
    for (const char* args : {"s.wav s.wav", "s.wav link.wav", "link.wav hard.wav", "- s.wav <s.wav"}) {
        const Result r = kesta(std::string("render ") + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("would replace "), std::string::npos) << args << ": " << r.err;
    }
    EXPECT_EQ(load(path("s.wav")).samples, before.samples);
    const Result r = kesta("render s.wav folder");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is a folder"), std::string::npos) << r.err;
}

// ffmpeg | kesta | sox: a pipe in, a pipe out (with --type).
TEST_F(Render, pipesInAndOut) {
    ASSERT_EQ(sh(std::string("ffmpeg -loglevel error -i ") + kSpeech +
                 " -f wav - | HOME=. '" KESTA_BIN "' render - - --type flac > piped.flac"),
              0);
    const Audio out = load(path("piped.flac"));
    EXPECT_EQ(out.frames(), load(kSpeech).frames());
    EXPECT_EQ(out.info.channels, 2);
    EXPECT_GT(out.peakDb(), -12.0);
}

// Many files into a folder: one bad file fails alone, the rest are written.
TEST_F(Render, aFolderOfFilesWithOneBad) {
    make("a.wav", "-b 16");
    make("b.flac", "-b 24", kStereo);
    std::ofstream(path("bad.wav")) << "not audio";
    ASSERT_EQ(mkdir(path("out").c_str(), 0755), 0);
    const Result r = kesta("render a.wav bad.wav b.flac -o out -j 2");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("2 of 3 files rendered, 1 failed"), std::string::npos) << r.err;
    EXPECT_EQ(load(path("out/a.wav")).frames(), load(path("a.wav")).frames());
    EXPECT_EQ(load(path("out/b.flac")).frames(), load(path("b.flac")).frames());
    EXPECT_FALSE(exists("out/bad.wav"));
    EXPECT_EQ(kesta("render a.wav b.flac -o out --type ogg -q").status, 0);
    EXPECT_EQ(load(path("out/b.ogg")).info.channels, 2);
}

// Every control of the core is one of render's options, in its help; those
// that only the float path has, automatic mono and loudness matching, switch
// off and on (on is their default).
TEST_F(Render, everyControlIsAnOptionAndTheFloatPathsOwnSwitchesSwitch) {
    ASSERT_EQ(kesta("render --help >help.txt").status, 0);
    std::ifstream h(path("help.txt"));
    std::stringstream help;
    help << h.rdbuf();
    for (const kesta::ParameterInfo& p : kesta::kParameters)
        EXPECT_NE(help.str().find(std::string("  --") + p.option + " "), std::string::npos) << p.option;
    make("dual.wav", "-e floating-point -b 32 -r 44100 -c 2");
    ASSERT_EQ(kesta("render dual.wav a.wav").status, 0);
    for (const char* option : {"--auto-mono", "--match"}) {
        ASSERT_EQ(kesta(std::string("render dual.wav on.wav ") + option + " on").status, 0) << option;
        ASSERT_EQ(kesta(std::string("render dual.wav off.wav ") + option + "=off").status, 0) << option;
        EXPECT_EQ(load(path("on.wav")).samples, load(path("a.wav")).samples) << option;
        EXPECT_NE(load(path("off.wav")).samples, load(path("a.wav")).samples) << option;
    }
}

// A write that fails part way (past the file size limit here, a full disk
// elsewhere) is an error, and leaves neither the output nor a temporary file.
TEST_F(Render, aWriteThatFailsPartWayLeavesNothing) {
    make("long.wav", "-b 16", kStereo, "repeat 3");
    for (const char* args : {"out.wav", "out.wav --bits 24", "out.flac"}) {
        const Result r = kesta(std::string("render long.wav ") + args, "trap '' XFSZ; ulimit -f 200; ");
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("cannot write out."), std::string::npos) << args << ": " << r.err;
        EXPECT_EQ(sh("test \"$(ls -A . tmp | tr '\\n' ' ')\" = '.: long.wav stderr tmp  tmp: '"), 0) << args;
    }
}

// Only the configuration window loads GTK: the other commands start without
// the cost of it and of the many libraries it brings.
TEST_F(Render, onlyTheConfigurationWindowLoadsGtk) {
    ASSERT_EQ(sh("LD_TRACE_LOADED_OBJECTS=1 '" KESTA_BIN "' >libraries"), 0);
    std::ifstream l(path("libraries"));
    std::stringstream libraries;
    libraries << l.rdbuf();
    EXPECT_NE(libraries.str().find("libsndfile"), std::string::npos) << libraries.str();
    EXPECT_EQ(libraries.str().find("libgtk"), std::string::npos) << libraries.str();
    const Result r = kesta("configure", "unset DISPLAY WAYLAND_DISPLAY; ");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open a display"), std::string::npos) << r.err;
}

TEST_F(Render, everyCommandHasHelpAndThereIsAVersion) {
    for (const char* command : {"render", "demo", "info", "configure"}) {
        const Result r = kesta(std::string(command) + " --help >help.txt");
        EXPECT_EQ(r.status, 0) << command;
        std::ifstream h(path("help.txt"));
        std::stringstream s;
        s << h.rdbuf();
        EXPECT_NE(s.str().find(std::string("usage: kesta ") + command), std::string::npos) << command;
    }
    EXPECT_EQ(kesta("--version >v.txt").status, 0);
}

}  // namespace

// Samples that are not numbers are muted alone, and said; --strict refuses them.
TEST_F(Render, samplesThatAreNotNumbersAreMutedAloneAndReported) {
    make("speech.wav", "-e floating-point -b 32");
    Audio a = load(path("speech.wav"));
    ASSERT_EQ(a.info.channels, 1);
    auto save = [&](const std::string& name, const std::vector<float>& samples) {
        SF_INFO info = a.info;
        SNDFILE* file = sf_open(path(name).c_str(), SFM_WRITE, &info);
        ASSERT_TRUE(file);
        sf_writef_float(file, samples.data(), a.frames());
        sf_close(file);
    };
    std::vector<float> bad = a.samples, zeroed = a.samples;
    for (int i = 1000; i < 1010; ++i) bad[i] = std::nanf(""), zeroed[i] = 0.0f;
    bad[5000] = INFINITY, zeroed[5000] = 0.0f;
    save("bad.wav", bad);
    save("zeroed.wav", zeroed);

    Result r = kesta("render bad.wav out.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("11 samples were not a number or infinite (the first at frame 1000)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("11 samples muted, nothing around them"), std::string::npos) << r.err;
    ASSERT_EQ(kesta("render zeroed.wav zeroed-out.wav").status, 0);
    EXPECT_EQ(load(path("out.wav")).samples, load(path("zeroed-out.wav")).samples);

    r = kesta("render bad.wav strict.wav --strict");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nothing written (--strict)"), std::string::npos) << r.err;
    struct stat st;
    EXPECT_NE(stat(path("strict.wav").c_str(), &st), 0);
}
