#include "SingleVastor.h"

#include <algorithm>

#include "FltDelay.h"
#include "MathLib.h"
#include "Vastor.h"
#include "VastorTables.h"

namespace {
constexpr long kSingleRampLength = 1024;  // frames
}  // namespace

SingleVastorFilter::SingleVastorFilter(MathLibrary& library, MixBuffer (&output)[2], long rate,
                                       long blockSize, unsigned flags)
    : library_(&library),
      flags_(flags),
      directDelay_(0),
      blockSize_(blockSize),
      output_(output),
      highpass_(nullptr),
      hipassOn_((flags & VASTOR_HIPASS_ON) != 0),
      widenerFilter_(nullptr),
      shelfFilter_{nullptr, nullptr} {
    library.CreateBuffer(directBuffers_[0], static_cast<Samples>(blockSize));
    library.CreateBuffer(directBuffers_[1], static_cast<Samples>(blockSize));
    library.CreateBuffer(differenceBuffer_, static_cast<Samples>(blockSize));
    highpass_ = library.CreateHighpass(static_cast<Samples>(rate));
    if (highpass_) highpass_->SetFrequency(kWidenerHipassHz);
    const bool allRates = (flags & VASTOR_ALL_RATES) != 0;
    if (flags & VASTOR_SINGLE_STAGE)
        widenerFilter_ = CreateSingleStageVastor(library, rate, 1.0f, &directDelay_, allRates);
    else
        widenerFilter_ = CreateMultiStageVastor(library, rate, 1.0f, &directDelay_, allRates);
    if (flags & VASTOR_HIGH_SHELF) {
        shelfFilter_[0] = CreateHighshelf(library, rate, allRates);
        shelfFilter_[1] = CreateHighshelf(library, rate, allRates);
    }
    for (int pre = 0; pre < 2 && widenerFilter_; ++pre) {
        const FedSide side = {pre ? highpass_ : nullptr, nullptr, &differenceBuffer_, nullptr};
        widenerFilter_->PrepareFed(fedPlans_[pre], side, nullptr, nullptr);
    }
}

SingleVastorFilter::~SingleVastorFilter() {
    delete highpass_;
    delete widenerFilter_;
    delete shelfFilter_[0];
    delete shelfFilter_[1];
    differenceBuffer_.free();
    directBuffers_[0].free();
    directBuffers_[1].free();
}

VastorFilterInput* SingleVastorFilter::CreateVastorFilterInput() {
    return new SingleVastorFilterInput(*library_, *reinterpret_cast<MixBuffer(*)[2]>(output_), directBuffers_,
                                       differenceBuffer_, directDelay_);
}

void SingleVastorFilter::Process(Samples n) {
    // The widener runs when the difference bus has input or a filter still rings.
    if ((hipassOn_ && differenceBuffer_.Prepare(highpass_, n)) ||
        differenceBuffer_.Prepare(widenerFilter_, n)) {
        // The high-pass and the widening filter in one loop where they can.
        if (!RunFed(fedPlans_[hipassOn_])) {
            if (hipassOn_) highpass_->Process(differenceBuffer_);
            widenerFilter_->Process(differenceBuffer_);
        }
        directBuffers_[0] -= differenceBuffer_;
        directBuffers_[1] += differenceBuffer_;
    }
    for (int side = 0; side < 2; ++side) {
        if (shelfFilter_[side] && directBuffers_[side].Prepare(shelfFilter_[side], n))
            shelfFilter_[side]->Process(directBuffers_[side]);
        output_[side] += directBuffers_[side];
    }
    directBuffers_[0].MarkEmpty();
    directBuffers_[1].MarkEmpty();
    differenceBuffer_.MarkEmpty();
}

void SingleVastorFilter::Reset() {
    for (int side = 0; side < 2; ++side) {
        output_[side].MarkEmpty();
        directBuffers_[side].MarkEmpty();
        if (shelfFilter_[side]) shelfFilter_[side]->Reset();
    }
    differenceBuffer_.MarkEmpty();
    if (highpass_) highpass_->Reset();
    if (widenerFilter_) widenerFilter_->Reset();
}

bool SingleVastorFilter::IsQuiet() {
    return highpass_->IsQuiet() && widenerFilter_->IsQuiet();
}

void SingleVastorFilter::SetProperty(int id, const void* value, int) {
    switch (id) {
        case kVastorHipassFrequency:
            highpass_->SetFrequency(VastorPropertyValue<int32_t>(value));
            break;
        case kVastorHipassOn: {
            const bool on = VastorPropertyValue<unsigned char>(value) != 0;
            if (on != hipassOn_) {
                hipassOn_ = on;
                if (!on) highpass_->Reset();
            }
            break;
        }
        default:
            break;
    }
}

