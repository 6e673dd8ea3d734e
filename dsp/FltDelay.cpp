#include "FltDelay.h"

#include <new>

#include "Assert.h"
#include "MathLib.h"
#include "Mixbuf.h"

DelayMixBuffer::~DelayMixBuffer() {}

void DelayMixBuffer::Update(MixBuffer& src, Samples n) {
    if (n - src.used_ >= GetSize()) {
        Reset();
        return;
    }
    if (src.used_ < n) {
        (src + src.used_).clear(n - src.used_);
        src.used_ = n;
    }
    Update(static_cast<const Buffer&>(src), n);
}

void FloatDelayMixBuffer::GetDelay(Samples delay, Samples n, Buffer& out, Samples& got) {
    float* run;
    delayLine_.GetDelay(delay, n, run, got);
    out = Buffer(run, kMonoFloat);
}

// Each of the two runs of the ring must pass the library's quiet test on its
// own; the second is not looked at when the first fails.
bool FloatDelayMixBuffer::IsQuiet() {
    const Samples size = delayLine_.GetSize();
    if (size == 0) return true;
    float* run;
    Samples got;
    delayLine_.GetDelay(size, size, run, got);
    if (!::IsQuiet(run, got)) return false;
    delayLine_.GetDelay(size - got, size - got, run, got);
    return ::IsQuiet(run, got);
}

DelayMixBuffer* FloatLibrary::CreateDelayBuffer() {
    DelayMixBuffer* delayBuffer = new (std::nothrow) FloatDelayMixBuffer;
    KESTA_ASSERT(delayBuffer, "delayBuffer", "class DelayMixBuffer * FloatLibrary::CreateDelayBuffer()");
    return delayBuffer;
}
