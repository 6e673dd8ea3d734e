// The processor's output, bit for bit, in the block sizes live hosts use (1,
// 16, 64, 256 and 1024 frames) through both interfaces: one digest per
// stream and setting, recorded from the processor. A change to the core or
// to the engines that moves a single bit of any path, fade or switch shows
// here, also where every block size would move alike. The short cases run
// without loudness matching; the long ones run with it, through its hops,
// its gates and the glides of a change.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "CoreSignal.h"
#include "Digest.h"
#include "Processor.h"

namespace {

using namespace core_test;
using kesta::Processor;
using kesta::Settings;

constexpr int kFrames = 12000;

struct GoldenCase {
    const char* name;
    unsigned rate;
    int channels;
    bool dualMono;
    bool music;
    std::vector<Event> events;
    uint64_t digest;
    float level = 0.25f;  // of the material: over 0.5 the limiter works
    bool match = false;
    int frames = kFrames;
};

// Interleaved stereo output of case c in blocks of block frames, through
// process (planar false) or processPlanar.
std::vector<float> Render(const GoldenCase& c, int block, bool planar) {
    Processor p;
    Settings s;
    s.music = c.music;
    s.match = c.match;
    Prepare(p, c.rate, c.channels, s);
    const int frames = c.frames;
    const std::vector<float> left = Music(frames, 3, c.level, c.rate);
    const std::vector<float> right = c.dualMono ? left : Music(frames, 8, c.level, c.rate);
    std::vector<float> out(2 * static_cast<size_t>(frames));
    std::vector<float> outL(static_cast<size_t>(frames)), outR(outL.size());
    const std::vector<float> in = c.channels == 1 ? left : Interleave({left, right});
    size_t e = 0;
    for (int done = 0; done < frames;) {
        while (e < c.events.size() && c.events[e].at <= done) c.events[e++].apply(p);
        int k = std::min(block, frames - done);
        if (e < c.events.size()) k = std::min(k, c.events[e].at - done);
        const size_t at = static_cast<size_t>(done);
        if (planar) {
            const float* i[2] = {left.data() + at, right.data() + at};
            float* o[2] = {outL.data() + at, outR.data() + at};
            p.processPlanar(i, o, k);
        } else {
            p.process(in.data() + at * static_cast<size_t>(c.channels), out.data() + 2 * at, k);
        }
        done += k;
    }
    return planar ? Interleave({outL, outR}) : out;
}

std::vector<GoldenCase> Cases() {
    const auto voice = [](Processor& p) { p.setMusic(false); };
    const auto music = [](Processor& p) { p.setMusic(true); };
    const auto dry = [](Processor& p) { p.setMonoTo3D(false); };
    const auto subtoneOff = [](Processor& p) { p.setSubtone(false); };
    const auto spread = [](Processor& p) { p.setSpread(-9.0f); };
    const auto narrow = [](Processor& p) { p.setWidening(false); };
    const auto widen = [](Processor& p) { p.setWidening(true); };
    const auto limiterOff = [](Processor& p) { p.setLimiter(false); };
    const auto limiterOn = [](Processor& p) { p.setLimiter(true); };
    const auto matchOff = [](Processor& p) { p.setMatch(false); };
    const auto matchOn = [](Processor& p) { p.setMatch(true); };
    const auto both = [](Processor& p) {
        p.setMusic(false);
        p.setSpread(-6.0f);
    };
    return {
        {"MonoMusic44100", 44100, 1, false, true, {{3001, subtoneOff}, {7000, voice}}, 0x6f46ab44d2248846ull},
        {"MonoVoice44100", 44100, 1, false, false, {{4000, dry}}, 0x2a08007dac8d16adull},
        {"MonoVoice48000", 48000, 1, false, false, {{5000, music}}, 0x4d0dd304536f57edull},
        {"MonoMusic22050", 22050, 1, false, true, {{2999, voice}, {3000, subtoneOff}}, 0x59f016bc5b8644cdull},
        {"Stereo44100",
         44100,
         2,
         false,
         true,
         {{2500, spread}, {6000, narrow}, {9000, widen}},
         0x39d5b6d6348740cfull},
        // A change at each of eight frames in a row, all inside one block of
        // the engines' and the limiter's.
        {"Stereo48000Burst",
         48000,
         2,
         false,
         true,
         {{4001, spread},
          {4002, narrow},
          {4003, widen},
          {4004, subtoneOff},
          {4005, voice},
          {4006, narrow},
          {4007, widen},
          {4008, music}},
         0x476e9badf80a5c68ull},
        {"DualMono44100", 44100, 2, true, true, {{8000, voice}}, 0x91928eb01fc9f739ull},
        {"LoudStereo44100",
         44100,
         2,
         false,
         true,
         {{5000, limiterOff}, {9000, limiterOn}},
         0x743bbcaa2a55dcbbull,
         1.5f},
        {"LoudMono22050", 22050, 1, false, true, {{7000, voice}}, 0xb3de23b5a80a8148ull, 1.5f},
        {"DualMono96000", 96000, 2, true, false, {{6000, subtoneOff}}, 0x10b9c46bb522f4d1ull},
        {"MatchStereo44100",
         44100,
         2,
         false,
         true,
         {{66150, spread}, {99225, matchOff}, {110250, matchOn}, {121275, narrow}},
         0x2219cfebe0835b8dull,
         0.25f,
         true,
         132300},
        {"MatchMono48000",
         48000,
         1,
         false,
         true,
         {{60000, voice}, {96000, both}, {110001, subtoneOff}},
         0xf882c11ba86ae50eull,
         0.5f,
         true,
         144000},
        {"MatchDualMono22050",
         22050,
         2,
         true,
         false,
         {{40000, music}, {55000, matchOff}},
         0x257d93a345b19bbfull,
         0.25f,
         true,
         66150},
    };
}

TEST(ProcessorGolden, everyBlockSizeGivesTheRecordedBits) {
    for (const GoldenCase& c : Cases()) {
        for (bool planar : {false, true}) {
            for (int block : {1, 16, 64, 256, 1024}) {
                const std::vector<float> out = Render(c, block, planar);
                const uint64_t digest =
                    test_support::Fnv1a(test_support::kFnv1aStart, out.data(), out.size() * sizeof(float));
                EXPECT_EQ(digest, c.digest) << c.name << (planar ? ", planar" : ", interleaved")
                                            << ", blocks of " << block << ": 0x" << std::hex << digest;
            }
        }
    }
}

}  // namespace
