#include "VastorObj.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ChunkLoop.h"
#include "DualVastor.h"
#include "MathLib.h"
#include "Mathutil.h"
#include "SingleVastor.h"
#include "Vastor.h"
#include "VastorFilter.h"

namespace {

// Two mono halves of kChunk frames of up to 4 bytes per sample.
constexpr int kScratchBytes = 2 * VastorImplementation::kChunk * 4;

// A level setting as a linear gain, within what the setters accept.
float SettingGain(float decibels) {
    if (!std::isfinite(decibels)) return 1.0f;
    return from_db(std::min(decibels, VASTOR_MAX_GAIN_DB));
}

// A delay setting in frames, within what the delay lines are made to hold.
int32_t SettingDelay(int frames) {
    return std::min(std::max(frames, 0), VASTOR_MAX_DELAY);
}

}  // namespace

int IVastor::Create(IVastor** out, unsigned int rate, unsigned int flags) {
    MathLibrary* library = GetFloatLibrary();
    VastorImplementation* engine = new VastorImplementation();
    const int result = engine->open(library, rate, flags);
    if (result != 0) {
        delete engine;
        *out = nullptr;
    } else {
        *out = engine;
    }
    return result;
}

VastorImplementation::VastorImplementation()
    : library_(nullptr), network_(nullptr), input_(nullptr), scratch_(nullptr), flags_(0) {}

VastorImplementation::~VastorImplementation() {
    delete network_;
    delete input_;
    delete[] scratch_;
    outputBuffers_[1].free();
    outputBuffers_[0].free();
}

int VastorImplementation::open(MathLibrary* library, unsigned int rate, unsigned int flags) {
    library_ = library;
    flags_ = flags;
    library->CreateBuffer(outputBuffers_[0], kChunk);
    library->CreateBuffer(outputBuffers_[1], kChunk);
    scratch_ = new char[kScratchBytes];
    network_ = CreateVastor(*library, outputBuffers_, static_cast<long>(rate), kChunk, flags);
    if (network_) input_ = network_->CreateVastorFilterInput();
    if (!outputBuffers_[0].data_ || !outputBuffers_[1].data_ || !network_ || !input_) return 1;
    reset();
    return 0;
}

void VastorImplementation::process(const short (*in)[2], short (*out)[2], Samples n) {
    doStereo(Buffer(in, kStereo16), Buffer(out, kStereo16), n);
}

void VastorImplementation::process(const unsigned char (*in)[2], unsigned char (*out)[2], Samples n) {
    doStereo(Buffer(in, kStereo8), Buffer(out, kStereo8), n);
}

void VastorImplementation::process(const short* leftIn, const short* rightIn, short* leftOut, short* rightOut,
                                   Samples n) {
    doMono(Buffer(leftIn, kMono16), Buffer(rightIn, kMono16), Buffer(leftOut, kMono16),
           Buffer(rightOut, kMono16), n);
}

void VastorImplementation::process(const unsigned char* leftIn, const unsigned char* rightIn,
                                   unsigned char* leftOut, unsigned char* rightOut, Samples n) {
    doMono(Buffer(leftIn, kMono8), Buffer(rightIn, kMono8), Buffer(leftOut, kMono8), Buffer(rightOut, kMono8),
           n);
}

void VastorImplementation::process(const float (*in)[2], float (*out)[2], Samples n) {
    doStereo(Buffer(in, kStereoFloat), Buffer(out, kStereoFloat), n);
}

void VastorImplementation::process(const float* leftIn, const float* rightIn, float* leftOut, float* rightOut,
                                   Samples n) {
    doMono(Buffer(leftIn, kMonoFloat), Buffer(rightIn, kMonoFloat), Buffer(leftOut, kMonoFloat),
           Buffer(rightOut, kMonoFloat), n);
}

void VastorImplementation::doStereo(const Buffer& in, const Buffer& out, Samples n) {
    const int type = Buffer::getType(1, Buffer::bits_[in.type_]);
    const Buffer left(scratch_, type);
    const Buffer right(scratch_ + kChunk * Buffer::sizes_[type], type);
    RunInChunks(outputBuffers_, n, kChunk, [&](Samples done, Samples k) {
        library_->Split(left, right, in + done, k);
        input_->Mix(left, right, k, 0);
        network_->Process(k);
        outputBuffers_[0].Merge(out + done, outputBuffers_[1], k);
    });
}

void VastorImplementation::doMono(const Buffer& leftIn, const Buffer& rightIn, const Buffer& leftOut,
                                  const Buffer& rightOut, Samples n) {
    RunInChunks(outputBuffers_, n, kChunk, [&](Samples done, Samples k) {
        input_->Mix(leftIn + done, rightIn + done, k, 0);
        network_->Process(k);
        outputBuffers_[0].Save(leftOut + done, k);
        outputBuffers_[1].Save(rightOut + done, k);
    });
}

void VastorImplementation::setSpread(float decibels) {
    const float gain = SettingGain(decibels);
    input_->SetProperty(kVastorSpread, &gain, 4);
}

void VastorImplementation::setCenter(float decibels) {
    const float gain = SettingGain(decibels);
    input_->SetProperty(kVastorCenter, &gain, 4);
}

void VastorImplementation::setInputScale(float leftDecibels, float rightDecibels) {
    const float gains[2] = {SettingGain(leftDecibels), SettingGain(rightDecibels)};
    input_->SetProperty(kVastorInputScale, gains, 4);
}

void VastorImplementation::setInputDelay(int leftFrames, int rightFrames) {
    const int32_t frames[2] = {SettingDelay(leftFrames), SettingDelay(rightFrames)};
    input_->SetProperty(kVastorInputDelay, frames, 4);
}

void VastorImplementation::setDirectDelay(int frames) {
    const int32_t value = SettingDelay(frames);
    input_->SetProperty(kVastorDirectDelay, &value, 4);
}

void VastorImplementation::enable(unsigned char on) {
    const unsigned char disabled = on == 0 ? 1 : 0;
    input_->SetProperty(kVastorDisabled, &disabled, 1);
}

void VastorImplementation::enableHipass(unsigned char on) {
    network_->SetProperty(kVastorHipassOn, &on, 1);
}

void VastorImplementation::reset() {
    network_->Reset();
    input_->Reset();
}

int VastorImplementation::latency() const {
    return WidenerDirectLatency(*input_, flags_);
}

void VastorImplementation::setRampLength(int frames) {
    const int32_t value = frames;
    input_->SetProperty(kVastorRampLength, &value, 4);
}

void VastorImplementation::setChainedRamps(bool on) {
    const unsigned char value = on ? 1 : 0;
    input_->SetProperty(kVastorChainedRamps, &value, 1);
}

int WidenerDirectLatency(const VastorFilterInput& input, unsigned int flags) {
    long direct;
    const int* delays;
    if (flags & VASTOR_SINGLE_NETWORK) {
        const SingleVastorFilterInput& single = static_cast<const SingleVastorFilterInput&>(input);
        direct = single.directDelay_;
        delays = single.inputDelay_;
    } else {
        const DualVastorFilterInput& dual = static_cast<const DualVastorFilterInput&>(input);
        direct = dual.directDelay_;
        delays = dual.inputDelay_;
    }
    return static_cast<int>(direct) + std::min(delays[0], delays[1]);
}
