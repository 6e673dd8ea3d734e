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

SingleFreqFilter* FloatLibrary::CreateHighpass(Samples sampleRate) {
    return new (std::nothrow) FloatHipass(sampleRate);
}
