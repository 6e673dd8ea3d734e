// The kesta binary end to end: files in, files out, errors that lose nothing.
// The plug-in's results are checked against its engines' flat functions,
// looked up in the same shared object.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct M2S;
struct Vastor;

std::string dir;  // a fresh folder, also HOME, for each test

struct Result {
    int status;
    std::string out, err;
};

// The shell command that runs kesta (the one at bin) in dir, with dir as
// its home and dir/tmp as its temporary folder; prefix runs it as another
// user, for instance.
std::string kestaCommand(const std::string& args, const std::string& prefix = std::string(),
                         const std::string& bin = KESTA_BIN) {
    return "cd '" + dir + "' && HOME='" + dir + "' TMPDIR='" + dir + "/tmp' exec " + prefix + "'" + bin +
           "' " + args + " >'" + dir + "/stdout' 2>'" + dir + "/stderr' </dev/null";
}

Result kesta(const std::string& args, const std::string& prefix = std::string(),
             const std::string& bin = KESTA_BIN) {
    const std::string cmd = kestaCommand(args, prefix, bin);
    const int raw = std::system(cmd.c_str());
    Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, "", ""};
    std::ifstream o(dir + "/stdout"), e(dir + "/stderr");
    std::stringstream so, se;
    so << o.rdbuf();
    se << e.rdbuf();
    r.out = so.str();
    r.err = se.str();
    return r;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<short> tone(long frames, int channels, unsigned seed) {
    std::vector<short> v(static_cast<size_t>(frames * channels));
    for (long f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            v[f * channels + c] = static_cast<short>(12000 * std::sin(0.013 * f * (c + 1)) +
                                                     static_cast<int>(seed >> 20) - 2048);
        }
    return v;
}

void writeWav(const std::string& path, const std::vector<short>& s, int channels, int rate,
              int sub = SF_FORMAT_PCM_16) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = SF_FORMAT_WAV | sub;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_writef_short(f, s.data(), static_cast<sf_count_t>(s.size() / channels));
    sf_close(f);
}

std::vector<short> readWav(const std::string& path, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<short> s(static_cast<size_t>(info.frames * info.channels));
    sf_readf_short(f, s.data(), info.frames);
    sf_close(f);
    return s;
}

