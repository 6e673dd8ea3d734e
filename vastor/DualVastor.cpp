#include "DualVastor.h"

#include <algorithm>

#include "FltDelay.h"
#include "MathLib.h"
#include "Vastor.h"
#include "VastorTables.h"

DualVastorFilter::DualVastorFilter(MathLibrary& library, MixBuffer (&output)[2], long rate, long blockSize,
                                   unsigned flags)
    : library_(&library),
      directDelay_(0),
      output_(output),
      highpass_{nullptr, nullptr},
      widenerFilter_{nullptr, nullptr},
      shelfFilter_{nullptr, nullptr},
      hipassOn_((flags & VASTOR_HIPASS_ON) != 0),
      shelfOn_((flags & VASTOR_HIGH_SHELF) != 0) {
    const bool allRates = (flags & VASTOR_ALL_RATES) != 0;
    for (int side = 0; side < 2; ++side) {
        library.CreateBuffer(filterBuffers_[side], static_cast<Samples>(blockSize));
        library.CreateBuffer(crossBuffers_[side], static_cast<Samples>(blockSize));
        highpass_[side] = library.CreateHighpass(static_cast<Samples>(rate));
        if (highpass_[side]) highpass_[side]->SetFrequency(kWidenerHipassHz);
        // Both sides get the same design and write the same delay.
        if (flags & VASTOR_SINGLE_STAGE)
            widenerFilter_[side] = CreateSingleStageVastor(library, rate, 1.0f, &directDelay_, allRates);
        else
            widenerFilter_[side] = CreateMultiStageVastor(library, rate, 1.0f, &directDelay_, allRates);
        if (shelfOn_) {
            shelfFilter_[side] = CreateHighshelf(library, rate, allRates);
            library.CreateBuffer(shelfBuffers_[side], static_cast<Samples>(blockSize));
        }
    }
    for (int pre = 0; pre < 2; ++pre) {
        for (int out = 0; out < 2; ++out) {
            if (!widenerFilter_[0] || !widenerFilter_[1]) continue;
            const FedSide sides[2] = {{pre ? highpass_[0] : nullptr, &crossBuffers_[0], &filterBuffers_[0],
                                       out ? &output_[0] : nullptr},
                                      {pre ? highpass_[1] : nullptr, &crossBuffers_[1], &filterBuffers_[1],
                                       out ? &output_[1] : nullptr}};
            widenerFilter_[0]->PrepareFed(fedPlans_[pre][out], sides[0], widenerFilter_[1], &sides[1]);
        }
    }
    Reset();
}

DualVastorFilter::~DualVastorFilter() {
    for (int side = 0; side < 2; ++side) {
        delete highpass_[side];
        delete widenerFilter_[side];
        delete shelfFilter_[side];
    }
    for (int side = 0; side < 2; ++side) {
        crossBuffers_[side].free();
        filterBuffers_[side].free();
        shelfBuffers_[side].free();
    }
}

VastorFilterInput* DualVastorFilter::CreateVastorFilterInput() {
    MixBuffer(&direct)[2] = shelfOn_ ? shelfBuffers_ : *reinterpret_cast<MixBuffer(*)[2]>(output_);
    return new DualVastorFilterInput(*library_, direct, crossBuffers_, filterBuffers_, directDelay_);
}

namespace {

// filters[side] over buffers[side] for each side that runs; both sides in one
// loop when both run (the same bits as one after the other).
template <class F>
void RunSides(F* (&filters)[2], MixBuffer (&buffers)[2], const bool (&run)[2]) {
    if (run[0] && run[1]) {
        filters[0]->ProcessPair(buffers[0], *filters[1], buffers[1]);
        return;
    }
    for (int side = 0; side < 2; ++side)
        if (run[side]) filters[side]->Process(buffers[side]);
}

}  // namespace

