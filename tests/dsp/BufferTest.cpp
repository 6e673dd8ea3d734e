#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Wavedata.h"

TEST(Buffer, getTypeCombinesChannelsAndWidth) {
    EXPECT_EQ(Buffer::getType(1, 8), 1);
    EXPECT_EQ(Buffer::getType(1, 32), 3);
    EXPECT_EQ(Buffer::getType(2, 16), 5);
    EXPECT_EQ(Buffer::getType(4, 32), 9);
    EXPECT_EQ(Buffer::getType(3, 16), 0);
    EXPECT_EQ(Buffer::getType(2, 24), 0);
    EXPECT_EQ(Buffer::getType(0, 8), 0);
    for (int type = 1; type <= 9; ++type) {
        EXPECT_EQ(Buffer::getType(Buffer::channels_[type], Buffer::bits_[type]), type);
        EXPECT_EQ(1 << Buffer::shifts_[type], Buffer::sizes_[type]);
        EXPECT_EQ(Buffer::sizes_[type], Buffer::channels_[type] * Buffer::bits_[type] / 8);
    }
}

TEST(Buffer, positionsMoveByWholeFrames) {
    char block[256];
    Buffer mono16(block, kMono16);
    EXPECT_EQ(static_cast<char*>((mono16 + 5).data_) - block, 10);
    Buffer quadFloat(block, kQuadFloat);
    EXPECT_EQ(static_cast<char*>((quadFloat + 5).data_) - block, 80);
    EXPECT_EQ((quadFloat + 5).type_, kQuadFloat);

    Buffer stereoFloat(block, kStereoFloat);
    EXPECT_EQ((stereoFloat + 10) - stereoFloat, 10);
    EXPECT_EQ(stereoFloat - (stereoFloat + 10), -10);
}

TEST(Buffer, clearWritesTheSilenceOfEachSampleType) {
    unsigned char block[64];
    std::memset(block, 0x55, sizeof block);
    Buffer(block, kStereo8).clear(3);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(block[i], 0x80);
    EXPECT_EQ(block[6], 0x55);

    std::memset(block, 0x55, sizeof block);
    Buffer(block, kStereo16).clear(3);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(block[i], 0);
    EXPECT_EQ(block[12], 0x55);

    std::memset(block, 0x55, sizeof block);
    Buffer(block, kQuadFloat).clear(3);
    for (int i = 0; i < 48; ++i) EXPECT_EQ(block[i], 0);
    EXPECT_EQ(block[48], 0x55);
}

TEST(Buffer, zeroFramesTouchNoMemory) {
    unsigned char block[16];
    std::memset(block, 0x55, sizeof block);
    Buffer a(block, kMono16), b(block + 8, kMono16), c(block + 8, kMonoFloat);
    a.clear(0);
    a.moveTo(b, 0);
    a.copyTo(b, 0);
    a.copyTo(c, 0);
    for (unsigned char byte : block) EXPECT_EQ(byte, 0x55);
}

// A block of no format has no frames, so clearing or moving it writes nothing,
// as copyTo already does not.
TEST(Buffer, aBlockOfNoFormatIsNeverWritten) {
    unsigned char block[16], other[16];
    std::memset(block, 0x55, sizeof block);
    std::memset(other, 0x11, sizeof other);
    for (int type : {int{kNoFormat}, 10, -1}) {
        Buffer(block, type).clear(8);
        Buffer(other, type).moveTo(Buffer(block + 8, type), 8);
    }
    for (unsigned char byte : block) EXPECT_EQ(byte, 0x55);
}

TEST(Buffer, moveToToleratesOverlapOfOneType) {
    std::vector<short> block(20), expected(20);
    for (int i = 0; i < 20; ++i) block[i] = expected[i] = static_cast<short>(i * 7 - 30);
    std::vector<short> temp(expected.begin(), expected.begin() + 12);
    std::copy(temp.begin(), temp.end(), expected.begin() + 5);

    Buffer(block.data(), kMono16).moveTo(Buffer(block.data() + 5, kMono16), 12);
    EXPECT_EQ(block, expected);
}
