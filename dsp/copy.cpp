// Buffer::copyTo (one block into another, converting between the mono and
// stereo formats), the 8-bit lookup table f8cvt and the plain array converters.
#include <cstring>

#include "Convert.h"

namespace {

// Second level of the dispatch: frames of one source format into any mono or
// stereo destination. False for a destination it does not convert.
template <class Frame>
bool copyInto(const Buffer& dst, const Frame* src, Samples n) {
    switch (dst.type_) {
        case kMono8:
            copy(static_cast<Mono<unsigned char>*>(dst.data_), src, n);
            return true;
        case kMono16:
            copy(static_cast<Mono<short>*>(dst.data_), src, n);
            return true;
        case kMonoFloat:
            copy(static_cast<Mono<float>*>(dst.data_), src, n);
            return true;
        case kStereo8:
            copy(static_cast<Stereo<unsigned char>*>(dst.data_), src, n);
            return true;
        case kStereo16:
            copy(static_cast<Stereo<short>*>(dst.data_), src, n);
            return true;
        case kStereoFloat:
            copy(static_cast<Stereo<float>*>(dst.data_), src, n);
            return true;
        default:
            return false;
    }
}

}  // namespace

void Buffer::copyTo(const Buffer& dst, Samples n) const {
    if (n <= 0) return;
    if (dst.type_ == type_) {
        if (type_ >= kMono8 && type_ <= kQuadFloat)
            std::memcpy(dst.data_, data_, static_cast<size_t>(n) << shifts_[type_]);
        return;
    }
    bool converted = false;
    switch (type_) {
        case kMono8:
            converted = copyInto(dst, static_cast<const Mono<unsigned char>*>(data_), n);
            break;
        case kMono16:
            converted = copyInto(dst, static_cast<const Mono<short>*>(data_), n);
            break;
        case kMonoFloat:
            converted = copyInto(dst, static_cast<const Mono<float>*>(data_), n);
            break;
        case kStereo8:
            converted = copyInto(dst, static_cast<const Stereo<unsigned char>*>(data_), n);
            break;
        case kStereo16:
            converted = copyInto(dst, static_cast<const Stereo<short>*>(data_), n);
            break;
        case kStereoFloat:
            converted = copyInto(dst, static_cast<const Stereo<float>*>(data_), n);
            break;
        default:
            break;
    }
    if (!converted) conversion::silence(dst, n);
}

#define KESTA_F8(i) static_cast<float>(((i)-128) * 256)
#define KESTA_F8_ROW(r)                                                                           \
    KESTA_F8(r * 16 + 0), KESTA_F8(r * 16 + 1), KESTA_F8(r * 16 + 2), KESTA_F8(r * 16 + 3),       \
        KESTA_F8(r * 16 + 4), KESTA_F8(r * 16 + 5), KESTA_F8(r * 16 + 6), KESTA_F8(r * 16 + 7),   \
        KESTA_F8(r * 16 + 8), KESTA_F8(r * 16 + 9), KESTA_F8(r * 16 + 10), KESTA_F8(r * 16 + 11), \
        KESTA_F8(r * 16 + 12), KESTA_F8(r * 16 + 13), KESTA_F8(r * 16 + 14), KESTA_F8(r * 16 + 15)

const float f8cvt[256] = {
    KESTA_F8_ROW(0),  KESTA_F8_ROW(1),  KESTA_F8_ROW(2),  KESTA_F8_ROW(3),
    KESTA_F8_ROW(4),  KESTA_F8_ROW(5),  KESTA_F8_ROW(6),  KESTA_F8_ROW(7),
    KESTA_F8_ROW(8),  KESTA_F8_ROW(9),  KESTA_F8_ROW(10), KESTA_F8_ROW(11),
    KESTA_F8_ROW(12), KESTA_F8_ROW(13), KESTA_F8_ROW(14), KESTA_F8_ROW(15),
};

#undef KESTA_F8_ROW
#undef KESTA_F8

void copy(unsigned char* dst, const short* src, Samples n) {
    for (Samples i = 0; i < n; ++i) dst[i] = static_cast<unsigned char>((src[i] + 32768) >> 8);
}

void copy(short* dst, const unsigned char* src, Samples n) {
    for (Samples i = 0; i < n; ++i) dst[i] = static_cast<short>((src[i] - 128) * 256);
}
