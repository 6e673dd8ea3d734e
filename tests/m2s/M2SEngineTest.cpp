#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "M2SModel.h"
#include "M2s.h"
#include "M2sfir.h"

namespace {

using m2s_model::Settings;

// An open engine, closed at the end of the scope.
class Engine {
  public:
    Engine(unsigned rate, unsigned flags) { EXPECT_EQ(m2sOpen(&handle_, rate, flags), 0); }
    ~Engine() { m2sClose(handle_); }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    M2S* get() const { return handle_; }

    // Interleaved stereo output of in, processed in calls of the given sizes
    // (repeated cyclically).
    std::vector<short> Run(const std::vector<short>& in, const std::vector<unsigned>& calls = {4096}) {
        std::vector<short> out(2 * in.size(), 0x5555);
        size_t pos = 0;
        for (size_t i = 0; pos < in.size(); ++i) {
            const unsigned n =
                static_cast<unsigned>(std::min<size_t>(calls[i % calls.size()], in.size() - pos));
            m2sProcess16(handle_, in.data() + pos, reinterpret_cast<short(*)[2]>(out.data() + 2 * pos), n);
            pos += n;
        }
        return out;
    }

  private:
    M2S* handle_ = nullptr;
};

// Music-like material: a few partials with vibrato plus noise, peaking near
// amplitude * 32767. Deterministic.
std::vector<short> Music(int n, double amplitude = 0.3) {
    std::vector<short> out(static_cast<size_t>(n));
    uint32_t state = 12345u;
    double phase[4] = {0, 0, 0, 0};
    for (int i = 0; i < n; ++i) {
        double x = 0;
        for (int p = 0; p < 4; ++p) {
            const double f = 97.0 * (2 * p + 1) * (1.0 + 0.02 * std::sin(i * 0.0011 * (p + 1)));
            phase[p] += 2.0 * m2s_model::kPi * f / 44100.0;
            x += std::sin(phase[p]) / (p + 1.5);
        }
        state = state * 1664525u + 1013904223u;
        x = 0.6 * x + 0.35 * ((state >> 8) / 16777216.0 - 0.5);
        out[static_cast<size_t>(i)] = static_cast<short>(std::lround(amplitude * 32767.0 * x));
    }
    return out;
}

std::vector<double> ToDouble(const std::vector<short>& in) {
    std::vector<double> x(in.size());
    for (size_t i = 0; i < in.size(); ++i) x[i] = in[i] / 32768.0;
    return x;
}

std::vector<double> Taps(const float* taps, int count) {
    return std::vector<double>(taps, taps + count);
}

// Largest difference between the engine's output and the model's, in LSB,
// over frames from..to-1.
int Deviation(const std::vector<short>& out, const Settings& s, const std::vector<short>& in, size_t from = 0,
              size_t to = 0) {
    std::vector<double> left, right;
    m2s_model::Run(s, ToDouble(in), left, right);
    if (to == 0) to = in.size();
    int worst = 0;
    for (size_t t = from; t < to; ++t) {
        worst = std::max(worst, std::abs(out[2 * t] - m2s_model::To16(left[t])));
        worst = std::max(worst, std::abs(out[2 * t + 1] - m2s_model::To16(right[t])));
    }
    return worst;
}

Settings Music44100() {
    Settings s;
    s.fir = Taps(fir44_45, 45);
    return s;
}

Settings Voice(double rate, const m2s_model::WideningRow& row) {
    Settings s;
    s.music = false;
    s.rate = rate;
    s.row = row;
    return s;
}

}  // namespace

TEST(M2SEngine, musicAt44100FollowsTheModel) {
    const std::vector<short> music = Music(8000);
    const std::vector<short> impulse = [] {
        std::vector<short> v(3000, 0);
        v[10] = 20000;
        return v;
    }();
    for (const std::vector<short>* in : {&music, &impulse}) {
        Engine engine(44100, M2S_MUSIC);
        EXPECT_LE(Deviation(engine.Run(*in), Music44100(), *in), 2);
    }
}

