// The process-wide library object and MathLibrary's own slot bodies: plain
// format conversions that count nothing, and the merges of whole mix buffers.
#include "MathLib.h"

#include "Mixbuf.h"

// FloatLibrary holds no state; its object is built at compile time, so it is
// ready before any other static initialiser or engine can ask for it.
static_assert((FloatLibrary(), true), "the library object must be constant-initialised");
static FloatLibrary floatLibrary;

MathLibrary* GetFloatLibrary() {
    return &floatLibrary;
}

void MathLibrary::Split(const Buffer& a, const Buffer& b, const Buffer& src, Samples n) {
    split(a, b, src, n);
}

void MathLibrary::Split(const Buffer& a, const Buffer& b, const Buffer& c, const Buffer& d, const Buffer& src,
                        Samples n) {
    split(a, b, c, d, src, n);
}

void MathLibrary::Merge(const Buffer& dst, const Buffer& a, const Buffer& b, Samples n, unsigned int*) {
    merge(dst, a, b, n);
}

void MathLibrary::Merge(const Buffer& dst, Buffer* sources, int count, Samples n) {
    merge(dst, sources, count, n);
}

void MathLibrary::Save(const Buffer& dst, const Buffer& src, Samples n, Samples*) {
    src.copyTo(dst, n);
}

// Every buffer is extended to n frames whatever the count; only 2 and 4
// buffers are then merged. No clipped samples are counted.
void MathLibrary::Merge(const Buffer& dst, MixBuffer* buffers, int count, Samples n) {
    for (int i = 0; i < count; ++i) buffers[i].Extend(n);
    if (count == 2) {
        merge(dst, buffers[0], buffers[1], n);
    } else if (count == 4) {
        Buffer sources[4] = {buffers[0], buffers[1], buffers[2], buffers[3]};
        merge(dst, sources, 4, n);
    }
}

void MathLibrary::Merge(const Buffer& dst, MixBuffer** buffers, int count, Samples n) {
    for (int i = 0; i < count; ++i) buffers[i]->Extend(n);
    if (count == 2) {
        merge(dst, *buffers[0], *buffers[1], n);
    } else if (count == 4) {
        Buffer sources[4] = {*buffers[0], *buffers[1], *buffers[2], *buffers[3]};
        merge(dst, sources, 4, n);
    }
}

void MathLibrary::Merge(const Buffer& dst, MixBuffer& a, MixBuffer& b, Samples n) {
    a.Merge(dst, b, n);
}
