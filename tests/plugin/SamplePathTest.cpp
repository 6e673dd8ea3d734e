// The plug-in as the player sees it: loaded with dlopen, entered through
// get_eplugin_info, blocks handed to mod_samples. Results are compared with
// the engines' own flat functions, looked up in the same shared object.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "PlayerCalls.h"
#include "plugin.h"

namespace {

struct M2S;
struct Vastor;
typedef int (*M2sOpen)(M2S**, unsigned, unsigned);
typedef void (*M2sClose)(M2S*);
typedef void (*M2sSwitch)(M2S*, unsigned char);
typedef void (*M2sProcess16)(M2S*, const short*, short (*)[2], unsigned);
typedef void (*M2sProcess8)(M2S*, const unsigned char*, unsigned char (*)[2], unsigned);
typedef int (*VastorOpen)(Vastor**, unsigned, unsigned);
typedef void (*VastorClose)(Vastor*);
typedef void (*VastorSwitch)(Vastor*, unsigned char);
typedef void (*VastorSpread)(Vastor*, float);
typedef void (*VastorProcess16)(Vastor*, const short (*)[2], short (*)[2], unsigned);
typedef void (*VastorProcess8)(Vastor*, const unsigned char (*)[2], unsigned char (*)[2], unsigned);

class Plugin {
  public:
    Plugin() {
        handle_ = dlopen(KESTA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!handle_) return;
        auto info = reinterpret_cast<EffectPlugin* (*)(void)>(dlsym(handle_, "get_eplugin_info"));
        if (info) ep = info();
        load(m2sOpen, "m2sOpen");
        load(m2sClose, "m2sClose");
        load(m2sEnable, "m2sEnable");
        load(m2sEnableHipass, "m2sEnableHipass");
        load(m2sProcess16, "m2sProcess16");
        load(m2sProcess8, "m2sProcess8");
        load(vastorOpen, "vastorOpen");
        load(vastorClose, "vastorClose");
        load(vastorEnable, "vastorEnable");
        load(vastorEnableHipass, "vastorEnableHipass");
        load(vastorSetSpread, "vastorSetSpread");
        load(vastorProcess16, "vastorProcess16");
        load(vastorProcess8, "vastorProcess8");
    }
    template <class F>
    void load(F& f, const char* name) {
        f = reinterpret_cast<F>(dlsym(handle_, name));
    }