TEST(M2SEngine, voiceFollowsTheModelAt44100And32000) {
    const std::vector<short> in = Music(8000);
    {
        Engine engine(44100, 0);
        EXPECT_LE(Deviation(engine.Run(in), Voice(44100, m2s_model::kRow44100), in), 2);
    }
    {
        Engine engine(32000, 0);
        EXPECT_LE(Deviation(engine.Run(in), Voice(32000, m2s_model::kRow32000), in), 2);
    }
}

TEST(M2SEngine, ratesBetweenTheTablesUseTheNearestTables) {
    const std::vector<short> in = Music(6000);
    const struct {
        unsigned rate;
        const float* fir;
        m2s_model::WideningRow row;
    } cases[] = {{45000, fir44_45, m2s_model::kRow44100},
                 {46050, fir44_45, m2s_model::kRow44100},
                 {96000, fir48_45, m2s_model::kRow48000},
                 {5000, fir8_45, m2s_model::kRow8000}};
    for (const auto& c : cases) {
        Engine engine(c.rate, M2S_MUSIC);
        Settings s;
        s.rate = c.rate;
        s.row = c.row;
        s.fir = Taps(c.fir, 45);
        EXPECT_LE(Deviation(engine.Run(in), s, in), 2) << c.rate;
    }
}

TEST(M2SEngine, settersReachTheInnerWidener) {
    const std::vector<short> in = Music(5000);
    {
        Engine engine(44100, M2S_MUSIC);
        m2sSetSpread(engine.get(), -6.0f);
        m2sEnableHipass(engine.get(), 0);
        Settings s = Music44100();
        s.spread = std::pow(10.0, -6.0 / 20.0);
        s.hipass = false;
        EXPECT_LE(Deviation(engine.Run(in), s, in), 2);
    }
    {
        Engine engine(44100, 0);
        m2sSetCenter(engine.get(), -6.0f);
        m2sSetSpread(engine.get(), -3.0f);
        Settings s = Voice(44100, m2s_model::kRow44100);
        s.center = std::pow(10.0, -6.0 / 20.0);
        s.spread = std::pow(10.0, -3.0 / 20.0);
        EXPECT_LE(Deviation(engine.Run(in), s, in), 2);
    }
}

TEST(M2SEngine, levelsThatAreNotFiniteOrAbsurdActAsTheNearestOnesTheEngineAccepts) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    using Levels = std::function<void(M2S*)>;
    const Levels untouched = [](M2S*) {};
    const struct Case {
        const char* name;
        Levels asked, accepted;
    } cases[] = {
        {"spread NaN", [=](M2S* h) { m2sSetSpread(h, nan); }, untouched},
        {"spread -inf", [=](M2S* h) { m2sSetSpread(h, -inf); }, untouched},
        {"spread +1000 dB", [](M2S* h) { m2sSetSpread(h, 1000.0f); },
         [](M2S* h) { m2sSetSpread(h, M2S_MAX_GAIN_DB); }},
        {"center +inf", [=](M2S* h) { m2sSetCenter(h, inf); }, untouched},  // Voice: its own -10 dB
        {"center +1000 dB", [](M2S* h) { m2sSetCenter(h, 1000.0f); },
         [](M2S* h) { m2sSetCenter(h, M2S_MAX_GAIN_DB); }},
    };
    const std::vector<short> in = Music(3000);
    for (unsigned flags : {M2S_MUSIC, 0u}) {
        for (const Case& c : cases) {
            Engine asked(44100, flags), accepted(44100, flags);
            c.asked(asked.get());
            c.accepted(accepted.get());
            EXPECT_EQ(asked.Run(in), accepted.Run(in)) << c.name << ", flags " << flags;
        }
    }
}

