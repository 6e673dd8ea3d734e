// How the processor works.
//
// The host's blocks go through a FIFO: the engines always run on whole
// blocks of kBlock frames at fixed places in the stream, and the host gets
// back output kBlock frames late. So everything that happens at a frame (a
// glide step inside an engine, a fade step, a decision of the mono detector)
// happens at the same frame however the host cuts the stream, and the output
// does not depend on the block sizes. The settings a host block starts with
// are used for every internal block completed during it.
//
// The output is one of four paths, or a crossfade between some of them:
//   widener  the stereo widener on the input (stereo streams only);
//   music    the mono-to-3D engine in Music mode on the mono signal;
//   voice    the same in Voice mode;
//   dry      the input itself (a mono stream on both sides).
// (The mono signal of a stereo stream is the mean of its channels.) Each
// path is delayed so that its unfiltered part comes out latency() frames
// after the input, the same for all: crossfading between paths then blends
// one signal, never two copies at different delays. A path that is silent
// and not wanted is not run; when it is wanted again its engine is cleared
// and fades in from silence.
//
// Settings are atomics written by any thread and read once per block. A
// change of path fades the old path out and the new one in over fadeFrames_
// frames; spread glides inside the widener over the same length; Subtone
// switches the engines' high-pass stage.
#include "Processor.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "DenormalGuard.h"
#include "FrameDelay.h"
#include "M2s.h"
#include "M2sobj.h"
#include "MonoDetector.h"
#include "SampleOps.h"
#include "Vastor.h"
#include "VastorObj.h"

namespace kesta {

namespace {

// Frames the engines are run on at a time; the FIFO's length.
constexpr int kBlock = 128;

// Input beyond this magnitude (+60 dBFS) is clipped to it, so that no finite
// input can overflow the filters.
constexpr float kInputLimit = 1000.0f;

enum Path { kWidener, kMusic, kVoice, kDry, kPathCount };

float ClampSpread(float decibels) {
    if (std::isnan(decibels)) return 0.0f;
    return std::min(std::max(decibels, Processor::kMinSpreadDb), Processor::kMaxSpreadDb);
}

}  // namespace

struct Processor::Impl {
    // Settings, written from any thread.
    std::atomic<bool> monoTo3D{true};
    std::atomic<bool> music{true};
    std::atomic<bool> widen{true};
    std::atomic<float> spreadDb{0.0f};
    std::atomic<bool> subtone{true};
    std::atomic<bool> autoMono{true};

    // The stream.
    bool prepared = false;
    unsigned rate = 0;
    int channels = 0;
    int latency = 0;
    int fadeFrames = 1024;  // a power of two, so level / fadeFrames is exact
    int fill = 0;           // frames in the input FIFO, and read from the output FIFO

    Vastor* widener = nullptr;
    M2S* m2s[2] = {nullptr, nullptr};  // Music, Voice

    // Engine settings as last sent to the engines.
    float appliedSpread = 0.0f;
    bool appliedSubtone = true;

    // Fades: level[p] in 0..fadeFrames is path p's gain times fadeFrames.
    Path target = kDry;
    int level[kPathCount] = {0, 0, 0, 0};
    bool running[kPathCount] = {false, false, false, false};
    FrameDelay align[kPathCount][2];
    MonoDetector detector;

    // Blocks of kBlock frames.
    std::vector<float> input[3];     // the input FIFO: left (or mono), right; and their mean
    std::vector<float> output[2];    // the output FIFO: the last block processed
    std::vector<float> interleaved;  // the mono engines' output

    ~Impl() { close(); }

    void close() {
        if (widener) vastorClose(widener);
        for (M2S*& engine : m2s)
            if (engine) m2sClose(engine);
        widener = nullptr;
        m2s[0] = m2s[1] = nullptr;
        prepared = false;
    }

    Settings snapshot() const {
        Settings s;
        s.monoTo3D = monoTo3D.load(std::memory_order_relaxed);
        s.music = music.load(std::memory_order_relaxed);
        s.widen = widen.load(std::memory_order_relaxed);
        s.spreadDb = spreadDb.load(std::memory_order_relaxed);
        s.subtone = subtone.load(std::memory_order_relaxed);
        s.autoMono = autoMono.load(std::memory_order_relaxed);
        return s;
    }