// The two sides share nothing, so each stage runs for both before the next.
void DualVastorFilter::Process(Samples n) {
    bool run[2];
    for (int side = 0; side < 2; ++side)
        run[side] = hipassOn_ && crossBuffers_[side].Prepare(highpass_[side], n);
    // With every bus full, the high-passes, the additions and the widening
    // filters of both sides can run as one loop (the same bits); the widening
    // filters then have input, which Prepare records.
    bool fed = !hipassOn_ || (run[0] && run[1]);
    for (int side = 0; side < 2; ++side)
        fed = fed && crossBuffers_[side].used_ == n && filterBuffers_[side].used_ == n;
    // Without the shelf, full outputs take the result in the same loop.
    const bool out = !shelfOn_ && output_[0].used_ == n && output_[1].used_ == n;
    if (fed) fed = RunFed(fedPlans_[hipassOn_][out]);
    const bool outputDone = fed && out;
    if (fed) {
        for (int side = 0; side < 2; ++side) filterBuffers_[side].Prepare(widenerFilter_[side], n);
    } else {
        RunSides(highpass_, crossBuffers_, run);
        for (int side = 0; side < 2; ++side) {
            filterBuffers_[side] += crossBuffers_[side];
            run[side] = filterBuffers_[side].Prepare(widenerFilter_[side], n);
        }
        RunSides(widenerFilter_, filterBuffers_, run);
    }
    if (!shelfOn_) {
        if (!outputDone)
            for (int side = 0; side < 2; ++side) output_[side] += filterBuffers_[side];
    } else {
        for (int side = 0; side < 2; ++side) {
            shelfBuffers_[side] += filterBuffers_[side];
            run[side] = shelfFilter_[side] && shelfBuffers_[side].Prepare(shelfFilter_[side], n);
        }
        RunSides(shelfFilter_, shelfBuffers_, run);
        // Without a shelf filter the bus passes as it is; with one, only when it ran.
        for (int side = 0; side < 2; ++side)
            if (!shelfFilter_[side] || run[side]) output_[side] += shelfBuffers_[side];
    }
    for (int side = 0; side < 2; ++side) {
        crossBuffers_[side].MarkEmpty();
        filterBuffers_[side].MarkEmpty();
        shelfBuffers_[side].MarkEmpty();
    }
}

void DualVastorFilter::Reset() {
    for (int side = 0; side < 2; ++side) {
        if (highpass_[side]) highpass_[side]->Reset();
        if (widenerFilter_[side]) widenerFilter_[side]->Reset();
        if (shelfFilter_[side]) shelfFilter_[side]->Reset();
    }
}

bool DualVastorFilter::IsQuiet() {
    for (int side = 0; side < 2; ++side) {
        if (!highpass_[side]->IsQuiet() || !widenerFilter_[side]->IsQuiet()) return false;
        if (shelfFilter_[side] && !shelfFilter_[side]->IsQuiet()) return false;
    }
    return true;
}

void DualVastorFilter::SetProperty(int id, const void* value, int) {
    switch (id) {
        case kVastorHipassFrequency: {
            const Samples hz = VastorPropertyValue<int32_t>(value);
            highpass_[0]->SetFrequency(hz);
            highpass_[1]->SetFrequency(hz);
            break;
        }
        case kVastorHipassOn: {
            const bool on = VastorPropertyValue<unsigned char>(value) != 0;
            if (on != hipassOn_) {
                hipassOn_ = on;
                if (!on) {
                    highpass_[0]->Reset();
                    highpass_[1]->Reset();
                }
            }
            break;
        }
        default:
            break;
    }
}

DualVastorFilterInput::DualVastorFilterInput(MathLibrary& library, MixBuffer (&direct)[2],
                                             MixBuffer (&cross)[2], MixBuffer (&filter)[2], long directDelay)
    : disabled_(false),
      immediate_(true),
      rampLength_(0),
      spread_(1.0f),
      center_(1.0f),
      scale_{1.0f, 1.0f},
      inputDelay_{0, 0},
      directDelay_(std::max(directDelay, 0L)),
      delayLine_{nullptr, nullptr} {
    directPanner_.setMixBuffers(direct);
    crossPanner_.setMixBuffers(cross);
    sameSidePanner_.setMixBuffers(filter);
    // Every panner half reads the history of the channel it reads.
    delayLine_[0] = library.CreateDelayBuffer();
    directPanner_.left_.setDelayBuffer(delayLine_[0]);
    sameSidePanner_.left_.setDelayBuffer(delayLine_[0]);
    crossPanner_.right_.setDelayBuffer(delayLine_[0]);
    delayLine_[1] = library.CreateDelayBuffer();
    directPanner_.right_.setDelayBuffer(delayLine_[1]);
    sameSidePanner_.right_.setDelayBuffer(delayLine_[1]);
    crossPanner_.left_.setDelayBuffer(delayLine_[1]);
    window_[0].setDelayBuffer(delayLine_[0]);
    window_[1].setDelayBuffer(delayLine_[1]);
    setupPanners();
    setupDelays();
    Reset();
}

