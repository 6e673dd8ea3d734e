// How the processor works.
//
// The engines run straight on the host's blocks (in pieces of at most the
// scratch size). Everything the processor does happens at a frame of the
// stream, whatever blocks the host cuts it into, so the output does not
// depend on the block sizes:
// - the engines give the same samples for any cutting (their glides are
//   chained across calls, see Panner::setChainedRamps);
// - fades step once per frame;
// - the mono detector measures hops of kHop frames counted from the start
//   of the stream; a hop's verdict takes effect at the frame after it;
// - settings are read when a host block starts and take effect at its first
//   frame.
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
// Settings are atomics written by any thread and read once per host block.
// A change of path fades the old path out and the new one in over
// fadeFrames_ frames; spread glides inside the widener over the same length;
// Subtone switches the engines' high-pass stage.
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
#include "MonoDetector.h"
#include "SampleOps.h"
#include "Vastor.h"

namespace kesta {

namespace {

// The mono detector's hop, in frames.
constexpr int kHop = 128;

// The scratch holds pieces of this many frames at least and at most: a host
// that announces tiny blocks still gets the engines run on whole pieces,
// and a huge announced block does not make huge buffers.
constexpr int kMinPiece = 256;
constexpr int kMaxPiece = 8192;

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
    int piece = kMinPiece;  // frames of scratch: the most the engines get at once
    int hopLeft = kHop;     // frames until the detector's current hop ends

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

    // Pieces of up to piece frames.
    std::vector<float> input[3];     // left (or mono), right; and their mean
    std::vector<float> mixed[2];     // a crossfade's sum
    std::vector<float> interleaved;  // the mono engines' output
    std::vector<float> recent[2];    // the last latency frames of input, oldest first

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

    // A path starts afresh: an engine from silence; the dry path from the
    // input just played, so that it fades in without a step.
    void clearPath(int p) {
        if (p == kWidener && widener) vastorReset(widener);
        if (p == kMusic) m2sReset(m2s[0]);
        if (p == kVoice) m2sReset(m2s[1]);
        for (int c = 0; c < 2; ++c) {
            if (p == kDry)
                align[p][c].reset(recent[std::min(c, channels - 1)].data());
            else
                align[p][c].reset();
        }
    }

    // Keeps the last latency frames of input, after n more frames of each
    // channel (sample i of channel c at in[c][i * stride]).
    void remember(const float* const* in, int stride, int n) {
        const int keep = latency;
        const int kept = std::max(keep - n, 0);
        for (int c = 0; c < channels; ++c) {
            float* past = recent[c].data();
            std::copy(past + (keep - kept), past + keep, past);
            for (int i = kept, at = n - (keep - kept); i < keep; ++i, ++at)
                past[i] = in[c][static_cast<size_t>(at) * static_cast<size_t>(stride)];
        }
    }

    // Takes the path the settings choose now as the target; a path becomes
    // running (cleared first) when wanted.
    void retarget(const Settings& s) {
        target = choose(s);
        for (int p = 0; p < kPathCount; ++p) {
            const bool wanted = level[p] > 0 || p == target;
            if (wanted && !running[p]) clearPath(p);
            running[p] = wanted;
        }
    }

    // Silence everywhere; the path the settings choose plays at full level.
    void resetState() {
        for (std::vector<float>& v : recent) std::fill(v.begin(), v.end(), 0.0f);
        for (int p = 0; p < kPathCount; ++p) {
            clearPath(p);
            level[p] = 0;
            running[p] = false;
        }
        detector.reset();
        hopLeft = kHop;
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
        // Later spread changes glide over a fade, the same for any cutting of
        // the stream.
        if (widener) {
            pathLatency[kWidener] = vastorGetLatency(widener);
            vastorSetRampLength(widener, fadeFrames);
            vastorSetChainedRamps(widener, 1);
        }
        for (M2S* handle : m2s) {
            m2sSetRampLength(handle, fadeFrames);
            m2sSetChainedRamps(handle, 1);
        }
        piece = std::min(std::max(maxBlock, kMinPiece), kMaxPiece);
        latency = *std::max_element(pathLatency, pathLatency + kPathCount);
        if (widener) {
            // The widener lines itself up: its input delayed on both sides
            // delays all it makes, so that it can play alone straight from
            // the host's buffers into the host's.
            const int extra = latency - pathLatency[kWidener];
            vastorSetInputDelay(widener, extra, extra);
            pathLatency[kWidener] = vastorGetLatency(widener);
        }
        for (int p = 0; p < kPathCount; ++p)
            for (FrameDelay& d : align[p]) d.prepare(latency - pathLatency[p], piece);
        for (std::vector<float>& v : input) v.assign(static_cast<size_t>(piece), 0.0f);
        for (std::vector<float>& v : mixed) v.assign(static_cast<size_t>(piece), 0.0f);
        interleaved.assign(2 * static_cast<size_t>(piece), 0.0f);
        for (std::vector<float>& v : recent) v.assign(static_cast<size_t>(latency), 0.0f);
        detector.prepare(rate, kHop);
        prepared = true;
        resetState();
        return true;
    }

