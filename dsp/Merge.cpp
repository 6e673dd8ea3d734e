// Mono blocks merged into one block: interleaved into stereo or quad, or
// averaged into fewer channels. Every combination of types not converted here
// leaves silence in the destination.
#include "Convert.h"

namespace {

// Two mono sources of sample type S interleaved into a stereo destination.
template <class S>
bool interleave(const Buffer& dst, const Mono<S>* a, const Mono<S>* b, Samples n) {
    switch (dst.type_) {
        case kStereo8:
            merge(static_cast<Stereo<unsigned char>*>(dst.data_), a, b, n);
            return true;
        case kStereo16:
            merge(static_cast<Stereo<short>*>(dst.data_), a, b, n);
            return true;
        case kStereoFloat:
            merge(static_cast<Stereo<float>*>(dst.data_), a, b, n);
            return true;
        default:
            return false;
    }
}

// Two mono sources of sample type S averaged into a mono destination.
template <class S>
bool average(const Buffer& dst, const Mono<S>* a, const Mono<S>* b, Samples n) {
    switch (dst.type_) {
        case kMono8:
            merge(static_cast<Mono<unsigned char>*>(dst.data_), a, b, n);
            return true;
        case kMono16:
            merge(static_cast<Mono<short>*>(dst.data_), a, b, n);
            return true;
        case kMonoFloat:
            merge(static_cast<Mono<float>*>(dst.data_), a, b, n);
            return true;
        default:
            return false;
    }
}

// Four mono sources of sample type S folded into stereo or interleaved into quad.
template <class S>
bool mergeFour(const Buffer& dst, const Buffer* sources, Samples n) {
    const Mono<S>* s0 = static_cast<const Mono<S>*>(sources[0].data_);
    const Mono<S>* s1 = static_cast<const Mono<S>*>(sources[1].data_);
    const Mono<S>* s2 = static_cast<const Mono<S>*>(sources[2].data_);
    const Mono<S>* s3 = static_cast<const Mono<S>*>(sources[3].data_);
    switch (dst.type_) {
        case kStereo8:
            merge(static_cast<Stereo<unsigned char>*>(dst.data_), s0, s1, s2, s3, n);
            return true;
        case kStereo16:
            merge(static_cast<Stereo<short>*>(dst.data_), s0, s1, s2, s3, n);
            return true;
        case kStereoFloat:
            merge(static_cast<Stereo<float>*>(dst.data_), s0, s1, s2, s3, n);
            return true;
        case kQuad8:
            merge(static_cast<Quad<unsigned char>*>(dst.data_), s0, s1, s2, s3, n);
            return true;
        case kQuad16:
            merge(static_cast<Quad<short>*>(dst.data_), s0, s1, s2, s3, n);
            return true;
        case kQuadFloat:
            merge(static_cast<Quad<float>*>(dst.data_), s0, s1, s2, s3, n);
            return true;
        default:
            return false;
    }
}

}  // namespace

void merge(const Buffer& dst, const Buffer& a, const Buffer& b, Samples n) {
    if (n <= 0) return;
    bool merged = false;
    if (a.type_ == b.type_) {
        switch (a.type_) {
            case kMono8: {
                // 8-bit blocks are only interleaved, never averaged.
                const auto* a8 = static_cast<const Mono<unsigned char>*>(a.data_);
                const auto* b8 = static_cast<const Mono<unsigned char>*>(b.data_);
                merged = interleave(dst, a8, b8, n);
                break;
            }
            case kMono16: {
                const auto* a16 = static_cast<const Mono<short>*>(a.data_);
                const auto* b16 = static_cast<const Mono<short>*>(b.data_);
                merged = interleave(dst, a16, b16, n) || average(dst, a16, b16, n);
                break;
            }
            case kMonoFloat: {
                const auto* af = static_cast<const Mono<float>*>(a.data_);
                const auto* bf = static_cast<const Mono<float>*>(b.data_);
                merged = interleave(dst, af, bf, n) || average(dst, af, bf, n);
                break;
            }
            default:
                break;
        }
    }
    if (!merged) conversion::silence(dst, n);
}

void merge(const Buffer& dst, Buffer* sources, int count, Samples n) {
    if (n <= 0) return;
    switch (count) {
        case 1:
            sources[0].copyTo(dst, n);
            return;
        case 2:
            merge(dst, sources[0], sources[1], n);
            return;
        case 4:
            break;
        default:
            conversion::silence(dst, n);
            return;
    }
    const int type = sources[0].type_;
    bool merged = false;
    if (sources[1].type_ == type && sources[2].type_ == type && sources[3].type_ == type) {
        if (type == kMono16)
            merged = mergeFour<short>(dst, sources, n);
        else if (type == kMonoFloat)
            merged = mergeFour<float>(dst, sources, n);
    }
    if (!merged) conversion::silence(dst, n);
}
