#include "MonoTo3D.h"

#include <cstdint>

#include "FltDelay.h"
#include "M2s.h"
#include "M2sfir.h"
#include "MathLib.h"
#include "Mathutil.h"
#include "Vastor.h"

namespace {

constexpr unsigned kMusicWidener = VASTOR_SINGLE_STAGE | VASTOR_HIPASS_ON | VASTOR_SINGLE_NETWORK;
constexpr unsigned kVoiceWidener = VASTOR_SINGLE_STAGE | VASTOR_HIPASS_ON;
constexpr int32_t kMusicHipass = 125;  // Hz
constexpr int32_t kVoiceHipass = 200;  // Hz
constexpr int kVoiceCenter = -1000;    // millibels
constexpr int kMusicBusLevel = -200;   // millibels
constexpr long kRampLength = 1024;     // frames

}  // namespace

MonoTo3D* CreateMonoTo3D(MathLibrary& library, MixBuffer (&outputs)[2], long sampleRate, long maxFrames,
                         unsigned flags) {
    return new MonoTo3D(library, outputs, sampleRate, maxFrames, flags);
}

MonoTo3D::MonoTo3D(MathLibrary& library, MixBuffer (&outputs)[2], long sampleRate, long maxFrames,
                   unsigned flags)
    : library_(&library),
      flags_(flags),
      outputs_(&outputs),
      fir_(nullptr),
      firDelay_(0),
      widener_(nullptr),
      widenerInput_(nullptr) {
    library.CreateBuffer(leftBus_, static_cast<Samples>(maxFrames));
    library.CreateBuffer(rightBus_, static_cast<Samples>(maxFrames));
    const bool allRates = (flags & M2S_ALL_RATES) != 0;
    const unsigned widenerRates = allRates ? VASTOR_ALL_RATES : 0u;
    if (flags & M2S_MUSIC) {
        // The left bus waits for the FIR's centre tap, however long the table.
        fir_ = CreateShortM2SFilter(library, sampleRate, &firDelay_, allRates);
        widener_ = CreateVastor(library, outputs, sampleRate, maxFrames, kMusicWidener | widenerRates);
        if (!widener_) return;
        widenerInput_ = widener_->CreateVastorFilterInput();
        const float spread = 1.0f;
        widenerInput_->SetProperty(kVastorSpread, &spread, sizeof spread);
        widener_->SetProperty(kVastorHipassFrequency, &kMusicHipass, sizeof kMusicHipass);
    } else {
        widener_ = CreateVastor(library, outputs, sampleRate, maxFrames, kVoiceWidener | widenerRates);
        if (!widener_) return;
        widenerInput_ = widener_->CreateVastorFilterInput();
        const float center = Math::from_mb(kVoiceCenter);
        widenerInput_->SetProperty(kVastorCenter, &center, sizeof center);
        int32_t directDelay = sampleRate > 32000 ? 4 : 1;
        // With the high rates' rows (twice or four times 44100 or 48000 Hz), the
        // direct path keeps the time of the four frames at the lower rate.
        const long row = NearestM2SFIRRate(m2sShortFIRTable, m2sShortFIRHighTable, sampleRate).sampleRate;
        if (allRates && row > 48000)
            directDelay = static_cast<int32_t>(4 * (row % 44100 == 0 ? row / 44100 : row / 48000));
        widenerInput_->SetProperty(kVastorDirectDelay, &directDelay, sizeof directDelay);
        widener_->SetProperty(kVastorHipassFrequency, &kVoiceHipass, sizeof kVoiceHipass);
        // Half a millisecond, rounded to frames.
        const int32_t inputDelay = static_cast<int32_t>(static_cast<double>(sampleRate) * 0.0005 + 0.5);
        const int32_t inputDelays[2] = {inputDelay, inputDelay};
        widenerInput_->SetProperty(kVastorInputDelay, inputDelays, sizeof inputDelays);
    }
}

MonoTo3D::~MonoTo3D() {
    delete fir_;
    delete widenerInput_;
    delete widener_;
    leftBus_.free();
    rightBus_.free();
}

void MonoTo3D::SetProperty(int id, const void* value, int size) {
    if (widenerInput_) widenerInput_->SetProperty(id, value, size);
    if (widener_) widener_->SetProperty(id, value, size);
}

bool MonoTo3D::IsQuiet() {
    return (!fir_ || fir_->IsQuiet()) && (!widener_ || widener_->IsQuiet());
}