TEST(M2SEngine, disablingRightAfterOpenCopiesTheInputToBothChannels) {
    for (unsigned flags : {M2S_MUSIC, 0u}) {
        Engine engine(44100, flags);
        m2sEnable(engine.get(), 0);
        std::vector<short> in(65536);
        for (int v = 0; v < 65536; ++v) in[static_cast<size_t>(v)] = static_cast<short>(v - 32768);
        const std::vector<short> out = engine.Run(in, {1000, 3});
        for (size_t t = 0; t < in.size(); ++t) {
            ASSERT_EQ(out[2 * t], in[t]) << flags << " frame " << t;
            ASSERT_EQ(out[2 * t + 1], in[t]) << flags << " frame " << t;
        }

        Engine engine8(22050, flags);
        m2sEnable(engine8.get(), 0);
        unsigned char in8[256], out8[256][2];
        for (int v = 0; v < 256; ++v) in8[v] = static_cast<unsigned char>(v);
        m2sProcess8(engine8.get(), in8, out8, 256);
        for (int v = 0; v < 256; ++v) {
            EXPECT_EQ(out8[v][0], v);
            EXPECT_EQ(out8[v][1], v);
        }
    }
}

TEST(M2SEngine, disablingAfterAudioFadesOverOneBlockOf1024Frames) {
    const long start = 3000;  // the frame at which the engine is disabled
    const std::vector<short> in = Music(9000);
    // Bus gain 1 -> 0 and bypass 0 -> 1, linearly over 1024 frames.
    const auto fade = [=](long t) { return t < start ? 1.0 : std::max(0.0, 1.0 - (t - start) / 1024.0); };
    const auto bypass = [&fade](long t) { return 1.0 - fade(t); };
    for (unsigned flags : {M2S_MUSIC, 0u}) {
        for (const std::vector<unsigned>& calls : {std::vector<unsigned>{1000}, std::vector<unsigned>{100}}) {
            Engine engine(44100, flags);
            std::vector<short> out = engine.Run(std::vector<short>(in.begin(), in.begin() + start), calls);
            m2sEnable(engine.get(), 0);
            const std::vector<short> rest =
                engine.Run(std::vector<short>(in.begin() + start, in.end()), calls);
            out.insert(out.end(), rest.begin(), rest.end());

            Settings s = flags ? Music44100() : Voice(44100, m2s_model::kRow44100);
            s.bus = fade;
            s.bypass = bypass;
            const std::string what = std::to_string(flags) + " in calls of " + std::to_string(calls[0]);
            EXPECT_LE(Deviation(out, s, in, 0, start + 2048), 2) << what;
            // From then on the input on both channels.
            for (size_t t = start + 4096; t < in.size(); ++t) {
                ASSERT_EQ(out[2 * t], in[t]) << what << " frame " << t;
                ASSERT_EQ(out[2 * t + 1], in[t]) << what << " frame " << t;
            }
        }
    }
}

TEST(M2SEngine, enablingAgainFadesThe3DPathBackIn) {
    const long stop = 2048, start = 6144;
    const std::vector<short> in = Music(10000);
    const auto gain = [](long t) {
        if (t < stop) return 1.0;
        if (t < start) return std::max(0.0, 1.0 - (t - stop) / 1024.0);
        return std::min(1.0, (t - start) / 1024.0);
    };
    for (unsigned flags : {M2S_MUSIC, 0u}) {
        Engine engine(44100, flags);
        std::vector<short> out = engine.Run(std::vector<short>(in.begin(), in.begin() + stop), {64});
        m2sEnable(engine.get(), 0);
        std::vector<short> part = engine.Run(std::vector<short>(in.begin() + stop, in.begin() + start), {64});
        out.insert(out.end(), part.begin(), part.end());
        m2sEnable(engine.get(), 1);
        part = engine.Run(std::vector<short>(in.begin() + start, in.end()), {64});
        out.insert(out.end(), part.begin(), part.end());

        Settings s = flags ? Music44100() : Voice(44100, m2s_model::kRow44100);
        s.bus = gain;
        s.bypass = [&gain](long t) { return 1.0 - gain(t); };
        EXPECT_LE(Deviation(out, s, in), 2) << flags;
    }
}