// The engines, straight from the plug-in's shared object.
struct Engines {
    Engines() {
        void* h = dlopen(KESTA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        m2sOpen = reinterpret_cast<decltype(m2sOpen)>(dlsym(h, "m2sOpen"));
        m2sClose = reinterpret_cast<decltype(m2sClose)>(dlsym(h, "m2sClose"));
        m2sEnable = reinterpret_cast<decltype(m2sEnable)>(dlsym(h, "m2sEnable"));
        m2sEnableHipass = reinterpret_cast<decltype(m2sEnableHipass)>(dlsym(h, "m2sEnableHipass"));
        m2sProcess16 = reinterpret_cast<decltype(m2sProcess16)>(dlsym(h, "m2sProcess16"));
        m2sProcess8 = reinterpret_cast<decltype(m2sProcess8)>(dlsym(h, "m2sProcess8"));
        vastorOpen = reinterpret_cast<decltype(vastorOpen)>(dlsym(h, "vastorOpen"));
        vastorClose = reinterpret_cast<decltype(vastorClose)>(dlsym(h, "vastorClose"));
        vastorEnable = reinterpret_cast<decltype(vastorEnable)>(dlsym(h, "vastorEnable"));
        vastorEnableHipass = reinterpret_cast<decltype(vastorEnableHipass)>(dlsym(h, "vastorEnableHipass"));
        vastorSetSpread = reinterpret_cast<decltype(vastorSetSpread)>(dlsym(h, "vastorSetSpread"));
        vastorProcess16 = reinterpret_cast<decltype(vastorProcess16)>(dlsym(h, "vastorProcess16"));
    }
    int (*m2sOpen)(M2S**, unsigned, unsigned) = nullptr;
    void (*m2sClose)(M2S*) = nullptr;
    void (*m2sEnable)(M2S*, unsigned char) = nullptr;
    void (*m2sEnableHipass)(M2S*, unsigned char) = nullptr;
    void (*m2sProcess16)(M2S*, const short*, short (*)[2], unsigned) = nullptr;
    void (*m2sProcess8)(M2S*, const unsigned char*, unsigned char (*)[2], unsigned) = nullptr;
    int (*vastorOpen)(Vastor**, unsigned, unsigned) = nullptr;
    void (*vastorClose)(Vastor*) = nullptr;
    void (*vastorEnable)(Vastor*, unsigned char) = nullptr;
    void (*vastorEnableHipass)(Vastor*, unsigned char) = nullptr;
    void (*vastorSetSpread)(Vastor*, float) = nullptr;
    void (*vastorProcess16)(Vastor*, const short (*)[2], short (*)[2], unsigned) = nullptr;
};

Engines& engines() {
    static Engines e;
    return e;
}

// What the plug-in makes of a file with the given settings, in blocks of 512 frames.
std::vector<short> expected(const std::vector<short>& in, int channels, int rate, unsigned mode, bool mono3d,
                            bool widen, float spread, bool subtone) {
    Engines& e = engines();
    const long frames = static_cast<long>(in.size() / channels);
    std::vector<short> out(static_cast<size_t>(frames * 2));
    if (channels == 1) {
        M2S* m = nullptr;
        e.m2sOpen(&m, rate, mode);
        e.m2sEnable(m, mono3d);
        e.m2sEnableHipass(m, subtone);
        for (long f = 0; f < frames; f += 512)
            e.m2sProcess16(m, in.data() + f, reinterpret_cast<short(*)[2]>(out.data() + 2 * f),
                           static_cast<unsigned>(std::min(512L, frames - f)));
        e.m2sClose(m);
    } else {
        Vastor* v = nullptr;
        e.vastorOpen(&v, rate, 0x40000000u);
        e.vastorEnable(v, widen);
        e.vastorSetSpread(v, spread);
        e.vastorEnableHipass(v, subtone);
        for (long f = 0; f < frames; f += 512)
            e.vastorProcess16(v, reinterpret_cast<const short(*)[2]>(in.data() + 2 * f),
                              reinterpret_cast<short(*)[2]>(out.data() + 2 * f),
                              static_cast<unsigned>(std::min(512L, frames - f)));
        e.vastorClose(v);
    }
    return out;
}

class Kesta : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kesta-cli-XXXXXX";
        dir = mkdtemp(tmpl);
        ASSERT_EQ(mkdir((dir + "/tmp").c_str(), 0700), 0);
        ASSERT_NE(engines().m2sOpen, nullptr);
    }
    void TearDown() override { (void)std::system(("rm -rf '" + dir + "'").c_str()); }
};

TEST_F(Kesta, rendersMonoAndStereoFilesAsThePlugInDoes) {
    for (int rate : {44100, 22050}) {
        for (int channels : {1, 2}) {
            const auto in = tone(3000, channels, rate + channels);
            writeWav(dir + "/in.wav", in, channels, rate);
            const Result r = kesta("render in.wav out.wav --player");
            ASSERT_EQ(r.status, 0) << r.err;
            SF_INFO info;
            const auto out = readWav(dir + "/out.wav", info);
            EXPECT_EQ(info.channels, 2);
            EXPECT_EQ(info.samplerate, rate);
            EXPECT_EQ(info.frames, 3000);
            EXPECT_EQ(out, expected(in, channels, rate, 8, true, true, 0.0f, true))
                << rate << " Hz, " << channels;
        }
    }
}

