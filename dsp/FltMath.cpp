// FloatLibrary's vector arithmetic on mono float blocks, the ramped mixing
// primitives, and the mix-buffer storage factory.
//
// Every loop runs once over the block in index order, allocates nothing and
// calls nothing per sample. A count of 0 or less does nothing.
#include <cstddef>
#include <cstdint>
#include <new>

#include "MathLib.h"
#include "Mixbuf.h"

namespace {

// One 16-bit step, the float nearest to 1/32767: a block whose absolute
// samples add up to no more than this counts as silence.
const float kQuietLimit = 3.0518509e-05f;

// Integer samples reach the float scale through the gain: 2^-15 puts 16-bit
// full scale, and 8-bit full scale through f8cvt, at +-1.0.
const float kIntegerScale = 3.0517578e-05f;

const float kLargest = 3.4028235e+38f;

// The held part of a ramp, dst[i] = held * src[i] (or dst[i] + held * src[i]
// when add) for i < n, from float and 16-bit sources: the mixing passes of
// every block. The loops vectorise; where the processor has AVX2 a clone of
// each for it is chosen when the library is loaded. Products and sums are
// rounded one by one (no contraction), so the bits are the same.
// (Not under ThreadSanitizer: the clones' resolver runs while the program is
// being loaded, before that runtime is ready, and would crash.)
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define KESTA_WIDE_CLONES __attribute__((target_clones("default", "avx2")))
#else
#define KESTA_WIDE_CLONES
#endif

KESTA_WIDE_CLONES
void heldFromFloat(float* dst, const float* src, float held, Samples n, bool add) {
    if (add)
        for (Samples i = 0; i < n; ++i) dst[i] = dst[i] + held * src[i];
    else
        for (Samples i = 0; i < n; ++i) dst[i] = held * src[i];
}

KESTA_WIDE_CLONES
void heldFrom16(float* dst, const short* src, float held, Samples n, bool add) {
    if (add)
        for (Samples i = 0; i < n; ++i) dst[i] = dst[i] + held * static_cast<float>(src[i]);
    else
        for (Samples i = 0; i < n; ++i) dst[i] = held * static_cast<float>(src[i]);
}

// HeldJob's arithmetic for every job, inline: rampInto's at a step of 0, whose
// held gain, gain + 0.0f, is gain itself for a gain other than 0.
KESTA_WIDE_CLONES
void runHeld(const HeldJob* jobs, int count) {
    for (int j = 0; j < count; ++j) {
        float* __restrict const dst = jobs[j].dst;
        const float* __restrict const src = jobs[j].src;
        const float gain = jobs[j].gain;
        const Samples n = jobs[j].n;
        if (jobs[j].add)
            for (Samples i = 0; i < n; ++i) dst[i] = dst[i] + gain * src[i];
        else
            for (Samples i = 0; i < n; ++i) dst[i] = gain * src[i];
    }
}

// dst[i] = g_i * s[i] (or dst[i] += g_i * s[i] when Add), where s[i] is
// load(i) as a float, g_0 = gain and g_{i+1} = g_i + step in float.
//
// The running gain is a chain of float additions and cannot be split up
// without changing its bits, so the ramp runs as one scalar pass. A step of
// zero leaves every gain after the first at gain + step, which lets that loop
// vectorise; the first sample keeps gain itself, so a gain of -0.0 stays
// exact.
template <bool Add, class Load>
inline void rampInto(float* dst, Load load, float gain, float step, Samples n) {
    if (n <= 0) return;
    if (step == 0.0f) {
        const float held = gain + step;
        dst[0] = Add ? dst[0] + gain * load(0) : gain * load(0);
        load.held(dst + 1, 1, held, n - 1, Add);
        return;
    }
    float g = gain;
    for (Samples i = 0; i < n; ++i) {
        const float product = g * load(i);
        dst[i] = Add ? dst[i] + product : product;
        g += step;
    }
}

// Sample readers of the three mono source types, on the float scale before
// the gain.
// held(dst, from, ...) runs the held part of a ramp over the samples from
// index from on.
struct From8 {
    const unsigned char* in;
    float operator()(Samples i) const { return f8cvt[in[i]]; }
    void held(float* dst, Samples from, float held, Samples n, bool add) const {
        for (Samples i = 0; i < n; ++i)
            dst[i] = add ? dst[i] + held * f8cvt[in[from + i]] : held * f8cvt[in[from + i]];
    }
};
struct From16 {
    const short* in;
    float operator()(Samples i) const { return static_cast<float>(in[i]); }
    void held(float* dst, Samples from, float g, Samples n, bool add) const {
        heldFrom16(dst, in + from, g, n, add);
    }
};
struct FromFloat {
    const float* in;
    float operator()(Samples i) const { return in[i]; }
    void held(float* dst, Samples from, float g, Samples n, bool add) const {
        heldFromFloat(dst, in + from, g, n, add);
    }
};

// Any other source type, or a destination that is not mono float, leaves dst
// untouched.
template <bool Add>
inline void rampFrom(const Buffer& dst, const Buffer& src, float gain, float step, Samples n) {
    if (n <= 0 || dst.type_ != kMonoFloat) return;
    float* out = dst.floats();
    switch (src.type_) {
        case kMono8:
            rampInto<Add>(out, From8{src.bytes()}, gain * kIntegerScale, step * kIntegerScale, n);
            break;
        case kMono16:
            rampInto<Add>(out, From16{src.shorts()}, gain * kIntegerScale, step * kIntegerScale, n);
            break;
        case kMonoFloat:
            rampInto<Add>(out, FromFloat{src.floats()}, gain, step, n);
            break;
        default:
            break;
    }
}

// Sum of |a[i]| in index order, in double.
double sumAbs(const float* a, Samples n) {
    double sum = 0.0;
    for (Samples i = 0; i < n; ++i)
        sum += a[i] < 0.0f ? -static_cast<double>(a[i]) : static_cast<double>(a[i]);
    return sum;
}

}  // namespace

