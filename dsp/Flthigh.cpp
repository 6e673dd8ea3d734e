// The float state-variable high-pass and its factory.
#include "Flthigh.h"

#include <cmath>
#include <new>

#include "MathLib.h"
#include "Mathutil.h"
#include "Mixbuf.h"

namespace {
const Samples kHipassTail = 1000;
// The recursion's gain at the Nyquist frequency, 4 / (4 - 2 damping tune -
// tune^2), reaches 2 at tune = 2 - damping and grows without bound towards
// sqrt6 - sqrt2, past which (and for any negative tune) the filter diverges.
// The tuning is held at 2 - sqrt2, a corner of about 0.095 of the sample rate.
const float kMaxTune = static_cast<float>(2.0 - Math::Sqrt2);
}  // namespace

FloatHipass::FloatHipass(Samples sampleRate)
    : QuietFilterStatus(kHipassTail), sampleRate_(sampleRate), damping_(0.0f), tune_(0.0f) {
    FloatHipass::Reset();
}

void FloatHipass::Reset() {
    QuietFilterStatus::Reset();
    band_ = 0.0f;
    low_ = 0.0f;
}

void FloatHipass::SetFrequency(Samples hz) {
    damping_ = static_cast<float>(Math::Sqrt2);
    float tune = static_cast<float>(2.0 * std::sin(Math::Pi * hz / sampleRate_));
    if (!(tune >= 0.0f)) tune = 0.0f;
    if (tune > kMaxTune) tune = kMaxTune;
    tune_ = tune;
}

void FloatHipass::Process(MixBuffer& buffer) {
    const Samples n = buffer.used_;
    if (n <= 0) return;
    float* s = buffer.floats();
    const float f = tune_, q = damping_;
    float band = band_, low = low_;
    for (Samples i = 0; i < n; ++i) {
        low = low + f * band;
        const float high = s[i] - low - q * band;
        band = band + f * high;
        s[i] = high;
    }
    band_ = band;
    low_ = low;
}

// Two high-passes, each over its own block, one sample of each per step: the
// two recursions are independent, so the processor overlaps them. Each lane
// does exactly what Process does; the longer block finishes alone.
void FloatHipass::ProcessPair(MixBuffer& buffer, InPlaceFilter& other, MixBuffer& otherBuffer) {
    FloatHipass* const that = ExactCast<FloatHipass>(&other);
    if (!that || that == this || &buffer == &otherBuffer) {
        InPlaceFilter::ProcessPair(buffer, other, otherBuffer);
        return;
    }
    const Samples n = buffer.used_ < otherBuffer.used_ ? buffer.used_ : otherBuffer.used_;
    if (n > 0) {
        float* const s = buffer.floats();
        float* const t = otherBuffer.floats();
        const float f0 = tune_, q0 = damping_, f1 = that->tune_, q1 = that->damping_;
        float band0 = band_, low0 = low_, band1 = that->band_, low1 = that->low_;
        for (Samples i = 0; i < n; ++i) {
            low0 = low0 + f0 * band0;
            low1 = low1 + f1 * band1;
            const float high0 = s[i] - low0 - q0 * band0;
            const float high1 = t[i] - low1 - q1 * band1;
            band0 = band0 + f0 * high0;
            band1 = band1 + f1 * high1;
            s[i] = high0;
            t[i] = high1;
        }
        band_ = band0;
        low_ = low0;
        that->band_ = band1;
        that->low_ = low1;
    }
    // The rest of the longer block, from where the pair stopped.
    if (buffer.used_ > n) {
        MixBuffer rest(buffer, buffer.used_ - n, n);
        Process(rest);
    } else if (otherBuffer.used_ > n) {
        MixBuffer rest(otherBuffer, otherBuffer.used_ - n, n);
        that->Process(rest);
    }
}

SingleFreqFilter* FloatLibrary::CreateHighpass(Samples sampleRate) {
    return new (std::nothrow) FloatHipass(sampleRate);
}