TEST_F(Kesta, optionsChangeThisRunOnlyUnlessSaved) {
    const auto in = tone(2000, 2, 7);
    writeWav(dir + "/in.wav", in, 2, 44100);
    Result r = kesta("render in.wav out.wav --player --spread=-6 --subtone off");
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO info;
    EXPECT_EQ(readWav(dir + "/out.wav", info), expected(in, 2, 44100, 8, true, true, -6.0f, false));
    EXPECT_FALSE(exists(dir + "/.xmms/config"));

    const auto mono = tone(2000, 1, 8);
    writeWav(dir + "/mono.wav", mono, 1, 44100);
    r = kesta("render mono.wav voice.wav --player --mode voice --save");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readWav(dir + "/voice.wav", info), expected(mono, 1, 44100, 0, true, true, 0.0f, true));
    r = kesta("info");
    EXPECT_NE(r.out.find("m2s_flags     = 0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Orvane Kesta for XMMS"), std::string::npos);
}

TEST_F(Kesta, eightBitInputIsHandedOverAsEightBit) {
    const auto in = tone(1500, 1, 9);
    writeWav(dir + "/in.wav", in, 1, 22050);
    const Result r = kesta("render in.wav out.wav --player --bits 8");
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO info;
    const auto out = readWav(dir + "/out.wav", info);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_U8);

    Engines& e = engines();
    std::vector<unsigned char> in8(in.size()), out8(in.size() * 2);
    // The host rounds to the nearest 8-bit step: no DC offset of half a step.
    for (size_t k = 0; k < in.size(); ++k)
        in8[k] = static_cast<unsigned char>(std::min((in[k] + 128) >> 8, 127) + 128);
    M2S* m = nullptr;
    e.m2sOpen(&m, 22050, 8);
    e.m2sEnable(m, 1);
    e.m2sEnableHipass(m, 1);
    for (size_t f = 0; f < in8.size(); f += 512)
        e.m2sProcess8(m, in8.data() + f, reinterpret_cast<unsigned char(*)[2]>(out8.data() + 2 * f),
                      static_cast<unsigned>(std::min<size_t>(512, in8.size() - f)));
    e.m2sClose(m);
    ASSERT_EQ(out.size(), out8.size());
    for (size_t k = 0; k < out.size(); ++k) ASSERT_EQ(out[k], (out8[k] - 128) * 256) << k;
}

TEST_F(Kesta, badInputGetsOneClearErrorAndLeavesNoOutput) {
    std::ofstream(dir + "/keep.wav") << "precious";
    Result r = kesta("render missing.wav keep.wav");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.wav"), std::string::npos) << r.err;
    std::ifstream kept(dir + "/keep.wav");
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "precious");

    std::ofstream(dir + "/noise.wav") << "this is not audio";
    r = kesta("render noise.wav out.wav");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("noise.wav"), std::string::npos);

    writeWav(dir + "/six.wav", tone(100, 6, 1), 6, 44100);
    r = kesta("render six.wav out.wav");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("six.wav"), std::string::npos);
    EXPECT_NE(r.err.find("6 channels"), std::string::npos);

    writeWav(dir + "/in.wav", tone(100, 2, 1), 2, 44100);
    r = kesta("render in.wav no/such/folder/out.wav");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no/such/folder/out.wav"), std::string::npos);
    r = kesta("render in.wav out.xyz");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("out.xyz"), std::string::npos);

    EXPECT_FALSE(exists(dir + "/out.wav"));
    // Nothing half-written is left beside the targets.
    r = kesta("info");
    EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir + "' | grep '^\\.out')\"").c_str()), 0);
}

