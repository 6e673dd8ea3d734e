// Frame-level format conversions without clip counting.
//
// Sample rules (8-bit = unsigned with 128 as zero, 16-bit = signed, float with
// 1.0 as full scale; trunc rounds toward zero, >> is arithmetic):
//   8-bit  -> float  (b - 128) * 2^-7
//   16-bit -> float  v * 2^-15
//   float  -> 16-bit t = trunc(x * 32768 + 0.5) in double, clamped to -32768 .. 32767
//   float  -> 8-bit  (t + 0x8080) >> 8 with t as above but unclamped, clamped to 0 .. 255
//   8-bit  -> 16-bit (b - 128) * 256
//   16-bit -> 8-bit  (v + 0x8080) >> 8, clamped to 255
// Positive floats therefore round to nearest and negative ones toward zero:
// 1.0 gives 32767 and -1.0 gives -32767.
//
// Averages (stereo to mono, and the merges into fewer channels) are taken in
// the source sample type before the conversion: (l + r) >> 1 in an int for
// integer samples, (l + r) * 0.5 in float for float samples.
//
// Every function takes its count in frames, last, and requires that the
// source and destination blocks do not overlap.
#pragma once

#include "Wavedata.h"

namespace conversion {

// x * 32768 + 0.5 truncated toward zero, as an int. Finite results are those
// of the plain truncation; the sum is first held inside +-65536, well beyond
// every clamp threshold below, so that huge values and infinities saturate
// instead of overflowing the int, and NaN becomes 0 (silence).
inline int scaleFloat(float x) {
    double d = static_cast<double>(x) * 32768.0 + 0.5;
    d = d > 65536.0 ? 65536.0 : d;
    d = d < -65536.0 ? -65536.0 : d;
    d = d == d ? d : 0.0;
    return static_cast<int>(d);
}

// Destination sample type D, from each of the three source sample types.
template <class D>
struct To;

template <>
struct To<unsigned char> {
    static unsigned char from(unsigned char b) { return b; }
    static unsigned char from(short v) {
        const int t = (v + 0x8080) >> 8;
        return static_cast<unsigned char>(t > 255 ? 255 : t);
    }
    static unsigned char from(float x) {
        int t = (scaleFloat(x) + 0x8080) >> 8;
        t = t > 255 ? 255 : t;
        t = t < 0 ? 0 : t;
        return static_cast<unsigned char>(t);
    }
};

template <>
struct To<short> {
    static short from(unsigned char b) { return static_cast<short>((b - 128) * 256); }
    static short from(short v) { return v; }
    static short from(float x) {
        int t = scaleFloat(x);
        t = t > 32766 ? 32767 : t;
        t = t < -32768 ? -32768 : t;
        return static_cast<short>(t);
    }
};

template <>
struct To<float> {
    static float from(unsigned char b) { return static_cast<float>(b - 128) * 0.0078125f; }
    static float from(short v) { return static_cast<float>(v) * 0.000030517578125f; }
    static float from(float x) { return x; }
};

// Mean of two samples in their own type; integers round toward minus infinity.
inline unsigned char mean(unsigned char a, unsigned char b) {
    return static_cast<unsigned char>((a + b) >> 1);
}
inline short mean(short a, short b) {
    return static_cast<short>((a + b) >> 1);
}
inline float mean(float a, float b) {
    return (a + b) * 0.5f;
}

// Silence of n frames in dst. A block of no format (type 0, or any number
// outside the format tables) has no frames, so nothing is written to it.
inline void silence(const Buffer& dst, Samples n) {
    if (dst.type_ >= kMono8 && dst.type_ <= kQuadFloat) dst.clear(n);
}

}  // namespace conversion

// Mono to mono and stereo to stereo, each sample converted, channel order kept.
template <class S, class D>
void copy(Mono<D>* dst, const Mono<S>* src, Samples n) {
    for (Samples i = 0; i < n; ++i) dst[i].c[0] = conversion::To<D>::from(src[i].c[0]);
}

template <class S, class D>
void copy(Stereo<D>* dst, const Stereo<S>* src, Samples n) {
    for (Samples i = 0; i < n; ++i) {
        dst[i].c[0] = conversion::To<D>::from(src[i].c[0]);
        dst[i].c[1] = conversion::To<D>::from(src[i].c[1]);
    }
}

// Mono to stereo: the converted sample goes to both channels.
template <class S, class D>
void copy(Stereo<D>* dst, const Mono<S>* src, Samples n) {
    for (Samples i = 0; i < n; ++i) {
        const D v = conversion::To<D>::from(src[i].c[0]);
        dst[i].c[0] = v;
        dst[i].c[1] = v;
    }
}

// Stereo to mono: the mean of the two channels, converted.
template <class S, class D>
void copy(Mono<D>* dst, const Stereo<S>* src, Samples n) {
    for (Samples i = 0; i < n; ++i)
        dst[i].c[0] = conversion::To<D>::from(conversion::mean(src[i].c[0], src[i].c[1]));
}

// Two mono blocks interleaved: frame i = (a[i], b[i]), each converted.
template <class S, class D>
void merge(Stereo<D>* dst, const Mono<S>* a, const Mono<S>* b, Samples n) {
    for (Samples i = 0; i < n; ++i) {
        dst[i].c[0] = conversion::To<D>::from(a[i].c[0]);
        dst[i].c[1] = conversion::To<D>::from(b[i].c[0]);
    }
}

// Two mono blocks averaged: frame i = mean(a[i], b[i]), converted.
template <class S, class D>
void merge(Mono<D>* dst, const Mono<S>* a, const Mono<S>* b, Samples n) {
    for (Samples i = 0; i < n; ++i)
        dst[i].c[0] = conversion::To<D>::from(conversion::mean(a[i].c[0], b[i].c[0]));
}

// Four mono blocks folded to stereo: frame i = (mean(s0, s2), mean(s1, s3)), each converted.
template <class S, class D>
void merge(Stereo<D>* dst, const Mono<S>* s0, const Mono<S>* s1, const Mono<S>* s2, const Mono<S>* s3,
           Samples n) {
    for (Samples i = 0; i < n; ++i) {
        dst[i].c[0] = conversion::To<D>::from(conversion::mean(s0[i].c[0], s2[i].c[0]));
        dst[i].c[1] = conversion::To<D>::from(conversion::mean(s1[i].c[0], s3[i].c[0]));
    }
}

// Four mono blocks interleaved: frame i = (s0[i], s1[i], s2[i], s3[i]), each converted.
template <class S, class D>
void merge(Quad<D>* dst, const Mono<S>* s0, const Mono<S>* s1, const Mono<S>* s2, const Mono<S>* s3,
           Samples n) {
    for (Samples i = 0; i < n; ++i) {
        dst[i].c[0] = conversion::To<D>::from(s0[i].c[0]);
        dst[i].c[1] = conversion::To<D>::from(s1[i].c[0]);
        dst[i].c[2] = conversion::To<D>::from(s2[i].c[0]);
        dst[i].c[3] = conversion::To<D>::from(s3[i].c[0]);
    }
}
