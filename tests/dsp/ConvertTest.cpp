#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "ConversionModel.h"
#include "Wavedata.h"

namespace {

using model::Block;

// Converts n frames of `from` into every other mono and stereo type and checks
// each destination sample against the model, and the guard behind it.
void expectEveryConversionFrom(int from, const void* data, Samples n) {
    const model::Kind sk = model::kindOf(from);
    const int sc = Buffer::channels_[from];
    for (int to = kMono8; to <= kStereoFloat; ++to) {
        if (to == from) continue;
        SCOPED_TRACE(testing::Message() << "type " << from << " -> " << to);
        Block dst = Block::garbage(to, n);
        Buffer(data, from).copyTo(dst.buffer(), n);
        ASSERT_TRUE(dst.guardIntact());
        const model::Kind dk = model::kindOf(to);
        for (Samples i = 0; i < n; ++i) {
            for (int c = 0; c < Buffer::channels_[to]; ++c) {
                const double l = model::read(data, sk, i * sc), r = model::read(data, sk, i * sc + sc - 1);
                // For a mono source l and r are the same sample.
                double source = c == 1 ? r : l;
                if (sc == 2 && Buffer::channels_[to] == 1) source = model::mean(l, r, sk);
                ASSERT_EQ(dst.sample(i, c), model::convert(source, sk, dk))
                    << "frame " << i << " ch " << c << " from " << l << ", " << r;
            }
        }
    }
}

short to16(float x) {
    short out;
    Buffer(&x, kMonoFloat).copyTo(Buffer(&out, kMono16), 1);
    return out;
}

unsigned char to8(float x) {
    unsigned char out;
    Buffer(&x, kMonoFloat).copyTo(Buffer(&out, kMono8), 1);
    return out;
}

}  // namespace

TEST(SampleRules, every8BitAnd16BitValueConvertsToEveryOtherFormatByTheRule) {
    unsigned char bytes[256];
    for (int b = 0; b < 256; ++b) bytes[b] = static_cast<unsigned char>(b);
    expectEveryConversionFrom(kMono8, bytes, 256);

    std::vector<short> shorts;
    for (int v = -32768; v <= 32767; ++v) shorts.push_back(static_cast<short>(v));
    expectEveryConversionFrom(kMono16, shorts.data(), 65536);

    short s[4];
    float f;
    const unsigned char b8[4] = {0, 128, 255, 255};
    Buffer(b8, kMono8).copyTo(Buffer(s, kMono16), 4);
    Buffer(b8 + 3, kMono8).copyTo(Buffer(&f, kMonoFloat), 1);
    EXPECT_EQ(s[0], -32768);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[2], 32512);
    EXPECT_EQ(f, 127.0f / 128.0f);

    const short v16[6] = {0, 127, 128, 32639, 32767, -32768};
    const unsigned char expected[6] = {128, 128, 129, 255, 255, 0};
    unsigned char out[6];
    Buffer(v16, kMono16).copyTo(Buffer(out, kMono8), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], expected[i]) << "v = " << v16[i];
}

TEST(SampleRules, floatsRoundToNearestWhenPositiveAndTowardZeroWhenNegative) {
    EXPECT_EQ(to16(1.0f), 32767);
    EXPECT_EQ(to16(-1.0f), -32767);
    EXPECT_EQ(to16(-1.0000152587890625f), -32768);
    EXPECT_EQ(to16(std::nextafter(-1.0000152587890625f, 0.0f)), -32767);
    EXPECT_EQ(to16(2.0f), 32767);
    EXPECT_EQ(to16(-2.0f), -32768);
    EXPECT_EQ(to16(0.00001f), 0);
    EXPECT_EQ(to16(-0.00002f), 0);
    EXPECT_EQ(to16(-0.0001f), -2);

    EXPECT_EQ(to8(0.0f), 128);
    EXPECT_EQ(to8(1.0f), 255);
    EXPECT_EQ(to8(-1.0f), 0);
    EXPECT_EQ(to8(2.0f), 255);
    EXPECT_EQ(to8(-2.0f), 0);
}

