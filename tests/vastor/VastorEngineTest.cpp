// The engine's function interface: entry points and sample formats agree,
// chunking is invisible, state and the caller's floating-point state are
// handled as promised, and misuse stops with the assertion that names the call and the condition.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>

#include "AssertionMessage.h"
#include "WidenerSignal.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

using namespace widener_test;

constexpr unsigned kHostFlags = VASTOR_HIPASS_ON;  // what the player opens the engine with
constexpr int kFrames = 5000;

Vastor* Open(unsigned flags = kHostFlags, unsigned rate = 44100) {
    Vastor* h = nullptr;
    EXPECT_EQ(vastorOpen(&h, rate, flags), 0);
    return h;
}

Block16 StereoMusic(int n = kFrames) {
    return Interleave(Music(n, 11), Music(n, 12));
}

int WorstDifference(const Block16& a, const Block16& b) {
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

void Interleaved(Vastor* h, const short* in, short* out, unsigned n) {
    vastorProcess16(h, reinterpret_cast<const short(*)[2]>(in), reinterpret_cast<short(*)[2]>(out), n);
}
void Interleaved(Vastor* h, const unsigned char* in, unsigned char* out, unsigned n) {
    vastorProcess8(h, reinterpret_cast<const unsigned char(*)[2]>(in),
                   reinterpret_cast<unsigned char(*)[2]>(out), n);
}
void Interleaved(Vastor* h, const float* in, float* out, unsigned n) {
    vastorProcessFloat(h, reinterpret_cast<const float(*)[2]>(in), reinterpret_cast<float(*)[2]>(out), n);
}
void Planar(Vastor* h, const short* l, const short* r, short* lo, short* ro, unsigned n) {
    vastorMono16(h, l, r, lo, ro, n);
}
void Planar(Vastor* h, const unsigned char* l, const unsigned char* r, unsigned char* lo, unsigned char* ro,
            unsigned n) {
    vastorMono8(h, l, r, lo, ro, n);
}
void Planar(Vastor* h, const float* l, const float* r, float* lo, float* ro, unsigned n) {
    vastorMonoFloat(h, l, r, lo, ro, n);
}

// Runs in (interleaved) through a new host engine once interleaved and once
// planar, expects identical samples, and answers the interleaved output.
template <class T>
std::vector<T> BothEntries(const std::vector<T>& in) {
    const unsigned n = static_cast<unsigned>(in.size() / 2);
    std::vector<T> out(in.size()), left(n), right(n), outLeft(n), outRight(n);
    for (unsigned i = 0; i < n; ++i) {
        left[i] = in[2 * i];
        right[i] = in[2 * i + 1];
    }
    Vastor* h = Open();
    Interleaved(h, in.data(), out.data(), n);
    vastorClose(h);
    h = Open();
    Planar(h, left.data(), right.data(), outLeft.data(), outRight.data(), n);
    vastorClose(h);
    for (unsigned i = 0; i < n; ++i) {
        EXPECT_EQ(outLeft[i], out[2 * i]) << "frame " << i;
        EXPECT_EQ(outRight[i], out[2 * i + 1]) << "frame " << i;
    }
    return out;
}

// The same audio at 8 bits, 16 bits and in float: the planar and interleaved
// entries agree exactly, and each format's result is the 16-bit result to
// within one step of its own resolution.
TEST(VastorEntryPoints, allFormatsAndLayoutsAgreeWithinTheirResolution) {
    const Block16 music = StereoMusic();
    std::vector<unsigned char> in8(music.size());
    Block16 in16(music.size());
    std::vector<float> inFloat(music.size());
    for (size_t i = 0; i < music.size(); ++i) {
        in8[i] = static_cast<unsigned char>((music[i] >> 8) + 128);
        in16[i] = static_cast<short>((in8[i] - 128) * 256);
        inFloat[i] = in16[i] / 32768.0f;
    }
    const Block16 out16 = BothEntries(in16);
    const std::vector<unsigned char> out8 = BothEntries(in8);
    const std::vector<float> outFloat = BothEntries(inFloat);
    for (size_t i = 0; i < music.size(); ++i) {
        ASSERT_LE(std::abs(out8[i] - ((out16[i] + 32768 + 128) >> 8)), 1) << "sample " << i;
        ASSERT_LE(std::abs(outFloat[i] * 32768.0f - out16[i]), 1.0f) << "sample " << i;
    }
}

TEST(VastorEntryPoints, sixteenBitOutputSaturatesWhileFloatOutputIsNotClipped) {
    const int n = 2000;
    Block16 in16(2 * n);
    std::vector<float> in(2 * n), out(2 * n);
    for (int i = 0; i < 2 * n; ++i) {
        in16[i] = static_cast<short>(i % 80 < 40 ? 30000 : -30000);
        in[i] = in16[i] / 32768.0f;
    }
    Vastor* h = Open(0);
    vastorSetInputScale(h, 6.0f, 6.0f);
    Interleaved(h, in.data(), out.data(), n);
    vastorClose(h);
    h = Open(0);
    vastorSetInputScale(h, 6.0f, 6.0f);
    const Block16 out16 = Process16(h, in16);
    vastorClose(h);
    for (int i = 0; i < 2 * n; ++i) {
        EXPECT_TRUE(out[i] < 1.0f || out16[i] == 32767) << i;
        EXPECT_TRUE(out[i] > -1.0f || out16[i] == -32768) << i;
    }
    EXPECT_GT(*std::max_element(out.begin(), out.end()), 1.5f);
    EXPECT_LT(*std::min_element(out.begin(), out.end()), -1.5f);
}

TEST(VastorEntryPoints, processingInPlaceGivesTheSameSamplesAndZeroFramesWriteNothing) {
    const Block16 in = StereoMusic();
    Vastor* h = Open();
    const Block16 separate = Process16(h, in);
    vastorClose(h);
    Block16 block = in;
    h = Open();
    vastorProcess16(h, Frames(block), Frames(block), kFrames);
    EXPECT_EQ(block, separate);
    Block16 untouched(8, 77);
    vastorProcess16(h, Frames(in), Frames(untouched), 0);
    vastorMono16(h, in.data(), in.data(), untouched.data(), untouched.data() + 4, 0);
    EXPECT_EQ(untouched, Block16(8, 77));
    vastorClose(h);
}

// Chunking at 1024 frames and the state carried between calls must not show
// in the output, however the caller cuts the stream.
class VastorCallSizes : public ::testing::TestWithParam<unsigned> {};

TEST_P(VastorCallSizes, callsOf1And7And1024And2500FramesGiveTheSameOutput) {
    const Block16 in = StereoMusic(6000);
    auto run = [&](std::vector<int> calls) {
        Vastor* h = Open(GetParam());
        vastorSetInputDelay(h, 3, 1100);
        const Block16 out = Process16(h, in, calls);
        vastorClose(h);
        return out;
    };
    const Block16 whole = run({1 << 30});
    for (int size : {1, 7, 1024, 2500})
        EXPECT_LE(WorstDifference(run({size}), whole), 1) << "calls of " << size;
    EXPECT_LE(WorstDifference(run({1, 1023, 5, 2000, 17}), whole), 1) << "uneven calls";
}

INSTANTIATE_TEST_SUITE_P(Networks, VastorCallSizes,
                         ::testing::Values(kHostFlags, VASTOR_SINGLE_NETWORK | VASTOR_HIPASS_ON,
                                           VASTOR_SINGLE_STAGE | VASTOR_HIGH_SHELF | VASTOR_HIPASS_ON),
                         FlagsName);

// The single network glides gains and delays over 1024 frames; a delay that
// shrinks is still read at its older, longer values during the glide.
TEST(VastorState, aGlideInProgressCarriesOverBetweenCalls) {
    const Block16 in = StereoMusic(4000);
    auto run = [&](std::vector<int> calls) {
        Vastor* h = Open(VASTOR_SINGLE_NETWORK);
        vastorSetInputDelay(h, 300, 0);
        Process16(h, Block16(in.begin(), in.begin() + 4000));
        vastorSetSpread(h, -15.0f);
        vastorSetInputDelay(h, 0, 40);
        const Block16 out = Process16(h, Block16(in.begin() + 4000, in.end()), calls);
        vastorClose(h);
        return out;
    };
    const Block16 whole = run({1 << 30});
    EXPECT_LE(WorstDifference(run({7}), whole), 1);
    EXPECT_LE(WorstDifference(run({1, 300, 64}), whole), 1);
}

TEST(VastorState, afterResetTheEngineBehavesAsANewOneWithTheSameSettings) {
    const Block16 noise = StereoMusic(3000);
    const Block16 in = Interleave(Music(3000, 21), Music(3000, 22));
    for (unsigned flags : {kHostFlags, VASTOR_SINGLE_NETWORK | VASTOR_HIPASS_ON}) {
        Vastor* used = Open(flags);
        vastorSetInputDelay(used, 4, 9);
        Process16(used, noise);
        vastorReset(used);
        vastorSetSpread(used, -6.0f);  // applies at once, as after open
        Vastor* fresh = Open(flags);
        vastorSetInputDelay(fresh, 4, 9);
        vastorSetSpread(fresh, -6.0f);
        EXPECT_EQ(Process16(fresh, in), Process16(used, in)) << "flags " << std::hex << flags;
        vastorClose(used);
        vastorClose(fresh);
    }
}

// Switching the high-pass off forgets its state: switched on again, it starts
// from silence, as in an engine where it had never run.
TEST(VastorState, switchingTheHipassOffClearsItSoItRestartsFromSilence) {
    const Block16 loud = Interleave(Music(3000, 41, 0.9), Music(3000, 42, 0.9));
    const Block16 silence(2 * 6000, 0);
    const Block16 in = StereoMusic(3000);
    for (unsigned network : {0u, static_cast<unsigned>(VASTOR_SINGLE_NETWORK)}) {
        Vastor* toggled = Open(network | VASTOR_HIPASS_ON);
        Process16(toggled, loud);
        vastorEnableHipass(toggled, 0);
        Process16(toggled, silence);
        vastorEnableHipass(toggled, 1);
        Vastor* never = Open(network);
        Process16(never, loud);
        Process16(never, silence);
        vastorEnableHipass(never, 1);
        EXPECT_LE(WorstDifference(Process16(toggled, in), Process16(never, in)), 1)
            << "flags " << std::hex << network;
        vastorClose(toggled);
        vastorClose(never);
    }
}

TEST(VastorState, theShelfFlagAtARateWithoutAShelfRowLeavesTheOutputUnshelved) {
    const Block16 in = StereoMusic(3000);
    for (unsigned network : {0u, static_cast<unsigned>(VASTOR_SINGLE_NETWORK)}) {
        Vastor* plain = Open(network | VASTOR_HIPASS_ON, 96000);
        Vastor* shelved = Open(network | VASTOR_HIPASS_ON | VASTOR_HIGH_SHELF, 96000);
        EXPECT_EQ(Process16(shelved, in), Process16(plain, in));
        vastorClose(plain);
        vastorClose(shelved);
    }
}

TEST(VastorState, negativeDelaysCountAsZero) {
    const Block16 in = StereoMusic(3000);
    Vastor* clamped = Open();
    vastorSetInputDelay(clamped, -50, -1);
    vastorSetDirectDelay(clamped, -7);
    Vastor* zero = Open();
    vastorSetDirectDelay(zero, 0);
    EXPECT_EQ(Process16(clamped, in), Process16(zero, in));
    vastorClose(clamped);
    vastorClose(zero);
}

TEST(VastorState, outOfRangeSettingsActAsTheNearestOnesTheEngineAccepts) {
    // Before any block, so every setting applies at once on both engines.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    using Settings = std::function<void(Vastor*)>;
    const Settings untouched = [](Vastor*) {};
    const struct Case {
        const char* name;
        Settings asked, accepted;
    } cases[] = {
        {"spread NaN", [=](Vastor* h) { vastorSetSpread(h, nan); }, untouched},
        {"spread +inf", [=](Vastor* h) { vastorSetSpread(h, inf); }, untouched},
        {"spread -inf", [=](Vastor* h) { vastorSetSpread(h, -inf); }, untouched},
        {"spread +1000 dB", [](Vastor* h) { vastorSetSpread(h, 1000.0f); },
         [](Vastor* h) { vastorSetSpread(h, VASTOR_MAX_GAIN_DB); }},
        {"center NaN", [=](Vastor* h) { vastorSetCenter(h, nan); }, untouched},
        {"center +1000 dB", [](Vastor* h) { vastorSetCenter(h, 1000.0f); },
         [](Vastor* h) { vastorSetCenter(h, VASTOR_MAX_GAIN_DB); }},
        {"input scale NaN, +1000 dB", [=](Vastor* h) { vastorSetInputScale(h, nan, 1000.0f); },
         [](Vastor* h) { vastorSetInputScale(h, 0.0f, VASTOR_MAX_GAIN_DB); }},
        {"direct delay INT_MAX, then input delays",
         [](Vastor* h) {
             vastorSetDirectDelay(h, INT_MAX);
             vastorSetInputDelay(h, 1, 1);
         },
         [](Vastor* h) {
             vastorSetDirectDelay(h, VASTOR_MAX_DELAY);
             vastorSetInputDelay(h, 1, 1);
         }},
        {"input delays INT_MAX and INT_MIN", [](Vastor* h) { vastorSetInputDelay(h, INT_MAX, INT_MIN); },
         [](Vastor* h) { vastorSetInputDelay(h, VASTOR_MAX_DELAY, 0); }},
    };
    const Block16 in = StereoMusic(3000);
    for (unsigned flags : {kHostFlags, kHostFlags | VASTOR_SINGLE_NETWORK}) {
        for (const Case& c : cases) {
            Vastor* asked = Open(flags);
            Vastor* accepted = Open(flags);
            c.asked(asked);
            c.accepted(accepted);
            EXPECT_EQ(Process16(asked, in), Process16(accepted, in)) << c.name << ", flags " << flags;
            vastorClose(asked);
            vastorClose(accepted);
        }
    }
}

#if defined(__SSE__)
TEST(VastorFloatingPointState, theCallersControlRegisterIsUnchangedAfterEachCall) {
    const Block16 in = StereoMusic(3000);
    std::vector<float> tiny(in.size(), 1e-39f), out(in.size());
    Vastor* h = Open();
    const unsigned int original = _mm_getcsr();
    // Round toward zero with no exception flags and no flushing: distinctive, harmless.
    const unsigned int caller = (original & ~0x807Fu) | 0x6000u;
    _mm_setcsr(caller);
    Process16(h, in);
    const unsigned int after16 = _mm_getcsr();
    Interleaved(h, tiny.data(), out.data(), 3000);
    const unsigned int afterFloat = _mm_getcsr();
    _mm_setcsr(original);
    vastorClose(h);
    EXPECT_EQ(after16, caller);
    EXPECT_EQ(afterFloat, caller);
}
#endif

using test_support::assertionMessage;

TEST(VastorAssertionsDeathTest, nullPointersAreFatalTheHandleFirstThenEachBufferInArgumentOrder) {
    Vastor* none = nullptr;
    short s[2][2] = {};
    Mono8 m8[2] = {};
    const std::string p16 =
        "void vastorProcess16(struct Vastor *, const short int (*)[2], short int (*)[2], unsigned int)";
    const std::string pm8 =
        "void vastorMono8(struct Vastor *, const Mono8 *, const Mono8 *, Mono8 *, Mono8 *, unsigned int)";
    EXPECT_DEATH(vastorClose(none), assertionMessage("void vastorClose(struct Vastor *)", "lpVastor"));
    EXPECT_DEATH(vastorEnable(none, 1),
                 assertionMessage("void vastorEnable(struct Vastor *, BOOL)", "lpVastor"));
    EXPECT_DEATH(vastorSetInputScale(none, 0, 0),
                 assertionMessage("void vastorSetInputScale(struct Vastor *, float, float)", "lpVastor"));
    EXPECT_DEATH(vastorSetInputDelay(none, 0, 0),
                 assertionMessage("void vastorSetInputDelay(struct Vastor *, int, int)", "lpVastor"));
    EXPECT_DEATH(vastorSetRampLength(none, 64),
                 assertionMessage("void vastorSetRampLength(struct Vastor *, int)", "lpVastor"));
    EXPECT_DEATH(vastorSetChainedRamps(none, 1),
                 assertionMessage("void vastorSetChainedRamps(struct Vastor *, BOOL)", "lpVastor"));
    EXPECT_DEATH(vastorProcess16(none, nullptr, nullptr, 2), assertionMessage(p16, "lpVastor"));
    EXPECT_DEATH(vastorMono8(none, nullptr, nullptr, nullptr, nullptr, 2), assertionMessage(pm8, "lpVastor"));

    Vastor* h = Open();
    EXPECT_DEATH(vastorProcess16(h, nullptr, nullptr, 2), assertionMessage(p16, "inbuf"));
    EXPECT_DEATH(vastorProcess16(h, s, nullptr, 2), assertionMessage(p16, "outbuf"));
    EXPECT_DEATH(vastorMono8(h, nullptr, nullptr, nullptr, nullptr, 2), assertionMessage(pm8, "leftIn"));
    EXPECT_DEATH(vastorMono8(h, m8, nullptr, nullptr, nullptr, 2), assertionMessage(pm8, "rightIn"));
    EXPECT_DEATH(vastorMono8(h, m8, m8, nullptr, nullptr, 2), assertionMessage(pm8, "leftOut"));
    EXPECT_DEATH(vastorMono8(h, m8, m8, m8, nullptr, 2), assertionMessage(pm8, "rightOut"));
    float f[2][2] = {};
    EXPECT_DEATH(
        vastorProcessFloat(h, f, nullptr, 2),
        assertionMessage(
            "void vastorProcessFloat(struct Vastor *, const float (*)[2], float (*)[2], unsigned int)",
            "outbuf"));
    MonoFloat mf[2] = {};
    EXPECT_DEATH(
        vastorMonoFloat(h, mf, mf, mf, nullptr, 2),
        assertionMessage(
            "void vastorMonoFloat(struct Vastor *, const MonoFloat *, const MonoFloat *, MonoFloat *, "
            "MonoFloat *, unsigned int)",
            "rightOut"));
    vastorClose(h);
}

}  // namespace
