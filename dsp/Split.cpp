// An interleaved block split into mono blocks of the same sample type, without
// conversion. Any other combination of types leaves silence in every destination.
#include "Convert.h"

namespace {

template <class T>
void split2(const Buffer& a, const Buffer& b, const Buffer& src, Samples n) {
    Mono<T>* left = static_cast<Mono<T>*>(a.data_);
    Mono<T>* right = static_cast<Mono<T>*>(b.data_);
    const Stereo<T>* frames = static_cast<const Stereo<T>*>(src.data_);
    for (Samples i = 0; i < n; ++i) {
        left[i].c[0] = frames[i].c[0];
        right[i].c[0] = frames[i].c[1];
    }
}

template <class T>
void split4(const Buffer& a, const Buffer& b, const Buffer& c, const Buffer& d, const Buffer& src,
            Samples n) {
    Mono<T>* c0 = static_cast<Mono<T>*>(a.data_);
    Mono<T>* c1 = static_cast<Mono<T>*>(b.data_);
    Mono<T>* c2 = static_cast<Mono<T>*>(c.data_);
    Mono<T>* c3 = static_cast<Mono<T>*>(d.data_);
    const Quad<T>* frames = static_cast<const Quad<T>*>(src.data_);
    for (Samples i = 0; i < n; ++i) {
        c0[i].c[0] = frames[i].c[0];
        c1[i].c[0] = frames[i].c[1];
        c2[i].c[0] = frames[i].c[2];
        c3[i].c[0] = frames[i].c[3];
    }
}

}  // namespace

void split(const Buffer& a, const Buffer& b, const Buffer& src, Samples n) {
    if (n <= 0) return;
    if (a.type_ == b.type_) {
        switch (src.type_) {
            case kStereo8:
                if (a.type_ == kMono8) return split2<unsigned char>(a, b, src, n);
                break;
            case kStereo16:
                if (a.type_ == kMono16) return split2<short>(a, b, src, n);
                break;
            case kStereoFloat:
                if (a.type_ == kMonoFloat) return split2<float>(a, b, src, n);
                break;
            default:
                break;
        }
    }
    conversion::silence(a, n);
    conversion::silence(b, n);
}

void split(const Buffer& a, const Buffer& b, const Buffer& c, const Buffer& d, const Buffer& src, Samples n) {
    if (n <= 0) return;
    if (a.type_ == b.type_ && a.type_ == c.type_ && a.type_ == d.type_) {
        switch (src.type_) {
            case kQuad8:
                if (a.type_ == kMono8) return split4<unsigned char>(a, b, c, d, src, n);
                break;
            case kQuad16:
                if (a.type_ == kMono16) return split4<short>(a, b, c, d, src, n);
                break;
            case kQuadFloat:
                if (a.type_ == kMonoFloat) return split4<float>(a, b, c, d, src, n);
                break;
            default:
                break;
        }
    }
    conversion::silence(a, n);
    conversion::silence(b, n);
    conversion::silence(c, n);
    conversion::silence(d, n);
}