TEST(M2SEngine, theOutputDoesNotDependOnHowTheInputIsCut) {
    const std::vector<short> in = Music(7000);
    for (unsigned flags : {M2S_MUSIC, 0u}) {
        std::vector<std::vector<short>> outputs;
        for (const std::vector<unsigned>& calls :
             {std::vector<unsigned>{7000}, std::vector<unsigned>{1}, std::vector<unsigned>{7},
              std::vector<unsigned>{1024}, std::vector<unsigned>{2500},
              std::vector<unsigned>{1, 1030, 7, 2500}}) {
            Engine engine(44100, flags);
            // A fade in the middle, so that ramps are split too.
            std::vector<short> out = engine.Run(std::vector<short>(in.begin(), in.begin() + 3333), calls);
            m2sEnable(engine.get(), 0);
            const std::vector<short> rest =
                engine.Run(std::vector<short>(in.begin() + 3333, in.end()), calls);
            out.insert(out.end(), rest.begin(), rest.end());
            outputs.push_back(out);
        }
        for (size_t k = 1; k < outputs.size(); ++k)
            for (size_t i = 0; i < outputs[0].size(); ++i)
                ASSERT_LE(std::abs(outputs[k][i] - outputs[0][i]), 1)
                    << flags << " split " << k << " sample " << i;
    }
}

TEST(M2SEngine, eightBitBlocksFollowTheModel) {
    Engine engine(44100, M2S_MUSIC);
    const std::vector<short> music = Music(4000);
    std::vector<unsigned char> in8(music.size());
    std::vector<short> in16(music.size());
    for (size_t i = 0; i < music.size(); ++i) {
        in8[i] = static_cast<unsigned char>((music[i] >> 8) + 128);
        in16[i] = static_cast<short>((in8[i] - 128) * 256);
    }
    std::vector<unsigned char> out(2 * in8.size());
    m2sProcess8(engine.get(), in8.data(), reinterpret_cast<unsigned char(*)[2]>(out.data()),
                static_cast<unsigned>(in8.size()));
    std::vector<double> left, right;
    m2s_model::Run(Music44100(), ToDouble(in16), left, right);
    const auto to8 = [](double v) {
        const long t = static_cast<long>(std::trunc(v * 32768.0)) + 32896;
        return t > 65535 ? 255 : (t < 0 ? 0 : static_cast<int>(t >> 8));
    };
    for (size_t t = 0; t < in8.size(); ++t) {
        ASSERT_LE(std::abs(out[2 * t] - to8(left[t])), 1) << t;
        ASSERT_LE(std::abs(out[2 * t + 1] - to8(right[t])), 1) << t;
    }
}

TEST(M2SEngine, longBlocksAreCutIntoChunksAndFillTheWholeOutput) {
    Engine engine(44100, 0);
    m2sEnable(engine.get(), 0);
    std::vector<short> in(2500);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<short>(i * 13 - 16000);
    std::vector<short> out(2 * in.size() + 2, 0x5555);
    m2sProcess16(engine.get(), in.data(), reinterpret_cast<short(*)[2]>(out.data()), 2500);
    for (size_t t = 0; t < in.size(); ++t) {
        ASSERT_EQ(out[2 * t], in[t]) << t;
        ASSERT_EQ(out[2 * t + 1], in[t]) << t;
    }
    EXPECT_EQ(out[5000], 0x5555);
    EXPECT_EQ(out[5001], 0x5555);
}

TEST(M2SEngine, anEmptyCallWritesNothingAndChangesNothing) {
    const std::vector<short> in = Music(3000);
    Engine touched(44100, M2S_MUSIC), fresh(44100, M2S_MUSIC);
    std::vector<short> head = touched.Run(std::vector<short>(in.begin(), in.begin() + 1500));
    unsigned char out8[4][2] = {{1, 2}, {3, 4}, {5, 6}, {7, 8}};
    const unsigned char in8[4] = {0, 0, 0, 0};
    m2sProcess8(touched.get(), in8, out8, 0);
    short out16[2][2] = {{9, 10}, {11, 12}};
    m2sProcess16(touched.get(), in.data(), out16, 0);
    EXPECT_EQ(out8[0][0], 1);
    EXPECT_EQ(out8[3][1], 8);
    EXPECT_EQ(out16[0][0], 9);
    EXPECT_EQ(out16[1][1], 12);
    std::vector<short> tail = touched.Run(std::vector<short>(in.begin() + 1500, in.end()));
    head.insert(head.end(), tail.begin(), tail.end());
    EXPECT_EQ(head, fresh.Run(in));
}