    Path choose(const Settings& s) const {
        const bool mono = channels == 1 || (s.autoMono && detector.mono());
        if (mono && s.monoTo3D) return s.music ? kMusic : kVoice;
        if (channels == 2 && s.widen) return kWidener;
        return kDry;
    }

    // Sends spread and Subtone to the engines when they changed (or always).
    void applyEngineSettings(const Settings& s, bool always) {
        if (always || s.spreadDb != appliedSpread) {
            appliedSpread = s.spreadDb;
            if (widener) vastorSetSpread(widener, s.spreadDb);
        }
        if (always || s.subtone != appliedSubtone) {
            appliedSubtone = s.subtone;
            const BOOL on = s.subtone ? 1 : 0;
            if (widener) vastorEnableHipass(widener, on);
            for (M2S* engine : m2s) m2sEnableHipass(engine, on);
        }
    }

    void clearPath(int p) {
        if (p == kWidener && widener) vastorReset(widener);
        if (p == kMusic) m2sReset(m2s[0]);
        if (p == kVoice) m2sReset(m2s[1]);
        align[p][0].reset();
        align[p][1].reset();
    }

    // Silence everywhere, the FIFOs too; the path the settings choose plays
    // at full level.
    void resetState() {
        for (std::vector<float>& v : input) std::fill(v.begin(), v.end(), 0.0f);
        for (std::vector<float>& v : output) std::fill(v.begin(), v.end(), 0.0f);
        fill = 0;
        for (int p = 0; p < kPathCount; ++p) {
            clearPath(p);
            level[p] = 0;
            running[p] = false;
        }
        detector.reset();
        const Settings s = snapshot();
        target = choose(s);
        level[target] = fadeFrames;
        running[target] = true;
        // After a reset the engines take settings at once.
        applyEngineSettings(s, true);
    }

    bool prepare(unsigned newRate, int newChannels, int maxBlock) {
        close();
        if (newRate == 0 || (newChannels != 1 && newChannels != 2) || maxBlock < 1) return false;
        rate = newRate;
        channels = newChannels;
        fadeFrames = 1024;
        while (fadeFrames < 4096 && static_cast<double>(fadeFrames) * 44100.0 < 1024.0 * rate)
            fadeFrames *= 2;
        if (channels == 2 && vastorOpen(&widener, rate, VASTOR_HIPASS_ON | VASTOR_ALL_RATES) != 0) {
            widener = nullptr;
            return false;
        }
        if (m2sOpen(&m2s[0], rate, M2S_MUSIC | M2S_ALL_RATES) != 0 ||
            m2sOpen(&m2s[1], rate, M2S_ALL_RATES) != 0) {
            close();
            return false;
        }
        int pathLatency[kPathCount] = {0, m2sGetLatency(m2s[0]), m2sGetLatency(m2s[1]), 0};
        // Later spread changes glide over a fade (a handle is the address of
        // its engine object).
        if (widener) {
            pathLatency[kWidener] = vastorGetLatency(widener);
            reinterpret_cast<IVastor*>(widener)->setRampLength(fadeFrames);
        }
        for (M2S* engine : m2s) reinterpret_cast<M2SInterface*>(engine)->setRampLength(fadeFrames);
        latency = *std::max_element(pathLatency, pathLatency + kPathCount);
        for (int p = 0; p < kPathCount; ++p)
            for (FrameDelay& d : align[p]) d.prepare(latency - pathLatency[p], kBlock);
        latency += kBlock;
        for (std::vector<float>& v : input) v.assign(kBlock, 0.0f);
        for (std::vector<float>& v : output) v.assign(kBlock, 0.0f);
        interleaved.assign(2 * kBlock, 0.0f);
        detector.prepare(rate, kBlock);
        prepared = true;
        resetState();
        return true;
    }