void FloatLibrary::CopyRamped(const Buffer& dst, const Buffer& src, float gain, float step, Samples n) {
    rampFrom<false>(dst, src, gain, step, n);
}

// A float source at unity gain is added without multiplying.
void FloatLibrary::AddRamped(const Buffer& dst, const Buffer& src, float gain, float step, Samples n) {
    if (gain == 1.0f && step == 0.0f && src.type_ == kMonoFloat && dst.type_ == kMonoFloat) {
        Add(dst, src, n);
        return;
    }
    rampFrom<true>(dst, src, gain, step, n);
}

void ffCopyRamped(float* dst, const float* src, float gain, float step, Samples n) {
    rampInto<false>(dst, FromFloat{src}, gain, step, n);
}

void ffAddRamped(float* dst, const float* src, float gain, float step, Samples n) {
    rampInto<true>(dst, FromFloat{src}, gain, step, n);
}

void ffRunHeld(const HeldJob* jobs, int count) {
    runHeld(jobs, count);
}

void FloatLibrary::Add(const Buffer& a, const Buffer& b, Samples n) {
    float* x = a.floats();
    const float* y = b.floats();
    for (Samples i = 0; i < n; ++i) x[i] = x[i] + y[i];
}

void FloatLibrary::Sub(const Buffer& a, const Buffer& b, Samples n) {
    float* x = a.floats();
    const float* y = b.floats();
    for (Samples i = 0; i < n; ++i) x[i] = x[i] - y[i];
}

void FloatLibrary::Negate(const Buffer& dst, const Buffer& src, Samples n) {
    float* x = dst.floats();
    const float* y = src.floats();
    for (Samples i = 0; i < n; ++i) x[i] = -y[i];
}

void FloatLibrary::Multiply(const Buffer& a, float factor, Samples n) {
    float* x = a.floats();
    for (Samples i = 0; i < n; ++i) x[i] = factor * x[i];
}

// The sums run in double, in index order, and are rounded to float once.
float FloatLibrary::Sum(const Buffer& a, Samples n) {
    const float* x = a.floats();
    double sum = 0.0;
    for (Samples i = 0; i < n; ++i) sum += x[i];
    return static_cast<float>(sum);
}

float FloatLibrary::SumAbs(const Buffer& a, Samples n) {
    return static_cast<float>(sumAbs(a.floats(), n));
}

float FloatLibrary::SumSquare(const Buffer& a, Samples n) {
    const float* x = a.floats();
    double sum = 0.0;
    for (Samples i = 0; i < n; ++i) sum += static_cast<double>(x[i]) * x[i];
    return static_cast<float>(sum);
}

// Min and Max start from the far end of the finite floats, which is what an
// empty block answers; NaN samples are never taken.
float FloatLibrary::Min(const Buffer& a, Samples n) {
    const float* x = a.floats();
    float low = kLargest;
    for (Samples i = 0; i < n; ++i) low = x[i] < low ? x[i] : low;
    return low;
}

float FloatLibrary::Max(const Buffer& a, Samples n) {
    const float* x = a.floats();
    float high = -kLargest;
    for (Samples i = 0; i < n; ++i) high = x[i] > high ? x[i] : high;
    return high;
}

// The total over the block decides, not a mean or a peak; the wide sum is
// compared as it stands.
bool FloatLibrary::IsQuiet(const Buffer& a, Samples n) {
    return ::IsQuiet(a.floats(), n);
}

bool IsQuiet(const float* samples, Samples n) {
    return sumAbs(samples, n) <= kQuietLimit;
}

// Storage block of n * 4 + 8 bytes: the shared reference count in its first
// int, the n samples from the block's start + 8 rounded down to a multiple of
// 8. A negative count, or a block that cannot be had, leaves buffer as it is.
void FloatLibrary::CreateBuffer(MixBuffer& buffer, Samples n) {
    if (n < 0) return;
    char* block = new (std::nothrow) char[static_cast<size_t>(n) * 4 + 8];
    if (!block) return;
    int* refCount = new (block) int(0);
    const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + 8) & ~static_cast<uintptr_t>(7);
    buffer.Setup(*this, Buffer(reinterpret_cast<float*>(start), kMonoFloat), block, refCount);
    buffer.clear(n);
}