TEST_F(Kesta, unknownOptionsAndBadValuesAreRefusedWithOneLineAndAHint) {
    writeWav(dir + "/in.wav", tone(100, 2, 1), 2, 44100);
    for (const char* args : {"render in.wav out.wav --spread abc",
                             "render in.wav out.wav --block 0",
                             "render in.wav out.wav --gain 0x10",
                             "render in.wav out.wav --spread -0x3",
                             "render in.wav out.wav --type flac",
                             "render in.wav out.wav --player --type raw",
                             "render in.wav out.wav --spread 3",
                             "render in.wav out.wav --mode jazz",
                             "render in.wav out.wav --loud",
                             "render in.wav",
                             "frobnicate",
                             "render in.wav out.wav --bits 12",
                             "info --mode voice",
                             "demo --bits 8",
                             "render in.wav out.wav --player --bits 24",
                             "render in.wav out.wav --gain 99",
                             "render in.wav - ",
                             "render in.wav out.wav -j 2",
                             "render in.wav out.wav --player --auto-mono off",
                             "render in.wav out.wav --player --match off",
                             "demo --auto-mono off",
                             "render in.wav out.wav --auto-mono maybe"}) {
        const Result r = kesta(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << args << ": " << r.err;
        EXPECT_NE(r.err.find("--help'."), std::string::npos) << args << ": " << r.err;
        EXPECT_FALSE(exists(dir + "/out.wav")) << args;
    }
    // An unknown option is named as such, wherever it stands, and takes no value with it.
    for (const char* args : {"render in.wav out.wav --loud", "render --loud in.wav out.wav"})
        EXPECT_NE(kesta(args).err.find("unknown option --loud\n"), std::string::npos) << args;
}

TEST_F(Kesta, theDemoNeedsNoInputAndPrintsItsTable) {
    const Result r = kesta("demo");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* f : {"speech-in.wav", "speech-out.wav", "music-in.wav", "music-out.wav"})
        EXPECT_TRUE(exists(dir + "/kesta-demo/" + f)) << f;
    EXPECT_NE(r.out.find("correlation"), std::string::npos);
    // The rows are named after the samples; the speech renders in Voice mode,
    // as the table's first line says, whose two sides are the same.
    EXPECT_NE(r.out.find("speech out"), std::string::npos);
    EXPECT_EQ(r.out.find("voice"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("music out"), std::string::npos);
    EXPECT_NE(r.out.find("mono-to-3D on (Voice)"), std::string::npos) << r.out;
    SF_INFO info;
    const std::vector<short> speech = readWav(dir + "/kesta-demo/speech-out.wav", info);
    ASSERT_EQ(info.channels, 2);
    size_t differing = 0;
    for (size_t i = 0; i + 1 < speech.size(); i += 2) differing += speech[i] != speech[i + 1];
    EXPECT_EQ(differing, 0u);
    // A mode given, or a save, keeps the settings in force: the user's own,
    // and Voice never goes into the player's file unasked.
    EXPECT_NE(kesta("demo --mode music").out.find("mono-to-3D on (Music)"), std::string::npos);
    EXPECT_NE(kesta("demo --save --spread -6").out.find("mono-to-3D on (Music)"), std::string::npos);
    EXPECT_NE(kesta("info").out.find("m2s_flags     = 8"), std::string::npos);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Entries of folder whose names start with prefix.
int countEntries(const std::string& folder, const std::string& prefix) {
    int count = 0;
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::string(e->d_name).compare(0, prefix.size(), prefix) == 0) ++count;
        closedir(d);
    }
    return count;
}

