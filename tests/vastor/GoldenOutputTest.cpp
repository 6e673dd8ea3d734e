// The widener's output, bit for bit, through every entry point at every rate
// row and open-flag set, in calls of several sizes: one digest per rate and
// flag set, recorded from the engine. Any change to the arithmetic of the
// signal library or the networks that moves a single bit shows here.
//
// The signal has every kind of stretch the networks treat differently: music,
// a loud part that clips, a silence long enough for every filter to go quiet,
// and music again; the settings change mid-stream (spread, center, high-pass)
// and the widening is switched off near the end.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Digest.h"
#include "Vastor.h"
#include "WidenerSignal.h"

namespace {

const unsigned kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 46050, 48000, 96000};
constexpr int kRateCount = sizeof kRates / sizeof kRates[0];
constexpr int kFrames = 4600;
constexpr int kSettingsAt = 1800;  // frames; applied at the first call boundary at or after
constexpr int kDisableAt = 4200;

// Call sizes, each list cycled over the whole signal: single frames, an odd
// size, the engine's chunk, calls that cross a chunk, and a mixture.
const std::vector<int> kCallSizes[] = {{1}, {97}, {1024}, {1500}, {5, 700, 1100, 64}};

using test_support::Fnv1a;
using test_support::kFnv1aStart;

// Interleaved 16-bit stereo: music, a clipping stretch, silence, music.
std::vector<short> Signal() {
    const std::vector<short> left = widener_test::Music(kFrames, 5, 0.3);
    const std::vector<short> right = widener_test::Music(kFrames, 11, 0.3);
    std::vector<short> out = widener_test::Interleave(left, right);
    for (int i = 1500; i < 2200; ++i) {
        out[2 * i] = static_cast<short>(std::clamp(left[i] * 4, -32768, 32767));
        out[2 * i + 1] = static_cast<short>(-std::clamp(right[i] * 4, -32767, 32767));
    }
    std::fill(out.begin() + 2 * 2200, out.begin() + 2 * 3900, 0);
    return out;
}

// The six ways in: interleaved and separate channels, 16-bit, 8-bit, float.
enum class Entry { kStereo16, kStereo8, kStereoFloat, kMono16, kMono8, kMonoFloat };

struct Run {
    Entry entry;
    std::vector<short> in16;
    std::vector<unsigned char> in8;
    std::vector<float> inFloat;
    std::vector<short> out16;
    std::vector<unsigned char> out8;
    std::vector<float> outFloat;

    // Channel c of frame i in the layout of this entry (interleaved or planar).
    size_t At(int i, int c) const {
        return entry <= Entry::kStereoFloat ? 2 * static_cast<size_t>(i) + c
                                            : static_cast<size_t>(c) * kFrames + static_cast<size_t>(i);
    }

    Run(Entry e, const std::vector<short>& signal) : entry(e) {
        in16.resize(signal.size());
        for (int i = 0; i < kFrames; ++i)
            for (int c = 0; c < 2; ++c) in16[At(i, c)] = signal[2 * static_cast<size_t>(i) + c];
        for (short s : in16) in8.push_back(static_cast<unsigned char>((s >> 8) + 128));
        for (short s : in16) inFloat.push_back(s / 32768.0f);
        out16.assign(signal.size(), 0);
        out8.assign(signal.size(), 0);
        outFloat.assign(signal.size(), 0.0f);
    }

