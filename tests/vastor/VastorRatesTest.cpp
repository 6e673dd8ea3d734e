// The widener at every sample rate: without VASTOR_ALL_RATES the output is
// pinned bit for bit by fingerprints (what the player plug-in hears); with it,
// the rows for 88200 .. 192000 Hz respond as the 48000 Hz rows do, measured
// on the filters the factories build.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Digest.h"
#include "Filter.h"
#include "MathLib.h"
#include "Mixbuf.h"
#include "ResponseDeviation.h"
#include "Vastor.h"
#include "VastorTables.h"
#include "WidenerSignal.h"

namespace {

using widener_test::Block16;
using widener_test::Frames;

const unsigned kGoldenRates[] = {8000,  11025, 22050, 32000,  44100, 46050,
                                 48000, 88200, 96000, 176400, 192000};
constexpr int kGoldenRateCount = sizeof kGoldenRates / sizeof kGoldenRates[0];
constexpr unsigned kOldFlagBits =
    VASTOR_SINGLE_STAGE | VASTOR_HIPASS_ON | VASTOR_SINGLE_NETWORK | VASTOR_HIGH_SHELF;
constexpr int kGoldenFrames = 3000;

// The flags of combination i (0..15) of the four older open flags.
unsigned OldFlags(int i) {
    return (static_cast<unsigned>(i) << 28) & kOldFlagBits;
}

using test_support::Fnv1a;
using test_support::kFnv1aStart;

// Runs a music-like stereo signal through a 16-bit and a float engine, in calls
// of 700 frames, changing spread, center and the high-pass halfway; answers
// one fingerprint of both outputs.
uint64_t Fingerprint(unsigned rate, unsigned flags) {
    const Block16 in = widener_test::Interleave(widener_test::Music(kGoldenFrames, 3),
                                                widener_test::Music(kGoldenFrames, 8));
    std::vector<float> inFloat(in.size());
    for (size_t i = 0; i < in.size(); ++i) inFloat[i] = in[i] / 32768.0f;
    Block16 out16(in.size());
    std::vector<float> outFloat(in.size());
    Vastor* h16 = nullptr;
    Vastor* hFloat = nullptr;
    EXPECT_EQ(vastorOpen(&h16, rate, flags), 0);
    EXPECT_EQ(vastorOpen(&hFloat, rate, flags), 0);
    for (int done = 0; done < kGoldenFrames; done += 700) {
        if (done == 1400) {
            for (Vastor* h : {h16, hFloat}) {
                vastorSetSpread(h, -6.0f);
                vastorSetCenter(h, -3.0f);
                vastorEnableHipass(h, (flags & VASTOR_HIPASS_ON) ? 0 : 1);
            }
        }
        const unsigned n = static_cast<unsigned>(std::min(700, kGoldenFrames - done));
        vastorProcess16(h16, Frames(in) + done, Frames(out16) + done, n);
        vastorProcessFloat(hFloat, reinterpret_cast<const float(*)[2]>(inFloat.data()) + done,
                           reinterpret_cast<float(*)[2]>(outFloat.data()) + done, n);
    }
    vastorClose(h16);
    vastorClose(hFloat);
    uint64_t hash = kFnv1aStart;
    hash = Fnv1a(hash, out16.data(), out16.size() * sizeof(short));
    return Fnv1a(hash, outFloat.data(), outFloat.size() * sizeof(float));
}

// Recorded from the engine as the player plug-in uses it; one row per rate of
// kGoldenRates, one column per combination of the older flags.
// clang-format off
const uint64_t kGolden[kGoldenRateCount][16] = {
    {  // 8000 Hz
        0x88adc76660548023ull, 0x88adc76660548023ull, 0x5f93332e532a5a7bull, 0x5f93332e532a5a7bull,
        0xa72ea5b0eda3e2a8ull, 0xa72ea5b0eda3e2a8ull, 0x1f2f57acbf5355d0ull, 0x1f2f57acbf5355d0ull,
        0x49df9c6975f3fc46ull, 0x49df9c6975f3fc46ull, 0x8b4ea5835a7a9858ull, 0x8b4ea5835a7a9858ull,
        0xdba1a11c14487683ull, 0xdba1a11c14487683ull, 0xa0b2864e242d9e2aull, 0xa0b2864e242d9e2aull,
    },
    {  // 11025 Hz
        0x7f924381d72791b2ull, 0x7f924381d72791b2ull, 0xf06a2569d5209e45ull, 0xf06a2569d5209e45ull,
        0x5e7686f0f2c553f1ull, 0x5e7686f0f2c553f1ull, 0x5b0700750717ee61ull, 0x5b0700750717ee61ull,
        0x46ac46df1eb808caull, 0x46ac46df1eb808caull, 0xd5124aa948e263bcull, 0xd5124aa948e263bcull,
        0xe5c5dc05402eb170ull, 0xe5c5dc05402eb170ull, 0x97eb9ccc72025da6ull, 0x97eb9ccc72025da6ull,
    },
    {  // 22050 Hz
        0xdb350d201070f5c1ull, 0x62a21965d70b5f0full, 0x14bcc28ed88699f4ull, 0x73823357193184e4ull,
        0xf585ba9108ee94b6ull, 0x47bf660b54b6dfd4ull, 0xacad8145beea5a19ull, 0xead0faeb80bdce9bull,
        0x1a61a0043a0382d4ull, 0xe4f7de55ec14ef57ull, 0x33b03b4c4bac3a01ull, 0xfc4322cb53b6d4d6ull,
        0xca8c86c381386aa6ull, 0x0948064bc058dca6ull, 0xb4cb4c5934f1a226ull, 0x489127c98a50631bull,
    },
    {  // 32000 Hz
        0x108888fe6b536b47ull, 0x4ef3b2bd49d6a953ull, 0xe02a667d08364f3aull, 0x9288faffd16eda86ull,
        0x6eb05b7e20e17e7eull, 0xad81c49b309b0e69ull, 0x5b1fc0b6dd5171e0ull, 0x1b1513cac09421c7ull,
        0xf529ed099c5f6d53ull, 0x159c6acafcc59da2ull, 0x4e9127bb43c13298ull, 0x5faca2d6c2c62979ull,
        0x499dbeffac273a1full, 0xdb08872f5492959dull, 0x72b870ce1850d25aull, 0x990818722152bf3eull,
    },
    {  // 44100 Hz
        0x4c921dd570df1e35ull, 0x232edc180c801b0full, 0xfaed0c7430117d19ull, 0xdf6cec0190756434ull,
        0x5e072eef0e7526d9ull, 0x2992bd40518b01b3ull, 0x35cde940f141f3abull, 0x6fff12eaba752726ull,
        0x02425704928293b1ull, 0x9ea4a42da09886f3ull, 0x314ceabc39852348ull, 0x76556d83ee1784beull,
        0xdbfc97b1f801b467ull, 0xbc222d4a70c9ae91ull, 0x944b14cd7a5389d4ull, 0x6cc8206f8e5c7154ull,
    },
    {  // 46050 Hz
        0x6237f888ed49ff16ull, 0x6237f888ed49ff16ull, 0xbd98e4acc1ed9685ull, 0xbd98e4acc1ed9685ull,
        0xdc1d02a4e687a9b9ull, 0xdc1d02a4e687a9b9ull, 0x66658cc26232f041ull, 0x66658cc26232f041ull,
        0xae820aa464b1425dull, 0xae820aa464b1425dull, 0x7d398bb489ee709cull, 0x7d398bb489ee709cull,
        0xcd3894ba1764b9d8ull, 0xcd3894ba1764b9d8ull, 0x10fdac9687f3147full, 0x10fdac9687f3147full,
    },
    {  // 48000 Hz
        0x4ae53f6015e2be59ull, 0x29088d6f5c953013ull, 0x831cbec08c5cb44aull, 0x61f1d3ea6b38372bull,
        0xba7a0cf754012e83ull, 0x3eb278e7f8a4bfaeull, 0x9e11a776c2bcd468ull, 0x18aa483a187313dcull,
        0xbe57685e07532eb6ull, 0xe1eab62598e25e0aull, 0xa2a1f97b81677e6aull, 0xcbff68ca0b5088d6ull,
        0x327afbd0ec871ff9ull, 0xcee4300c15a0ccd1ull, 0xd480e8ec47f49a2dull, 0xee065b829e30142eull,
    },
    {  // 88200 Hz
        0xe5912e938444f91eull, 0xe5912e938444f91eull, 0x8d2149ed840be81full, 0x8d2149ed840be81full,
        0x1f8a7119766e46d8ull, 0x1f8a7119766e46d8ull, 0xbd6640381af3c82bull, 0xbd6640381af3c82bull,
        0x25c6decd5425792bull, 0x25c6decd5425792bull, 0xab98484763e76120ull, 0xab98484763e76120ull,
        0xe9c3626ee9714cdeull, 0xe9c3626ee9714cdeull, 0xa7cf2f5724cac02full, 0xa7cf2f5724cac02full,
    },
    {  // 96000 Hz
        0xf2db72b17a107fd9ull, 0xf2db72b17a107fd9ull, 0x65e68efc52f55f60ull, 0x65e68efc52f55f60ull,
        0xabe87cab297709ceull, 0xabe87cab297709ceull, 0x10295fb698e7ca94ull, 0x10295fb698e7ca94ull,
        0x36629848b4bb97f9ull, 0x36629848b4bb97f9ull, 0x0f266b7fd44e72f4ull, 0x0f266b7fd44e72f4ull,
        0x47d4a5357c3febc9ull, 0x47d4a5357c3febc9ull, 0x11167938d8392eedull, 0x11167938d8392eedull,
    },
    {  // 176400 Hz
        0x512c6d3c06494010ull, 0x512c6d3c06494010ull, 0xffd0eaade81f63f3ull, 0xffd0eaade81f63f3ull,
        0x059ef6a19e46e5b5ull, 0x059ef6a19e46e5b5ull, 0xe529444a62959d0bull, 0xe529444a62959d0bull,
        0xf335d8d450af1903ull, 0xf335d8d450af1903ull, 0xf79afa9f665d46ffull, 0xf79afa9f665d46ffull,
        0xa7f53407faa6c023ull, 0xa7f53407faa6c023ull, 0xaf4f8cf1013dfeaaull, 0xaf4f8cf1013dfeaaull,
    },
    {  // 192000 Hz
        0x0efb65e0e40924d4ull, 0x0efb65e0e40924d4ull, 0x47b68974cd6423c8ull, 0x47b68974cd6423c8ull,
        0xa052dde5b238826dull, 0xa052dde5b238826dull, 0xdc24d540523745a9ull, 0xdc24d540523745a9ull,
        0x5eec9389b8882fa3ull, 0x5eec9389b8882fa3ull, 0x572d16874cbd60b5ull, 0x572d16874cbd60b5ull,
        0xd1f2d3649862859bull, 0xd1f2d3649862859bull, 0xfe2e5ee121880c23ull, 0xfe2e5ee121880c23ull,
    },
};
// clang-format on

constexpr double kPi = 3.14159265358979323846;
const long kHighRates[] = {88200, 96000, 176400, 192000};

MathLibrary& Library() {
    return *GetFloatLibrary();
}

// A widening or shelving filter for rate, as the factories make it; writes the
// delay its direct path gets (0 for the single-stage filter and the shelf).
using Factory = std::function<InPlaceFilter*(long rate, bool allRates, long* directDelay)>;

struct Kind {
    const char* name;
    Factory make;
};

const Kind kKinds[] = {
    {"multi-stage",
     [](long rate, bool all, long* d) { return CreateMultiStageVastor(Library(), rate, 1.0f, d, all); }},
    {"single-stage",
     [](long rate, bool all, long* d) { return CreateSingleStageVastor(Library(), rate, 1.0f, d, all); }},
    {"high shelf",
     [](long rate, bool all, long* d) {
         *d = 0;
         return CreateHighshelf(Library(), rate, all);
     }},
};

// The response at f Hz of a filter, relative to its direct path: the filter's
// frequency response times the advance of that path's delay.
class RelativeResponse {
  public:
    RelativeResponse(const Kind& kind, long rate, bool allRates) : rate_(static_cast<double>(rate)) {
        std::unique_ptr<InPlaceFilter> filter(kind.make(rate, allRates, &delay_));
        EXPECT_NE(filter, nullptr) << kind.name << " at " << rate;
        if (!filter) return;
        const Samples n = 16384;  // the slowest pole pair has died away by far
        MixBuffer buffer;
        Library().CreateBuffer(buffer, n);
        std::fill(buffer.floats(), buffer.floats() + n, 0.0f);
        buffer.floats()[0] = 1.0f;
        buffer.used_ = n;
        filter->Process(buffer);
        impulse_.assign(buffer.floats(), buffer.floats() + n);
        buffer.free();
    }