// Settings that cannot be read are never replaced: --save says why and fails.
// Root reads every file, so the private file left by "sudo xmms" is tried by
// kesta running as nobody; a folder or a FIFO in the file's place needs no
// other user.
TEST_F(Kesta, saveNeverReplacesSettingsItCannotRead) {
    writeWav(dir + "/in.wav", tone(100, 2, 1), 2, 44100);
    const std::string xmms = dir + "/.xmms", config = xmms + "/config";
    const std::string precious = "[xmms]\nvolume=80\nskin=/usr/share/xmms/Skins/mine\n";
    struct Case {
        const char* name;
        std::function<void()> make;
        std::string prefix;
    };
    const bool root = geteuid() == 0;
    const Case cases[] = {
        {"a private file of another user",
         [&] {
             std::ofstream(config) << precious;
             chmod(config.c_str(), root ? 0600 : 0);
             if (root) {
                 ASSERT_EQ(chown(xmms.c_str(), 65534, 65534), 0);  // the user's own folder
             }
         },
         root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : ""},
        {"a folder", [&] { ASSERT_EQ(mkdir(config.c_str(), 0755), 0); }, ""},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(config.c_str(), 0644), 0); }, ""},
    };
    chmod(dir.c_str(), 0755);
    // The other user runs a copy of kesta and its libraries in dir: the build
    // tree may lie in a folder only root can enter.
    const std::string copy = dir + "/run/bin/kesta";
    const std::string libs =
        std::string(KESTA_PLUGIN_PATH).substr(0, std::string(KESTA_PLUGIN_PATH).rfind('/'));
    const bool otherUserRuns =
        root && std::system(("mkdir -p '" + dir + "/run/bin' '" + dir + "/run/lib' && cp '" KESTA_BIN "' '" +
                             copy + "' && cp -P '" + libs + "'/libxmms.so* '" KESTA_PLUGIN_PATH "' '" + dir +
                             "/run/lib/' && chmod -R a+rX '" + dir + "/run' && " + cases[0].prefix + "'" +
                             copy + "' --version >/dev/null 2>&1")
                                .c_str()) == 0;
    for (const Case& c : cases) {
        if (!c.prefix.empty() && !otherUserRuns) {
            std::printf("skipped \"%s\": nobody cannot run a copy of kesta in %s\n", c.name, dir.c_str());
            continue;
        }
        (void)std::system(("rm -rf '" + xmms + "'").c_str());
        ASSERT_EQ(mkdir(xmms.c_str(), 0755), 0);
        c.make();
        const std::string bin = c.prefix.empty() ? std::string(KESTA_BIN) : copy;
        const Result r = kesta("render in.wav out.wav --mode voice --save", c.prefix, bin);
        EXPECT_EQ(r.status, 1) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find("cannot save the settings: " + config + " cannot be read"), std::string::npos)
            << c.name << ": " << r.err;
        struct stat st;
        ASSERT_EQ(lstat(config.c_str(), &st), 0) << c.name;
        if (S_ISREG(st.st_mode)) {
            // The same file with the mode it was given, then made readable
            // again (as a user, the test cannot read it either) for its bytes.
            EXPECT_EQ(st.st_mode & 07777, root ? 0600u : 0u) << c.name;
            ASSERT_EQ(chmod(config.c_str(), 0600), 0);
            EXPECT_EQ(readFile(config), precious) << c.name;
            ASSERT_EQ(chmod(config.c_str(), root ? 0600 : 0), 0);
        } else {
            EXPECT_TRUE(S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode)) << c.name;
        }
        EXPECT_FALSE(exists(dir + "/out.wav")) << c.name;
        // Without --save the run goes on with the defaults, and info says why.
        Result info = kesta("info", c.prefix, bin);
        EXPECT_EQ(info.status, 0) << c.name;
        EXPECT_NE(info.out.find(config + " (cannot be read: "), std::string::npos)
            << c.name << ": " << info.out;
        if (!root || c.prefix.empty()) {
            EXPECT_EQ(kesta("render in.wav out.wav --spread -6").status, 0) << c.name;
            EXPECT_EQ(std::remove((dir + "/out.wav").c_str()), 0) << c.name;
        }
    }
}