    // Reads n frames into the input FIFO at fill, clipped: from separate
    // channels (stride 1) or from interleaved stereo (stride 2, in[1] being
    // in[0] + 1). Answers false when a sample is not finite.
    bool readInput(const float* const* in, int stride, int n) {
        if (stride == 2)
            return SplitClipFinite(in[0], input[0].data() + fill, input[1].data() + fill, n, kInputLimit);
        bool finite = true;
        for (int c = 0; c < channels; ++c) {
            float* dst = input[c].data() + fill;
            std::memcpy(dst, in[c], static_cast<size_t>(n) * sizeof(float));
            finite &= ClipFinite(dst, n, kInputLimit);
        }
        return finite;
    }

    // Writes n frames of the output FIFO from fill on to out: separate
    // channels (stride 1) or interleaved (stride 2, out[1] being out[0] + 1).
    void writeOutput(float* const* out, int stride, int n) const {
        const float* left = output[0].data() + fill;
        const float* right = output[1].data() + fill;
        if (stride == 1) {
            std::memcpy(out[0], left, static_cast<size_t>(n) * sizeof(float));
            std::memcpy(out[1], right, static_cast<size_t>(n) * sizeof(float));
        } else {
            float* dst = out[0];
            for (int i = 0; i < n; ++i) {
                dst[2 * i] = left[i];
                dst[2 * i + 1] = right[i];
            }
        }
    }

    // Runs path p over the block into its delays, which line it up with the
    // others.
    void runPath(int p) {
        float* left = align[p][0].in();
        float* right = align[p][1].in();
        const float* mono = channels == 1 ? input[0].data() : input[2].data();
        switch (p) {
            case kWidener:
                vastorMonoFloat(widener, input[0].data(), input[1].data(), left, right, kBlock);
                break;
            case kMusic:
            case kVoice: {
                float(*frames)[2] = reinterpret_cast<float(*)[2]>(interleaved.data());
                m2sProcessFloat(m2s[p == kMusic ? 0 : 1], mono, frames, kBlock);
                for (int i = 0; i < kBlock; ++i) {
                    left[i] = frames[i][0];
                    right[i] = frames[i][1];
                }
                break;
            }
            default:
                std::memcpy(left, input[0].data(), kBlock * sizeof(float));
                std::memcpy(right, input[channels - 1].data(), kBlock * sizeof(float));
                break;
        }
    }

    // Mixes the running paths into the output FIFO and moves the fades on.
    // Answers false when the result is not finite.
    bool mix() {
        float* outL = output[0].data();
        float* outR = output[1].data();
        bool alone = level[target] == fadeFrames;
        for (int p = 0; p < kPathCount; ++p) alone &= p == target || level[p] == 0;
        if (alone) {
            // Subnormals may come straight from the input on the dry path.
            const bool left = FlushFinite(align[target][0].out(), outL, kBlock);
            const bool right = FlushFinite(align[target][1].out(), outR, kBlock);
            return left && right;
        }
        std::fill(outL, outL + kBlock, 0.0f);
        std::fill(outR, outR + kBlock, 0.0f);
        const float scale = 1.0f / static_cast<float>(fadeFrames);
        for (int p = 0; p < kPathCount; ++p) {
            if (!running[p]) continue;
            const int step = p == target ? 1 : -1;
            int l = level[p];
            const float* inL = align[p][0].out();
            const float* inR = align[p][1].out();
            for (int i = 0; i < kBlock; ++i) {
                l = std::min(std::max(l + step, 0), fadeFrames);
                const float g = static_cast<float>(l) * scale;
                outL[i] += g * inL[i];
                outR[i] += g * inR[i];
            }
            level[p] = l;
        }
        const bool left = FlushFinite(outL, outL, kBlock);
        const bool right = FlushFinite(outR, outR, kBlock);
        return left && right;
    }

