// Pictures of the stereo image: the streaming analysis against direct
// measurements, and the PNGs kesta writes read back as a user sees them.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Analysis.h"
#include "Picture.h"
#include "StereoImage.h"

namespace {

const double kPi = 3.14159265358979323846;

// Interleaved 16-bit frames whose left and right come from f(frame).
std::vector<short> signal(long frames, int channels,
                          const std::function<std::pair<double, double>(long)>& f) {
    std::vector<short> s(static_cast<size_t>(frames * channels));
    for (long i = 0; i < frames; ++i) {
        const auto lr = f(i);
        s[i * channels] = static_cast<short>(std::lround(lr.first * 32767));
        if (channels == 2) s[i * channels + 1] = static_cast<short>(std::lround(lr.second * 32767));
    }
    return s;
}

StereoImage analysed(const std::vector<short>& s, int channels, int rate,
                     StereoImage::Limits limits = StereoImage::Limits()) {
    StereoImage image(rate, limits);
    // Uneven blocks, as files deliver them.
    const long frames = static_cast<long>(s.size()) / channels;
    for (long at = 0, n = 1; at < frames; at += n, n = n * 3 % 4099 + 1)
        image.add(s.data() + at * channels, std::min(n, frames - at), channels);
    image.finish();
    return image;
}

// Mid at mid Hz, side at side Hz (0: none), a tenth of full scale each unless given.
std::vector<short> midSide(long frames, int rate, double midHz, double midAmp, double sideHz,
                           double sideAmp) {
    return signal(frames, 2, [=](long i) {
        const double m = midAmp * std::sin(2 * kPi * midHz * i / rate);
        const double s = sideHz > 0 ? sideAmp * std::sin(2 * kPi * sideHz * i / rate) : 0;
        return std::make_pair(m - s, m + s);
    });
}

size_t band(double hz) {
    const std::vector<double> c = StereoImage::bandCentres();
    size_t best = 0;
    for (size_t k = 0; k < c.size(); ++k)
        if (std::fabs(std::log(c[k] / hz)) < std::fabs(std::log(c[best] / hz))) best = k;
    return best;
}

TEST(StereoImage, summaryLevelsAreThoseOfTheWholeSignalInMemory) {
    unsigned seed = 1;
    for (int channels : {1, 2}) {
        const std::vector<short> s = signal(30000, channels, [&](long i) {
            seed = seed * 1664525u + 1013904223u;
            const double l = 0.5 * std::sin(0.01 * i) + (seed >> 20) / 8192.0 - 0.25;
            return std::make_pair(i == 7 ? 1.0 : l, 0.3 * l + 0.2 * std::sin(0.003 * i));
        });
        const Levels want = measure(s.data(), s.size() / channels, channels);
        const Levels got = analysed(s, channels, 44100).levels();
        EXPECT_NEAR(got.peakDb, want.peakDb, 1e-9) << channels;
        EXPECT_NEAR(got.rmsDb, want.rmsDb, 1e-9) << channels;
        EXPECT_NEAR(got.correlation, want.correlation, 1e-9) << channels;
        EXPECT_EQ(got.clipped, want.clipped) << channels;
    }
}

TEST(StereoImage, correlationFollowsTheImageWindowByWindowAndLongStreamsKeepFewWindows) {
    // 1.6 s each: mono, anti-phase, left only, silence; windows merge
    // pairwise when the limit is passed and must keep the parts apart.
    const int rate = 8000;
    const long part = 12800;
    const std::vector<short> s = signal(4 * part, 2, [&](long i) {
        const double x = 0.5 * std::sin(2 * kPi * 440 * i / rate);
        switch (i / part) {
            case 0:
                return std::make_pair(x, x);
            case 1:
                return std::make_pair(x, -x);
            case 2:
                return std::make_pair(x, 0.0);
            default:
                return std::make_pair(0.0, 0.0);
        }
    });
    for (size_t limit : {4096, 8}) {
        const StereoImage image = analysed(s, 2, rate, {1000, limit});
        const std::vector<double> c = image.correlation();
        ASSERT_LE(c.size(), std::max<size_t>(limit, 40));
        ASSERT_GE(c.size(), 4u);
        const double window = image.windowSeconds();
        EXPECT_NEAR(window * c.size(), 6.4, 1e-9);
        for (size_t k = 0; k < c.size(); ++k) {
            const int which = static_cast<int>(k * window / 1.6);
            const double expected[] = {1, -1, 0, NAN};
            if (which == 3)
                EXPECT_TRUE(std::isnan(c[k])) << k;
            else
                EXPECT_NEAR(c[k], expected[which], 1e-6) << "window " << k << " of " << c.size();
        }
    }
}

TEST(StereoImage, goniometerPointsAreABoundedUniformSampleOfTheWholeStream) {
    // First half mono, second half side only: the kept points hold both
    // halves in proportion.
    const long frames = 200000;
    const std::vector<short> s = signal(frames, 2, [&](long i) {
        const double x = 0.4 * std::sin(0.05 * i);
        return i < frames / 2 ? std::make_pair(x, x) : std::make_pair(x, -x);
    });
    const StereoImage image = analysed(s, 2, 44100, {2000, 4096});
    ASSERT_EQ(image.points().size(), 2000u);
    size_t sideOnly = 0;
    for (const StereoImage::Point& p : image.points()) {
        EXPECT_LE(std::fabs(p.mid) + std::fabs(p.side), 0.41f);
        sideOnly += std::fabs(p.mid) < 1e-4f && std::fabs(p.side) > 1e-3f;
    }
    EXPECT_NEAR(sideOnly / 2000.0, 0.5, 0.06);
}

TEST(StereoImage, sideToMidRatioPerBandAtAnyRate) {
    struct Case {
        int rate;
        long frames;
    } cases[] = {{8000, 8000 * 3}, {44100, 44100 * 2}, {96000, 96000 * 2}, {44100, 3000}};
    for (const Case& c : cases) {
        // 50 Hz: side 20 dB under mid. 1 kHz: side alone in the right channel
        // with the same in the left (side = mid). 2.5 kHz: mono.
        std::vector<short> s = midSide(c.frames, c.rate, 50, 0.2, 50, 0.02);
        const std::vector<short> k1 = midSide(c.frames, c.rate, 1000, 0.1, 1000, 0.1);
        const std::vector<short> k25 = midSide(c.frames, c.rate, 2500, 0.1, 0, 0);
        for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<short>(s[i] + k1[i] + k25[i]);
        const std::vector<double> db = analysed(s, 2, c.rate).sideToMidDb();
        const std::vector<double> centres = StereoImage::bandCentres();
        ASSERT_EQ(db.size(), centres.size());
        const bool shortStream = c.frames < c.rate;  // a single frame: wide leakage
        if (!shortStream) {
            EXPECT_NEAR(db[band(50)], -20, 1.0) << c.rate;
            EXPECT_LT(db[band(2500)], -30) << c.rate;
        }
        EXPECT_NEAR(db[band(1000)], 0, 1.0) << c.rate;
        for (size_t k = 0; k < centres.size(); ++k) {
            if (centres[k] < c.rate / 2.0) continue;
            EXPECT_TRUE(std::isnan(db[k])) << c.rate << " band " << centres[k];
        }
    }
    // Mono: no side in any band that sounds, nothing where nothing sounds.
    const std::vector<short> mono =
        signal(44100, 1, [](long i) { return std::make_pair(0.3 * std::sin(0.1 * i), 0.0); });
    const std::vector<double> db = analysed(mono, 1, 44100).sideToMidDb();
    const double hz = 0.1 * 44100 / (2 * kPi);
    EXPECT_EQ(db[band(hz)], -INFINITY);
    EXPECT_TRUE(std::isnan(db[band(20)]));
}

// --- The PNGs kesta writes -------------------------------------------------

std::string dir;

class Pictures : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kesta-picture-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        mkdir((dir + "/tmp").c_str(), 0700);
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
};

