#include "M2sobj.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "ChunkLoop.h"
#include "MathLib.h"
#include "Mathutil.h"
#include "MonoTo3D.h"
#include "Vastor.h"
#include "VastorObj.h"

namespace {

// Voice mode's centre from open on, in millibels.
constexpr int kVoiceCenterMb = -1000;

// A level setting as a linear gain: at most M2S_MAX_GAIN_DB, and start when
// decibels is not a finite number.
float SettingGain(float decibels, float start) {
    if (!std::isfinite(decibels)) return start;
    return from_db(std::min(decibels, M2S_MAX_GAIN_DB));
}

// The block n frames after the start of b; counts beyond the Samples range
// are fine here, unlike Buffer's operator+.
Buffer Advanced(const Buffer& b, unsigned n) {
    return Buffer(static_cast<char*>(b.data_) + static_cast<size_t>(n) * Buffer::sizes_[b.type_], b.type_);
}

}  // namespace

int M2SInterface::create(M2S** out, unsigned sampleRate, unsigned flags) {
    M2SImplementation* engine = new M2SImplementation;
    const int rc = engine->open(GetFloatLibrary(), sampleRate, flags);
    if (rc != 0) {
        delete engine;
        engine = nullptr;
    }
    *out = reinterpret_cast<M2S*>(static_cast<M2SInterface*>(engine));
    return rc;
}

M2SImplementation::M2SImplementation() : network_(nullptr), input_(nullptr) {}

M2SImplementation::~M2SImplementation() {
    delete input_;
    delete network_;
    outputBuffers_[0].free();
    outputBuffers_[1].free();
}

int M2SImplementation::open(MathLibrary* library, unsigned sampleRate, unsigned flags) {
    library->CreateBuffer(outputBuffers_[0], kChunk);
    library->CreateBuffer(outputBuffers_[1], kChunk);
    network_ = CreateMonoTo3D(*library, outputBuffers_, static_cast<long>(sampleRate), kChunk, flags);
    if (network_) input_ = network_->CreateVastorFilterInput();
    const bool complete = outputBuffers_[0].data_ && outputBuffers_[1].data_ && network_ && input_;
    return complete ? 0 : 1;
}

void M2SImplementation::process(const short* in, short (*out)[2], unsigned count) {
    run(Buffer(in, kMono16), Buffer(out, kStereo16), count);
}

void M2SImplementation::process(const unsigned char* in, unsigned char (*out)[2], unsigned count) {
    run(Buffer(in, kMono8), Buffer(out, kStereo8), count);
}

void M2SImplementation::process(const float* in, float (*out)[2], unsigned count) {
    run(Buffer(in, kMonoFloat), Buffer(out, kStereoFloat), count);
}

void M2SImplementation::run(const Buffer& in, const Buffer& out, unsigned count) {
    RunInChunks(outputBuffers_, count, kChunk, [&](unsigned pos, Samples n) {
        input_->Mix(Advanced(in, pos), n, 0);
        network_->Process(n);
        outputBuffers_[0].Merge(Advanced(out, pos), outputBuffers_[1], n);
    });
}

void M2SImplementation::setSpread(float decibels) {
    const float gain = SettingGain(decibels, 1.0f);
    network_->SetProperty(kVastorSpread, &gain, sizeof gain);
}

void M2SImplementation::setCenter(float decibels) {
    const bool music = (network_->flags_ & M2S_MUSIC) != 0;
    const float gain = SettingGain(decibels, music ? 1.0f : Math::from_mb(kVoiceCenterMb));
    network_->SetProperty(kVastorCenter, &gain, sizeof gain);
}

void M2SImplementation::enable(unsigned char on) {
    const unsigned char disabled = on == 0;
    input_->SetProperty(kM2SDisabled, &disabled, sizeof disabled);
}

void M2SImplementation::enableHipass(unsigned char on) {
    network_->SetProperty(kVastorHipassOn, &on, sizeof on);
}

void M2SImplementation::reset() {
    network_->Reset();
    // The bus delay line is history too: without this, audio from before the
    // reset would come out of the left bus afterwards.
    input_->Reset();
}

int M2SImplementation::latency() const {
    // The bus delay (Music's FIR delay), then the inner widener's direct
    // path: a single network in Music, a dual one in Voice.
    const unsigned widener = (network_->flags_ & M2S_MUSIC) ? VASTOR_SINGLE_NETWORK : 0u;
    return static_cast<int>(network_->firDelay_) + WidenerDirectLatency(*network_->widenerInput_, widener);
}

void M2SImplementation::setRampLength(int frames) {
    // Reaches the inner widener's input stage, which glides spread and center.
    const int32_t value = frames;
    network_->SetProperty(kVastorRampLength, &value, sizeof value);
}

void M2SImplementation::setChainedRamps(bool on) {
    // The outer input stage's panners and the inner widener's.
    const unsigned char value = on ? 1 : 0;
    input_->SetProperty(kVastorChainedRamps, &value, 1);
    network_->SetProperty(kVastorChainedRamps, &value, 1);
}