void MonoTo3D::Reset() {
    if (fir_) fir_->Reset();
    if (widener_) widener_->Reset();
    // The inner input stage's delay lines are part of this network's history.
    if (widenerInput_) widenerInput_->Reset();
}

MonoTo3DInput* MonoTo3D::CreateVastorFilterInput() {
    return new MonoTo3DInput(*library_, flags_, *outputs_, leftBus_, rightBus_, firDelay_);
}

void MonoTo3D::Process(Samples n) {
    if (fir_ && rightBus_.Prepare(fir_, n)) fir_->Process(rightBus_);
    if (widener_) {
        if (leftBus_.used_ != 0 || rightBus_.used_ != 0 || !widenerInput_->IsQuiet()) {
            // Input, or (once the buses are empty) what the widener's input
            // stage still holds back: it is played out on silence.
            leftBus_.Extend(n);
            rightBus_.Extend(n);
            widenerInput_->Mix(leftBus_, rightBus_, n, 0);
            widener_->Process(n);
        } else if (!widener_->IsQuiet()) {
            // Empty buses and a silent input stage: the widener's filters ring
            // out their tails on silence, and are skipped once they are quiet.
            widener_->Process(n);
        }
    }
    leftBus_.MarkEmpty();
    rightBus_.MarkEmpty();
}

MonoTo3DInput::MonoTo3DInput(MathLibrary& library, unsigned flags, MixBuffer (&outputs)[2],
                             MixBuffer& leftBus, MixBuffer& rightBus, long busDelay)
    : flags_(flags),
      rampLength_(kRampLength),
      disabled_(false),
      immediate_(true),
      delayLine_(nullptr),
      busDelay_(busDelay),
      level_(1.0f) {
    direct_.setMixBuffers(outputs);
    delayed_.setMixBuffer(leftBus);
    plain_.setMixBuffer(rightBus);
    delayLine_ = library.CreateDelayBuffer();
    delayLine_->SetSize(static_cast<Samples>(busDelay));
    delayed_.setDelayBuffer(delayLine_);
    delayed_.setDelay(static_cast<int>(busDelay), 0);
    setupPanners();
    Reset();
}

MonoTo3DInput::~MonoTo3DInput() {
    delete delayLine_;
}

void MonoTo3DInput::setupPanners() {
    const Samples ramp = immediate_ ? 0 : static_cast<Samples>(rampLength_);
    if (disabled_) {
        direct_.pan(1.0f, ramp);
        delayed_.pan(0.0f, ramp);
        plain_.pan(0.0f, ramp);
        return;
    }
    float gain = level_;
    if (flags_ & M2S_MUSIC) gain *= Math::from_mb(kMusicBusLevel);
    direct_.pan(0.0f, ramp);
    delayed_.pan(gain, ramp);
    plain_.pan(gain, ramp);
}

void MonoTo3DInput::SetProperty(int id, const void* value, int) {
    switch (id) {
        case kM2SDisabled: {
            const bool disabled = VastorPropertyValue<unsigned char>(value) != 0;
            if (disabled != disabled_) {
                disabled_ = disabled;
                setupPanners();
            }
            break;
        }
        case kM2SLevel:
            level_ = VastorPropertyValue<float>(value);
            setupPanners();
            break;
        case kM2SRampLength:
            rampLength_ = VastorPropertyValue<int32_t>(value);
            break;
        case kM2SChainedRamps: {
            const bool on = VastorPropertyValue<unsigned char>(value) != 0;
            direct_.setChainedRamps(on);
            delayed_.setChainedRamps(on);
            plain_.setChainedRamps(on);
            break;
        }
        default:
            break;
    }
}

bool MonoTo3DInput::IsQuiet() {
    return delayLine_->IsQuiet();
}

void MonoTo3DInput::Reset() {
    delayLine_->Reset();
    immediate_ = true;
}

void MonoTo3DInput::Mix(const Buffer& in, Samples n, Samples offset) {
    immediate_ = false;
    // Steady panners' additions of a float block in one pass (HeldMixPlan).
    HeldMixPlan plan;
    direct_.mix(in, n, offset, plan);
    delayed_.mix(in, n, offset, plan);
    plain_.mix(in, n, offset, plan);
    plan.Flush();
    // After every panner has read: the line holds the frames before each block.
    delayLine_->Update(in, n);
}

void MonoTo3DInput::Mix(const Buffer&, const Buffer&, Samples, Samples) {}