struct Outcome {
    int status;
    std::string out, err;
};

Outcome kesta(const std::string& args) {
    const std::string cmd = "cd '" + dir + "' && HOME='" + dir + "' TMPDIR='" + dir +
                            "/tmp' '" KESTA_BIN "' " + args + " >'" + dir + "/stdout' 2>'" + dir +
                            "/stderr' </dev/null";
    const int raw = std::system(cmd.c_str());
    std::ifstream o(dir + "/stdout"), e(dir + "/stderr");
    std::stringstream so, se;
    so << o.rdbuf();
    se << e.rdbuf();
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, so.str(), se.str()};
}

void writeWav(const std::string& name, const std::vector<short>& s, int channels, int rate) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open((dir + "/" + name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_writef_short(f, s.data(), static_cast<sf_count_t>(s.size() / channels));
    sf_close(f);
}

// Music-like noise: independent left and right with a strong bass.
std::vector<short> wideNoise(long frames) {
    unsigned seed = 7;
    double lowL = 0, lowR = 0;
    return signal(frames, 2, [&](long) {
        const auto white = [&] {
            seed = seed * 1664525u + 1013904223u;
            return (seed >> 8) / 8388608.0 - 1;
        };
        const double a = white(), b = white();
        lowL += 0.01 * (a - lowL);
        lowR += 0.01 * (b - lowR);
        const double common = 0.5 * white();
        return std::make_pair(0.12 * (a + common) + 2.5 * lowL, 0.12 * (b + common) + 2.5 * lowR);
    });
}

// A PNG as a user sees it: pixels, and which file's colour one shows.
class Png {
  public:
    explicit Png(const std::string& path) : surface_(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Png() { cairo_surface_destroy(surface_); }
    bool ok() const { return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface_); }
    int height() const { return cairo_image_surface_get_height(surface_); }
    // 0 for the first file's colour (blue), 1 for the second's (orange), -1 for anything else.
    int fileAt(int x, int y) const {
        const unsigned char* p = cairo_image_surface_get_data(surface_) +
                                 static_cast<size_t>(y) * cairo_image_surface_get_stride(surface_) + 4 * x;
        const int b = p[0], r = p[2];
        if (b - r > 40) return 0;
        if (r - b > 40) return 1;
        return -1;
    }
    // The pixels of a file's colour inside a rectangle.
    std::vector<std::pair<int, int>> ink(const PictureLayout::Rect& r, int file) const {
        std::vector<std::pair<int, int>> found;
        for (int y = static_cast<int>(r.y) + 1; y < static_cast<int>(r.y + r.h) - 1; ++y)
            for (int x = static_cast<int>(r.x) + 1; x < static_cast<int>(r.x + r.w) - 1; ++x)
                if (fileAt(x, y) == file) found.emplace_back(x, y);
        return found;
    }

  private:
    cairo_surface_t* surface_;
};

// The share of a goniometer's ink further across than a tenth of full scale.
double spreadAcross(const Png& png, const PictureLayout& l, int file) {
    const auto ink = png.ink(l.goniometer[file], file);
    if (ink.empty()) return -1;
    const double cx = l.goniometer[file].x + l.goniometer[file].w / 2;
    size_t wide = 0;
    for (const auto& p : ink) wide += std::fabs(p.first - cx) > 0.1 * l.goniometerRadius;
    return static_cast<double>(wide) / ink.size();
}

// The mean height of a file's curve in a column of a plot.
double curveY(const Png& png, const PictureLayout::Rect& r, int file, double x) {
    double sum = 0;
    int n = 0;
    for (int y = static_cast<int>(r.y) + 1; y < static_cast<int>(r.y + r.h) - 1; ++y)
        if (png.fileAt(static_cast<int>(std::lround(x)), y) == file) sum += y, ++n;
    return n ? sum / n : NAN;
}

TEST_F(Pictures, aMonoFileIsAVerticalLineAtCorrelationPlusOne) {
    writeWav(
        "speech.wav",
        signal(3 * 22050, 1,
               [](long i) { return std::make_pair(0.5 * std::sin(0.05 * i) * std::sin(0.0003 * i), 0.0); }),
        1, 22050);
    const Outcome r = kesta("picture speech.wav -o speech.png");
    ASSERT_EQ(r.status, 0) << r.err;
    const Png png(dir + "/speech.png");
    ASSERT_TRUE(png.ok());
    EXPECT_EQ(png.width(), PictureLayout::kWidth);
    EXPECT_EQ(png.height(), PictureLayout::kHeight);
    const PictureLayout l = pictureLayout(1);
    EXPECT_GT(png.ink(l.goniometer[0], 0).size(), 200u);
    EXPECT_EQ(spreadAcross(png, l, 0), 0.0);
    const auto curve = png.ink(l.correlation, 0);
    ASSERT_GT(curve.size(), l.correlation.w / 2);
    for (const auto& p : curve) ASSERT_NEAR(p.second, l.correlationY(1), 4) << p.first;
}

TEST_F(Pictures, renderDrawsThePairItMadeAndTheWidenedResultSpreadsAcross) {
    writeWav("voice.wav",
             signal(2 * 44100, 1,
                    [](long i) {
                        return std::make_pair(0.4 * std::sin(0.07 * i) + 0.2 * std::sin(0.31 * i), 0.0);
                    }),
             1, 44100);
    const Outcome r = kesta("render voice.wav voice-3d.wav --picture voice.png");
    ASSERT_EQ(r.status, 0) << r.err;
    const Png png(dir + "/voice.png");
    ASSERT_TRUE(png.ok());
    const PictureLayout l = pictureLayout(2);
    EXPECT_EQ(spreadAcross(png, l, 0), 0.0);
    EXPECT_GT(spreadAcross(png, l, 1), 0.3);
    // The result's correlation sits well under the input's +1.
    EXPECT_GT(curveY(png, l.correlation, 1, l.correlation.x + l.correlation.w / 2), l.correlationY(0.9));
    // The same pair drawn from the files afterwards gives the same picture.
    ASSERT_EQ(kesta("picture voice.wav voice-3d.wav -o again.png").status, 0);
    const Png again(dir + "/again.png");
    EXPECT_EQ(spreadAcross(again, l, 1), spreadAcross(png, l, 1));
}

TEST_F(Pictures, subtoneKeepsTheBassBandsOfTheResultNearerTheCentre) {
    writeWav("music.wav", wideNoise(3 * 44100), 2, 44100);
    ASSERT_EQ(kesta("render music.wav on.wav --subtone on --spread -12 --picture on.png").status, 0);
    ASSERT_EQ(kesta("render music.wav off.wav --subtone off --spread -12 --picture off.png").status, 0);
    const Png on(dir + "/on.png"), off(dir + "/off.png");
    const PictureLayout l = pictureLayout(2);
    for (double hz : {25.0, 31.5, 40.0, 50.0}) {
        const double yOn = curveY(on, l.spectrum, 1, l.spectrumX(hz)),
                     yOff = curveY(off, l.spectrum, 1, l.spectrumX(hz));
        ASSERT_FALSE(std::isnan(yOn) || std::isnan(yOff)) << hz;
        EXPECT_GT(yOn, yOff + 4) << hz << " Hz: lower on the picture is a larger y";
    }
}

TEST_F(Pictures, demoDrawsSpeechAndMusicAndSaysSo) {
    // Music mode, which spreads the speech across (Voice keeps it a line).
    const Outcome r = kesta("demo --mode music");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("speech.png"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("music.png"), std::string::npos) << r.out;
    for (const char* name : {"speech.png", "music.png"}) {
        const Png png(dir + "/kesta-demo/" + name);
        ASSERT_TRUE(png.ok()) << name;
        EXPECT_GT(spreadAcross(png, pictureLayout(2), 1), 0.05) << name;
    }
}

TEST_F(Pictures, emptyAndSilentStreamsDrawWithoutInk) {
    StereoImage empty(48000), silent(8000);
    const std::vector<short> zeros(2 * 4000);
    silent.add(zeros.data(), 4000, 2);
    empty.finish();
    silent.finish();
    std::string error;
    ASSERT_TRUE(drawPicture({"nothing", {"Subtone: on"}, {{"empty", &empty}, {"silent", &silent}}},
                            dir + "/q.png", error))
        << error;
    const Png png(dir + "/q.png");
    ASSERT_TRUE(png.ok());
    const PictureLayout l = pictureLayout(2);
    for (int file : {0, 1}) {
        EXPECT_TRUE(png.ink(l.goniometer[file], file).empty()) << file;
        EXPECT_TRUE(png.ink(l.correlation, file).empty()) << file;
        EXPECT_TRUE(png.ink(l.spectrum, file).empty()) << file;
    }
}

TEST_F(Pictures, whatCannotBeDrawnIsRefusedAndNoPictureIsLeft) {
    writeWav("a.wav", signal(1000, 2, [](long i) { return std::make_pair(0.1 * std::sin(0.1 * i), 0.0); }), 2,
             8000);
    writeWav("six.wav", std::vector<short>(6000), 6, 8000);
    const struct {
        const char* args;
        int status;
    } cases[] = {
        {"picture a.wav", 2},                       // no picture named
        {"picture -o p.png", 2},                    // no file
        {"picture a.wav a.wav a.wav -o p.png", 2},  // three files
        {"picture a.wav --spread -3 -o p.png", 2},  // settings are not the picture's
        {"picture missing.wav -o p.png", 1},
        {"picture six.wav -o p.png", 1},
        {"picture a.wav -o nofolder/p.png", 1},
        {"render a.wav - --type wav --picture p.png", 2},  // nothing to read back
    };
    for (const auto& c : cases) {
        const Outcome r = kesta(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
        EXPECT_FALSE(r.err.empty()) << c.args;
        struct stat st;
        EXPECT_NE(stat((dir + "/p.png").c_str(), &st), 0) << c.args;
    }
}

}  // namespace