    void* handle_ = nullptr;
    EffectPlugin* ep = nullptr;
    M2sOpen m2sOpen = nullptr;
    M2sClose m2sClose = nullptr;
    M2sSwitch m2sEnable = nullptr, m2sEnableHipass = nullptr;
    M2sProcess16 m2sProcess16 = nullptr;
    M2sProcess8 m2sProcess8 = nullptr;
    VastorOpen vastorOpen = nullptr;
    VastorClose vastorClose = nullptr;
    VastorSwitch vastorEnable = nullptr, vastorEnableHipass = nullptr;
    VastorSpread vastorSetSpread = nullptr;
    VastorProcess16 vastorProcess16 = nullptr;
    VastorProcess8 vastorProcess8 = nullptr;
};

Plugin& plugin() {
    static Plugin p;
    return p;
}

std::string home;

void writeSettings(const std::string& text) {
    std::string dir = home + "/.xmms";
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    std::ofstream(dir + "/config") << text;
}

void removeSettings() {
    std::remove((home + "/.xmms/config").c_str());
}

std::vector<short> music16(size_t samples, unsigned seed) {
    std::vector<short> v(samples);
    for (size_t i = 0; i < samples; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double tone = 9000.0 * std::sin(0.031 * i) + 5000.0 * std::sin(0.0071 * i);
        v[i] = static_cast<short>(tone + static_cast<int>((seed >> 16) % 4001) - 2000);
    }
    return v;
}

class SamplePath : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/kesta-home-XXXXXX";
        home = mkdtemp(tmpl);
        setenv("HOME", home.c_str(), 1);
    }
    static void TearDownTestSuite() { (void)std::system(("rm -rf '" + home + "'").c_str()); }
    void SetUp() override {
        ASSERT_NE(p.handle_, nullptr) << dlerror();
        ASSERT_NE(p.ep, nullptr);
        ASSERT_NE(p.m2sOpen, nullptr);
        ASSERT_NE(p.vastorOpen, nullptr);
        removeSettings();
        p.ep->init();
    }

    // Mono block through the plug-in; the result as 16-bit stereo samples.
    std::vector<short> mono16(std::vector<short> in, int rate, AFormat fmt = FMT_S16_NE) {
        gpointer data = in.data();
        const gint got = p.ep->mod_samples(&data, static_cast<gint>(in.size() * 2), fmt, rate, 1);
        EXPECT_EQ(got, static_cast<gint>(in.size() * 4));
        EXPECT_NE(data, static_cast<gpointer>(in.data()));
        const short* out = static_cast<const short*>(data);
        return std::vector<short>(out, out + in.size() * 2);
    }
    std::vector<short> stereo16(std::vector<short> in, int rate, AFormat fmt = FMT_S16_LE) {
        gpointer data = in.data();
        const gint got = p.ep->mod_samples(&data, static_cast<gint>(in.size() * 2), fmt, rate, 2);
        EXPECT_EQ(got, static_cast<gint>(in.size() * 2));
        EXPECT_NE(data, static_cast<gpointer>(in.data()));
        const short* out = static_cast<const short*>(data);
        return std::vector<short>(out, out + in.size());
    }
    // A block at another rate, so that the next block at rate re-creates the engine fresh.
    void restartMono(int rate) { mono16(std::vector<short>(8), rate + 1); }
    void restartStereo(int rate) { stereo16(std::vector<short>(8), rate + 1); }

    std::vector<short> directMono16(const std::vector<short>& in, int rate, unsigned mode, bool on,
                                    bool hipass) {
        M2S* m = nullptr;
        EXPECT_EQ(p.m2sOpen(&m, rate, mode), 0);
        p.m2sEnable(m, on);
        p.m2sEnableHipass(m, hipass);
        std::vector<short> out(in.size() * 2);
        p.m2sProcess16(m, in.data(), reinterpret_cast<short(*)[2]>(out.data()), in.size());
        p.m2sClose(m);
        return out;
    }
    std::vector<short> directStereo16(const std::vector<short>& in, int rate, bool on, float spread,
                                      bool hipass) {
        Vastor* v = nullptr;
        EXPECT_EQ(p.vastorOpen(&v, rate, 0x40000000u), 0);
        p.vastorEnable(v, on);
        p.vastorSetSpread(v, spread);
        p.vastorEnableHipass(v, hipass);
        std::vector<short> out(in.size());
        p.vastorProcess16(v, reinterpret_cast<const short(*)[2]>(in.data()),
                          reinterpret_cast<short(*)[2]>(out.data()), in.size() / 2);
        p.vastorClose(v);
        return out;
    }

    Plugin& p = plugin();
};

TEST_F(SamplePath, theRecordIsWhatThePlayerExpects) {
    EXPECT_STREQ(p.ep->description, "Orvane Kesta for XMMS");
    EXPECT_EQ(p.ep->handle, nullptr);
    EXPECT_EQ(p.ep->filename, nullptr);
    EXPECT_NE(p.ep->init, nullptr);
    EXPECT_EQ(p.ep->cleanup, nullptr);
    EXPECT_EQ(p.ep->about, nullptr);
    EXPECT_NE(p.ep->configure, nullptr);
    EXPECT_NE(p.ep->mod_samples, nullptr);
    EXPECT_NE(p.ep->query_format, nullptr);
    // Internals stay inside the shared object.
    EXPECT_EQ(dlsym(p.handle_, "kesta_cfg"), nullptr);
    EXPECT_EQ(dlsym(p.handle_, "_Z16GetFloatLibraryv"), nullptr);
    EXPECT_EQ(dlsym(p.handle_, "m2sShortFIRTable"), nullptr);  // the engines' data, not their interface
    EXPECT_EQ(dlsym(p.handle_, "m2sLongFIRTable"), nullptr);
}

TEST_F(SamplePath, monoBlocksBecomeTheMonoEnginesStereoWithDefaultSettings) {
    const auto in = music16(500, 1);
    restartMono(44100);
    EXPECT_EQ(mono16(in, 44100), directMono16(in, 44100, 8, true, true));
}

TEST_F(SamplePath, monoEightBitBlocksDoubleInLength) {
    std::vector<unsigned char> in(300);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(128 + 100 * std::sin(0.1 * i));
    restartMono(22050);
    gpointer data = in.data();
    ASSERT_EQ(p.ep->mod_samples(&data, 300, FMT_U8, 22050, 1), 600);

    M2S* m = nullptr;
    p.m2sOpen(&m, 22050, 8);
    p.m2sEnable(m, 1);
    p.m2sEnableHipass(m, 1);
    std::vector<unsigned char> expected(600);
    p.m2sProcess8(m, in.data(), reinterpret_cast<unsigned char(*)[2]>(expected.data()), 300);
    p.m2sClose(m);
    EXPECT_EQ(std::vector<unsigned char>(static_cast<unsigned char*>(data),
                                         static_cast<unsigned char*>(data) + 600),
              expected);
}

