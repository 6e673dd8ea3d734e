#include <gtest/gtest.h>

#include <vector>

#include "ConversionModel.h"
#include "Wavedata.h"

namespace {

using model::Block;

const int kMonoTypes[] = {kMono8, kMono16, kMonoFloat};

bool untouched(const Block& b) {
    for (unsigned char byte : b.bytes)
        if (byte != 0x5A) return false;
    return true;
}

}  // namespace

// Two mono blocks: interleaved into stereo for every source type, averaged
// into mono for 16-bit and float; everything else is silence.
TEST(TwoInputMerge, interleavesOrAveragesByTheModelAndSilencesTheRest) {
    const Samples n = 300;
    for (int from : kMonoTypes) {
        Block a(from, n, 1), b(from, n, 40);
        const model::Kind sk = model::kindOf(from);
        for (int to = kMono8; to <= kQuadFloat; ++to) {
            SCOPED_TRACE(testing::Message() << "sources " << from << " -> " << to);
            Block dst = Block::garbage(to, n);
            merge(dst.buffer(), a.buffer(), b.buffer(), n);
            EXPECT_TRUE(dst.guardIntact());
            const model::Kind dk = model::kindOf(to);
            const int channels = Buffer::channels_[to];
            if (channels == 4 || (channels == 1 && from == kMono8)) {
                EXPECT_TRUE(dst.isSilent());
                continue;
            }
            for (Samples i = 0; i < n; ++i) {
                if (channels == 2) {
                    ASSERT_EQ(dst.sample(i, 0), model::convert(a.sample(i, 0), sk, dk)) << "frame " << i;
                    ASSERT_EQ(dst.sample(i, 1), model::convert(b.sample(i, 0), sk, dk)) << "frame " << i;
                } else {
                    const double mean = model::mean(a.sample(i, 0), b.sample(i, 0), sk);
                    ASSERT_EQ(dst.sample(i, 0), model::convert(mean, sk, dk)) << "frame " << i;
                }
            }
        }
    }
}

TEST(TwoInputMerge, sourcesOfDifferentOrNonMonoTypesLeaveSilence) {
    const Samples n = 16;
    for (int ta = kNoFormat; ta <= kQuadFloat; ++ta) {
        for (int tb = kNoFormat; tb <= kQuadFloat; ++tb) {
            if (ta == tb && ta >= kMono8 && ta <= kMonoFloat) continue;
            Block a(ta == kNoFormat ? kMono16 : ta, n, 3), b(tb == kNoFormat ? kMono16 : tb, n, 9);
            for (int to : {kMono16, kStereo8, kStereoFloat}) {
                Block dst = Block::garbage(to, n);
                merge(dst.buffer(), Buffer(a.bytes.data(), ta), Buffer(b.bytes.data(), tb), n);
                EXPECT_TRUE(dst.isSilent() && dst.guardIntact()) << ta << " + " << tb << " -> " << to;
            }
        }
    }
}

TEST(FourInputMerge, foldsToStereoOrInterleavesToQuadByTheModel) {
    const Samples n = 300;
    for (int from : {kMono16, kMonoFloat}) {
        Block s0(from, n, 1), s1(from, n, 30), s2(from, n, 61), s3(from, n, 95);
        const Block* in[4] = {&s0, &s1, &s2, &s3};
        Buffer sources[4] = {s0.buffer(), s1.buffer(), s2.buffer(), s3.buffer()};
        const model::Kind sk = model::kindOf(from);
        for (int to = kStereo8; to <= kQuadFloat; ++to) {
            SCOPED_TRACE(testing::Message() << "sources " << from << " -> " << to);
            Block dst = Block::garbage(to, n);
            merge(dst.buffer(), sources, 4, n);
            EXPECT_TRUE(dst.guardIntact());
            const model::Kind dk = model::kindOf(to);
            for (Samples i = 0; i < n; ++i) {
                for (int c = 0; c < Buffer::channels_[to]; ++c) {
                    const double v = Buffer::channels_[to] == 4
                                         ? in[c]->sample(i, 0)
                                         : model::mean(in[c]->sample(i, 0), in[c + 2]->sample(i, 0), sk);
                    ASSERT_EQ(dst.sample(i, c), model::convert(v, sk, dk)) << "frame " << i << " ch " << c;
                }
            }
        }
    }

    short s[4][2] = {{100, -1}, {200, 32767}, {300, 0}, {400, 32767}};
    Buffer sources[4] = {Buffer(s[0], kMono16), Buffer(s[1], kMono16), Buffer(s[2], kMono16),
                         Buffer(s[3], kMono16)};
    short stereo[4], quad[8];
    merge(Buffer(stereo, kStereo16), sources, 4, 2);
    merge(Buffer(quad, kQuad16), sources, 4, 2);
    EXPECT_EQ(std::vector<short>(stereo, stereo + 4), (std::vector<short>{200, 300, -1, 32767}));
    EXPECT_EQ(std::vector<short>(quad, quad + 8),
              (std::vector<short>{100, 200, 300, 400, -1, 32767, 0, 32767}));
}

