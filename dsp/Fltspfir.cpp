// The sparse FIR filter and its factory.
#include <algorithm>
#include <new>

#include "FrameCount.h"
#include "MathLib.h"
#include "Mixbuf.h"
#include "SparseFIR.h"

template <class Data, class Scale>
SparseFIR<Data, Scale>::SparseFIR(MathLibrary&, Samples sampleRate)
    : QuietFilterStatus(0),
      sampleRate_(sampleRate),
      tapCount_(0),
      tapCapacity_(0),
      taps_(nullptr),
      maxDelay_(0) {}

template <class Data, class Scale>
SparseFIR<Data, Scale>::~SparseFIR() {
    delete[] taps_;
}

// A delay of t ms is truncate(t * 0.001f * rate + 0.5) samples: 1.0 ms at
// 44100 Hz is 44 samples. Negative delays would reach into the future and
// count as 0.
template <class Data, class Scale>
void SparseFIR<Data, Scale>::SetTaps(int count, const FilterTap* taps, bool) {
    if (count < 0 || !taps) count = 0;
    if (tapCapacity_ < count) {
        delete[] taps_;
        taps_ = new (std::nothrow) Tap[static_cast<size_t>(count)];
        tapCapacity_ = taps_ ? count : 0;
        if (!taps_) count = 0;
    }
    tapCount_ = count;

    const double factor = static_cast<double>(0.001f) * sampleRate_;
    Samples maxDelay = 0;
    for (int i = 0; i < count; ++i) {
        const Samples delay = std::max<Samples>(0, truncateToSamples(taps[i].delay * factor + 0.5));
        taps_[i].delaySamples = delay;
        taps_[i].gain = taps[i].gain;
        maxDelay = std::max(maxDelay, delay);
    }
    maxDelay_ = maxDelay;
    delayLine_.SetSize(maxDelay_);
    SetNeeded(maxDelay_);
}

template <class Data, class Scale>
void SparseFIR<Data, Scale>::Reset() {
    QuietFilterStatus::Reset();
    delayLine_.Reset();
}

// Per tap of delay d: the first min(d, n) outputs take their input from the
// history (one run, or two where the ring wraps), the rest from the current
// block. The block enters the history only after every tap has read, so the
// history never holds the block itself.
template <class Data, class Scale>
void SparseFIR<Data, Scale>::Process(MixBuffer& output, MixBuffer& input) {
    const Samples n = input.used_;
    if (n > 0) {
        for (int i = 0; i < tapCount_; ++i) {
            const Samples delay = taps_[i].delaySamples;
            const float gain = taps_[i].gain;
            const Samples fromHistory = std::min(delay, n);
            if (fromHistory > 0) {
                Data* run;
                Samples got;
                delayLine_.GetDelay(delay, fromHistory, run, got);
                output.Mix(Buffer(run, kMonoFloat), gain, 0.0f, got, 0);
                if (got < fromHistory) {
                    Samples rest;
                    delayLine_.GetDelay(delay - got, fromHistory - got, run, rest);
                    output.Mix(Buffer(run, kMonoFloat), gain, 0.0f, rest, got);
                }
            }
            if (n > fromHistory) output.Mix(input, gain, 0.0f, n - fromHistory, fromHistory);
        }
    }
    delayLine_.Update(input, n);
}

template class SparseFIR<float, float>;

SparseFIRFilter* FloatLibrary::CreateSparseFIRFilter(Samples sampleRate) {
    return new (std::nothrow) SparseFIR<float, float>(*this, sampleRate);
}