DualVastorFilterInput::~DualVastorFilterInput() {
    delete delayLine_[0];
    delete delayLine_[1];
}

void DualVastorFilterInput::setupPanners() {
    const Samples ramp = immediate_ ? 0 : static_cast<Samples>(rampLength_);
    // While disabled only the direct path passes.
    const float crossLeft = disabled_ ? 0.0f : spread_ * scale_[0];
    const float sameLeft = disabled_ ? 0.0f : -spread_ * center_ * scale_[0];
    const float crossRight = disabled_ ? 0.0f : spread_ * scale_[1];
    const float sameRight = disabled_ ? 0.0f : -spread_ * center_ * scale_[1];
    directPanner_.left_.pan(scale_[0], ramp);
    crossPanner_.left_.pan(crossLeft, ramp);
    sameSidePanner_.left_.pan(sameLeft, ramp);
    directPanner_.right_.pan(scale_[1], ramp);
    crossPanner_.right_.pan(crossRight, ramp);
    sameSidePanner_.right_.pan(sameRight, ramp);
}

void DualVastorFilterInput::setupDelays() {
    const Samples ramp = immediate_ ? 0 : static_cast<Samples>(rampLength_);
    const int direct = static_cast<int>(directDelay_);
    const int left = inputDelay_[0];
    const int right = inputDelay_[1];
    directPanner_.left_.setDelay(direct + left, ramp);
    crossPanner_.left_.setDelay(left, ramp);
    sameSidePanner_.left_.setDelay(left, ramp);
    directPanner_.right_.setDelay(direct + right, ramp);
    crossPanner_.right_.setDelay(right, ramp);
    sameSidePanner_.right_.setDelay(right, ramp);
    // The cross panner of one side reads the other channel's line at its own
    // side's delay, which may exceed that line's direct delay.
    delayLine_[0]->SetSize(DelayLineSize(std::max(direct + left, right), directPanner_.left_,
                                         sameSidePanner_.left_, crossPanner_.right_));
    delayLine_[1]->SetSize(DelayLineSize(std::max(direct + right, left), directPanner_.right_,
                                         sameSidePanner_.right_, crossPanner_.left_));
}

void DualVastorFilterInput::SetProperty(int id, const void* value, int) {
    if (id == kVastorChainedRamps) {
        const bool on = VastorPropertyValue<unsigned char>(value) != 0;
        directPanner_.setChainedRamps(on);
        crossPanner_.setChainedRamps(on);
        sameSidePanner_.setChainedRamps(on);
        return;
    }
    switch (ApplySharedInputSetting(id, value, disabled_, scale_, inputDelay_, directDelay_, rampLength_)) {
        case WidenerSetup::kPanners:
            setupPanners();
            return;
        case WidenerSetup::kDelays:
            setupDelays();
            return;
        case WidenerSetup::kNone:
            return;
        case WidenerSetup::kNotShared:
            break;
    }
    if (id == kVastorSpread) {
        spread_ = VastorPropertyValue<float>(value);
        setupPanners();
    } else if (id == kVastorCenter) {
        center_ = VastorPropertyValue<float>(value);
        setupPanners();
    }
}

void DualVastorFilterInput::Mix(const Buffer&, Samples, Samples) {}

void DualVastorFilterInput::Mix(const Buffer& left, const Buffer& right, Samples n, Samples offset) {
    immediate_ = false;
    // Steady panners read small float blocks as one run of each input's
    // window, and add them all in one pass (HeldMixPlan).
    window_[0].gather(left, n);
    window_[1].gather(right, n);
    HeldMixPlan plan;
    directPanner_.left_.mix(window_[0], left, n, offset, plan);
    directPanner_.right_.mix(window_[1], right, n, offset, plan);
    crossPanner_.left_.mix(window_[1], right, n, offset, plan);
    crossPanner_.right_.mix(window_[0], left, n, offset, plan);
    sameSidePanner_.left_.mix(window_[0], left, n, offset, plan);
    sameSidePanner_.right_.mix(window_[1], right, n, offset, plan);
    plan.Flush();
    // After every panner has read: the lines hold the frames before each block.
    delayLine_[0]->Update(left, n);
    delayLine_[1]->Update(right, n);
}

void DualVastorFilterInput::Reset() {
    immediate_ = true;
    delayLine_[0]->Reset();
    delayLine_[1]->Reset();
}

bool DualVastorFilterInput::IsQuiet() {
    return delayLine_[0]->IsQuiet() && delayLine_[1]->IsQuiet();
}
