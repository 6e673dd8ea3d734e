#include "Wavedata.h"

#include <cstring>

const int Buffer::sizes_[10] = {0, 1, 2, 4, 2, 4, 8, 4, 8, 16};
const int Buffer::shifts_[10] = {0, 0, 1, 2, 1, 2, 3, 2, 3, 4};
const int Buffer::channels_[10] = {0, 1, 1, 1, 2, 2, 2, 4, 4, 4};
const int Buffer::bits_[10] = {0, 8, 16, 32, 8, 16, 32, 8, 16, 32};

int Buffer::getType(int channels, int bits) {
    int layout;
    switch (channels) {
        case 1:
            layout = 0;
            break;
        case 2:
            layout = 3;
            break;
        case 4:
            layout = 6;
            break;
        default:
            return kNoFormat;
    }
    switch (bits) {
        case 8:
            return layout + 1;
        case 16:
            return layout + 2;
        case 32:
            return layout + 3;
        default:
            return kNoFormat;
    }
}

// A block of no format (type 0, or a number outside the tables) has no
// frames: nothing is written through it.
void Buffer::clear(Samples n) const {
    if (n <= 0 || type_ < kMono8 || type_ > kQuadFloat) return;
    const size_t bytes = static_cast<size_t>(n) << shifts_[type_];
    const bool unsigned8 = type_ == kMono8 || type_ == kStereo8 || type_ == kQuad8;
    std::memset(data_, unsigned8 ? 0x80 : 0, bytes);
}

void Buffer::moveTo(const Buffer& dst, Samples n) const {
    if (dst.type_ != type_) {
        copyTo(dst, n);
        return;
    }
    if (n <= 0 || type_ < kMono8 || type_ > kQuadFloat) return;
    std::memmove(dst.data_, data_, static_cast<size_t>(n) << shifts_[type_]);
}
