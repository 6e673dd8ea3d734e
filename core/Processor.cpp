// How the processor works.
//
// The host's input is taken into a scratch, and the engines run on it a
// whole limiter block at a time (32 or 64 frames, or many at once for a
// large host block): the limiter's output at a frame depends on nothing
// after the block before it (see Limiter.h), so a host's block is played
// from the limiter's delay line as soon as it has come in, and a host that
// calls with a frame at a time costs little more than one with 1024.
// Everything the processor does happens at a frame of the stream, whatever
// blocks the host cuts it into, so the output does not depend on the block
// sizes:
// - the engines give the same samples for any cutting (their glides are
//   chained across calls, see Panner::setChainedRamps);
// - fades step once per frame;
// - the mono detector measures hops counted from the start
//   of the stream; a hop's verdict takes effect at the frame after it;
// - settings are read when a host block starts and take effect at its first
//   frame: a change is queued with that frame until the engines reach it.
//
// The output is one of seven paths (PathBank.h), or a crossfade between
// some of them; for the mono paths of a stereo stream, the mean of its
// channels lined up at the delay the mono detector found. A sample that is
// not finite is replaced by zero, alone: the stream goes on.
//
// The parts, each a small processor of its own, in the order a block meets
// them: ParameterStore and SettingsTimeline (the settings, and when they
// take effect), InputStage (reading, checking, the history kept),
// QuietWatch (silence), MonoWatch (mono in stereo), PathBank (the paths and
// their crossfades), LoudnessMatch, Limiter. This file holds what ties them
// together.
#include "Processor.h"

#include <algorithm>
#include <cmath>

#include "DenormalGuard.h"
#include "InputStage.h"
#include "Limiter.h"
#include "LoudnessMatch.h"
#include "MonoWatch.h"
#include "ParameterStore.h"
#include "PathBank.h"
#include "QuietWatch.h"
#include "SampleOps.h"
#include "SettingsTimeline.h"

namespace kesta {

namespace {

// The scratch holds pieces of this many frames at least and at most: a host
// that announces tiny blocks still gets the engines run on whole pieces,
// and a huge announced block does not make huge buffers.
constexpr int kMinPiece = 256;
constexpr int kMaxPiece = 8192;
// The largest limiter block: the scratch holds a piece and what is left of
// a block before it.
constexpr int kMaxLimiterBlock = 64;
// Settings changes waiting for the engines: one per host block that started
// since the engines' last frame, at most one a frame.
constexpr int kMaxChanges = kMaxLimiterBlock + 2;

// A pre-rolled path starts from this much input (and at least latency).
constexpr double kPrerollSeconds = 0.05;
// Input exactly zero for this long lets the paths rest.
constexpr double kRestSeconds = 0.25;

}  // namespace

struct Processor::Impl {
    // Settings, written from any thread; the version of them last read.
    ParameterStore settings;
    unsigned seenVersion = 0;

    // The stream.
    bool prepared = false;
    unsigned rate = 0;
    int channels = 0;
    int latency = 0;        // of the paths, before the limiter
    int history = 0;        // frames of input kept for a pre-roll
    int fadeFrames = 1024;  // a power of two, so level / fadeFrames is exact
    int piece = kMinPiece;  // frames of a host block taken in at once

    // The parts, in the order a block meets them.
    InputStage stage;
    QuietWatch quiet;
    MonoWatch detector;
    PathBank paths;
    LoudnessMatch match;
    Limiter limiter;

    long long framesIn = 0;     // frames taken in since prepare
    bool asleep = true;         // no sound since the start, or since the paths rested
    long long aloneFrom = 0;    // the stream frame from which the target plays alone
    long long reducedSeen = 0;  // the limiter's reduced blocks at the last hop's end

    // The input taken in that the engines have not run on yet: pending
    // frames from the stage's scratch(c)[0], the first of them stream frame
    // framesDone.
    int pending = 0;
    long long framesDone = 0;

    // Settings as the engines have them, and the changes on their way.
    Settings current;
    SettingsTimeline<kMaxChanges> timeline;

    PathBank::Path choose(const Settings& s) const { return paths.choose(s, detector.mono()); }

    // Takes the path the settings choose now, from stream frame `frame` on,
    // as the target. detected: the mono detector's verdict, not the
    // settings, moved it.
    void retarget(const Settings& s, long long frame, bool detected = false) {
        aloneFrom = frame + paths.retarget(choose(s));
        match.retarget(paths.target(), s.match, detected);
    }