TEST(FourInputMerge, eightBitOrMixedSourcesAndMonoDestinationsLeaveSilence) {
    const Samples n = 12;
    Block m8(kMono8, n, 1), m16(kMono16, n, 2), f(kMonoFloat, n, 3);
    Buffer eightBit[4] = {m8.buffer(), m8.buffer(), m8.buffer(), m8.buffer()};
    Buffer mixed[4] = {m16.buffer(), m16.buffer(), f.buffer(), m16.buffer()};
    Buffer good[4] = {m16.buffer(), m16.buffer(), m16.buffer(), m16.buffer()};
    for (int to : {kStereo8, kStereo16, kQuadFloat}) {
        for (Buffer* sources : {eightBit, mixed}) {
            Block dst = Block::garbage(to, n);
            merge(dst.buffer(), sources, 4, n);
            EXPECT_TRUE(dst.isSilent() && dst.guardIntact()) << "-> " << to;
        }
    }
    for (int to : kMonoTypes) {
        Block dst = Block::garbage(to, n);
        merge(dst.buffer(), good, 4, n);
        EXPECT_TRUE(dst.isSilent() && dst.guardIntact()) << "four sources -> mono " << to;
    }
}

TEST(ArrayMerge, oneSourceCopiesTwoMergeAndOtherCountsLeaveSilence) {
    const Samples n = 40;
    Block a(kMono16, n, 1), b(kMono16, n, 20);
    Buffer sources[5] = {a.buffer(), b.buffer(), a.buffer(), b.buffer(), a.buffer()};

    Block viaArray = Block::garbage(kStereoFloat, n), direct = Block::garbage(kStereoFloat, n);
    merge(viaArray.buffer(), sources, 1, n);
    a.buffer().copyTo(direct.buffer(), n);
    EXPECT_EQ(viaArray.bytes, direct.bytes);

    viaArray = Block::garbage(kMono8, n);
    direct = Block::garbage(kMono8, n);
    merge(viaArray.buffer(), sources, 2, n);
    merge(direct.buffer(), a.buffer(), b.buffer(), n);
    EXPECT_EQ(viaArray.bytes, direct.bytes);

    for (int count : {0, 3, 5, -1}) {
        Block dst = Block::garbage(kStereo16, n);
        merge(dst.buffer(), sources, count, n);
        EXPECT_TRUE(dst.isSilent() && dst.guardIntact()) << "count " << count;
    }
}

TEST(Split, interleavedBlocksGoToMonoBlocksOfTheSameWidthUnchanged) {
    const Samples n = 257;
    for (int mono : kMonoTypes) {
        Block stereo(Buffer::getType(2, Buffer::bits_[mono]), n, 4);
        Block quad(Buffer::getType(4, Buffer::bits_[mono]), n, 6);
        std::vector<Block> out(4, Block::garbage(mono, n));
        split(out[0].buffer(), out[1].buffer(), stereo.buffer(), n);
        for (int c = 0; c < 2; ++c)
            for (Samples i = 0; i < n; ++i) ASSERT_EQ(out[c].sample(i, 0), stereo.sample(i, c));
        split(out[0].buffer(), out[1].buffer(), out[2].buffer(), out[3].buffer(), quad.buffer(), n);
        for (int c = 0; c < 4; ++c) {
            for (Samples i = 0; i < n; ++i) ASSERT_EQ(out[c].sample(i, 0), quad.sample(i, c));
            EXPECT_TRUE(out[c].guardIntact());
        }
    }
}