    void Process(Vastor* h, int at, int n) {
        const unsigned k = static_cast<unsigned>(n);
        switch (entry) {
            case Entry::kStereo16:
                vastorProcess16(h, widener_test::Frames(in16) + at, widener_test::Frames(out16) + at, k);
                break;
            case Entry::kStereo8:
                vastorProcess8(h, reinterpret_cast<const unsigned char(*)[2]>(in8.data()) + at,
                               reinterpret_cast<unsigned char(*)[2]>(out8.data()) + at, k);
                break;
            case Entry::kStereoFloat:
                vastorProcessFloat(h, reinterpret_cast<const float(*)[2]>(inFloat.data()) + at,
                                   reinterpret_cast<float(*)[2]>(outFloat.data()) + at, k);
                break;
            case Entry::kMono16:
                vastorMono16(h, &in16[At(at, 0)], &in16[At(at, 1)], &out16[At(at, 0)], &out16[At(at, 1)], k);
                break;
            case Entry::kMono8:
                vastorMono8(h, &in8[At(at, 0)], &in8[At(at, 1)], &out8[At(at, 0)], &out8[At(at, 1)], k);
                break;
            case Entry::kMonoFloat:
                vastorMonoFloat(h, &inFloat[At(at, 0)], &inFloat[At(at, 1)], &outFloat[At(at, 0)],
                                &outFloat[At(at, 1)], k);
                break;
        }
    }

    uint64_t Digest(uint64_t hash) const {
        hash = Fnv1a(hash, out16.data(), out16.size() * sizeof(short));
        hash = Fnv1a(hash, out8.data(), out8.size());
        return Fnv1a(hash, outFloat.data(), outFloat.size() * sizeof(float));
    }
};

uint64_t Digest(unsigned rate, unsigned flags) {
    const std::vector<short> signal = Signal();
    uint64_t hash = kFnv1aStart;
    for (const std::vector<int>& calls : kCallSizes) {
        for (Entry entry : {Entry::kStereo16, Entry::kStereo8, Entry::kStereoFloat, Entry::kMono16,
                            Entry::kMono8, Entry::kMonoFloat}) {
            Run run(entry, signal);
            Vastor* h = nullptr;
            EXPECT_EQ(vastorOpen(&h, rate, flags), 0);
            vastorSetSpread(h, -2.0f);
            bool changed = false, disabled = false;
            size_t next = 0;
            for (int done = 0; done < kFrames;) {
                if (!changed && done >= kSettingsAt) {
                    vastorSetSpread(h, -9.0f);
                    vastorSetCenter(h, -3.0f);
                    vastorEnableHipass(h, (flags & VASTOR_HIPASS_ON) ? 0 : 1);
                    changed = true;
                }
                if (!disabled && done >= kDisableAt) {
                    vastorEnable(h, 0);
                    disabled = true;
                }
                const int n = std::min(calls[next++ % calls.size()], kFrames - done);
                run.Process(h, done, n);
                done += n;
            }
            vastorClose(h);
            hash = run.Digest(hash);
        }
    }
    return hash;
}