    // Silence everywhere; the path the settings choose plays at full level.
    void resetState() {
        stage.reset();
        unsigned settingsVersion;
        const Settings s = settings.snapshot(&settingsVersion);
        // After a reset the engines take settings at once.
        paths.setSpread(s.spreadDb);
        quiet.reset();
        asleep = true;
        detector.reset();
        paths.reset(choose(s));
        limiter.reset();
        reducedSeen = 0;
        match.reset(paths.target(), s.match);
        current = s;
        timeline.reset(s);
        seenVersion = settingsVersion;
        pending = 0;
        framesDone = framesIn;
        aloneFrom = framesDone;
    }

    bool prepare(unsigned newRate, int newChannels, int maxBlock) {
        paths.close();
        prepared = false;
        if (newRate == 0 || (newChannels != 1 && newChannels != 2) || maxBlock < 1) return false;
        rate = newRate;
        channels = newChannels;
        fadeFrames = 1024;
        while (fadeFrames < 4096 && static_cast<double>(fadeFrames) * 44100.0 < 1024.0 * rate)
            fadeFrames *= 2;
        if (!paths.open(rate, channels, fadeFrames)) return false;
        piece = std::min(std::max(maxBlock, kMinPiece), kMaxPiece);
        latency = paths.latency();
        // The scratch holds a piece and what is left of a limiter block.
        const int room = piece + kMaxLimiterBlock;
        history = std::max(latency, static_cast<int>(std::lround(kPrerollSeconds * rate)));
        quiet.prepare(channels, std::max(history, static_cast<int>(std::lround(kRestSeconds * rate))));
        stage.prepare(channels, room, history);
        paths.prepare(stage, piece, room);
        detector.prepare(rate);
        limiter.prepare(rate, room);
        match.prepare(rate, fadeFrames);
        for (int p = 0; p < PathBank::kCount; ++p) match.setPreset(p, PathBank::kLoudnessDb[p]);
        framesIn = 0;
        prepared = true;
        resetState();
        return true;
    }

    // The loudness meter over what it wants of the n frames of output just
    // made from input frames [at, at + n) of the scratch (not remembered
    // yet), before the gain: left[i * stride], right[i * stride]. The input
    // it gets is lined up with the output, so latency frames earlier, from
    // the scratch or from the input kept.
    void meter(int at, int n, const float* left, const float* right, int stride) {
        if (!current.match || paths.target() == PathBank::kDry) return;
        int first;
        const int count = match.wanted(n, &first);
        if (count == 0) return;
        const bool steady = framesDone + at + first >= aloneFrom;
        // Straight into the matcher's slice: input left and right, output
        // left and right, a frame at a time.
        float* dst = match.slice();
        const int last = channels - 1;
        for (int i = 0; i < count; ++i) {
            const int then = at + first + i - latency;
            for (int c = 0; c < 2; ++c)
                dst[4 * i + c] =
                    then >= 0 ? stage.scratch(c * last)[then] : stage.past(c * last, history + then - at);
            dst[4 * i + 2] = left[static_cast<size_t>((first + i) * stride)];
            dst[4 * i + 3] = right[static_cast<size_t>((first + i) * stride)];
        }
        match.measure(count, steady);
    }

    // Frames [from, from + n) of the input scratch through the running paths
    // into out, interleaved. Answers false when the result is not finite.
    // silent tells that these frames are all zero; rest, that the paths may
    // come to rest after them.
    bool processPiece(int from, int n, float* out, bool silent, bool rest) {
        // (The mono signal of a stereo stream: lined up at the delay the
        // detector found, at most the paths' latency. A resting path runs
        // again as soon as the input is not quiet.)
        if (channels == 2 && paths.monoWanted(silent)) stage.mean(from, n, detector.lag(), latency);
        const float* mono = (channels == 1 ? stage.scratch(0) : stage.scratch(2)) + from;
        if (!rest && paths.monoAlone()) {
            // Its interleaved output is the result.
            paths.runAlone(mono, out, n);
            const bool finite = FlushFinite(out, out, 2 * n);
            meter(from, n, out, out + 1, 2);
            match.apply(out, n);
            return finite;
        }
        const float* left;
        const float* right;
        paths.run(from, n, mono, silent, rest, QuietWatch::cellEnd(framesDone + from + n), &left, &right);
        // Subnormals may come straight from the input on the dry path. The
        // matcher's gain is applied on the way into out.
        meter(from, n, left, right, 1);
        const bool finite = FlushFiniteInterleaveScaled(left, right, out, n, match.take(n));
        paths.finish(n);
        return finite;
    }