// The output: a link is written through, an existing file keeps its mode.
TEST_F(Kesta, renderWritesThroughLinksAndKeepsTheOutputsMode) {
    writeWav(dir + "/in.wav", tone(500, 2, 3), 2, 44100);
    ASSERT_EQ(mkdir((dir + "/music").c_str(), 0755), 0);
    ASSERT_EQ(symlink("music/wide.wav", (dir + "/out.wav").c_str()), 0);  // to nothing yet
    Result r = kesta("render in.wav out.wav");
    ASSERT_EQ(r.status, 0) << r.err;
    struct stat st;
    ASSERT_EQ(lstat((dir + "/out.wav").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    SF_INFO info;
    EXPECT_EQ(readWav(dir + "/music/wide.wav", info).size(), 1000u);

    for (mode_t mode : {0600, 0664}) {
        ASSERT_EQ(chmod((dir + "/music/wide.wav").c_str(), mode), 0);
        r = kesta("render in.wav out.wav");
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(lstat((dir + "/out.wav").c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        ASSERT_EQ(stat((dir + "/music/wide.wav").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
}

// An input without frames gives a valid empty file in every format, and a
// good output already there is only replaced by one that reads back.
TEST_F(Kesta, anEmptyInputGivesAValidEmptyFileInEveryFormat) {
    writeWav(dir + "/full.wav", tone(300, 2, 4), 2, 22050);
    writeWav(dir + "/empty.wav", {}, 2, 22050);
    for (const char* ext : {"flac", "wav", "aiff", "au", "caf", "ogg"}) {
        const std::string out = std::string("out.") + ext;
        Result r = kesta("render full.wav " + out);
        ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
        r = kesta("render empty.wav " + out);
        ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
        SF_INFO info{};
        SNDFILE* f = sf_open((dir + "/" + out).c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr) << ext << ": " << sf_strerror(nullptr);
        EXPECT_EQ(info.channels, 2) << ext;
        EXPECT_EQ(info.samplerate, 22050) << ext;
        short frame[2];
        EXPECT_EQ(sf_readf_short(f, frame, 1), 0) << ext;
        sf_close(f);
    }
    // libsndfile cannot write an empty MP3 or Opus file that it reads back:
    // refused with the reason, and the good output stays.
    for (const char* ext : {"mp3", "opus"}) {
        const std::string out = std::string("out.") + ext;
        writeWav(dir + "/full.wav", tone(300, 2, 4), 2, 48000);
        writeWav(dir + "/empty.wav", {}, 2, 48000);
        ASSERT_EQ(kesta("render full.wav " + out).status, 0) << ext;
        const Result r = kesta("render empty.wav " + out);
        EXPECT_EQ(r.status, 1) << ext;
        EXPECT_NE(r.err.find("no audio"), std::string::npos) << r.err;
        SF_INFO info{};
        SNDFILE* f = sf_open((dir + "/" + out).c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr) << ext;
        EXPECT_GT(info.frames, 0) << ext;
        sf_close(f);
    }
}

// Whether process pid has a file open in folder that is being written: an
// unnamed one, or one with a hidden name.
bool writingInto(pid_t pid, const std::string& folder) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    bool found = false;
    if (DIR* d = opendir(fds.c_str())) {
        while (const dirent* e = readdir(d)) {
            char target[4096];
            const ssize_t n = readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            const std::string t(target, static_cast<size_t>(n));
            if (t.compare(0, folder.size() + 1, folder + "/") == 0 &&
                (t.find("(deleted)") != std::string::npos || t.find("/.out.wav.") != std::string::npos))
                found = true;
        }
        closedir(d);
    }
    return found;
}

// However the run ends, even killed, the private settings copy made for its
// options and its half-written output do not stay behind; an interrupted run
// leaves the output that was there, and ends by the signal it was sent
// (status 128 + signal in a shell).
TEST_F(Kesta, anInterruptedRenderLeavesNothingBehind) {
    writeWav(dir + "/long.wav", tone(44100 * 120, 2, 5), 2, 44100);
    std::ofstream(dir + "/out.wav") << "previous result";
    for (const char* path : {" --player --block 16", ""}) {
        for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                const std::string cmd =
                    kestaCommand(std::string("render long.wav out.wav --spread -6") + path);
                execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
                _exit(127);
            }
            // Wait until the render is under way: its temporary output is open.
            bool started = false;
            for (int k = 0; k < 20000 && !started; ++k) {
                started = writingInto(child, dir);
                if (!started) std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            ASSERT_TRUE(started) << "signal " << signal << path;
            ASSERT_EQ(kill(child, signal), 0);
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
                << "signal " << signal << ": " << status;
            EXPECT_EQ(countEntries(dir + "/tmp", "kesta-settings-"), 0) << "signal " << signal << path;
            EXPECT_EQ(readFile(dir + "/out.wav"), "previous result") << "signal " << signal << path;
            EXPECT_EQ(countEntries(dir, ".out.wav."), 0) << "signal " << signal << path;
            (void)std::system(("rm -f '" + dir + "'/.out.wav.*").c_str());
        }
    }
}

// A FIFO with a reader that takes all it is sent. It is held open for
// writing too, so that its end comes only with finish(), and a test whose
// kesta never opens it does not hang.
class FifoReader {
  public:
    explicit FifoReader(const std::string& path) {
        EXPECT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
        read_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        hold_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        fcntl(read_, F_SETFL, 0);
        thread_ = std::thread([this] {
            char block[65536];
            for (ssize_t n; (n = read(read_, block, sizeof block)) != 0;)
                if (n > 0)
                    got_.append(block, static_cast<size_t>(n));
                else if (errno != EINTR)
                    break;
        });
    }
    ~FifoReader() { finish(); }
    // All that was written into the FIFO.
    const std::string& finish() {
        if (hold_ >= 0) close(hold_), hold_ = -1;
        if (thread_.joinable()) thread_.join();
        if (read_ >= 0) close(read_), read_ = -1;
        return got_;
    }

  private:
    int read_ = -1, hold_ = -1;
    std::string got_;
    std::thread thread_;
};

// Outputs that are not regular files (a FIFO, a device, standard output by
// a name of its own) are written straight into, each with the whole result,
// and stay what they were; a socket is refused before any work.
TEST_F(Kesta, outputsThatAreNotFilesAreWrittenIntoAndNeverReplaced) {
    writeWav(dir + "/in.wav", tone(4000, 2, 9), 2, 44100);
    ASSERT_EQ(mkdir((dir + "/out").c_str(), 0755), 0);
    const std::string null = dir + "/null";
    int probe = -1;
    const bool device = mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                        (probe = open(null.c_str(), O_WRONLY | O_CLOEXEC)) >= 0;
    if (probe >= 0) close(probe);
    if (!device) std::printf("device cases skipped: cannot make a working null device in %s\n", dir.c_str());
    const struct {
        const char* args;
        const char* node;    // a FIFO, or "null" for the device
        const char* starts;  // what the FIFO's reader gets
    } cases[] = {
        {"render in.wav fifo --type wav", "fifo", "RIFF"},
        {"render in.wav fifo --type wav --player", "fifo", "RIFF"},
        {"picture in.wav -o fifo", "fifo", "\x89PNG"},
        {"render in.wav out.wav --picture fifo", "fifo", "\x89PNG"},
        {"render in.wav -o out --type wav", "out/in.wav", "RIFF"},
        {"render in.wav null --type wav", "null", nullptr},
        {"picture in.wav -o null", "null", nullptr},
    };
    for (const auto& c : cases) {
        if (!c.starts && !device) continue;
        const std::string node = dir + "/" + c.node;
        std::unique_ptr<FifoReader> reader;
        if (c.starts) reader = std::make_unique<FifoReader>(node);
        struct stat before, after;
        ASSERT_EQ(lstat(node.c_str(), &before), 0) << c.args;
        const Result r = kesta(c.args);
        const std::string got = reader ? reader->finish() : std::string();
        EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
        ASSERT_EQ(lstat(node.c_str(), &after), 0) << c.args;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.args;
        EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT) << c.args;
        if (c.starts) {
            EXPECT_EQ(got.compare(0, std::strlen(c.starts), c.starts), 0) << c.args;
            EXPECT_GT(got.size(), 4000u) << c.args;
            unlink(node.c_str());
        }
    }
    // Standard output by name, as a pipe: the same bytes as "-" gives.
    const Result dash = kesta("render in.wav - --type wav");
    ASSERT_EQ(dash.status, 0) << dash.err;
    for (const char* name : {"/dev/stdout", "/proc/self/fd/1"}) {
        const std::string piped = "cd '" + dir + "' && TMPDIR='" + dir +
                                  "/tmp' '" KESTA_BIN "' render in.wav " + name +
                                  " --type wav </dev/null | cat >piped";
        EXPECT_EQ(std::system(piped.c_str()), 0) << name;
        EXPECT_TRUE(readFile(dir + "/piped") == dash.out) << name;
    }
    // A socket cannot be opened: refused in one line, before any work.
    const std::string socketPath = dir + "/sock";
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const Result r = kesta("render in.wav sock --type wav");
    close(fd);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    struct stat st;
    ASSERT_EQ(lstat(socketPath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
}

// The picture may be neither the input nor the output of its own command,
// by any name: refused before any work, and both are left as they were.
TEST_F(Kesta, aPictureIsNeverTheCommandsInputOrOutput) {
    writeWav(dir + "/p.wav", tone(2000, 2, 4), 2, 44100);
    const std::string input = readFile(dir + "/p.wav");
    ASSERT_EQ(symlink("p.wav", (dir + "/link.png").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    for (const char* args :
         {"render p.wav po.wav --picture p.wav", "render p.wav po.wav --picture link.png",
          "render p.wav po.wav --picture po.wav", "render p.wav po.wav --picture sub/../po.wav",
          "picture p.wav -o p.wav", "picture p.wav -o link.png"}) {
        const Result r = kesta(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << args << ": " << r.err;
        EXPECT_EQ(readFile(dir + "/p.wav"), input) << args;
        EXPECT_FALSE(exists(dir + "/po.wav")) << args;
    }
}

// A batch killed outright takes its workers with it: nothing is put in
// place afterwards, even by a worker whose input goes on to its end. The
// inputs are FIFOs fed by the test, held after their first second until the
// batch's parent is killed; its orphaned workers come to this process.
TEST_F(Kesta, aKilledBatchPutsNothingInPlace) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const auto oldPipe = signal(SIGPIPE, SIG_IGN);
    writeWav(dir + "/whole.wav", tone(44100 * 3, 2, 11), 2, 44100);
    const std::string bytes = readFile(dir + "/whole.wav");
    ASSERT_EQ(mkdir((dir + "/out").c_str(), 0755), 0);
    for (const char* name : {"/a.wav", "/b.wav"}) ASSERT_EQ(mkfifo((dir + name).c_str(), 0644), 0);
    const pid_t parent = fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
        const std::string cmd = kestaCommand("render a.wav b.wav -o out -j 2 -q");
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const size_t first = 44 + 44100 * 4;
    int feeds[2];
    for (int k = 0; k < 2; ++k) {
        feeds[k] = open((dir + (k ? "/b.wav" : "/a.wav")).c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(feeds[k], 0);
        ASSERT_EQ(write(feeds[k], bytes.data(), first), static_cast<ssize_t>(first));
    }
    ASSERT_EQ(kill(parent, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(parent, &status, 0), parent);
    for (int fd : feeds) {
        (void)!write(fd, bytes.data() + first, bytes.size() - first);
        close(fd);
    }
    while (waitpid(-1, &status, 0) > 0) {
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    signal(SIGPIPE, oldPipe);
    EXPECT_EQ(countEntries(dir + "/out", ""), 2) << "only . and .. in out/";
}

}  // namespace