TEST_F(SamplePath, stereoBlocksAreWidenedInPlaceOfTheirLength) {
    const auto in = music16(2048, 2);  // 4096 bytes, 1024 frames
    restartStereo(44100);
    EXPECT_EQ(stereo16(in, 44100, FMT_S16_LE), directStereo16(in, 44100, true, 0.0f, true));

    std::vector<unsigned char> in8(512, 128);
    for (size_t i = 0; i < in8.size(); ++i)
        in8[i] = static_cast<unsigned char>(128 + (i % 2 ? 60 : -60) * std::sin(0.05 * i));
    restartStereo(32000);
    gpointer data = in8.data();
    ASSERT_EQ(p.ep->mod_samples(&data, 512, FMT_U8, 32000, 2), 512);
    Vastor* v = nullptr;
    p.vastorOpen(&v, 32000, 0x40000000u);
    p.vastorEnable(v, 1);
    p.vastorSetSpread(v, 0.0f);
    p.vastorEnableHipass(v, 1);
    std::vector<unsigned char> expected(512);
    p.vastorProcess8(v, reinterpret_cast<const unsigned char(*)[2]>(in8.data()),
                     reinterpret_cast<unsigned char(*)[2]>(expected.data()), 256);
    p.vastorClose(v);
    EXPECT_EQ(std::vector<unsigned char>(static_cast<unsigned char*>(data),
                                         static_cast<unsigned char*>(data) + 512),
              expected);
}

TEST_F(SamplePath, anEngineIsKeptWhileTheRateStaysAndReCreatedWhenItChanges) {
    const auto in = music16(2000, 3);
    const std::vector<short> first(in.begin(), in.begin() + 1000), second(in.begin() + 1000, in.end());
    restartStereo(44100);
    auto a = stereo16(first, 44100);
    auto b = stereo16(second, 44100);  // same engine: its state carries over
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_EQ(a, directStereo16(in, 44100, true, 0.0f, true));

    EXPECT_EQ(stereo16(in, 48000), directStereo16(in, 48000, true, 0.0f, true));  // fresh at the new rate
}

TEST_F(SamplePath, aModeChangeReCreatesTheMonoEngineAtItsNextBlock) {
    const auto in = music16(700, 4);
    restartMono(44100);
    mono16(in, 44100);
    writeSettings("[Kesta]\nm2s_flags=0\n");
    p.ep->init();
    EXPECT_EQ(mono16(in, 44100), directMono16(in, 44100, 0, true, true));
}

TEST_F(SamplePath, settingsFromTheFileReachTheEngines) {
    writeSettings("[Kesta]\nm2s_enable=FALSE\nvastor_enable=TRUE\nvastor_spread=-6\nsubtone=FALSE\n");
    p.ep->init();
    const auto in = music16(1200, 5);
    restartMono(44100);
    EXPECT_EQ(mono16(in, 44100), directMono16(in, 44100, 8, false, false));
    restartStereo(44100);
    EXPECT_EQ(stereo16(in, 44100), directStereo16(in, 44100, true, -6.0f, false));
}

TEST_F(SamplePath, garbageSettingsLoadWhatTheyCanAndKeepSpreadInRange) {
    writeSettings("[Kesta]\nvastor_spread=abc\nsubtone=FALSE\nm2s_flags=zz\n");
    p.ep->init();
    const auto in = music16(1200, 6);
    restartStereo(44100);
    EXPECT_EQ(stereo16(in, 44100), directStereo16(in, 44100, true, 0.0f, false));
    restartMono(44100);
    EXPECT_EQ(mono16(in, 44100), directMono16(in, 44100, 8, true, false));

    writeSettings("[Kesta]\nvastor_spread=-400\n");
    p.ep->init();
    restartStereo(44100);
    EXPECT_EQ(stereo16(in, 44100), directStereo16(in, 44100, true, -18.0f, true));
    writeSettings("[Kesta]\nvastor_spread=12\n");
    p.ep->init();
    restartStereo(44100);
    EXPECT_EQ(stereo16(in, 44100), directStereo16(in, 44100, true, 0.0f, true));
}