    // The engines over the first m of the pending frames (m whole limiter
    // blocks), into the limiter. Answers false when the result is not
    // finite.
    bool processPending(int m) {
        DenormalGuard guard;
        for (int from = 0; from < m;) {
            const long long frame = framesDone + from;
            timeline.take(frame, [&](const Settings& s, unsigned changed) {
                current = s;
                if (changed & Bit(Parameter::kSpread)) paths.setSpread(s.spreadDb);
                retarget(current, frame);
            });
            int end = m;
            if (timeline.waiting())
                end = static_cast<int>(std::min<long long>(m, timeline.next() - framesDone));
            const float* inPiece[2] = {stage.scratch(0) + from, stage.scratch(channels - 1) + from};
            int lead;
            int k = quiet.limit(inPiece, 1, end - from, &lead);
            // Sound after silence starts a piece, and wakes the matcher there.
            if (asleep && lead > 0 && lead < k) k = lead;
            // Resting, pieces end where the cells do.
            k = quiet.cellLimit(k, lead, frame);
            if (asleep && lead == 0) {
                match.wake();
                asleep = false;
            }
            // A piece ends where the matcher's hop does: the hop's frames are
            // measured, and taken by the limiter, before it ends.
            k = std::min(k, match.toHopEnd());
            if (channels == 2)
                k = detector.steady(current.autoMono, inPiece[0], inPiece[1], 1, k,
                                    [&] { return choose(current) != paths.target(); });
            // A rest starts at the frame where the input has been zero for
            // restFrames (a piece ends there), wherever the calls end.
            const bool restingBefore = quiet.resting();
            const bool silent = quiet.take(inPiece, 1, k, lead);
            const bool rest = silent && restingBefore;
            asleep |= rest;
            float* out = limiter.write(k);
            if (!processPiece(from, k, out, silent, rest)) return false;
            limiter.push(k, current.limiter);
            if (match.toHopEnd() == 0) {
                const long long reduced = limiter.reducedBlocks();
                match.endHop(static_cast<double>(reduced - reducedSeen) * limiter.block() /
                             match.hopFrames());
                reducedSeen = reduced;
            }
            stage.remember(from, k);
            from += k;
            if (channels == 2 && choose(current) != paths.target())
                retarget(current, framesDone + from, true);
        }
        pending -= m;
        framesDone += m;
        stage.drop(m, pending);
        return true;
    }

    void run(const float* const* in, int inStride, float* const* out, int outStride, int frames) {
        if (!prepared || frames <= 0) return;
        Settings s;
        if (settings.read(&seenVersion, &s)) timeline.note(s, framesIn);
        const int block = limiter.block();
        const size_t inStep = static_cast<size_t>(inStride), outStep = static_cast<size_t>(outStride);
        for (int done = 0; done < frames;) {
            const int n = std::min(frames - done, piece);
            const float* inAt[2] = {nullptr, nullptr};
            for (int c = 0; c < channels; ++c) inAt[c] = in[c] + static_cast<size_t>(done) * inStep;
            // All of it is read before any output is written: out may be in.
            stage.read(inAt, inStride, n, pending, framesIn);
            framesIn += n;
            pending += n;
            const int ready = pending / block * block;
            if (ready > 0 && !processPending(ready)) {
                // Finite input cannot make this; should it happen, the block
                // is silence and the stream starts afresh.
                silence(out, outStride, frames);
                resetState();
                return;
            }
            limiter.play(out[0] + static_cast<size_t>(done) * outStep,
                         out[1] + static_cast<size_t>(done) * outStep, outStride, n);
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

void Processor::setCeiling(float dBFS) {
    if (!std::isfinite(dBFS)) dBFS = -1.0f;
    impl_->limiter.setCeiling(std::pow(10.0f, std::min(dBFS, 0.0f) / 20.0f));
}

int Processor::latency() const {
    return impl_->prepared ? impl_->latency + impl_->limiter.delay() : 0;
}

long long Processor::replacedSamples() const {
    return impl_->stage.replaced();
}

long long Processor::firstReplacedFrame() const {
    return impl_->stage.firstReplaced();
}

long long Processor::limitedFrames() const {
    return impl_->prepared ? impl_->limiter.reducedBlocks() * impl_->limiter.block() : 0;
}

void Processor::set(Parameter p, float value) {
    impl_->settings.set(p, value);
}

void Processor::setValues(const float* values) {
    impl_->settings.set(values);
}

void Processor::setSettings(const Settings& settings) {
    impl_->settings.set(settings);
}

Settings Processor::settings() const {
    return impl_->settings.snapshot();
}

}  // namespace kesta