    // Reads n frames of finite input into the input scratch, clipped: from
    // separate channels (stride 1) or from interleaved stereo (stride 2,
    // in[1] being in[0] + 1).
    void readInput(const float* const* in, int stride, int n) {
        if (stride == 2) {
            SplitClip(in[0], input[0].data(), input[1].data(), n, kInputLimit);
            return;
        }
        for (int c = 0; c < channels; ++c) {
            float* dst = input[c].data();
            std::memcpy(dst, in[c], static_cast<size_t>(n) * sizeof(float));
            ClipInPlace(dst, n, kInputLimit);
        }
    }

    // Runs path p over frames [from, from + n) of the input scratch into its
    // delays, which line it up with the others.
    void runPath(int p, int from, int n) {
        float* left = align[p][0].in();
        float* right = align[p][1].in();
        const float* l = input[0].data() + from;
        const float* r = input[channels - 1].data() + from;
        const float* mono = (channels == 1 ? input[0].data() : input[2].data()) + from;
        switch (p) {
            case kWidener:
                vastorMonoFloat(widener, l, r, left, right, static_cast<unsigned>(n));
                break;
            case kMusic:
            case kVoice: {
                float(*frames)[2] = reinterpret_cast<float(*)[2]>(interleaved.data());
                m2sProcessFloat(m2s[p == kMusic ? 0 : 1], mono, frames, static_cast<unsigned>(n));
                for (int i = 0; i < n; ++i) {
                    left[i] = frames[i][0];
                    right[i] = frames[i][1];
                }
                break;
            }
            default:
                std::memcpy(left, l, static_cast<size_t>(n) * sizeof(float));
                std::memcpy(right, r, static_cast<size_t>(n) * sizeof(float));
                break;
        }
    }

    // The running paths' sum over n frames, with the fades moved on; the
    // target alone is not copied. Leaves the result's channels in *left and
    // *right.
    void mix(int n, const float** left, const float** right) {
        bool alone = level[target] == fadeFrames;
        for (int p = 0; p < kPathCount; ++p) alone &= p == target || level[p] == 0;
        if (alone) {
            *left = align[target][0].out();
            *right = align[target][1].out();
            return;
        }
        float* outL = mixed[0].data();
        float* outR = mixed[1].data();
        std::fill(outL, outL + n, 0.0f);
        std::fill(outR, outR + n, 0.0f);
        const float scale = 1.0f / static_cast<float>(fadeFrames);
        for (int p = 0; p < kPathCount; ++p) {
            if (!running[p]) continue;
            const int step = p == target ? 1 : -1;
            int l = level[p];
            const float* inL = align[p][0].out();
            const float* inR = align[p][1].out();
            for (int i = 0; i < n; ++i) {
                l = std::min(std::max(l + step, 0), fadeFrames);
                const float g = static_cast<float>(l) * scale;
                outL[i] += g * inL[i];
                outR[i] += g * inR[i];
            }
            level[p] = l;
        }
        *left = outL;
        *right = outR;
    }

    // Frames [from, from + n) of the input scratch through the running paths
    // into out (separate channels, stride 1, or interleaved, stride 2 with
    // out[1] being out[0] + 1). Answers false when the result is not finite.
    bool processPiece(int from, int n, float* const* out, int stride) {
        if (channels == 2 && (running[kMusic] || running[kVoice])) {
            const float* l = input[0].data() + from;
            const float* r = input[1].data() + from;
            float* m = input[2].data() + from;
            for (int i = 0; i < n; ++i) m[i] = 0.5f * (l[i] + r[i]);
        }
        for (int p = 0; p < kPathCount; ++p)
            if (running[p]) runPath(p, from, n);
        const float* left;
        const float* right;
        mix(n, &left, &right);
        // Subnormals may come straight from the input on the dry path.
        bool finite;
        if (stride == 2) {
            finite = FlushFiniteInterleave(left, right, out[0], n);
        } else {
            const bool leftFinite = FlushFinite(left, out[0], n);
            finite = FlushFinite(right, out[1], n) && leftFinite;
        }
        for (int p = 0; p < kPathCount; ++p)
            if (running[p])
                for (FrameDelay& d : align[p]) d.advance(n);
        for (int p = 0; p < kPathCount; ++p) running[p] = level[p] > 0 || p == target;
        const float* scratch[2] = {input[0].data() + from, input[1].data() + from};
        remember(scratch, 1, n);
        return finite;
    }