SingleVastorFilterInput::SingleVastorFilterInput(MathLibrary& library, MixBuffer (&)[2],
                                                 MixBuffer (&direct)[2], MixBuffer& difference,
                                                 long directDelay)
    : disabled_(false),
      immediate_(true),
      differenceGain_(1.0f),
      directGain_(1.0f),
      scale_{1.0f, 1.0f},
      inputDelay_{0, 0},
      directDelay_(std::max(directDelay, 0L)),
      rampLength_(kSingleRampLength),
      delayLine_{nullptr, nullptr} {
    delayLine_[0] = library.CreateDelayBuffer();
    directPanner_.left_.setDelayBuffer(delayLine_[0]);
    leftDifferencePanner_.setDelayBuffer(delayLine_[0]);
    delayLine_[1] = library.CreateDelayBuffer();
    directPanner_.right_.setDelayBuffer(delayLine_[1]);
    rightDifferencePanner_.setDelayBuffer(delayLine_[1]);
    window_[0].setDelayBuffer(delayLine_[0]);
    window_[1].setDelayBuffer(delayLine_[1]);
    directPanner_.setMixBuffers(direct);
    leftDifferencePanner_.setMixBuffer(difference);
    rightDifferencePanner_.setMixBuffer(difference);
    setupDelays();
    setupPanners();
    Reset();
}

SingleVastorFilterInput::~SingleVastorFilterInput() {
    delete delayLine_[0];
    delete delayLine_[1];
}

void SingleVastorFilterInput::setupPanners() {
    const Samples ramp = immediate_ ? 0 : static_cast<Samples>(rampLength_);
    directPanner_.left_.pan(directGain_ * scale_[0], ramp);
    directPanner_.right_.pan(directGain_ * scale_[1], ramp);
    leftDifferencePanner_.pan(disabled_ ? 0.0f : differenceGain_ * scale_[0], ramp);
    rightDifferencePanner_.pan(disabled_ ? 0.0f : -differenceGain_ * scale_[1], ramp);
}

void SingleVastorFilterInput::setupDelays() {
    const Samples ramp = immediate_ ? 0 : static_cast<Samples>(rampLength_);
    const int direct = static_cast<int>(directDelay_);
    directPanner_.left_.setDelay(direct + inputDelay_[0], ramp);
    leftDifferencePanner_.setDelay(inputDelay_[0], ramp);
    delayLine_[0]->SetSize(
        DelayLineSize(direct + inputDelay_[0], directPanner_.left_, leftDifferencePanner_));
    directPanner_.right_.setDelay(direct + inputDelay_[1], ramp);
    rightDifferencePanner_.setDelay(inputDelay_[1], ramp);
    delayLine_[1]->SetSize(
        DelayLineSize(direct + inputDelay_[1], directPanner_.right_, rightDifferencePanner_));
}

void SingleVastorFilterInput::SetProperty(int id, const void* value, int) {
    if (id == kVastorChainedRamps) {
        const bool on = VastorPropertyValue<unsigned char>(value) != 0;
        directPanner_.setChainedRamps(on);
        leftDifferencePanner_.setChainedRamps(on);
        rightDifferencePanner_.setChainedRamps(on);
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
        // The larger of the two gains is 1.0 for every positive spread.
        const float spread = VastorPropertyValue<float>(value);
        if (spread > 1.0f) {
            differenceGain_ = 1.0f;
            directGain_ = 1.0f / spread;
        } else {
            differenceGain_ = spread;
            directGain_ = 1.0f;
        }
        setupPanners();
    }
    // The center, and unknown ids, are ignored.
}

void SingleVastorFilterInput::Mix(const Buffer&, Samples, Samples) {}

void SingleVastorFilterInput::Mix(const Buffer& left, const Buffer& right, Samples n, Samples offset) {
    immediate_ = false;
    // Steady panners read small float blocks as one run of each input's
    // window, and add them all in one pass (HeldMixPlan).
    window_[0].gather(left, n);
    window_[1].gather(right, n);
    HeldMixPlan plan;
    directPanner_.left_.mix(window_[0], left, n, offset, plan);
    directPanner_.right_.mix(window_[1], right, n, offset, plan);
    leftDifferencePanner_.mix(window_[0], left, n, offset, plan);
    rightDifferencePanner_.mix(window_[1], right, n, offset, plan);
    plan.Flush();
    // After the panners have read: the lines hold the frames before each block.
    delayLine_[0]->Update(left, n);
    delayLine_[1]->Update(right, n);
}

void SingleVastorFilterInput::Reset() {
    immediate_ = true;
    delayLine_[0]->Reset();
    delayLine_[1]->Reset();
}

bool SingleVastorFilterInput::IsQuiet() {
    return delayLine_[0]->IsQuiet() && delayLine_[1]->IsQuiet();
}