    std::complex<double> operator()(double f) const {
        const std::complex<double> step = std::polar(1.0, -2.0 * kPi * f / rate_);
        std::complex<double> phasor = 1.0, sum = 0.0;
        for (float h : impulse_) {
            sum += static_cast<double>(h) * phasor;
            phasor *= step;
        }
        return sum * std::polar(1.0, 2.0 * kPi * f * static_cast<double>(delay_) / rate_);
    }

    long delay() const { return delay_; }

  private:
    double rate_;
    long delay_ = -1;
    std::vector<float> impulse_;
};

using test_support::Deviation;

// The largest deviation of candidate from reference over 10 Hz .. 24 kHz,
// wherever the reference is within 30 dB of its peak there.
Deviation Compare(const RelativeResponse& reference, const RelativeResponse& candidate) {
    std::vector<double> grid;
    for (double f = 10.0; f < 1000.0; f *= 1.03) grid.push_back(f);
    for (double f = 1000.0; f < 24000.0; f += 100.0) grid.push_back(f);
    return test_support::Compare(reference, candidate, grid);
}

long MultiStageDelay(long rate, bool allRates) {
    long delay = -1;
    std::unique_ptr<InPlaceFilter> f(CreateMultiStageVastor(Library(), rate, 1.0f, &delay, allRates));
    return delay;
}

}  // namespace