    // How many of the n frames of left and right (sample i at i * stride)
    // play with the path as it is: up to the end of the first detector hop
    // after which the settings s choose another path, or all n. The hops
    // measured are finished.
    int steadyFrames(const Settings& s, const float* left, const float* right, int stride, int n) {
        if (channels != 2) return n;
        if (!s.autoMono) {
            // Nothing is measured; the hops keep their places in the stream.
            detector.reset();
            hopLeft = (hopLeft - n % kHop + kHop - 1) % kHop + 1;
            return n;
        }
        int done = 0;
        while (done < n) {
            const int k = std::min(n - done, hopLeft);
            const size_t at = static_cast<size_t>(done) * static_cast<size_t>(stride);
            detector.measure(left + at, right + at, k, stride);
            done += k;
            hopLeft -= k;
            if (hopLeft == 0) {
                hopLeft = kHop;
                detector.endHop();
                if (choose(s) != target) break;
            }
        }
        return done;
    }

    // Whether the widener plays alone, lined up by itself.
    bool widenerAlone() const {
        if (target != kWidener || level[kWidener] != fadeFrames || align[kWidener][0].delay() != 0)
            return false;
        for (int p = 0; p < kPathCount; ++p)
            if (p != kWidener && level[p] != 0) return false;
        return true;
    }

    // The widener alone on n frames of the host's input (in range) straight
    // into the host's output, both interleaved (stride 2) or both separate
    // channels (stride 1).
    void runWidenerDirect(const float* const* in, float* const* out, int stride, int n) {
        remember(in, stride, n);
        const unsigned count = static_cast<unsigned>(n);
        if (stride == 2) {
            vastorProcessFloat(widener, reinterpret_cast<const float(*)[2]>(in[0]),
                               reinterpret_cast<float(*)[2]>(out[0]), count);
        } else {
            vastorMonoFloat(widener, in[0], in[1], out[0], out[1], count);
        }
#if !defined(KESTA_HAVE_MXCSR)
        // Without flush-to-zero the engine may leave subnormals.
        if (stride == 2) {
            FlushFinite(out[0], out[0], 2 * n);
        } else {
            FlushFinite(out[0], out[0], n);
            FlushFinite(out[1], out[1], n);
        }
#endif
    }

    void run(const float* const* in, int inStride, float* const* out, int outStride, int frames) {
        if (!prepared || frames <= 0) return;
        DenormalGuard guard;
        const Settings s = snapshot();
        applyEngineSettings(s, false);
        retarget(s);
        const size_t inStep = static_cast<size_t>(inStride), outStep = static_cast<size_t>(outStride);
        for (int done = 0; done < frames;) {
            const int n = std::min(frames - done, piece);
            const float* inAt[2];
            for (int c = 0; c < channels; ++c) inAt[c] = in[c] + static_cast<size_t>(done) * inStep;
            // Interleaved input is one run of samples; separate channels two.
            InputKind kind = Classify(inAt[0], inStride == 2 ? 2 * n : n, kInputLimit);
            if (channels == 2 && inStride == 1 && kind != InputKind::kNotFinite) {
                const InputKind right = Classify(inAt[1], n, kInputLimit);
                if (right != InputKind::kClean) kind = right;
            }
            if (kind == InputKind::kNotFinite) {
                // The whole block is silence, and the stream starts afresh
                // with the next one.
                silence(out, outStride, frames);
                resetState();
                return;
            }
            bool scratchRead = false;
            for (int from = 0; from < n;) {
                const float* inPiece[2];
                float* outPiece[2];
                for (int c = 0; c < channels; ++c) inPiece[c] = inAt[c] + static_cast<size_t>(from) * inStep;
                for (int c = 0; c < 2; ++c) outPiece[c] = out[c] + static_cast<size_t>(done + from) * outStep;
                const int k = steadyFrames(s, inPiece[0], inPiece[channels - 1], inStride, n - from);
                if (kind == InputKind::kClean && inStride == outStride && widenerAlone()) {
                    runWidenerDirect(inPiece, outPiece, inStride, k);
                } else {
                    // (In place, the frames before from are output already;
                    // only those from on are read from the scratch.)
                    if (!scratchRead) readInput(inAt, inStride, n);
                    scratchRead = true;
                    if (!processPiece(from, k, outPiece, outStride)) {
                        silence(out, outStride, frames);
                        resetState();
                        return;
                    }
                }
                from += k;
                if (channels == 2 && choose(s) != target) retarget(s);
            }
            done += n;
        }
    }

    static void silence(float* const* out, int stride, int frames) {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i) out[c][static_cast<size_t>(i) * stride] = 0.0f;
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