TEST(M2SEngine, resetForgetsEverySignalItHeld) {
    for (unsigned flags : {M2S_MUSIC, 0u}) {
        const std::vector<short> in = Music(4000);
        Engine used(44100, flags), fresh(44100, flags);
        used.Run(in);
        m2sReset(used.get());
        // Silence after a reset is exact silence: no delay line or filter
        // gives back what it held before.
        const std::vector<short> quiet = used.Run(std::vector<short>(3000, 0));
        for (size_t i = 0; i < quiet.size(); ++i) ASSERT_EQ(quiet[i], 0) << flags << " sample " << i;
        EXPECT_EQ(used.Run(in), fresh.Run(in)) << flags;
    }
}

TEST(M2SEngine, openingAndClosingLeakNothingAndAnyRateOpens) {
    for (unsigned rate : {0u, 1u, 8000u, 44100u, 192000u, 4000000000u}) {
        for (unsigned flags : {M2S_MUSIC, 0u, 0xffffffffu}) {
            M2S* handle = nullptr;
            ASSERT_EQ(m2sOpen(&handle, rate, flags), 0);
            ASSERT_NE(handle, nullptr);
            short in[64] = {1000}, out[64][2];
            m2sProcess16(handle, in, out, 64);
            m2sClose(handle);
        }
    }
}

using M2SEngineDeathTest = ::testing::Test;

TEST_F(M2SEngineDeathTest, aNullHandleOrBufferIsAFatalError) {
    short in16[4] = {0}, out16[4][2];
    unsigned char in8[4] = {0}, out8[4][2];
    EXPECT_DEATH(m2sProcess16(nullptr, in16, out16, 4),
                 "void m2sProcess16\\(struct M2S \\*, const Data16 \\*, short int \\(\\*\\)\\[2\\], unsigned "
                 "int\\): Assertion `lpM2S' failed");
    EXPECT_DEATH(
        m2sProcess8(nullptr, in8, out8, 4),
        "void m2sProcess8\\(struct M2S \\*, const Data8 \\*, unsigned char \\(\\*\\)\\[2\\], unsigned "
        "int\\): Assertion `lpM2S' failed");
    EXPECT_DEATH(m2sSetSpread(nullptr, 0.0f),
                 "void m2sSetSpread\\(struct M2S \\*, float\\): Assertion `lpM2S'");
    EXPECT_DEATH(m2sSetCenter(nullptr, 0.0f),
                 "void m2sSetCenter\\(struct M2S \\*, float\\): Assertion `lpM2S'");
    EXPECT_DEATH(m2sEnable(nullptr, 1), "void m2sEnable\\(struct M2S \\*, BOOL\\): Assertion `lpM2S'");
    EXPECT_DEATH(m2sEnableHipass(nullptr, 1),
                 "void m2sEnableHipass\\(struct M2S \\*, BOOL\\): Assertion `lpM2S'");
    EXPECT_DEATH(m2sSetRampLength(nullptr, 64),
                 "void m2sSetRampLength\\(struct M2S \\*, int\\): Assertion `lpM2S'");
    EXPECT_DEATH(m2sSetChainedRamps(nullptr, 1),
                 "void m2sSetChainedRamps\\(struct M2S \\*, BOOL\\): Assertion `lpM2S'");
    EXPECT_DEATH(m2sReset(nullptr), "void m2sReset\\(struct M2S \\*\\): Assertion `lpM2S'");
    EXPECT_DEATH(m2sClose(nullptr), "void m2sClose\\(struct M2S \\*\\): Assertion `lpM2S'");

    Engine engine(44100, M2S_MUSIC);
    EXPECT_DEATH(m2sProcess16(engine.get(), nullptr, out16, 4), "m2sProcess16.*Assertion `inbuf' failed");
    EXPECT_DEATH(m2sProcess16(engine.get(), in16, nullptr, 4), "m2sProcess16.*Assertion `outbuf' failed");
    EXPECT_DEATH(m2sProcess8(engine.get(), nullptr, out8, 4), "m2sProcess8.*Assertion `inbuf' failed");
    EXPECT_DEATH(m2sProcess8(engine.get(), in8, nullptr, 4), "m2sProcess8.*Assertion `outbuf' failed");
}