TEST_F(SamplePath, blocksNoEngineTakesPassThroughUntouched) {
    std::vector<short> in = music16(64, 7);
    const std::vector<short> copy = in;
    struct Case {
        gint length;
        AFormat fmt;
        gint rate;
        gint channels;
    } cases[] = {
        {128, FMT_S8, 44100, 2},         {128, FMT_S16_BE, 44100, 2}, {128, FMT_U16_LE, 44100, 1},
        {128, FMT_S16_NE, 44100, 3},     {128, FMT_S16_NE, 44100, 0}, {128, FMT_S16_NE, 0, 2},
        {128, FMT_S16_NE, -44100, 1},    {0, FMT_S16_NE, 44100, 2},   {-4, FMT_S16_NE, 44100, 1},
        {1, FMT_S16_NE, 44100, 1},       {3, FMT_S16_NE, 44100, 2},   {INT_MAX / 2 + 1, FMT_S16_NE, 44100, 1},
        {INT_MAX, FMT_S16_NE, 44100, 1},
    };
    for (const Case& c : cases) {
        gpointer data = in.data();
        EXPECT_EQ(p.ep->mod_samples(&data, c.length, c.fmt, c.rate, c.channels), c.length)
            << c.length << " " << c.fmt << " " << c.rate << " " << c.channels;
        EXPECT_EQ(data, static_cast<gpointer>(in.data()));
    }
    EXPECT_EQ(in, copy);
    gpointer null = nullptr;
    EXPECT_EQ(p.ep->mod_samples(&null, 128, FMT_S16_NE, 44100, 2), 128);
}

TEST_F(SamplePath, partialFramesAreDroppedAndTheRestProcessed) {
    std::vector<short> in = music16(2049, 8);  // 1024 frames and one stray sample
    restartStereo(44100);
    gpointer data = in.data();
    ASSERT_EQ(p.ep->mod_samples(&data, 4098, FMT_S16_NE, 44100, 2), 4096);
    const std::vector<short> whole(in.begin(), in.begin() + 2048);
    const short* out = static_cast<const short*>(data);
    EXPECT_EQ(std::vector<short>(out, out + 2048), directStereo16(whole, 44100, true, 0.0f, true));

    restartMono(44100);
    data = in.data();
    ASSERT_EQ(p.ep->mod_samples(&data, 11, FMT_S16_NE, 44100, 1), 20);  // five samples in, five frames out
}

TEST_F(SamplePath, aBlockThePluginReturnedMayComeBackAsItsInput) {
    // The first block fills the plug-in's buffer; the second is read from
    // it, whole or in part, at any address, and its result (for mono twice
    // as long) may need more room than the buffer has.
    const auto in = music16(1500, 9);
    struct Case {
        const char* name;
        gint channels;
        size_t offset, bytes;  // of the returned block's 6000 bytes
    } cases[] = {
        {"the whole block, as mono", 1, 0, 6000},
        {"its second half, as mono", 1, 3000, 3000},
        {"the whole block, as stereo", 2, 0, 6000},
        {"a block inside it, as stereo", 2, 1000, 4000},
        {"a block at an odd address, as mono", 1, 1001, 2000},
        {"a block at an odd address, as stereo", 2, 999, 4000},
    };
    for (const Case& c : cases) {
        restartMono(44100);
        restartStereo(44100);
        std::vector<short> first(in);
        gpointer data = first.data();
        ASSERT_EQ(p.ep->mod_samples(&data, 3000, FMT_S16_NE, 44100, 1), 6000);
        unsigned char* block = static_cast<unsigned char*>(data) + c.offset;
        std::vector<short> returned(c.bytes / 2);
        std::memcpy(returned.data(), block, c.bytes);

        // What the engines make of the same blocks, the mono engine going on from the first.
        std::vector<short> expected;
        if (c.channels == 1) {
            M2S* m = nullptr;
            p.m2sOpen(&m, 44100, 8);
            p.m2sEnable(m, 1);
            p.m2sEnableHipass(m, 1);
            std::vector<short> scratch(in.size() * 2);
            p.m2sProcess16(m, in.data(), reinterpret_cast<short(*)[2]>(scratch.data()), in.size());
            expected.resize(returned.size() * 2);
            p.m2sProcess16(m, returned.data(), reinterpret_cast<short(*)[2]>(expected.data()),
                           returned.size());
            p.m2sClose(m);
        } else {
            expected = directStereo16(returned, 44100, true, 0.0f, true);
        }

        data = block;
        const gint bytes = static_cast<gint>(c.bytes);
        ASSERT_EQ(p.ep->mod_samples(&data, bytes, FMT_S16_LE, 44100, c.channels), bytes * (3 - c.channels))
            << c.name;
        std::vector<short> again(expected.size());
        std::memcpy(again.data(), data, again.size() * 2);
        EXPECT_EQ(again, expected) << c.name;
    }
}