    // One block of kBlock frames from the input FIFO into the output FIFO,
    // with the settings s.
    void processBlock(const Settings& s) {
        applyEngineSettings(s, false);
        if (channels == 2) {
            if (s.autoMono) {
                detector.measure(input[0].data(), input[1].data(), kBlock);
                detector.endHop();
            } else {
                detector.reset();
            }
        }
        target = choose(s);
        for (int p = 0; p < kPathCount; ++p) {
            const bool wanted = level[p] > 0 || p == target;
            if (wanted && !running[p]) clearPath(p);
            running[p] = wanted;
        }
        if (channels == 2 && (running[kMusic] || running[kVoice])) {
            const float* l = input[0].data();
            const float* r = input[1].data();
            float* m = input[2].data();
            for (int i = 0; i < kBlock; ++i) m[i] = 0.5f * (l[i] + r[i]);
        }
        for (int p = 0; p < kPathCount; ++p)
            if (running[p]) runPath(p);
        const bool finite = mix();
        for (int p = 0; p < kPathCount; ++p)
            if (running[p])
                for (FrameDelay& d : align[p]) d.advance(kBlock);
        if (!finite) {
            resetState();
            return;
        }
        for (int p = 0; p < kPathCount; ++p) running[p] = level[p] > 0 || p == target;
    }

    void run(const float* const* in, int inStride, float* const* out, int outStride, int frames) {
        if (!prepared || frames <= 0) return;
        DenormalGuard guard;
        const Settings s = snapshot();
        const float* inAt[2];
        float* outAt[2];
        for (int done = 0; done < frames;) {
            const int n = std::min(frames - done, kBlock - fill);
            for (int c = 0; c < channels; ++c) inAt[c] = in[c] + static_cast<size_t>(done) * inStride;
            for (int c = 0; c < 2; ++c) outAt[c] = out[c] + static_cast<size_t>(done) * outStride;
            if (!readInput(inAt, inStride, n)) {
                // Something not finite: the whole block is silence, and the
                // stream starts afresh with the next one.
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < frames; ++i) out[c][static_cast<size_t>(i) * outStride] = 0.0f;
                resetState();
                return;
            }
            writeOutput(outAt, outStride, n);
            fill += n;
            done += n;
            if (fill == kBlock) {
                processBlock(s);
                fill = 0;
            }
        }
    }
};

Processor::Processor() : impl_(new Impl) {}
Processor::~Processor() = default;

bool Processor::prepare(unsigned rate, int channels, int maxBlock) {
    return impl_->prepare(rate, channels, maxBlock);
}

bool Processor::prepared() const {
    return impl_->prepared;
}

unsigned Processor::rate() const {
    return impl_->prepared ? impl_->rate : 0;
}

int Processor::channels() const {
    return impl_->prepared ? impl_->channels : 0;
}

void Processor::process(const float* in, float* out, int frames) {
    if (!impl_->prepared) return;
    const float* inCh[2] = {in, in + (impl_->channels - 1)};
    float* outCh[2] = {out, out + 1};
    impl_->run(inCh, impl_->channels, outCh, 2, frames);
}

void Processor::processPlanar(const float* const* in, float* const* out, int frames) {
    if (!impl_->prepared) return;
    impl_->run(in, 1, out, 1, frames);
}

void Processor::reset() {
    if (!impl_->prepared) return;
    impl_->resetState();
}

int Processor::latency() const {
    return impl_->prepared ? impl_->latency : 0;
}

void Processor::setMonoTo3D(bool on) {
    impl_->monoTo3D.store(on, std::memory_order_relaxed);
}

void Processor::setMusic(bool music) {
    impl_->music.store(music, std::memory_order_relaxed);
}

void Processor::setWidening(bool on) {
    impl_->widen.store(on, std::memory_order_relaxed);
}

void Processor::setSpread(float decibels) {
    impl_->spreadDb.store(ClampSpread(decibels), std::memory_order_relaxed);
}

void Processor::setSubtone(bool on) {
    impl_->subtone.store(on, std::memory_order_relaxed);
}

void Processor::setAutoMono(bool on) {
    impl_->autoMono.store(on, std::memory_order_relaxed);
}

void Processor::setSettings(const Settings& settings) {
    setMonoTo3D(settings.monoTo3D);
    setMusic(settings.music);
    setWidening(settings.widen);
    setSpread(settings.spreadDb);
    setSubtone(settings.subtone);
    setAutoMono(settings.autoMono);
}

Settings Processor::settings() const {
    return impl_->snapshot();
}

}  // namespace kesta
