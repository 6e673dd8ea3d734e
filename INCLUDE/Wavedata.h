// Block descriptors and sample formats.
//
// A Buffer is a pointer to the first frame of a block plus a format type; it
// never knows the block's length. Every operation takes the number of frames
// separately, as a Samples count.
#pragma once

#include <cstdint>

// Count of sample frames (one stereo frame holds two samples). Every length,
// offset and delay of the signal library is a Samples count.
typedef int32_t Samples;

// Sample types of the engines' function interfaces: unsigned 8-bit with 128 as
// silence, and signed 16-bit.
typedef unsigned char Data8;
typedef short Data16;

// Frames: an array of frames is the interleaved block the host uses.
template <class T>
struct Mono {
    T c[1];
};
template <class T>
struct Stereo {
    T c[2];  // left, right
};
template <class T>
struct Quad {
    T c[4];
};

// Format types: channel count x sample type. 0 is "no format".
enum FormatType {
    kNoFormat = 0,
    kMono8 = 1,
    kMono16 = 2,
    kMonoFloat = 3,
    kStereo8 = 4,
    kStereo16 = 5,
    kStereoFloat = 6,
    kQuad8 = 7,
    kQuad16 = 8,
    kQuadFloat = 9,
};

class Buffer {
  public:
    // Per-format tables, indexed by format type 0..9.
    static const int sizes_[10];     // bytes per frame
    static const int shifts_[10];    // log2 of bytes per frame
    static const int channels_[10];  // channels per frame
    static const int bits_[10];      // bits per sample; 32 means float

    Buffer() : data_(nullptr), type_(kNoFormat) {}
    // The descriptor does not own the memory, and does not track constness:
    // whoever passes a read-only block only reads from it.
    Buffer(const void* data, int type) : data_(const_cast<void*>(data)), type_(type) {}

    // Format type for 1, 2 or 4 channels of 8, 16 or 32 (float) bits; 0 otherwise.
    static int getType(int channels, int bits);

    // Writes silence (0x80 for 8-bit types, zero bytes otherwise) into n frames.
    // A block of no format has no frames: clear and moveTo write nothing to it.
    void clear(Samples n) const;
    // Puts n frames into dst, converting if the types differ. Equal types may overlap.
    void moveTo(const Buffer& dst, Samples n) const;
    // Puts n frames into dst, converting if the types differ; a pair of types
    // that is not converted leaves silence in dst. Equal types must not overlap.
    void copyTo(const Buffer& dst, Samples n) const;

    float* floats() const { return static_cast<float*>(data_); }
    short* shorts() const { return static_cast<short*>(data_); }
    unsigned char* bytes() const { return static_cast<unsigned char*>(data_); }

    void* data_;  // first byte of the first frame; not owned
    int type_;    // format type 0..9
};

// The position n frames further on in the same block.
inline Buffer operator+(const Buffer& b, Samples n) {
    return Buffer(static_cast<char*>(b.data_) + static_cast<long>(n) * Buffer::sizes_[b.type_], b.type_);
}

// Frames from b to a in the same block; negative when a lies before b.
inline Samples operator-(const Buffer& a, const Buffer& b) {
    return static_cast<Samples>((static_cast<char*>(a.data_) - static_cast<char*>(b.data_)) >>
                                Buffer::shifts_[a.type_]);
}

// Block conversions between formats (no clip counting). Every combination a
// function does not convert leaves silence of n frames in each destination.

// Two mono blocks of one type into dst: interleaved (stereo dst) or averaged (mono dst).
void merge(const Buffer& dst, const Buffer& a, const Buffer& b, Samples n);
// count (1, 2 or 4) mono blocks into dst.
void merge(const Buffer& dst, Buffer* sources, int count, Samples n);
// A stereo block into two mono blocks of the same sample width, without conversion.
void split(const Buffer& a, const Buffer& b, const Buffer& src, Samples n);
// A quad block into four mono blocks of the same sample width, without conversion.
void split(const Buffer& a, const Buffer& b, const Buffer& c, const Buffer& d, const Buffer& src, Samples n);

// f8cvt[b] = (b - 128) * 256: an 8-bit sample on the 16-bit scale.
extern const float f8cvt[256];

// Plain array converters: 16-bit to 8-bit by the high byte with the top bit
// flipped (no rounding), and 8-bit to 16-bit as (b - 128) * 256.
void copy(unsigned char* dst, const short* src, Samples n);
void copy(short* dst, const unsigned char* src, Samples n);