TEST_F(SamplePath, formatCodesBeyondThePlayersOwnPassThrough) {
    // A player written in C may pass any int as the format.
    std::vector<short> in = music16(64, 10);
    const std::vector<short> copy = in;
    for (int code : {8, 9, 255, -1, INT_MAX, INT_MIN}) {
        for (gint channels : {1, 2}) {
            gpointer data = in.data();
            EXPECT_EQ(player_mod_samples(p.ep, &data, 128, code, 44100, channels), 128) << code;
            EXPECT_EQ(data, static_cast<gpointer>(in.data())) << code;
        }
        EXPECT_EQ(player_query_channels(p.ep, code, 44100, 1), 1) << code;
    }
    EXPECT_EQ(in, copy);
    // The codes the plug-in takes work the same way through that door.
    gpointer data = in.data();
    EXPECT_EQ(player_mod_samples(p.ep, &data, 128, FMT_S16_NE, 44100, 1), 256);
    EXPECT_EQ(player_query_channels(p.ep, FMT_U8, 44100, 1), 2);
}

TEST_F(SamplePath, settingsReadAgainReachTheEnginesAlreadyOpen) {
    const auto in = music16(4000, 11);
    const std::vector<short> head(in.begin(), in.begin() + 2000), tail(in.begin() + 2000, in.end());
    restartMono(44100);
    restartStereo(44100);
    std::vector<short> mono = mono16(head, 44100), stereo = stereo16(head, 44100);
    writeSettings("[Kesta]\nm2s_enable=FALSE\nvastor_enable=TRUE\nvastor_spread=-12\nsubtone=FALSE\n");
    p.ep->init();
    const auto monoTail = mono16(tail, 44100), stereoTail = stereo16(tail, 44100);
    mono.insert(mono.end(), monoTail.begin(), monoTail.end());
    stereo.insert(stereo.end(), stereoTail.begin(), stereoTail.end());

    // The same engines told of the changes between the two blocks, as the window tells them.
    M2S* m = nullptr;
    p.m2sOpen(&m, 44100, 8);
    p.m2sEnable(m, 1);
    p.m2sEnableHipass(m, 1);
    std::vector<short> expectedMono(in.size() * 2);
    auto* monoOut = reinterpret_cast<short(*)[2]>(expectedMono.data());
    p.m2sProcess16(m, head.data(), monoOut, head.size());
    p.m2sEnable(m, 0);
    p.m2sEnableHipass(m, 0);
    p.m2sProcess16(m, tail.data(), monoOut + head.size(), tail.size());
    p.m2sClose(m);
    EXPECT_EQ(mono, expectedMono);

    Vastor* v = nullptr;
    p.vastorOpen(&v, 44100, 0x40000000u);
    p.vastorEnable(v, 1);
    p.vastorSetSpread(v, 0.0f);
    p.vastorEnableHipass(v, 1);
    std::vector<short> expectedStereo(in.size());
    auto* stereoOut = reinterpret_cast<short(*)[2]>(expectedStereo.data());
    p.vastorProcess16(v, reinterpret_cast<const short(*)[2]>(head.data()), stereoOut, head.size() / 2);
    p.vastorSetSpread(v, -12.0f);
    p.vastorEnableHipass(v, 0);
    p.vastorProcess16(v, reinterpret_cast<const short(*)[2]>(tail.data()), stereoOut + head.size() / 2,
                      tail.size() / 2);
    p.vastorClose(v);
    EXPECT_EQ(stereo, expectedStereo);
}

TEST_F(SamplePath, queryFormatReportsStereoForEveryMonoFormatItConverts) {
    struct Case {
        AFormat fmt;
        gint channels, expected;
    } cases[] = {{FMT_U8, 1, 2},     {FMT_S16_NE, 1, 2}, {FMT_S16_LE, 1, 2}, {FMT_S8, 1, 1},
                 {FMT_S16_BE, 1, 1}, {FMT_U16_NE, 1, 1}, {FMT_U8, 2, 2},     {FMT_S16_NE, 2, 2}};
    for (const Case& c : cases) {
        AFormat fmt = c.fmt;
        gint rate = 44100, channels = c.channels;
        p.ep->query_format(&fmt, &rate, &channels);
        EXPECT_EQ(channels, c.expected) << c.fmt;
        EXPECT_EQ(fmt, c.fmt);
        EXPECT_EQ(rate, 44100);
    }
}

}  // namespace