// x * 32768 + 0.5 lands on an integer at x = (2k - 1) / 65536: the floats at
// and next to every such point separate a double-precision sum from a
// single-precision one, and truncation from rounding.
TEST(SampleRules, floatsAtEveryRoundingBoundaryAndAtRandomFollowTheRule) {
    std::vector<float> xs;
    for (int k = -32800; k <= 32800; ++k) {
        const float x = static_cast<float>((2.0 * k - 1) / 65536);
        xs.insert(xs.end(), {x, std::nextafter(x, 4.0f), std::nextafter(x, -4.0f)});
    }
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> wide(-2.5f, 2.5f);
    std::uniform_real_distribution<float> exponent(-40.0f, 0.0f);
    for (int i = 0; i < 50000; ++i) {
        const float tiny = std::pow(2.0f, exponent(rng));
        xs.insert(xs.end(), {wide(rng), tiny, -tiny});
    }
    expectEveryConversionFrom(kMonoFloat, xs.data(), static_cast<Samples>(xs.size()));
}

TEST(SampleRules, floatsFarOutOfRangeSaturateAndNaNBecomesSilence) {
    const float inf = std::numeric_limits<float>::infinity();
    for (float x : {65536.0f, 1e10f, 3e38f, inf}) {
        EXPECT_EQ(to16(x), 32767) << x;
        EXPECT_EQ(to16(-x), -32768) << -x;
        EXPECT_EQ(to8(x), 255) << x;
        EXPECT_EQ(to8(-x), 0) << -x;
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(to16(nan), 0);
    EXPECT_EQ(to8(nan), 128);
}

TEST(StereoToMono, integerPairsAreAveragedWithFloorAndWithoutOverflow) {
    std::vector<unsigned char> bytes;
    for (int l = 0; l < 256; ++l)
        for (int r = 0; r < 256; ++r)
            bytes.insert(bytes.end(), {static_cast<unsigned char>(l), static_cast<unsigned char>(r)});
    expectEveryConversionFrom(kStereo8, bytes.data(), 65536);

    std::vector<short> shorts;
    for (short edge : {-32768, -32767, -1, 0, 1, 32766, 32767})
        for (int v = -32768; v <= 32767; v += 3)
            shorts.insert(shorts.end(), {edge, static_cast<short>(v), static_cast<short>(v), edge});
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (int i = 0; i < 20000; ++i) shorts.push_back(static_cast<short>(any(rng)));
    expectEveryConversionFrom(kStereo16, shorts.data(), static_cast<Samples>(shorts.size() / 2));

    const short floorCase[] = {-1, 0, 32767, 32767, -32768, -32768};
    short out[3];
    Buffer(floorCase, kStereo16).copyTo(Buffer(out, kMono16), 3);
    EXPECT_EQ(out[0], -1);
    EXPECT_EQ(out[1], 32767);
    EXPECT_EQ(out[2], -32768);
}

TEST(StereoToMono, floatPairsAreAveragedInFloatBeforeConversion) {
    Block random(kStereoFloat, 2000, 11);
    expectEveryConversionFrom(kStereoFloat, random.bytes.data(), 2000);

    // Frame 1: 1 - 2^-15 - 2^-26 rounds to 1 - 2^-15 in float, whose half lands
    // exactly on a rounding boundary (16384); the exact sum falls below it (16383).
    const float pairs[] = {1.0f, 1.0f, 1.0f, -0x1.002p-15f, -1.0f, -1.000030517578125f, 0.5f, 0.25f};
    short m16[4];
    unsigned char m8[4];
    Buffer(pairs, kStereoFloat).copyTo(Buffer(m16, kMono16), 4);
    Buffer(pairs, kStereoFloat).copyTo(Buffer(m8, kMono8), 4);
    EXPECT_EQ(m16[0], 32767);
    EXPECT_EQ(m16[1], 16384);
    EXPECT_EQ(m16[2], -32768);
    EXPECT_EQ(m8[2], 0);
    EXPECT_EQ(m16[3], 12288);
    EXPECT_EQ(m8[3], 176);
}

TEST(CopyTo, equalTypesAreCopiedByteForByteIncludingQuad) {
    for (int type = kMono8; type <= kQuadFloat; ++type) {
        Block src(type, 50, type);
        Block dst = Block::garbage(type, 50);
        src.buffer().copyTo(dst.buffer(), 50);
        const size_t bytes = 50 * Buffer::sizes_[type];
        EXPECT_EQ(0, std::memcmp(src.bytes.data(), dst.bytes.data(), bytes)) << "type " << type;
        EXPECT_TRUE(dst.guardIntact()) << "type " << type;
    }
}

TEST(CopyTo, quadOnEitherSideOrNoSourceFormatLeavesSilence) {
    for (int from = kNoFormat; from <= kQuadFloat; ++from) {
        for (int to = kMono8; to <= kQuadFloat; ++to) {
            const bool quad = Buffer::channels_[from] == 4 || Buffer::channels_[to] == 4;
            if (from == to || (from != kNoFormat && !quad)) continue;
            Block src(from == kNoFormat ? kQuad16 : from, 20, 5);
            Block dst = Block::garbage(to, 20);
            Buffer(src.bytes.data(), from).copyTo(dst.buffer(), 20);
            EXPECT_TRUE(dst.isSilent()) << "type " << from << " -> " << to;
            EXPECT_TRUE(dst.guardIntact()) << "type " << from << " -> " << to;
        }
    }
    unsigned char quad8[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned char stereo8[4] = {0, 0, 0, 0};
    Buffer(quad8, kQuad8).copyTo(Buffer(stereo8, kStereo8), 2);
    for (unsigned char b : stereo8) EXPECT_EQ(b, 0x80);
}

// A block of no format has no frames: nothing is written through it, even when
// no memory stands behind it. Counts below one write nothing anywhere.
TEST(CopyTo, neitherANoFormatDestinationNorACountBelowOneIsWritten) {
    Block src(kStereo16, 8, 1);
    Block dst = Block::garbage(kQuadFloat, 8);
    src.buffer().copyTo(Buffer(dst.bytes.data(), kNoFormat), 8);
    Buffer(src.bytes.data(), kNoFormat).copyTo(Buffer(dst.bytes.data(), kNoFormat), 8);
    for (int to : {kMono8, kStereo16, kStereoFloat, kQuad8}) {
        src.buffer().copyTo(Buffer(dst.bytes.data(), to), 0);
        src.buffer().copyTo(Buffer(dst.bytes.data(), to), -3);
    }
    for (unsigned char b : dst.bytes) ASSERT_EQ(b, 0x5A);
    src.buffer().copyTo(Buffer(), 4);
    Buffer().copyTo(Buffer(), 4);
}

TEST(F8cvt, mapsEveryByteOntoTheSixteenBitScale) {
    for (int b = 0; b < 256; ++b) EXPECT_EQ(f8cvt[b], (b - 128) * 256.0) << "b = " << b;
    EXPECT_EQ(f8cvt[0], -32768.0f);
    EXPECT_EQ(f8cvt[128], 0.0f);
    EXPECT_EQ(f8cvt[255], 32512.0f);
}

TEST(PlainArrays, convertByTheHighByteWithItsTopBitFlippedWithoutRounding) {
    std::vector<short> shorts;
    for (int v = -32768; v <= 32767; ++v) shorts.push_back(static_cast<short>(v));
    std::vector<unsigned char> bytes(shorts.size());
    copy(bytes.data(), shorts.data(), 65536);
    for (size_t i = 0; i < shorts.size(); ++i)
        ASSERT_EQ(bytes[i], (static_cast<uint16_t>(shorts[i]) >> 8) ^ 0x80) << "v = " << shorts[i];
    EXPECT_EQ(bytes[127 + 32768], 128);
    EXPECT_EQ(bytes[128 + 32768], 128);  // the block rule rounds this one up to 129

    unsigned char all[256];
    for (int b = 0; b < 256; ++b) all[b] = static_cast<unsigned char>(b);
    short back[256];
    copy(back, all, 256);
    for (int b = 0; b < 256; ++b) ASSERT_EQ(static_cast<uint16_t>(back[b]), (b ^ 0x80) << 8) << "b = " << b;
}
