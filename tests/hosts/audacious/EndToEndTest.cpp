// The plug-in inside the real Audacious, headless: real files played into
// the file writer, and what it wrote compared with the float core's output
// for the same settings.
#include <gtest/gtest.h>

#include <memory>

#include "AudaciousHost.h"

namespace kesta::test {
namespace {

class AudaciousEndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (KESTA_SANITIZED) return;
        host_ = std::make_unique<AudaciousHost>(KESTA_AUDACIOUS_BIN, KESTA_AUDACIOUS_SYSTEM_PLUGINS,
                                                KESTA_AUDACIOUS_PLUGIN);
        const fs::path dir = host_->root();
        // Real speech, converted as a user would.
        const std::string sox = KESTA_SOX;
        const std::string speech = KESTA_SPEECH;
        runCommand(sox + " -q " + speech + " -r 44100 " + (dir / "speech-44k.wav").string());
        runCommand(sox + " -q " + speech + " -c 2 " + (dir / "speech-dual.wav").string());
        writeAudio(dir / "music-48k.wav", makeMusic(48000, 3.0));
        writeAudio(dir / "music-96k.wav", makeMusic(96000, 2.0));
    }
    static void TearDownTestSuite() { host_.reset(); }

    void SetUp() override {
        if (KESTA_SANITIZED)
            GTEST_SKIP() << "an instrumented plug-in cannot be loaded into the uninstrumented audacious";
    }

    static std::unique_ptr<AudaciousHost> host_;
};

std::unique_ptr<AudaciousHost> AudaciousEndToEnd::host_;

struct Case {
    const char* name;
    const char* file;
    const char* config;  // lines of the plug-in's section
    Settings settings;   // the same settings for the core
};

Settings with(void (*change)(Settings&)) {
    Settings s;
    change(s);
    return s;
}

const Case kCases[] = {
    {"mono 44.1 kHz speech in Voice", "speech-44k.wav", "m2s_flags=0",
     with([](Settings& s) { s.music = false; })},
    {"stereo 48 kHz music at -7.5 dB", "music-48k.wav", "vastor_spread=-7.5",
     with([](Settings& s) { s.spreadDb = -7.5f; })},
    {"stereo with equal channels, Subtone off", "speech-dual.wav", "subtone=FALSE",
     with([](Settings& s) { s.subtone = false; })},
    {"stereo with equal channels, automatic mono off", "speech-dual.wav", "auto_mono=FALSE",
     with([](Settings& s) { s.autoMono = false; })},
    {"stereo 48 kHz music, loudness matching off", "music-48k.wav", "match=FALSE",
     with([](Settings& s) { s.match = false; })},
    {"stereo 96 kHz music at -12 dB in Voice", "music-96k.wav", "vastor_spread=-12\nm2s_flags=0",
     with([](Settings& s) {
         s.spreadDb = -12.0f;
         s.music = false;
     })},
};

TEST_F(AudaciousEndToEnd, writesWhatTheCoreMakesOfRealFilesWithTheConfiguredSettings) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(host_->configure(c.config));
        const fs::path input = host_->root() / c.file;
        const Audio in = readAudio(input);
        ASSERT_GT(in.frames(), 0);

        const fs::path written = host_->render(input);
        ASSERT_FALSE(written.empty()) << host_->log();
        const Audio out = readAudio(written);
        const Audio expected = processWithCore(in, c.settings);

        std::printf("%s: %d frames written, largest difference from the core %g\n", c.name, out.frames(),
                    static_cast<double>(maxDifference(out, expected)));
        EXPECT_EQ(out.rate, in.rate);
        EXPECT_EQ(out.channels, 2);
        // The whole track and what the processor still held; the ringing
        // played out at the end of the playlist reaches the file writer only
        // when Audacious has not closed it yet.
        const int ring = static_cast<int>(std::lround(kRingSeconds * in.rate));
        if (out.frames() != expected.frames()) {
            EXPECT_EQ(out.frames(), expected.frames() - ring);
        }
        EXPECT_LE(maxDifference(out, expected), 1e-6f);
        // The setting was read: the defaults would have made something else.
        EXPECT_GT(maxDifference(out, processWithCore(in, Settings{})), 1e-3f);
    }
}

TEST_F(AudaciousEndToEnd, loadsAndListsUnderItsName) {
    ASSERT_TRUE(host_->configure(""));
    const std::string registry = host_->registry();
    const size_t entry = registry.find("/Effect/" + fs::path(KESTA_AUDACIOUS_PLUGIN).filename().string());
    ASSERT_NE(entry, std::string::npos);
    const size_t next = registry.find("\neffect /", entry);
    const std::string ours = registry.substr(entry, next - entry);
    EXPECT_NE(ours.find("\nname Orvane Kesta\n"), std::string::npos) << ours;
    EXPECT_NE(ours.find("\nconfig 1\n"), std::string::npos) << "no preferences announced";
}

TEST_F(AudaciousEndToEnd, preferencesWindowScreenshot) {
    if (std::string(KESTA_XVFB_RUN).empty() || std::string(KESTA_PREFS_SHOT).empty())
        GTEST_SKIP() << "xvfb-run or Audacious's GTK library is missing";
    // Non-default values, to see that the window shows what the
    // configuration holds.
    ASSERT_TRUE(host_->configure("m2s_flags=0\nvastor_spread=-6.5\nauto_mono=FALSE"));
    // The program finds the plug-ins as Audacious does, relative to itself.
    const fs::path shot = host_->root() / "bin" / "kesta-preferences-shot";
    fs::copy_file(KESTA_PREFS_SHOT, shot, fs::copy_options::overwrite_existing);
    const fs::path png = KESTA_SCREENSHOT;
    std::error_code ignored;
    fs::remove(png, ignored);
    const int rc =
        runCommand("timeout 120 " + std::string(KESTA_XVFB_RUN) + " -a -s '-screen 0 800x600x24' " +
                   shot.string() + " " + png.string() + " >/dev/null 2>&1");
    ASSERT_EQ(rc, 0);
    const std::string head = readText(png).substr(0, 8);
    EXPECT_EQ(head, "\x89PNG\r\n\x1a\n");
}

}  // namespace
}  // namespace kesta::test
