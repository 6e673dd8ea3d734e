// The float first-order filter and its factory.
#include "Flt1p.h"

#include <new>

#include "MathLib.h"
#include "Mixbuf.h"

namespace {
const Samples kFirstOrderTail = 100;
}  // namespace

FloatFirstOrderFilter::FloatFirstOrderFilter(Samples sampleRate)
    : FirstOrderFilter(sampleRate),
      QuietFilterStatus(kFirstOrderTail),
      gain_(1.0f),
      a0_(1.0f),
      b_(0.0f),
      c_(0.0f),
      x1_(0.0f),
      y1_(0.0f) {}

void FloatFirstOrderFilter::Reset() {
    QuietFilterStatus::Reset();
    x1_ = 0.0f;
    y1_ = 0.0f;
}

void FloatFirstOrderFilter::SetCoeffs(float a0, float b, float c) {
    a0_ = a0;
    b_ = b;
    c_ = c;
}

void FloatFirstOrderFilter::SetGain(float gain) {
    gain_ = gain;
}

// One loop per exact value of b, so that the lowpass (b = 1) and highpass
// (b = -1) designs and the pure one-pole form (b = 0) skip the multiply by b.
// All four give the bits of the general form.
void FloatFirstOrderFilter::Process(MixBuffer& buffer) {
    const Samples n = buffer.used_;
    if (n <= 0) return;
    float* s = buffer.floats();
    const float a0 = a0_, b = b_, c = c_;
    float x1 = x1_, y1 = y1_;
    if (b == 1.0f) {
        for (Samples i = 0; i < n; ++i) {
            const float x = s[i];
            y1 = a0 * (x + x1) - c * y1;
            x1 = x;
            s[i] = y1;
        }
    } else if (b == -1.0f) {
        for (Samples i = 0; i < n; ++i) {
            const float x = s[i];
            y1 = a0 * (x - x1) - c * y1;
            x1 = x;
            s[i] = y1;
        }
    } else if (b == 0.0f) {
        // The pure one-pole form does not track the previous input: a later
        // change of b continues from the input before the b = 0 blocks.
        for (Samples i = 0; i < n; ++i) {
            y1 = a0 * s[i] - c * y1;
            s[i] = y1;
        }
    } else {
        for (Samples i = 0; i < n; ++i) {
            const float x = s[i];
            y1 = a0 * (x + b * x1) - c * y1;
            x1 = x;
            s[i] = y1;
        }
    }
    x1_ = x1;
    y1_ = y1;
}

FirstOrderFilter* FloatLibrary::CreateFirstOrderFilter(Samples sampleRate) {
    return new (std::nothrow) FloatFirstOrderFilter(sampleRate);
}