TEST(VastorRates, everyHighRateRowRespondsAsThe48000HzRowAgainstItsDirectPath) {
    for (const Kind& kind : kKinds) {
        const RelativeResponse reference(kind, 48000, false);
        for (long rate : kHighRates) {
            const Deviation d = Compare(reference, RelativeResponse(kind, rate, true));
            EXPECT_LE(d.db, 0.5) << kind.name << " at " << rate;
            EXPECT_LE(d.rad, 0.1) << kind.name << " at " << rate;
            if (std::getenv("KESTA_PRINT_FIGURES"))
                std::printf("%s at %ld Hz: %.3f dB, %.4f rad\n", kind.name, rate, d.db, d.rad);
        }
        if (&kind == &kKinds[2]) continue;  // without the flag there is no shelf at 96000 Hz
        // What the rows mend: the 48000 Hz row heard at 96000 Hz is another filter.
        const Deviation old = Compare(reference, RelativeResponse(kind, 96000, false));
        EXPECT_GT(std::max(old.db / 0.5, old.rad / 0.1), 2.0) << kind.name;
        if (std::getenv("KESTA_PRINT_FIGURES"))
            std::printf("%s, 48000 Hz row at 96000 Hz: %.3f dB, %.4f rad\n", kind.name, old.db, old.rad);
    }
}