TEST(Split, anyMismatchOfTypesSilencesEveryDestination) {
    const Samples n = 10;
    struct Case {
        int a, b, src;
    };
    const Case pairs[] = {
        {kMonoFloat, kMonoFloat, kStereo16},  // no conversion is attempted
        {kMono16, kMono16, kStereoFloat},    {kMono8, kMono8, kStereo16}, {kMono16, kMonoFloat, kStereo16},
        {kMono16, kMono16, kMono16},         {kMono16, kMono16, kQuad16}, {kMono16, kMono16, kNoFormat},
        {kStereo8, kStereo8, kStereo8},
    };
    for (const Case& c : pairs) {
        Block src(c.src == kNoFormat ? kQuadFloat : c.src, n, 2);
        Block a = Block::garbage(c.a, n), b = Block::garbage(c.b, n);
        split(a.buffer(), b.buffer(), Buffer(src.bytes.data(), c.src), n);
        EXPECT_TRUE(a.isSilent() && b.isSilent()) << c.a << ", " << c.b << " <- " << c.src;
        EXPECT_TRUE(a.guardIntact() && b.guardIntact());
    }

    const Case quads[] = {
        {kMono16, kMono16, kQuadFloat}, {kMono8, kMono8, kStereo8}, {kMono16, kMonoFloat, kQuad16}};
    for (const Case& c : quads) {
        Block src(c.src, n, 2);
        std::vector<Block> out(4, Block::garbage(c.a, n));
        out[2] = Block::garbage(c.b, n);
        split(out[0].buffer(), out[1].buffer(), out[2].buffer(), out[3].buffer(), src.buffer(), n);
        for (const Block& o : out) EXPECT_TRUE(o.isSilent() && o.guardIntact()) << c.a << " <- " << c.src;
    }
}

// A block of no format has no frames: nothing is written through it, even when
// no memory stands behind it. Counts below one write nothing anywhere.
TEST(MergeAndSplit, neitherANoFormatDestinationNorACountBelowOneIsWritten) {
    Block a(kMono16, 8, 1), b(kMono16, 8, 2), stereo(kStereo16, 8, 3);
    Buffer sources[4] = {a.buffer(), b.buffer(), a.buffer(), b.buffer()};
    Block dst = Block::garbage(kQuadFloat, 8), other = Block::garbage(kMono16, 8);
    const Buffer none(dst.bytes.data(), kNoFormat);
    merge(none, a.buffer(), b.buffer(), 8);
    merge(none, a.buffer(), Buffer(b.bytes.data(), kMonoFloat), 8);
    merge(none, sources, 4, 8);
    merge(none, sources, 3, 8);
    merge(dst.buffer(), a.buffer(), b.buffer(), 0);
    merge(dst.buffer(), sources, 4, -1);
    merge(dst.buffer(), sources, 3, 0);
    split(other.buffer(), other.buffer(), stereo.buffer(), 0);
    split(other.buffer(), none, stereo.buffer(), -5);
    split(other.buffer(), other.buffer(), other.buffer(), other.buffer(), stereo.buffer(), 0);
    EXPECT_TRUE(untouched(dst));
    EXPECT_TRUE(untouched(other));

    split(other.buffer(), none, stereo.buffer(), 8);
    EXPECT_TRUE(other.isSilent());
    EXPECT_TRUE(untouched(dst));

    merge(Buffer(), a.buffer(), b.buffer(), 8);
    split(Buffer(), Buffer(), Buffer(), Buffer(), stereo.buffer(), 8);
}