// One row per rate of kRates, one column per combination of the four open
// flags SINGLE_STAGE, HIPASS_ON, SINGLE_NETWORK and HIGH_SHELF (bits 31..28).
const uint64_t kGolden[kRateCount][16] = {
    {
        // 8000 Hz
        0xdc514b9e22e61d6bull,
        0xdc514b9e22e61d6bull,
        0x5455487aa0a54335ull,
        0x5455487aa0a54335ull,
        0x4ada761c5e27ce4bull,
        0x4ada761c5e27ce4bull,
        0xaf5bcdb2f4492c35ull,
        0xaf5bcdb2f4492c35ull,
        0xce9fe6401aac1139ull,
        0xce9fe6401aac1139ull,
        0x7e79037947045c57ull,
        0x7e79037947045c57ull,
        0x67ebe77f08b959a7ull,
        0x67ebe77f08b959a7ull,
        0x18cddfc6f8d2aea9ull,
        0x18cddfc6f8d2aea9ull,
    },
    {
        // 11025 Hz
        0x08d0fe2fa6978105ull,
        0x08d0fe2fa6978105ull,
        0x07a4acf2eb54c01dull,
        0x07a4acf2eb54c01dull,
        0x62bced790422095full,
        0x62bced790422095full,
        0xdfe44bbd6e89f32bull,
        0xdfe44bbd6e89f32bull,
        0x40bbe99d27072b23ull,
        0x40bbe99d27072b23ull,
        0x5d30b0562e8eebe3ull,
        0x5d30b0562e8eebe3ull,
        0x1a284989e0da3fbfull,
        0x1a284989e0da3fbfull,
        0xfbe04355e66db0c3ull,
        0xfbe04355e66db0c3ull,
    },
    {
        // 12000 Hz
        0xcb910cf59f292039ull,
        0xcb910cf59f292039ull,
        0xfef8cfc9da2f31a5ull,
        0xfef8cfc9da2f31a5ull,
        0xd012b6b5d22bb30bull,
        0xd012b6b5d22bb30bull,
        0xbb316edfa5e27327ull,
        0xbb316edfa5e27327ull,
        0x06ad8ac69f147ce1ull,
        0x06ad8ac69f147ce1ull,
        0x0dd995628394daa3ull,
        0x0dd995628394daa3ull,
        0x0fb89313ea00c0d5ull,
        0x0fb89313ea00c0d5ull,
        0x834dc2561683d79full,
        0x834dc2561683d79full,
    },
    {
        // 16000 Hz
        0x9df4689e4457bf99ull,
        0xc51002aef9a08395ull,
        0x496d422526b950b3ull,
        0xcf2d1b775a54bc47ull,
        0xaf2ff7f298ac9199ull,
        0x6f32e5170bef3f7bull,
        0x50582fa34e2936ffull,
        0x6dd6e4856709e025ull,
        0x4ca75b54029b9bbdull,
        0x2b8e4249d950d23full,
        0x4e15ade14d7623d9ull,
        0xf9ae39cdb39f09f7ull,
        0xa1a9d93be23e8e01ull,
        0xa695077d8784cf53ull,
        0xa728d95320c4c795ull,
        0xd5ce7b0a4a455899ull,
    },
    {
        // 22050 Hz
        0x325309a0c0884219ull,
        0xea41f4b43a5a4a29ull,
        0xfd06feb88c833813ull,
        0x7dbca065b0b4b8a5ull,
        0x074dca43488ed17bull,
        0x2f921c880e6620c7ull,
        0xf8d30711c6dbdcbdull,
        0x1505d90ee6c8001dull,
        0x819a32b29fb72467ull,
        0x2b3ef4bc542d3b99ull,
        0xb4c853d34bbd1addull,
        0x3f6261e7a319aa6full,
        0xc6b287fb72e9cdfdull,
        0xe5cb607b24010d97ull,
        0x66c5c0c83b4c7cc5ull,
        0x957053a5ff8850e9ull,
    },
    {
        // 24000 Hz
        0x8cdca75c2df34ab1ull,
        0x7813a74a0f8a5805ull,
        0xdea28d23245ea967ull,
        0xd1fc8316e238b7c3ull,
        0x69536e52c7d972b1ull,
        0x5f6f55ba281ed729ull,
        0xf7a296888d1557a9ull,
        0x7d45d5aedff9be85ull,
        0xa260a24f5c5acce1ull,
        0x420f681f59702a63ull,
        0x9106fdf4938abb65ull,
        0x5c77b4bf61e82095ull,
        0x3db70a3a31437da5ull,
        0x3541996b82223db9ull,
        0x71da95e278568f93ull,
        0xa223e1a0734336d3ull,
    },
    {
        // 32000 Hz
        0x1467fbf8f60c4ccdull,
        0xe926ad4d195f1645ull,
        0xbec7566c8839c9f9ull,
        0x373259868694877bull,
        0x1b9ecd12b1f7169bull,
        0x9fb76b90d37cdae5ull,
        0x8e249c7f9603cb8dull,
        0xdbc07542ecbf6441ull,
        0x0db55820b116acbfull,
        0xa397ed3be97a8bd9ull,
        0x75db38717666fb01ull,
        0xdaf6482b9755b5bbull,
        0x0e98571377008049ull,
        0x28557934d1426d9bull,
        0x793392e97f5b4dabull,
        0x6193827348653d6dull,
    },
    {
        // 44100 Hz
        0x8a421ba18e7005f5ull,
        0x3620e3cf38d3d913ull,
        0x0094af8db4571d6full,
        0xfed7908d30145b97ull,
        0x0df69b75ff44bde9ull,
        0x8bdc31fe482b375full,
        0x2f0b7cc3219542c7ull,
        0x88275f7612f43397ull,
        0x2e53b941bbbbd313ull,
        0x35b0044fe92310cbull,
        0x6dcbe1a07c9985b9ull,
        0x5ca3de71b2c6120bull,
        0xeb237bde3261e721ull,
        0x4b61297fc4c6fa65ull,
        0xb666b2022572e0c1ull,
        0x58bbd6a507263eb5ull,
    },
    {
        // 46050 Hz
        0x2e5f7c1022c0a7ddull,
        0x2e5f7c1022c0a7ddull,
        0xaa4500cdc053b3e7ull,
        0xaa4500cdc053b3e7ull,
        0x8cc42935ab658269ull,
        0x8cc42935ab658269ull,
        0x6ccf7fd0f9b772c3ull,
        0x6ccf7fd0f9b772c3ull,
        0x9a5097d1289c897full,
        0x9a5097d1289c897full,
        0x5e704ccb9acde97full,
        0x5e704ccb9acde97full,
        0xd2f75956fb4511ddull,
        0xd2f75956fb4511ddull,
        0x22258c40d059bf47ull,
        0x22258c40d059bf47ull,
    },
    {
        // 48000 Hz
        0x99b82b1bd2ecaebdull,
        0x28dea9dfb2e2aebbull,
        0x5e63f2fdfa18f81full,
        0xa84a4dc5f4403dedull,
        0x02a7d2aa604422fdull,
        0x5ccf17efd4c9d4ffull,
        0xacb19a2d1e01de4dull,
        0x8b56834eb389f2b7ull,
        0x2b5104b0a838a5afull,
        0xfe902f04740ae55dull,
        0x27be3d40cfdb059dull,
        0x014ea905bb342071ull,
        0xeb3528e135b6107full,
        0xe58b8950d036a803ull,
        0xdeff492ed6790571ull,
        0xe2550c2284b74bd7ull,
    },
    {
        // 96000 Hz
        0x429a32c3b4848aefull,
        0x429a32c3b4848aefull,
        0x020c28e0150a43bfull,
        0x020c28e0150a43bfull,
        0xf4555db2c5711bb5ull,
        0xf4555db2c5711bb5ull,
        0xeb45bd40f4d79a05ull,
        0xeb45bd40f4d79a05ull,
        0xacf5ddad526e0f07ull,
        0xacf5ddad526e0f07ull,
        0x5ef076376d8c4eafull,
        0x5ef076376d8c4eafull,
        0x6330a8dec625d163ull,
        0x6330a8dec625d163ull,
        0x1a085514376b0469ull,
        0x1a085514376b0469ull,
    },
};

}  // namespace

#if defined(__x86_64__)
// The digests hold where float arithmetic is SSE without fused multiply-add,
// as on every x86-64 build of this project.
TEST(VastorGoldenOutput, everyEntryPointRateRowFlagSetAndCallSizeGivesTheRecordedBits) {
    // KESTA_PRINT_GOLDEN=1 prints the table instead of checking it.
    const bool print = std::getenv("KESTA_PRINT_GOLDEN") != nullptr;
    for (int r = 0; r < kRateCount; ++r) {
        if (print) std::printf("    {  // %u Hz", kRates[r]);
        for (int i = 0; i < 16; ++i) {
            const unsigned flags = static_cast<unsigned>(i) << 28;
            const uint64_t hash = Digest(kRates[r], flags);
            if (print)
                std::printf("%s0x%016llxull,", i % 4 ? " " : "\n        ",
                            static_cast<unsigned long long>(hash));
            else
                EXPECT_EQ(hash, kGolden[r][i]) << kRates[r] << " Hz, flags " << std::hex << flags;
        }
        if (print) std::printf("\n    },\n");
    }
}
#endif