TEST(VastorRates, withAllRatesTheNearestOfAllThirteenRowsIsTaken) {
    const struct {
        long rate;
        long withFlag, without;
    } cases[] = {{44100, 6, 6},   {48000, 7, 7},   {46050, 6, 6},   {68100, 7, 7},   {68101, 16, 7},
                 {88200, 16, 7},  {96000, 17, 7},  {92100, 16, 7},  {100000, 17, 7}, {136200, 17, 7},
                 {136201, 37, 7}, {176400, 37, 7}, {192000, 39, 7}, {384000, 39, 7}, {0, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(MultiStageDelay(c.rate, true), c.withFlag) << c.rate;
        EXPECT_EQ(MultiStageDelay(c.rate, false), c.without) << c.rate;
    }
    for (long rate : kHighRates) {
        EXPECT_EQ(CreateHighshelf(Library(), rate, false), nullptr) << rate;
        std::unique_ptr<InPlaceFilter> shelf(CreateHighshelf(Library(), rate, true));
        EXPECT_NE(shelf, nullptr) << rate;
    }
    EXPECT_EQ(CreateHighshelf(Library(), 100000, true), nullptr);
}

#if defined(__x86_64__)
// The fingerprints hold where float arithmetic is plain SSE (no fused multiply-add).
TEST(VastorRates, withoutTheAllRatesFlagEveryRateAndFlagSetGivesTheRecordedOutput) {
    // KESTA_PRINT_GOLDEN=1 prints the table instead of checking it.
    const bool print = std::getenv("KESTA_PRINT_GOLDEN") != nullptr;
    for (int r = 0; r < kGoldenRateCount; ++r) {
        if (print) std::printf("    {  // %u Hz", kGoldenRates[r]);
        for (int i = 0; i < 16; ++i) {
            const uint64_t hash = Fingerprint(kGoldenRates[r], OldFlags(i));
            if (print)
                std::printf("%s0x%016llxull,", i % 4 ? " " : "\n        ",
                            static_cast<unsigned long long>(hash));
            else
                EXPECT_EQ(hash, kGolden[r][i]) << kGoldenRates[r] << " Hz, flags " << std::hex << OldFlags(i);
        }
        if (print) std::printf("\n    },\n");
    }
}

TEST(VastorRates, theAllRatesFlagChangesNothingUpTo48000HzAndEveryFlagSetAbove) {
    for (int r = 0; r < kGoldenRateCount; ++r) {
        for (int i = 0; i < 16; ++i) {
            const uint64_t hash = Fingerprint(kGoldenRates[r], OldFlags(i) | VASTOR_ALL_RATES);
            if (kGoldenRates[r] <= 48000)
                EXPECT_EQ(hash, kGolden[r][i]) << kGoldenRates[r] << " Hz, flags " << std::hex << OldFlags(i);
            else
                EXPECT_NE(hash, kGolden[r][i]) << kGoldenRates[r] << " Hz, flags " << std::hex << OldFlags(i);
        }
    }
}
#endif
